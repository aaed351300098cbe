// SPDX-License-Identifier: Apache-2.0
// The verification report through its exported functions, and as a host loads the library.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "report/verification_report.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

std::vector<std::wstring> Listed(QVE_VerificationReport* report) {
  std::vector<std::wstring> files = static_cast<VerificationReport*>(report)->files();
  std::sort(files.begin(), files.end());
  return files;
}

#ifndef _WIN32
// Scanned as `nobody`, so that the locked folder stays closed.
TEST(FolderScan, ListsRegularSystemLogsBelowAndNothingElse) {
  TempDir dir;
  const fs::path day = dir / "day1";
  // clang-format off
  for (const char* name : {"system.log", "System_1.log", "System_abc.log", "System_.log", "system_1.log",
       "System_1.LOG", "SYSTEM.LOG", "xSystem_1.log", "System_1.txt", "system.log.1", "System_1.log ",
       "system.lo", "System_a.log.log", "System_2.log.gz", "system.log.gz", "System_\xc3\xa9.log",
       "System_\xff\xfe.log", "sub/System_22.log", "system.log.d/system.log", "folder/system.log/System_5.log",
       "a\\b/system.log", "locked/System_7.log", "real/System_1.log", "sub\xc0\xaf/system.log"}) {
    // clang-format on
    fs::create_directories((day / name).parent_path());
    WriteFile(day / name, std::string("line\n"));
  }
  fs::create_symlink(day / "real/System_1.log", day / "System_3.log");
  fs::create_directory_symlink(day / "real", day / "linked");
  fs::create_directory_symlink(day, day / "loop");
  ASSERT_EQ(mkfifo((day / "System_8.log").c_str(), 0600), 0);
  fs::permissions(day / "locked", fs::perms::none);
  const std::wstring root = WidePath(day);
  std::vector<std::wstring> expected;
  for (const wchar_t* name :
       {L"System_1.log", L"System_a.log.log", L"System_abc.log", L"System_\u00e9.log",
        L"a\\b/system.log", L"folder/system.log/System_5.log", L"real/System_1.log",
        L"sub/System_22.log", L"system.log", L"system.log.d/system.log"})
    expected.push_back(root + L"/" + name);
  EXPECT_EQ(0, AsNobody(dir.path(), [&] {
              Report report(CreateVerificationReport());
              AddFileInFolderToVerificationReport(report.get(), root.c_str());
              return Listed(report.get()) == expected ? 0 : 1;
            }));
  // A link to a folder given is followed, and each scan lists its files.
  Report report(CreateVerificationReport());
  for (const std::wstring& folder : {root + L"/linked", root + L"/linked/"})
    AddFileInFolderToVerificationReport(report.get(), folder.c_str());
  EXPECT_EQ(Listed(report.get()), (std::vector<std::wstring>(2, root + L"/linked/System_1.log")));
}
#endif

#ifdef _WIN32
// The selection ignores case as the file system does; slashes become '\'. A host in a
// Western code page reaches folders and files named in any script.
TEST(FolderScan, WindowsNames) {
  ASSERT_NE(GetACP(), UINT(CP_UTF8)) << "the suite runs without a UTF-8 code page";
  TempDir dir;
  for (const char* name : {"SYSTEM.LOG", "System_1.LOG", "system_2.log", "System_abc.log",
                           "System_.log", "xSystem_1.log", "sub/System_22.log", "a.log"}) {
    fs::create_directories((dir / "day1" / name).parent_path());
    WriteFile(dir / "day1" / name, std::string("line\n"));
  }
  const std::wstring folder = (dir / "day1").make_preferred().wstring();
  ASSERT_EQ(folder[1], L':');
  std::wstring slashed = folder;
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  Report report(CreateVerificationReport());
  AddFileInFolderToVerificationReport(report.get(), slashed.c_str());
  const std::vector<std::wstring> day1 = {
      folder + L"\\SYSTEM.LOG", folder + L"\\System_1.LOG", folder + L"\\System_abc.log",
      folder + L"\\sub\\System_22.log", folder + L"\\system_2.log"};
  EXPECT_EQ(Listed(report.get()), day1);
  ClearVerificationReport(report.get());
  AddFileInFolderToVerificationReport(report.get(), (folder + L"\\").c_str());
  AddFileToVerificationReport(report.get(), L"C:/logs/system.log");
  AddFileToVerificationReport(report.get(), L"rel/a\\b/System_1.log");
  std::vector<std::wstring> all = day1;
  all.insert(all.begin(), L"C:\\logs\\system.log");
  all.push_back(L"rel\\a\\b\\System_1.log");
  EXPECT_EQ(Listed(report.get()), all);
  // Cyrillic, CJK and emoji folders, one inside another, and a chain in them.
  const fs::path scripts = dir.path() / L"\u0434\u0430\u043d\u043d\u044b\u0435";
  fs::create_directories(scripts / L"\u65e5\u5fd7" / L"\U0001F4C4");
  LogChain chain;
  LogBuilder(chain).Script("a S").WriteTo(scripts / L"System_\u65e5\u672c.log");
  LogBuilder(chain).Script("b S").WriteTo(scripts / L"\u65e5\u5fd7" / L"\U0001F4C4" / "system.log");
  ClearVerificationReport(report.get());
  AddFileInFolderToVerificationReport(report.get(), scripts.wstring().c_str());
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_OK);
  EXPECT_EQ(RecordsOf(report.get()),
            (Records{{L"System_\u65e5\u672c.log", QVE_FILE_OK}, {L"system.log", QVE_FILE_OK}}));
}
#endif

