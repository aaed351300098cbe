#include "platform/folder_walk.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "tests/support/temp_dir.h"

namespace qve::platform {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::WriteFile;

using Visits = std::vector<std::pair<std::wstring, std::wstring>>;

Visits Walk(const std::wstring& folder) {
  Visits visits;
  WalkRegularFiles(folder, [&](const std::wstring& path, const std::wstring& name) {
    visits.emplace_back(path, name);
  });
  return visits;
}

std::vector<std::wstring> SortedPaths(const Visits& visits) {
  std::vector<std::wstring> paths;
  for (const auto& [path, name] : visits) paths.push_back(path);
  std::sort(paths.begin(), paths.end());
  return paths;
}

using testing::WidePath;

// The test's paths are written with '/'; the walk joins with the platform's
// separator.
std::wstring P(std::wstring text) {
#ifdef _WIN32
  std::replace(text.begin(), text.end(), L'/', L'\\');
#endif
  return text;
}

class FolderWalkTest : public ::testing::Test {
 protected:
  void Touch(const std::string& relative) { WriteFile(dir / relative, std::string("x\n")); }
  void Folder(const std::string& relative) { fs::create_directories(dir / relative); }

  TempDir dir;
  const std::wstring root = WidePath(dir.path());
};

TEST_F(FolderWalkTest, ReportsEveryRegularFileBelowWithItsNameAndFullPath) {
  Folder("sub/deeper");
  Folder("empty");
  Touch("a.log");
  Touch("sub/b.log");
  Touch("sub/deeper/c.log");
  const Visits visits = Walk(root);
  EXPECT_EQ(SortedPaths(visits),
            (std::vector<std::wstring>{root + P(L"/a.log"), root + P(L"/sub/b.log"),
                                       root + P(L"/sub/deeper/c.log")}));
  for (const auto& [path, name] : visits) EXPECT_EQ(FileNameOf(path), name);
}

TEST_F(FolderWalkTest, WalksASubfolderBeforeTheNextEntryOfItsParent) {
  for (const char* folder : {"one", "two", "three"}) {
    Folder(std::string(folder) + "/inner");
    for (const char* file : {"x", "y"}) {
      Touch(std::string(folder) + "/" + file);
      Touch(std::string(folder) + "/inner/" + file);
    }
    Touch(std::string(folder) + "-file");
  }
  const Visits visits = Walk(root);
  ASSERT_EQ(visits.size(), 15u);
  // Depth first: all that lies below a folder comes as one run, whatever
  // order each folder lists its entries in.
  for (const char* folder : {"one", "two", "three"}) {
    const std::wstring below = root + P(L"/") + WidePath(folder) + P(L"/");
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < visits.size(); ++i) {
      if (visits[i].first.starts_with(below)) positions.push_back(i);
    }
    ASSERT_EQ(positions.size(), 4u) << folder;
    EXPECT_EQ(positions.back() - positions.front(), 3u) << folder;
  }
}

TEST_F(FolderWalkTest, JoinsWithOneSlashAndKeepsTheFolderTextAsGiven) {
  Folder("day1");
  Touch("day1/system.log");
  EXPECT_EQ(SortedPaths(Walk(root + P(L"/day1"))),
            (std::vector<std::wstring>{root + P(L"/day1/system.log")}));
  EXPECT_EQ(SortedPaths(Walk(root + P(L"/day1/"))),
            (std::vector<std::wstring>{root + P(L"/day1/system.log")}));
  EXPECT_EQ(SortedPaths(Walk(root + P(L"//day1//"))),
            (std::vector<std::wstring>{root + P(L"//day1//system.log")}));
  EXPECT_EQ(SortedPaths(Walk(root + P(L"/./day1"))),
            (std::vector<std::wstring>{root + P(L"/./day1/system.log")}));
}

TEST_F(FolderWalkTest, RelativeFolderStaysRelative) {
  Folder("rel/inner");
  Touch("rel/inner/f.log");
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  const Visits visits = Walk(L"rel");
  fs::current_path(before);
  EXPECT_EQ(SortedPaths(visits), (std::vector<std::wstring>{P(L"rel/inner/f.log")}));
}

#ifndef _WIN32
// Making symbolic links needs a privilege on Windows, and Wine makes none.
TEST_F(FolderWalkTest, LinksAreNeitherFollowedNorReported) {
  Folder("real");
  Touch("real/inside.log");
  Folder("walked");
  Touch("walked/file.log");
  fs::create_symlink(dir / "real/inside.log", dir / "walked/file-link.log");
  fs::create_directory_symlink(dir / "real", dir / "walked/folder-link");
  fs::create_symlink(dir / "absent", dir / "walked/dangling.log");
  EXPECT_EQ(SortedPaths(Walk(root + P(L"/walked"))),
            (std::vector<std::wstring>{root + P(L"/walked/file.log")}));
}
#endif

