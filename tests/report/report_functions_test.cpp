// The report's lifecycle through its exported C functions.
#include <QVEHelper.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/paths.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

using testing::LogBuilder;
using testing::LogChain;
using testing::TempDir;

struct ReportDeleter {
  void operator()(QVE_VerificationReport* report) const { DeleteVerificationReport(report); }
};
using Report = std::unique_ptr<QVE_VerificationReport, ReportDeleter>;

struct Counts {
  std::uint32_t total;
  std::uint32_t bad;
  std::size_t records;
  bool operator==(const Counts&) const = default;
};

Counts CountsOf(QVE_VerificationReport* report) {
  return {TotalFilesInVerificationReport(report), NumberOfBadFilesInVerificationReport(report),
          GetFileReportCountInVerificationReport(report)};
}

void PrintTo(const Counts& c, std::ostream* os) {
  *os << "{total " << c.total << ", bad " << c.bad << ", records " << c.records << "}";
}

class ReportFunctionsTest : public ::testing::Test {
 protected:
  std::wstring Path(const std::string& name) const {
    return *platform::ToWide((dir / name).string());
  }

  TempDir dir;
  LogChain chain;
  Report report{CreateVerificationReport()};
};

TEST(DeleteVerificationReport, NullIsIgnored) {
  DeleteVerificationReport(nullptr);
  QVE_Helper::IVerificationReport::Delete(nullptr);
}

TEST_F(ReportFunctionsTest, NewReportIsEmpty) {
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(CountsOf(report.get()), (Counts{0, 0, 0}));
}

TEST_F(ReportFunctionsTest, RecordIsNamedAfterTheLastComponent) {
  AddFileToVerificationReport(report.get(), L"C:/logs/system.log");
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_UNSIGNED);
  ASSERT_EQ(GetFileReportCountInVerificationReport(report.get()), 1u);
  EXPECT_STREQ(GetFileReportNameInVerificationReport(report.get(), 0), L"system.log");
  EXPECT_EQ(GetFileReportVerditInVerificationReport(report.get(), 0), QVE_FILE_UNSIGNED);
}

TEST_F(ReportFunctionsTest, SamePathTwiceIsJudgedTwice) {
  LogBuilder(chain).Data("a").Sign().WriteTo(dir / "system.log");
  AddFileToVerificationReport(report.get(), Path("system.log").c_str());
  AddFileToVerificationReport(report.get(), Path("system.log").c_str());
  // The second copy repeats the first one's link: a break.
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_SOME_INVALID);
  EXPECT_EQ(CountsOf(report.get()), (Counts{2, 1, 2}));
}

TEST_F(ReportFunctionsTest, EmptyPathIsAFileThatCannotBeOpened) {
  AddFileToVerificationReport(report.get(), L"");
  EXPECT_EQ(VerifyReport(report.get(), false), QVE_REPORT_UNSIGNED);
  EXPECT_EQ(CountsOf(report.get()), (Counts{1, 0, 1}));
  EXPECT_STREQ(GetFileReportNameInVerificationReport(report.get(), 0), L"");
  EXPECT_EQ(GetFileReportVerditInVerificationReport(report.get(), 0), QVE_FILE_UNSIGNED);
}

TEST_F(ReportFunctionsTest, AddingAfterVerifyChangesNothingUntilTheNextVerify) {
  LogBuilder(chain).Data("a").Sign([](auto& b) { b.SignOver({"b"}); }).WriteTo(dir / "a.log");
  AddFileToVerificationReport(report.get(), Path("a.log").c_str());
  ASSERT_EQ(VerifyReport(report.get(), false), QVE_REPORT_ALL_INVALID);
  const wchar_t* name = GetFileReportNameInVerificationReport(report.get(), 0);
  AddFileToVerificationReport(report.get(), Path("b.log").c_str());
  AddFileInFolderToVerificationReport(report.get(), Path("").c_str());
  EXPECT_EQ(CountsOf(report.get()), (Counts{1, 1, 1}));
  EXPECT_EQ(GetFileReportNameInVerificationReport(report.get(), 0), name);
  EXPECT_STREQ(name, L"a.log");
  EXPECT_EQ(VerifyReport(report.get(), false), QVE_REPORT_SOME_INVALID);
  EXPECT_EQ(CountsOf(report.get()), (Counts{2, 1, 2}));
}