// Records as "name:V ...", V the verdict: O ok, U unsigned, C chain break, I invalid.
Records R(std::string_view text) {
  Records records;
  std::istringstream words{std::string(text)};
  for (std::string word; words >> word;) {
    const auto verdict = std::string_view("OUCI").find(word.back());
    records.emplace_back(std::wstring(word.begin(), word.end() - 2), std::uint32_t(verdict));
  }
  return records;
}

// A chain of three stored under a row's names, handed over by folder or by the names typed.
// Linux keeps the exact rule; Windows takes names as stored, ordered as the rule spells them.
using Outcome = std::pair<std::uint32_t, const char*>;  // the result and the records
struct NamesRow {
  const char* name;
  std::vector<const char*> stored;
  std::vector<const char*> typed = {};  // empty: the folder
  const char* lastScript = "c S";
  Outcome onLinux, onWindows;
};

class NamesInAnyCase : public ::testing::TestWithParam<NamesRow> {};

TEST_P(NamesInAnyCase, Verified) {
  const NamesRow& row = GetParam();
  TempDir dir;
  LogChain chain;
  for (int i = 0; i < 3; ++i)
    LogBuilder(chain).Script(i < 2 ? "a S" : row.lastScript).WriteTo(dir / row.stored[i]);
  Report report(CreateVerificationReport());
  if (row.typed.empty())
    AddFileInFolderToVerificationReport(report.get(), WidePath(dir.path()).c_str());
  for (const char* name : row.typed)
    AddFileToVerificationReport(report.get(), WidePath(dir / name).c_str());
#ifdef _WIN32
  const Outcome& expected = row.onWindows;
#else
  const Outcome& expected = row.onLinux;
#endif
  EXPECT_EQ(VerifyReport(report.get(), true), expected.first);
  EXPECT_EQ(RecordsOf(report.get()), R(expected.second));
}

const std::vector<const char*> kRule = {"System_1.log", "System_2.log", "system.log"},
                               kUpperLog = {"System_1.log", "System_2.log", "SYSTEM.LOG"};

// clang-format off
const NamesRow kNames[] = {
    {.name = "UpperCaseAsFatKeepsThem", .stored = {"SYSTEM_1.LOG", "System_2.LOG", "SYSTEM.LOG"}, .onLinux = {QVE_REPORT_UNSIGNED, ""},
     .onWindows = {QVE_REPORT_OK, "SYSTEM_1.LOG:O System_2.LOG:O SYSTEM.LOG:O"}},
    {.name = "TamperedUpperCaseLog", .stored = kUpperLog, .lastScript = "c S!", .onLinux = {QVE_REPORT_OK, "System_1.log:O System_2.log:O"},
     .onWindows = {QVE_REPORT_SOME_INVALID, "System_1.log:O System_2.log:O SYSTEM.LOG:I"}},
    {.name = "NamedInAnotherCase", .stored = kRule, .typed = {"system_1.log", "SYSTEM_2.LOG", "SYSTEM.LOG"},
     .onLinux = {QVE_REPORT_UNSIGNED, "SYSTEM.LOG:U SYSTEM_2.LOG:U system_1.log:U"},
     .onWindows = {QVE_REPORT_OK, "System_1.log:O System_2.log:O system.log:O"}},
    {.name = "UpperCaseLogNamedAsStored", .stored = kUpperLog, .typed = kUpperLog,
     .onLinux = {QVE_REPORT_SOME_INVALID, "SYSTEM.LOG:O System_1.log:C System_2.log:O"},
     .onWindows = {QVE_REPORT_OK, "System_1.log:O System_2.log:O SYSTEM.LOG:O"}}};
