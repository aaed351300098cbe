// AddFileInFolder: which files below a folder join the report's list.
#include <QVEHelper.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "report/system_log_name.h"
#include "report/verification_report.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(IsSystemLogName, SelectionRule) {
  const struct {
    const wchar_t* name;
    bool selected;
  } cases[] = {
      {L"system.log", true},     {L"System_1.log", true},
      {L"System_abc.log", true}, {L"System_\u00e9.log", true},
      {L"System_.log", false},   {L"system_1.log", false},
      {L"System_1.LOG", false},  {L"SYSTEM.LOG", false},
      {L"xSystem_1.log", false}, {L"System_1.txt", false},
      {L"system.log.1", false},  {L"System_1.log ", false},
      {L"system.lo", false},     {L"", false},
      {L"System_", false},       {L"System_a.log.log", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSystemLogName(c.name), c.selected) << c.name;
}

class FolderScanTest : public ::testing::Test {
 protected:
  void Touch(const std::string& relative) {
    fs::create_directories((dir / relative).parent_path());
    testing::WriteFile(dir / relative, std::string("line\n"));
  }
#ifdef _WIN32
  // The report keeps Windows paths with '\' only.
  std::wstring Wide(const std::string& relative) const {
    return (dir / relative).make_preferred().wstring();
  }
#else
  std::wstring Wide(const std::string& relative) const {
    return *platform::ToWide((dir / relative).string());
  }
#endif
  void Scan(const std::wstring& folder) {
    AddFileInFolderToVerificationReport(report, folder.c_str());
  }
  std::vector<std::wstring> Listed() const {
    std::vector<std::wstring> files = static_cast<VerificationReport*>(report)->files();
    std::sort(files.begin(), files.end());
    return files;
  }

  TempDir dir;
  QVE_VerificationReport* report = CreateVerificationReport();
  ~FolderScanTest() override { DeleteVerificationReport(report); }
};

#ifndef _WIN32
// Names that differ only in case are one file on Windows; see below.
TEST_F(FolderScanTest, PicksSystemLogsAnywhereBelow) {
  for (const char* name :
       {"system.log", "System_1.log", "System_abc.log", "System_.log", "system_1.log",
        "System_1.LOG", "SYSTEM.LOG", "xSystem_1.log", "System_1.txt", "sub/System_22.log"})
    Touch(std::string("day1/") + name);
  Scan(Wide("day1"));
  EXPECT_EQ(Listed(),
            (std::vector<std::wstring>{Wide("day1/System_1.log"), Wide("day1/System_abc.log"),
                                       Wide("day1/sub/System_22.log"), Wide("day1/system.log")}));
}
#endif

TEST_F(FolderScanTest, AFolderNamedSystemLogIsWalkedButNotListed) {
  Touch("day1/system.log/System_5.log");
  Touch("day1/system.log/system.log");
  Scan(Wide("day1"));
  EXPECT_EQ(Listed(), (std::vector<std::wstring>{Wide("day1/system.log/System_5.log"),
                                                 Wide("day1/system.log/system.log")}));
}

TEST_F(FolderScanTest, TrailingSeparatorIsNotDoubled) {
  Touch("day1/system.log");
  Scan(Wide("day1") + L"/");
  Scan(Wide("day1"));
  EXPECT_EQ(Listed(),
            (std::vector<std::wstring>{Wide("day1/system.log"), Wide("day1/system.log")}));
}

#ifndef _WIN32
// On Windows a backslash separates.
TEST_F(FolderScanTest, BackslashIsAnOrdinaryCharacter) {
  Touch("a\\b/system.log");
  Scan(Wide("a\\b"));
  EXPECT_EQ(Listed(), (std::vector<std::wstring>{Wide("a\\b/system.log")}));
  Scan(Wide("a") + L"\\b\\");
  EXPECT_EQ(Listed().size(), 1u);
}
#endif

