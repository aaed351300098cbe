// SPDX-License-Identifier: Apache-2.0
// What differs between Linux and Windows: paths, names, the folder walk, temporary outputs.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/command_runner.h"
#endif

#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "platform/command_text.h"
#include "platform/file_status.h"
#include "platform/files.h"
#include "platform/folder_walk.h"
#include "platform/name_order.h"
#include "platform/paths.h"
#include "platform/temp_output.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve::platform {
namespace {

using namespace testing;

TEST(Paths, Conversions) {
  // clang-format off
  for (const auto& [wide, narrow] : {std::pair<std::wstring, std::string>{L"", ""},
       {L"C:\\logs\\", "C:\\logs\\"}, {L"caf\u00e9", "caf\xc3\xa9"}, {L"\U00010000", "\xf0\x90\x80\x80"},
       {L"\uFFFF", "\xef\xbf\xbf"}, {L"\U0010FFFF", "\xf4\x8f\xbf\xbf"}}) {
    // clang-format on
    EXPECT_EQ(ToNarrow(wide), narrow);
    EXPECT_EQ(ToWide(narrow), wide);
  }
  for (const std::wstring& lone :
       {std::wstring(L"a") + wchar_t(0xD800), std::wstring(L"a") + wchar_t(0xDFFF) + L"b",
        std::wstring{wchar_t(0xD800), wchar_t(0xD800)},
        std::wstring{wchar_t(0xDC00), wchar_t(0xD800)}}) {
#if WCHAR_MAX > 0xFFFF
    EXPECT_FALSE(ToNarrow(lone));
#else
    // WTF-8: any name a Windows host holds comes back as it was.
    ASSERT_TRUE(ToNarrow(lone));
    EXPECT_EQ(ToWide(*ToNarrow(lone)), lone);
    EXPECT_EQ(ToNarrow(lone), ShownText(lone));
#endif
  }
  for (const char* bad : {"\x80", "\xc3", "\xc0\xaf", "\xed\xa0", "\xed\xa0\x80\xed\xb0\x80",
                          "\xf4\x90\x80\x80", "\xff"})
    EXPECT_FALSE(ToWide(bad)) << bad;
#if WCHAR_MAX > 0xFFFF
  EXPECT_FALSE(ToWide("\xed\xa0\x80"));
  EXPECT_FALSE(ToNarrow(std::wstring(L"a") + wchar_t(0x110000)));
  EXPECT_FALSE(ToNarrow(std::wstring(1, wchar_t(0x7FFFFFFF))));
#endif
}

TEST(Paths, FileNameIsTheLastComponent) {
  // clang-format off
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"C:/logs/system.log", L"system.log"}, {L"system.log", L"system.log"}, {L"dir/", L""},
#ifdef _WIN32
      {L"C:system.log", L"system.log"}, {L"C:", L""}, {L"a/b\\c", L"c"}, {L"a\\b/c", L"c"}};
#else
      {L"a\\b", L"a\\b"}, {L"C:system.log", L"C:system.log"}};
#endif
  // clang-format on
  for (const auto& [path, name] : rows) EXPECT_EQ(FileNameOf(path), name) << path;
}

TEST(NameLess, ComparesUtf16CodeUnits) {
  // clang-format off
  const std::pair<std::wstring, std::wstring> rows[] = {
      {L"System_1.log", L"system.log"}, {L"System_1", L"System_1.log"}, {L"", L"a"},
      {L"System_10.log", L"System_2.log"}, {L"\uD7FF", L"\U00010000"}, {L"\U00010000", L"\uE000"},
      {L"\U0010FFFF", L"\uFFFF"}, {L"\U0001F600", L"\U0001F601"}};
  // clang-format on
  for (const auto& [before, after] : rows) {
    EXPECT_TRUE(NameLess(before, after)) << before.size();
    EXPECT_FALSE(NameLess(after, before)) << before.size();
    EXPECT_FALSE(NameLess(before, before)) << before.size();
  }
}

// Names the file system takes for one: on Windows in any case.
TEST(SameName, AsTheFileSystemComparesNames) {
#ifdef _WIN32
  constexpr bool kCaseBlind = true;
#else
  constexpr bool kCaseBlind = false;
#endif
  EXPECT_TRUE(SameName(L"system.log", L"system.log"));
  EXPECT_EQ(SameName(L"SYSTEM.LOG", L"system.log"), kCaseBlind);
  EXPECT_EQ(SameName(L"caf\u00e9", L"CAF\u00c9"), kCaseBlind);
  EXPECT_FALSE(SameName(L"a", L"ab"));
}

using Visits = std::vector<std::pair<std::wstring, std::wstring>>;