TEST_F(ReportFunctionsTest, ClearEmptiesEverything) {
  LogBuilder(chain).Data("a").Sign().WriteTo(dir / "a.log");
  AddFileToVerificationReport(report.get(), Path("a.log").c_str());
  AddFileToVerificationReport(report.get(), Path("missing.log").c_str());
  ASSERT_EQ(VerifyReport(report.get(), true), QVE_REPORT_OK);
  ASSERT_EQ(CountsOf(report.get()), (Counts{2, 0, 2}));
  ClearVerificationReport(report.get());
  EXPECT_EQ(CountsOf(report.get()), (Counts{0, 0, 0}));
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_UNSIGNED);
  EXPECT_EQ(CountsOf(report.get()), (Counts{0, 0, 0}));
}

TEST_F(ReportFunctionsTest, NameAndVerdictOfOneIndexComeFromOneRecord) {
  LogBuilder(chain).Data("a").Sign().WriteTo(dir / "System_1.log");
  LogBuilder(chain).Data("b").Sign([](auto& b) { b.SignOver({}); }).WriteTo(dir / "System_2.log");
  LogBuilder(chain).Data("c").WriteTo(dir / "System_3.log");
  for (const char* name : {"System_3.log", "System_1.log", "System_2.log"})
    AddFileToVerificationReport(report.get(), Path(name).c_str());
  ASSERT_EQ(VerifyReport(report.get(), true), QVE_REPORT_SOME_INVALID);
  ASSERT_EQ(GetFileReportCountInVerificationReport(report.get()), 3u);
  const struct {
    const wchar_t* name;
    std::uint32_t verdict;
  } expected[] = {{L"System_1.log", QVE_FILE_OK},
                  {L"System_2.log", QVE_FILE_INVALID},
                  {L"System_3.log", QVE_FILE_UNSIGNED}};
  for (std::uint32_t i = 0; i < 3; ++i) {
    EXPECT_STREQ(GetFileReportNameInVerificationReport(report.get(), i), expected[i].name);
    EXPECT_EQ(GetFileReportVerditInVerificationReport(report.get(), i), expected[i].verdict);
  }
}

TEST_F(ReportFunctionsTest, VerifyingTwiceGivesTheSameAnswer) {
  LogBuilder(chain).Data("a").Sign().Data("tail").WriteTo(dir / "a.log");
  LogBuilder(chain).Data("b").Sign([](auto& b) { b.Link({}); }).WriteTo(dir / "b.log");
  AddFileToVerificationReport(report.get(), Path("b.log").c_str());
  AddFileToVerificationReport(report.get(), Path("a.log").c_str());
  const std::uint32_t first = VerifyReport(report.get(), true);
  const Counts counts = CountsOf(report.get());
  EXPECT_EQ(first, QVE_REPORT_SOME_INVALID);
  EXPECT_EQ(VerifyReport(report.get(), true), first);
  EXPECT_EQ(CountsOf(report.get()), counts);
  EXPECT_EQ(GetFileReportVerditInVerificationReport(report.get(), 1), QVE_FILE_CHAIN_BREAK);
}

TEST_F(ReportFunctionsTest, TheClassInterfaceIsTheSameReport) {
  QVE_Helper::IVerificationReport* object = QVE_Helper::IVerificationReport::Create();
  object->AddFile(L"absent/system.log");
  EXPECT_EQ(object->Verify(false), QVE_Helper::ReportUnsigned);
  EXPECT_EQ(TotalFilesInVerificationReport(object), 1u);
  EXPECT_EQ(object->GetFileReport(0).name, L"system.log");
  EXPECT_EQ(object->GetFileReport(0).verdict, QVE_Helper::FileUnsigned);
  object->Clear();
  EXPECT_EQ(object->GetFileReportCount(), 0u);
  QVE_Helper::IVerificationReport::Delete(object);
}

}  // namespace
}  // namespace qve