// clang-format on
QVE_ROWS(NamesInAnyCase, kNames);

const std::string kAllOk = "1 2 S x S", kUnsigned = "1 2 3", kInvalid = "a S! b S";

// A file named like a compressed rotation is read as the bytes it holds, as any other file.
TEST(VerifyReport, GzipFilesAreReadAsTheirBytes) {
  TempDir dir;
  LogChain chain;
  const Bytes gzip = Gzip(LogBuilder(chain).Script("a b S c S").bytes());
  for (const char* name : {"System_1.log.gz", "copy"}) WriteFile(dir / name, gzip);
  const auto verify = [&](const char* name) {
    Report report(CreateVerificationReport());
    AddFileToVerificationReport(report.get(), WidePath(dir / name).c_str());
    const std::uint32_t result = VerifyReport(report.get(), true);
    return std::pair(result, RecordsOf(report.get()).at(0).second);
  };
  EXPECT_EQ(verify("System_1.log.gz"), verify("copy"));
  EXPECT_NE(verify("System_1.log.gz").second, QVE_FILE_OK);
}

// Files written as one chain, System_0.log first, and each one's verdict as in R().
struct ResultRow {
  const char* name;
  std::vector<std::string> files;
  std::uint32_t result;
  std::string verdicts;
};

class Results : public ::testing::TestWithParam<ResultRow> {};

TEST_P(Results, VerdictsAndCounts) {
  const ResultRow& row = GetParam();
  TempDir dir;
  Report report(CreateVerificationReport());
  LogChain chain;
  std::string all, notOk;
  for (std::size_t i = 0; i < row.files.size(); ++i) {
    const fs::path path = dir / ("System_" + std::to_string(i) + ".log");
    LogBuilder(chain).Script(row.files[i]).WriteTo(path);
    AddFileToVerificationReport(report.get(), WidePath(path).c_str());
    const std::string record = "System_" + std::to_string(i) + ".log:" + row.verdicts[i] + " ";
    all += record;
    notOk += row.verdicts[i] == 'O' ? "" : record;
  }
  for (const bool includeOk : {false, true}) {
    EXPECT_EQ(VerifyReport(report.get(), includeOk), row.result);
    EXPECT_EQ(RecordsOf(report.get()), R(includeOk ? all : notOk));
    EXPECT_EQ(TotalFilesInVerificationReport(report.get()), row.files.size());
    EXPECT_EQ(NumberOfBadFilesInVerificationReport(report.get()),
              std::ranges::count(row.verdicts, 'C') + std::ranges::count(row.verdicts, 'I'));
  }
}

// clang-format off
const ResultRow kResults[] = {
    {.name = "NoFiles", .files = {}, .result = QVE_REPORT_UNSIGNED, .verdicts = ""},
    {.name = "UnsignedAndOk", .files = {kUnsigned, kAllOk}, .result = QVE_REPORT_OK, .verdicts = "UO"},
    {.name = "OnlyUnsigned", .files = {kUnsigned, "", "a E b"}, .result = QVE_REPORT_UNSIGNED, .verdicts = "UUU"},
    {.name = "EmptySignatureThenGood", .files = {kAllOk, "a E S"}, .result = QVE_REPORT_OK, .verdicts = "OO"},
    {.name = "OneInvalidOfThree", .files = {kAllOk, kInvalid, kUnsigned}, .result = QVE_REPORT_SOME_INVALID, .verdicts = "OIU"},
    {.name = "BreakThenInvalid", .files = {kAllOk, "a S@ b S!"}, .result = QVE_REPORT_SOME_INVALID, .verdicts = "OI"},
    {.name = "EveryFileBad", .files = {kInvalid, "a S@ b S", "a S b S@"}, .result = QVE_REPORT_ALL_INVALID, .verdicts = "ICI"}};