Visits Walk(const std::wstring& folder, std::vector<SkippedEntry>* skipped = nullptr,
            NotUtf8Names notUtf8 = NotUtf8Names::Skip) {
  Visits visits;
  WalkFolder(
      folder,
      [&](const std::wstring& path, const std::wstring& name) { visits.emplace_back(path, name); },
      skipped == nullptr ? OnSkipped()
                         : [&](const SkippedEntry& entry) { skipped->push_back(entry); },
      notUtf8);
  return visits;
}

std::vector<std::wstring> Paths(const Visits& visits) {
  std::vector<std::wstring> paths;
  for (const auto& [path, name] : visits) {
    EXPECT_EQ(FileNameOf(path), name);
    paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The test's paths are written with '/'; the walk joins with the platform's separator.
std::wstring P(std::wstring text) {
#ifdef _WIN32
  std::replace(text.begin(), text.end(), L'/', L'\\');
#endif
  return text;
}

TEST(FolderWalk, EveryRegularFileBelow) {
  TempDir dir;
  const std::wstring root = WidePath(dir.path());
  for (const std::string folder : {"one", "two", "three"})
    for (const char* file : {"/x", "/y", "/inner/x", "/inner/y", "-file"}) {
      fs::create_directories((dir / (folder + file)).parent_path());
      WriteFile(dir / (folder + file), std::string("x\n"));
    }
  fs::create_directory(dir / "empty");
  std::vector<SkippedEntry> skipped;
  const Visits visits = Walk(root, &skipped);
  EXPECT_TRUE(skipped.empty());
  // Depth first in pre-order, each folder in the order it lists.
  std::vector<std::wstring> listed, visited;
  for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
    if (entry.is_regular_file()) listed.push_back(WidePath(entry.path()));
  for (const auto& visit : visits) visited.push_back(visit.first);
  EXPECT_EQ(visited, listed);
  // The folder text is kept as given and joined with one separator.
  for (const std::wstring given : {L"/one/inner/", L"//one//inner//"})
    EXPECT_EQ(Paths(Walk(root + P(given))).front(), root + P(given + L"x"));
  for (const std::wstring& none :
       {root + P(L"/absent"), root + P(L"/one-file"), std::wstring(), root + wchar_t(0xD800)})
    EXPECT_TRUE(Walk(none).empty());
  // A folder that cannot be listed, the walk's own included, is said.
  EXPECT_TRUE(Walk(root + P(L"/absent"), &skipped).empty());
  EXPECT_TRUE(skipped.size() == 1 && skipped[0].reason == SkipReason::FolderUnreadable &&
              IsNotFound(skipped[0].error));
}

// A folder removed after the listing, before its turn, is gone, not unreadable.
TEST(FolderWalk, FoldersGoneSinceTheListing) {
  TempDir dir;
  WriteFile(dir / "f", std::string());
  // Appended, not prefixed: MinGW's g++ 12 warns wrongly about the prefix.
  const auto g = [](int i) { return std::string(1, 'g') + std::to_string(i); };
  for (int i = 0; i < 8; ++i) {
    fs::create_directory(dir / g(i));
    WriteFile(dir / g(i) / "x", std::string());
  }
  std::set<std::wstring> walked, gone;
  WalkFolder(
      WidePath(dir.path()),
      [&](const std::wstring& path, const std::wstring& name) {
        if (name == L"x") walked.insert(FileNameOf(path.substr(0, path.size() - 2)));
        if (name != L"f") return;
        for (int i = 0; i < 8; ++i)
          if (!walked.count(L"g" + std::to_wstring(i))) fs::remove_all(dir / g(i));
      },
      [&](const SkippedEntry& entry) {
        EXPECT_EQ(entry.reason, SkipReason::Gone) << entry.shown;
        EXPECT_TRUE(IsNotFound(entry.error)) << entry.shown;
        gone.insert(entry.name);
      });
  EXPECT_EQ(walked.size() + gone.size(), 8u);
  for (const auto& name : gone) EXPECT_FALSE(walked.count(name));
}

#ifndef _WIN32
// Each kind of entry the walk passes over, with its reason.
TEST(FolderWalk, SaysWhatItPassesOver) {
  TempDir dir;
  const std::wstring root = WidePath(dir.path());
  WriteFile(dir / "file", std::string());
  for (const char* folder : {"sub", "bad\xfe-folder", "locked"}) {
    fs::create_directory(dir / folder);
    WriteFile(dir / folder / "file", std::string());
  }
  fs::create_symlink("file", dir / "link");
  fs::create_directory_symlink("sub", dir / "folder-link");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  WriteFile(dir / "bad\xff", std::string());
  fs::permissions(dir / "locked", fs::perms::none);
  const std::string at = dir.path().string() + "/";
  using enum SkipReason;
  // clang-format off
  const std::map<std::string, std::pair<SkipReason, std::string>> expected = {
      {at + "link", {Link, ""}}, {at + "folder-link", {Link, ""}}, {at + "fifo", {NotRegular, "a FIFO"}},
      {at + "null", {NotRegular, "a character device"}}, {at + "bad\xff", {NameNotUtf8, ""}},
      {at + "bad\xfe-folder", {NameNotUtf8, ""}}, {at + "locked", {FolderUnreadable, "Permission denied"}}};
  // clang-format on
  const int status = AsNobody(dir.path(), [&] {
    std::vector<SkippedEntry> skipped;
    const Visits visits = Walk(root, &skipped);
    std::map<std::string, std::pair<SkipReason, std::string>> seen;
    for (const auto& entry : skipped) {
      seen[entry.shown] = {entry.reason, entry.error ? entry.error.message() : entry.kind};
      if (entry.reason != SkipReason::NameNotUtf8 && entry.name != FileNameOf(*ToWide(entry.shown)))
        return 4;
    }
    if (seen != expected) return 1;
    if (Paths(visits) != std::vector<std::wstring>{root + L"/file", root + L"/sub/file"}) return 2;
    if (Walk(root).size() != 2) return 5;
    // Carried, the names that are not UTF-8 are walked like any other.
    std::vector<SkippedEntry> carried;
    const std::wstring bad = root + L"/bad";
    if (Paths(Walk(root, &carried, NotUtf8Names::Carry)) !=
        std::vector<std::wstring>{bad + wchar_t(0xDCFE) + L"-folder/file", bad + wchar_t(0xDCFF),
                                  root + L"/file", root + L"/sub/file"})
      return 6;
    return carried.size() == expected.size() - 2 ? 0 : 7;
  });
  EXPECT_EQ(status, 0);
}

// A temporary output replaces a file keeping its mode and owner, or makes one with the
// umask'd 0666; a folder it leaves. Nothing else is left either way.
TEST(TempOutput, Publish) {
  for (const TempNaming naming : {TempNaming::Unnamed, TempNaming::Named})
    for (const TempAccess access : {TempAccess::ByPath, TempAccess::HandleOnly})
      for (const char target : {'e', 'n', 'f'}) {  // existing, new, folder
        TempDir dir;
        const auto out = dir / "out";
        if (target == 'f') fs::create_directory(out);
        WriteFile(target == 'f' ? out / "kept" : out, std::string("old"));
        ASSERT_EQ(chown(out.c_str(), NobodyUid(), NobodyGid()), 0);
        ASSERT_EQ(chmod(out.c_str(), 0705), 0);
        if (target == 'n') fs::remove(out);
        const mode_t mask = umask(027);
        std::error_code error;
        auto temporary = TempOutput::Create(WidePath(dir.path()), error, naming, access);
        ASSERT_TRUE(temporary) << error.message();
        if (access == TempAccess::ByPath) {
          FileStream stream;
          ASSERT_TRUE(OpenForWriting(stream, temporary->path()));
          stream << "new";
        } else {
          const Bytes bytes = {'n', 'e', 'w', 'e', 'r'};
          temporary->Write(std::span(bytes).first(2), error);
          temporary->Write(std::span(bytes).subspan(2), error);
          EXPECT_EQ(temporary->Size(), 5u);
          temporary->Truncate(3, error);
        }
        EXPECT_EQ(temporary->Size(), 3u);
        temporary->Publish(WidePath(out), error);
        umask(mask);
        EXPECT_EQ(bool(error), target == 'f') << error.message();
        temporary.reset();
        EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"out"});
        EXPECT_EQ(ReadText(target == 'f' ? out / "kept" : out), target == 'f' ? "old" : "new");
        struct stat status {};
        ASSERT_EQ(stat(out.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, target == 'n' ? 0640u : 0705u);
        EXPECT_EQ(status.st_uid, target == 'n' ? getuid() : NobodyUid());
      }
}

// Links another user (nobody) planted in a sticky world-writable folder are not followed, wherever
// met; others are. s/ is root's such folder, n/ nobody's, k/ not world-writable, w/ not sticky.
TEST(LinkRefusal, AsFsProtectedSymlinks) {
  TempDir dir;
  for (const auto& [name, mode] :
       {std::pair{"s", 01777}, {"n", 01777}, {"k", 01755}, {"w", 0777}}) {
    fs::create_directory(dir / name);
    ASSERT_EQ(chmod((dir / name).c_str(), mode_t(mode)), 0);
  }
  ASSERT_EQ(chown((dir / "n").c_str(), NobodyUid(), NobodyGid()), 0);
  WriteFile(dir / "target", std::string("kept"));
  const std::string target = (dir / "target").string();
  // clang-format off
  for (const auto& [at, to, byNobody] : {std::tuple<const char*, std::string, bool>{"s/theirs", target, true},
       {"s/mine", target, false}, {"s/folder", "..", true}, {"s/to-theirs", "theirs", false},
       {"n/theirs", target, true}, {"k/theirs", target, true}, {"w/theirs", target, true}, {"via", "s", false}}) {
    // clang-format on
    fs::create_symlink(to, dir / at);
    ASSERT_TRUE(!byNobody || lchown((dir / at).c_str(), NobodyUid(), NobodyGid()) == 0);
  }
  // Each path with the link it is refused for, or "" when it may be written.
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {
      {"s/theirs", "s/theirs"}, {"s/folder/target", "s/folder"}, {"s/to-theirs", "s/theirs"},
      {"via/theirs", "s/theirs"}, {"./s/../s/theirs", "s/theirs"}, {"s/mine", ""}, {"n/theirs", ""},
      {"k/theirs", ""}, {"w/theirs", ""}, {"s/missing", ""}, {"missing/s/theirs", ""}, {"target", ""}};
  // clang-format on
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  for (const auto& [path, refused] : rows)
    for (const fs::path& base : {fs::path(), dir.path()}) {
      std::wstring named;
      const std::error_code error = LinkRefusal(WidePath(base / path), &named);
      const auto denied = make_error_code(std::errc::permission_denied);
      EXPECT_EQ(error, refused.empty() ? std::error_code() : denied) << path;
      EXPECT_EQ(named, refused.empty() ? named : WidePath(base / refused)) << path;
    }
  fs::current_path(before);
}

// What a temporary leaves when the process ends early: nothing, after any of the signals
// that end a run, or a write past the file-size limit. A forked child makes and writes it.
struct EndRow {
  const char* name;
  TempNaming naming = TempNaming::Named;
  int signal;       // 0: the child writes past its file-size limit and returns
  int ignored = 0;  // sent first; ignored since the child's start, it stays so
  // 'R' asks for the removal, 'N' does not (a host), 'H' has a handler of its own, exiting 3.
  char asks = 'R';
};

class RunEnds : public ::testing::TestWithParam<EndRow> {};

TEST_P(RunEnds, NothingLeft) {
  const EndRow& row = GetParam();
  TempDir dir;
  const pid_t child = fork();
  if (child == 0) {
    if (row.ignored != 0) ::signal(row.ignored, SIG_IGN);
    if (row.asks == 'H') ::signal(row.signal, [](int) { _exit(3); });
    if (row.asks != 'N') TempOutput::RemoveOnSignals();
    if (row.signal == 0) {
      // As the commands have it: the write fails rather than end them.
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{1000, 1000};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    }
    std::error_code error;
    auto temporary = TempOutput::Create(WidePath(dir.path()), error, row.naming);
    if (!temporary) _exit(11);
    FileStream out;
    if (!OpenForWriting(out, temporary->path())) _exit(12);
    out << std::string(row.signal == 0 ? 5000 : 100, 'x') << std::flush;
    if (row.signal == 0) temporary.reset(), _exit(out ? 13 : 0);  // the write fails, no SIGXFSZ
    // The named file is there until the signal.
    if (NamesIn(dir.path()).size() != (row.naming == TempNaming::Named ? 1u : 0u)) _exit(14);
    if (row.ignored != 0) raise(row.ignored);
    raise(row.signal);
    _exit(15);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const bool signaled = row.signal != 0 && row.asks != 'H';
  EXPECT_TRUE(signaled ? WIFSIGNALED(status) && WTERMSIG(status) == row.signal
                       : WIFEXITED(status) && WEXITSTATUS(status) == (row.asks == 'H' ? 3 : 0));
  EXPECT_EQ(NamesIn(dir.path()).size(), row.asks == 'N' ? 1u : 0u);
}

// clang-format off
const EndRow kEnds[] = {
    {.name = "SIGTERM", .signal = SIGTERM}, {.name = "SIGPIPE", .signal = SIGPIPE},
    {.name = "SIGPIPE_ignored", .signal = SIGTERM, .ignored = SIGPIPE}, {.name = "NotAsked", .signal = SIGTERM, .asks = 'N'},
    {.name = "AHandlerBefore", .signal = SIGTERM, .asks = 'H'}, {.name = "SizeLimit", .signal = 0},
    {.name = "Unnamed_SIGKILL", .naming = TempNaming::Unnamed, .signal = SIGKILL}};
// clang-format on
QVE_ROWS(RunEnds, kEnds);
#endif

// On Windows a PATH argument's wildcards are the program's to expand, sorted ignoring case.
TEST(Wildcards, ExpandedWhereTheShellLeavesThem) {
  TempDir dir;
  for (const char* name : {"System_1.log", "System_2.LOG", "system.log", "notes.txt", "a.logx"})
    WriteFile(dir / name, std::string());
  fs::create_directory(dir / "sub");
  const std::wstring at = WidePath(dir.path()) + P(L"/");
  // Each argument with what it stands for on Windows.
  // clang-format off
  const std::pair<std::wstring, std::vector<std::wstring>> rows[] = {
      {L"*.log", {L"system.log", L"System_1.log", L"System_2.LOG"}},
      {L"SYSTEM_?.LOG", {L"System_1.log", L"System_2.LOG"}}, {L"*o*t*", {L"notes.txt"}},
      {L"*.*", {L"a.logx", L"notes.txt", L"sub", L"system.log", L"System_1.log", L"System_2.LOG"}},
      {L"none*", {}}, {L"notes.txt", {L"notes.txt"}}};
  // clang-format on
  for (const auto& [argument, onWindows] : rows) {
    std::vector<std::wstring> expected{at + argument};
#ifdef _WIN32
    expected.clear();
    for (const auto& name : onWindows) expected.push_back(at + name);
#endif
    EXPECT_EQ(ExpandWildcards(at + argument), expected) << argument.size();
  }
  // A pattern in a folder part matches the folders that hold the rest.
  WriteFile(dir / "sub" / "x", std::string());
  std::vector<std::wstring> expected{at + P(L"s*b/x")};
#ifdef _WIN32
  expected = {at + P(L"sub/x")};
  EXPECT_EQ(ExpandWildcards(at + P(L"s*b/y")), std::vector<std::wstring>{});
#endif
  EXPECT_EQ(ExpandWildcards(at + P(L"s*b/x")), expected);
}

// An argument as the page shows the command line: as its system's shell reads it back.
TEST(QuotedArgument, AsTheShellReadsItBack) {
  // Each argument as Linux shows it, then as Windows does.
  // clang-format off
  const std::array<std::string, 3> rows[] = {
      {"", "''", "\"\""}, {"System_1.log", "System_1.log", "System_1.log"}, {"a b", "'a b'", "\"a b\""},
      {"--html=page.html", "--html=page.html", "\"--html=page.html\""}, {"it's", "'it'\\''s'", "it's"},
      {"say \"hi\"", "'say \"hi\"'", "\"say \\\"hi\\\"\""},
      {"C:\\my logs\\", "'C:\\my logs\\'", "\"C:\\my logs\\\\\""}};
  // clang-format on
#ifdef _WIN32
  for (const auto& row : rows) EXPECT_EQ(QuotedArgument(row[0]), row[2]) << row[0];
#else
  for (const auto& row : rows) EXPECT_EQ(QuotedArgument(row[0]), row[1]) << row[0];
#endif
}

#ifdef _WIN32
TEST(FolderWalk, WindowsSeparatorsDrivesAndNames) {
  TempDir dir;
  const std::wstring root = dir.path().wstring();
  fs::create_directory(dir / "day1");
  WriteFile(dir / "day1/system.log", std::string("x\n"));
  WriteFile(dir / "system.log", std::string("x\n"));
  EXPECT_EQ(Paths(Walk(root + L"/day1")), (std::vector<std::wstring>{root + L"/day1\\system.log"}));
  EXPECT_EQ(Paths(Walk(root + L"/day1/")), (std::vector<std::wstring>{root + L"/day1/system.log"}));
  ASSERT_EQ(root[1], L':');
  const fs::path before = fs::current_path();
  fs::current_path(dir.path() / "day1");
  EXPECT_EQ(Paths(Walk(root.substr(0, 2))),
            (std::vector<std::wstring>{root.substr(0, 2) + L"system.log"}));
  fs::current_path(before);
  const std::wstring name = L"System_\u65e5\u672c\u00e9.log";
  fs::create_directory(dir.path() / L"\u0436urnal");
  WriteFile(dir.path() / L"\u0436urnal" / name, std::string("x\n"));
  EXPECT_EQ(Walk(root + L"\\\u0436urnal"), (Visits{{root + L"\\\u0436urnal\\" + name, name}}));
}
#endif

}  // namespace
}  // namespace qve::platform