TEST_F(FolderScanTest, ScanningTwiceOrAddingAFileAgainListsItTwice) {
  Touch("day1/System_1.log");
  Scan(Wide("day1"));
  Scan(Wide("day1"));
  AddFileToVerificationReport(report, Wide("day1/System_1.log").c_str());
  EXPECT_EQ(Listed(), std::vector<std::wstring>(3, Wide("day1/System_1.log")));
}

TEST_F(FolderScanTest, MissingFolderAddsNothingAndLeavesTheLastRunAlone) {
  Touch("day1/System_1.log");
  AddFileToVerificationReport(report, Wide("day1/System_1.log").c_str());
  ASSERT_EQ(VerifyReport(report, false), QVE_REPORT_UNSIGNED);
  Scan(Wide("absent"));
  Scan(Wide("day1/System_1.log"));
  Scan(Wide("day1") + wchar_t(0xD800));
  EXPECT_EQ(Listed(), (std::vector<std::wstring>{Wide("day1/System_1.log")}));
  EXPECT_EQ(TotalFilesInVerificationReport(report), 1u);
  EXPECT_EQ(NumberOfBadFilesInVerificationReport(report), 0u);
  EXPECT_EQ(GetFileReportCountInVerificationReport(report), 1u);
}

#ifndef _WIN32
// Making symbolic links needs a privilege on Windows, and Wine makes none.
TEST_F(FolderScanTest, LinksAreNotListed) {
  Touch("real/System_1.log");
  Touch("day1/System_2.log");
  fs::create_symlink(dir / "real/System_1.log", dir / "day1/System_3.log");
  fs::create_directory_symlink(dir / "real", dir / "day1/linked");
  Scan(Wide("day1"));
  EXPECT_EQ(Listed(), (std::vector<std::wstring>{Wide("day1/System_2.log")}));
}
#endif

#ifdef _WIN32

// The file system ignores case; the selection does not.
TEST_F(FolderScanTest, SelectionKeepsCaseOnACaseInsensitiveFileSystem) {
  for (const char* name : {"SYSTEM.LOG", "System_1.LOG", "system_2.log", "System_abc.log",
                           "System_.log", "xSystem_1.log", "sub/System_22.log"})
    Touch(std::string("day1/") + name);
  ASSERT_TRUE(fs::exists(dir / "day1/system.log")) << "the file system ignores case";
  Scan(Wide("day1"));
  EXPECT_EQ(Listed(), (std::vector<std::wstring>{Wide("day1/System_abc.log"),
                                                 Wide("day1/sub/System_22.log")}));
}

TEST_F(FolderScanTest, SlashesBecomeBackslashesAndADriveFolderIsNotDoubled) {
  Touch("exports/day1/system.log");
  // A real folder with a drive letter, given with '/' and with a trailing '\'.
  const std::wstring folder = Wide("exports/day1");
  ASSERT_EQ(folder[1], L':');
  std::wstring slashed = folder;
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  Scan(slashed);
  Scan(folder + L"\\");
  EXPECT_EQ(Listed(), std::vector<std::wstring>(2, folder + L"\\system.log"));
}

TEST_F(FolderScanTest, AddFileTurnsSlashesIntoBackslashes) {
  AddFileToVerificationReport(report, L"C:/logs/system.log");
  AddFileToVerificationReport(report, L"rel/a\\b/System_1.log");
  EXPECT_EQ(static_cast<VerificationReport*>(report)->files(),
            (std::vector<std::wstring>{L"C:\\logs\\system.log", L"rel\\a\\b\\System_1.log"}));
}

TEST_F(FolderScanTest, NonAsciiFolderAndFileNames) {
  const std::wstring folder = (dir.path() / L"\u0436").wstring();
  fs::create_directory(folder);
  testing::WriteFile(fs::path(folder) / L"System_\u65e5\u672c.log", std::string("line\n"));
  Scan(folder);
  EXPECT_EQ(Listed(), (std::vector<std::wstring>{folder + L"\\System_\u65e5\u672c.log"}));
}

#endif

}  // namespace
}  // namespace qve