// clang-format on
QVE_ROWS(Results, kResults);

// What a caller sees between the calls: records, counters and names.
TEST(VerifyReport, Lifecycle) {
  TempDir dir;
  Report report(CreateVerificationReport());
  const auto add = [&](const std::wstring& p) {
    AddFileToVerificationReport(report.get(), p.c_str());
  };
  LogChain chain;
  LogBuilder(chain).Data("a").Sign().WriteTo(dir / "a.log");
  for (const std::wstring& path :
       {WidePath(dir / "a.log"), std::wstring(L"C:/logs/missing.log"), std::wstring()})
    add(path);
  EXPECT_EQ(VerifyReport(report.get(), false), QVE_REPORT_OK);
  EXPECT_EQ(RecordsOf(report.get()), R(":U missing.log:U"));
  const wchar_t* name = GetFileReportNameInVerificationReport(report.get(), 1);
  // Added files wait for the next run.
  add(WidePath(dir / "a.log"));  // the same block again: a break
  EXPECT_EQ(TotalFilesInVerificationReport(report.get()), 3u);
  EXPECT_EQ(GetFileReportNameInVerificationReport(report.get(), 1), name);
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_SOME_INVALID);
  EXPECT_EQ(RecordsOf(report.get()), R(":U a.log:O a.log:C missing.log:U"));
  EXPECT_EQ(NumberOfBadFilesInVerificationReport(report.get()), 1u);
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_SOME_INVALID);
  EXPECT_EQ(GetFileReportCountInVerificationReport(report.get()), 4u);
  const std::wstring lone = std::wstring(L"System_2") + wchar_t(0xDFFF);
#ifdef _WIN32
  // Every name a Windows host holds has a narrow form: a verdict, never a throw.
  ClearVerificationReport(report.get());
  add(WidePath(dir.path()) + L"/" + lone);
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_UNSIGNED);
  EXPECT_EQ(RecordsOf(report.get()), (Records{{lone, QVE_FILE_UNSIGNED}}));
#else
  // A path with no narrow form throws the documented exception and leaves nothing behind.
  add(WidePath(dir.path()) + L"/" + lone);
  try {
    VerifyReport(report.get(), true);
    ADD_FAILURE() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "invalid wchar_t filename argument");
  }
  EXPECT_EQ(std::tuple(TotalFilesInVerificationReport(report.get()), RecordsOf(report.get()),
                       NumberOfBadFilesInVerificationReport(report.get())),
            std::tuple(0u, Records{}, 0u));
#endif
  ClearVerificationReport(report.get());
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_UNSIGNED);
  EXPECT_EQ(TotalFilesInVerificationReport(report.get()), 0u);
  QVE_Helper::IVerificationReport* object = QVE_Helper::IVerificationReport::Create();
  object->AddFile(L"absent/system.log");
  EXPECT_EQ(object->Verify(true), QVE_Helper::ReportUnsigned);
  EXPECT_EQ(RecordsOf(object), (Records{{L"system.log", QVE_FILE_UNSIGNED}}));
  EXPECT_EQ(&object->GetFileReport(0).name[0], GetFileReportNameInVerificationReport(object, 0));
  QVE_Helper::IVerificationReport::Delete(object);
  QVE_Helper::IVerificationReport::Delete(nullptr);
  DeleteVerificationReport(nullptr);
}

