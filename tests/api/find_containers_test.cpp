// SPDX-License-Identifier: Apache-2.0
// Containers found in a folder through the C interface: by name or first bytes, in
// path order, each told by a wide path that opens it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <QVEHelper.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

// Every warning comes before the first container.
TEST(Interface, FindContainers) {
  TempDir dir;
  const fs::path d = dir / "d";
  fs::create_directories(d / "sub");
  const Bytes container = Container{}.Build();
#ifndef _WIN32
  const char* const renamed = "renamed\xe9.bin";  // no UTF-8, as Linux names may be
#else
  const char* const renamed = "renamed.bin";
#endif
  for (const char* name : {"b.qves", "sub/a.QVES", renamed}) WriteFile(d / name, container);
  WriteFile(d / "notes.txt", BytesOf("QVE"));
  WriteFile(d / "empty.qves", Bytes());
  WriteFile(d / "other.qves", BytesOf("PK\x03\x04"));
  std::set<std::string> warned = {"empty.qves", "other.qves"};
#ifndef _WIN32
  fs::create_symlink("b.qves", d / "link.qves");
  ASSERT_EQ(mkfifo((d / "fifo.qves").c_str(), 0644), 0);
  warned.insert({"link.qves", "fifo.qves"});
#endif
  struct Told {
    fs::path folder;
    std::vector<std::pair<std::string, std::wstring>> containers = {};
    std::set<std::string> warned = {};
    int stopAt = -1;  // calls to take before stopping
    bool warnedLate = false;
  } told{d};
  const qve_found_fn found = [](const char* path, const wchar_t* wide, const char* warning,
                                void* context) {
    Told& to = *static_cast<Told*>(context);
    if (to.stopAt-- == 0) return 1;
    const std::string name = fs::path(path).lexically_relative(to.folder).generic_string();
    if (warning == nullptr && wide != nullptr) {
      // The path given out names the same file as the wide one.
      EXPECT_STREQ(qve_path_w(path), wide) << name;
      to.containers.emplace_back(name, wide);
    } else if (warning != nullptr && *warning != '\0' && wide == nullptr) {
      to.warnedLate = to.warnedLate || !to.containers.empty();
      to.warned.insert(name);
    } else {
      ADD_FAILURE() << name << " is told as neither";
    }
    return 0;
  };
  EXPECT_EQ(qve_find_containers(d.string().c_str(), found, &told), 5);
  std::vector<std::string> names;
  for (const auto& [name, wide] : told.containers) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"b.qves", "empty.qves", "other.qves", renamed,
                                             "sub/a.QVES"}));
  EXPECT_EQ(told.warned, warned);
  EXPECT_FALSE(told.warnedLate);
  qve_check_options check{sizeof check, nullptr, nullptr, nullptr, nullptr, nullptr};
  ASSERT_EQ(told.containers.size(), 5u);
  EXPECT_EQ(qve_check_w(told.containers[3].second.c_str(), &check), QVE_DECRYPT_SUCCESS);
  EXPECT_EQ(qve_path_w(nullptr), nullptr);
  // The wide form tells the same; a folder that is not there is a warning.
  Told wide{d};
  EXPECT_EQ(qve_find_containers_w(WidePath(d).c_str(), found, &wide), 5);
  EXPECT_EQ(wide.containers, told.containers);
  Told missing{dir / "missing"};
  EXPECT_EQ(qve_find_containers((dir / "missing").string().c_str(), found, &missing), 0);
  EXPECT_EQ(missing.warned.size(), 1u);
  // The callback stops it, at a warning or at a container.
  for (const int stopAt : {0, int(warned.size())}) {
    Told stopped{d};
    stopped.stopAt = stopAt;
    EXPECT_EQ(qve_find_containers(d.string().c_str(), found, &stopped), QVE_ERROR_CANCELLED);
  }
  EXPECT_EQ(qve_find_containers(nullptr, found, &told), QVE_ERROR_MISUSE);
  EXPECT_EQ(qve_find_containers_w(WidePath(d).c_str(), nullptr, &told), QVE_ERROR_MISUSE);
}

}  // namespace
}  // namespace qve