#ifndef _WIN32
// Making symbolic links needs a privilege on Windows, and Wine makes none.
TEST_F(FolderWalkTest, ALinkGivenAsTheFolderIsOpened) {
  Folder("real");
  Touch("real/inside.log");
  fs::create_directory_symlink(dir / "real", dir / "link");
  EXPECT_EQ(SortedPaths(Walk(root + P(L"/link"))),
            (std::vector<std::wstring>{root + P(L"/link/inside.log")}));
}
#endif

#ifndef _WIN32
// FIFOs are a POSIX kind of file.
TEST_F(FolderWalkTest, SpecialFilesAreNotRegularFiles) {
  ASSERT_EQ(::mkfifo((dir / "pipe.log").c_str(), 0600), 0);
  Touch("plain.log");
  EXPECT_EQ(SortedPaths(Walk(root)), (std::vector<std::wstring>{root + P(L"/plain.log")}));
}
#endif

TEST_F(FolderWalkTest, NothingForAMissingFolderAFileOrTextWithoutUtf8Form) {
  Touch("file.log");
  EXPECT_TRUE(Walk(root + P(L"/absent")).empty());
  EXPECT_TRUE(Walk(root + P(L"/file.log")).empty());
  EXPECT_TRUE(Walk(L"").empty());
  EXPECT_TRUE(Walk(root + std::wstring(1, wchar_t(0xD800))).empty());
}

#ifndef _WIN32
// Windows names are UTF-16; there are no undecodable bytes.
TEST_F(FolderWalkTest, NamesThatAreNotUtf8AreSkipped) {
  Touch("good.log");
  Touch("bad\xff.log");
  Folder("bad\xfe");
  Touch("bad\xfe/inside.log");
  EXPECT_EQ(SortedPaths(Walk(root)), (std::vector<std::wstring>{root + P(L"/good.log")}));
}
#endif

#ifndef _WIN32
// POSIX permission bits; Wine grants every access.
TEST_F(FolderWalkTest, FolderThatCannotBeOpenedIsSkippedAndTheWalkGoesOn) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not deny reading";
  Folder("closed");
  Touch("closed/hidden.log");
  Folder("open");
  Touch("open/seen.log");
  fs::permissions(dir / "closed", fs::perms::none);
  EXPECT_EQ(SortedPaths(Walk(root)), (std::vector<std::wstring>{root + P(L"/open/seen.log")}));
  EXPECT_TRUE(Walk(root + P(L"/closed")).empty());
}
#endif

TEST_F(FolderWalkTest, IsFolder) {
  Folder("sub");
  Touch("file.log");
  EXPECT_TRUE(IsFolder(root + P(L"/sub")));
#ifndef _WIN32
  fs::create_directory_symlink(dir / "sub", dir / "link");
  EXPECT_TRUE(IsFolder(root + P(L"/link")));
#endif
  EXPECT_FALSE(IsFolder(root + P(L"/file.log")));
  EXPECT_FALSE(IsFolder(root + P(L"/absent")));
}

#ifdef _WIN32

TEST_F(FolderWalkTest, SlashesGivenToTheWalkStayAndItJoinsWithBackslash) {
  Folder("day1");
  Touch("day1/system.log");
  EXPECT_EQ(SortedPaths(Walk(root + L"/day1")),
            (std::vector<std::wstring>{root + L"/day1\\system.log"}));
  EXPECT_EQ(SortedPaths(Walk(root + L"/day1/")),
            (std::vector<std::wstring>{root + L"/day1/system.log"}));
}

TEST_F(FolderWalkTest, NoSeparatorAfterADriveColon) {
  Touch("system.log");
  ASSERT_GE(root.size(), 2u);
  ASSERT_EQ(root[1], L':');
  const std::wstring drive = root.substr(0, 2);
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  const Visits visits = Walk(drive);
  fs::current_path(before);
  EXPECT_EQ(SortedPaths(visits), (std::vector<std::wstring>{drive + L"system.log"}));
}

TEST_F(FolderWalkTest, NonAsciiNamesComeBackAsWritten) {
  const std::wstring name = L"System_\u65e5\u672c\u00e9.log";
  fs::create_directory(dir.path() / L"\u0436urnal");
  WriteFile(dir.path() / L"\u0436urnal" / name, std::string("x\n"));
  const Visits visits = Walk(root);
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits[0].first, root + L"\\\u0436urnal\\" + name);
  EXPECT_EQ(visits[0].second, name);
}

#endif

}  // namespace
}  // namespace qve::platform