struct SharedLibrary {
#ifdef _WIN32
  HMODULE handle = [] {
    std::string file = QVE_LIBRARY_FILE;  // the build names the DLL with '/'
    std::replace(file.begin(), file.end(), '/', '\\');
    return ::LoadLibraryA(file.c_str());
  }();
  ~SharedLibrary() { handle&& ::FreeLibrary(handle); }
  void* Symbol(const char* name) const {
    return reinterpret_cast<void*>(::GetProcAddress(handle, name));
  }
#else
  void* handle = ::dlopen(QVE_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ~SharedLibrary() { handle&& ::dlclose(handle); }
  void* Symbol(const char* name) const { return ::dlsym(handle, name); }
#endif
  template <typename F>
  F* Get(const char* name) const {
    return reinterpret_cast<F*>(Symbol(name));
  }
};

// Each call goes through the symbol the library exports under that name.
#define CALL(name, ...) library.Get<decltype(name)>(#name)(__VA_ARGS__)

// Hosts bind to the shared library by name, and their slips end nothing.
TEST(ExportedFunctions, VerifyAFolderThroughTheSharedLibrary) {
  SharedLibrary library;
  ASSERT_TRUE(library.handle);
  EXPECT_NE(library.Get<decltype(VerifyReport)>("VerifyReport"), &VerifyReport);
  TempDir dir;
  LogChain chain;
  LogBuilder(chain).Script("1 2 3 S").WriteTo(dir / "System_1.log");
  LogBuilder(chain).Script("a S!").WriteTo(dir / "system.log");
  const std::wstring folder = WidePath(dir.path()), out = folder + L"/out";
  QVE_VerificationReport* report = CALL(CreateVerificationReport);
  // Null pointers and indexes past the count do nothing, or give 0 or NULL, never a good value.
  EXPECT_EQ(CALL(GetFileReportNameInVerificationReport, report, 0), nullptr);
  EXPECT_EQ(CALL(GetFileReportVerditInVerificationReport, report, 0), QVE_NO_RESULT);
  CALL(AddFileToVerificationReport, report, nullptr);
  CALL(AddFileInFolderToVerificationReport, report, nullptr);
  CALL(AddFileToVerificationReport, nullptr, folder.c_str());
  CALL(AddFileInFolderToVerificationReport, nullptr, folder.c_str());
  CALL(ClearVerificationReport, nullptr);
  EXPECT_EQ(CALL(VerifyReport, nullptr, true), QVE_NO_RESULT);
  EXPECT_EQ(CALL(TotalFilesInVerificationReport, nullptr), 0u);
  EXPECT_EQ(CALL(NumberOfBadFilesInVerificationReport, nullptr), 0u);
  EXPECT_EQ(CALL(GetFileReportCountInVerificationReport, nullptr), 0u);
  EXPECT_EQ(CALL(GetFileReportNameInVerificationReport, nullptr, 0), nullptr);
  EXPECT_EQ(CALL(GetFileReportVerditInVerificationReport, nullptr, 0), QVE_NO_RESULT);
  EXPECT_EQ(CALL(DecryptQveFile, nullptr, nullptr), QVE_DECRYPT_INPUT_OPEN_FAILED);
  EXPECT_EQ(CALL(DecryptQveFile, nullptr, out.c_str()), QVE_DECRYPT_INPUT_OPEN_FAILED);
  EXPECT_EQ(CALL(DecryptQveFile, (folder + L"/System_1.log").c_str(), nullptr),
            QVE_DECRYPT_OUTPUT_OPEN_FAILED);
  CALL(AddFileInFolderToVerificationReport, report, folder.c_str());
  CALL(AddFileToVerificationReport, report, (folder + L"/absent.log").c_str());
  EXPECT_EQ(CALL(VerifyReport, report, false), QVE_REPORT_SOME_INVALID);
  EXPECT_EQ(CALL(TotalFilesInVerificationReport, report), 3u);
  EXPECT_EQ(CALL(NumberOfBadFilesInVerificationReport, report), 1u);
  ASSERT_EQ(CALL(GetFileReportCountInVerificationReport, report), 2u);
  EXPECT_STREQ(CALL(GetFileReportNameInVerificationReport, report, 1), L"system.log");
  EXPECT_EQ(CALL(GetFileReportVerditInVerificationReport, report, 1), QVE_FILE_INVALID);
  for (const std::uint32_t past : {2u, 0xFFFFFFFFu})
    EXPECT_TRUE(!CALL(GetFileReportNameInVerificationReport, report, past) &&
                CALL(GetFileReportVerditInVerificationReport, report, past) == QVE_NO_RESULT);
  CALL(ClearVerificationReport, report);
  EXPECT_EQ(CALL(TotalFilesInVerificationReport, report), 0u);
  CALL(DeleteVerificationReport, report);
  CALL(DeleteVerificationReport, nullptr);
}

}  // namespace
}  // namespace qve
