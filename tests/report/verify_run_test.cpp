// Verdicts, counters and results of a verification run, through the exported
// C functions.
#include <QVEHelper.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::LogBuilder;
using testing::LogChain;
using testing::TempDir;
using Records = std::vector<std::pair<std::wstring, std::uint32_t>>;

struct ReportDeleter {
  void operator()(QVE_VerificationReport* report) const { DeleteVerificationReport(report); }
};

// The kinds of file a run meets, each written as the next link of `chain`.
using FileMaker = std::function<void(LogBuilder&)>;
const FileMaker kAllOk = [](LogBuilder& l) { l.DataLines(2).Sign().Data("x").Sign(); };
const FileMaker kOkWithTail = [](LogBuilder& l) { l.Data("a").Sign().DataLines(3, "tail "); };
const FileMaker kUnsignedContent = [](LogBuilder& l) { l.DataLines(3); };
const FileMaker kEmpty = [](LogBuilder&) {};
const FileMaker kNoSignatureOnly = [](LogBuilder& l) { l.Data("a").EmptySignature().Data("b"); };
const FileMaker kNoSignatureAndOk = [](LogBuilder& l) { l.Data("a").EmptySignature().Sign(); };
const FileMaker kInvalid = [](LogBuilder& l) {
  l.Data("a").Sign([](auto& b) { b.SignOver({"other"}); }).Data("b").Sign();
};
const FileMaker kChainBreakFirst = [](LogBuilder& l) {
  l.Data("a").Sign([](auto& b) { b.Link(Bytes(32, 7)); }).Data("b").Sign();
};
const FileMaker kChainBreakFirstAndInvalid = [](LogBuilder& l) {
  l.Data("a").Sign([](auto& b) { b.Link(Bytes(32, 7)); });
  l.Data("b").Sign([](auto& b) { b.SignOver({}); });
};
const FileMaker kChainBreakLater = [](LogBuilder& l) {
  l.Data("a").Sign().Data("b").Sign([](auto& b) { b.Link(Bytes(32, 7)); });
};

class VerifyRunTest : public ::testing::Test {
 protected:
  // Writes the files in name order as one chain and adds them to the report.
  void Files(const std::vector<std::pair<std::string, FileMaker>>& files) {
    for (const auto& [name, make] : files) {
      LogBuilder log(chain);
      make(log);
      log.WriteTo(dir / name);
      Add(name);
    }
  }
  void Add(const std::string& name) {
    AddFileToVerificationReport(report.get(), platform::ToWide((dir / name).string())->c_str());
  }
  Records RecordsOf() const {
    Records records;
    for (std::uint32_t i = 0; i < GetFileReportCountInVerificationReport(report.get()); ++i) {
      records.emplace_back(GetFileReportNameInVerificationReport(report.get(), i),
                           GetFileReportVerditInVerificationReport(report.get(), i));
    }
    return records;
  }
  std::uint32_t Total() const { return TotalFilesInVerificationReport(report.get()); }
  std::uint32_t Bad() const { return NumberOfBadFilesInVerificationReport(report.get()); }

  TempDir dir;
  LogChain chain;
  std::unique_ptr<QVE_VerificationReport, ReportDeleter> report{CreateVerificationReport()};
};

TEST_F(VerifyRunTest, EmptyListIsUnsigned) {
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_UNSIGNED);
  EXPECT_EQ(Total(), 0u);
  EXPECT_EQ(Bad(), 0u);
  EXPECT_TRUE(RecordsOf().empty());
}

TEST_F(VerifyRunTest, OkFilesAreListedOnlyWhenAsked) {
  Files({{"a.log", kAllOk}});
  EXPECT_EQ(VerifyReport(report.get(), false), QVE_REPORT_OK);
  EXPECT_EQ(Total(), 1u);
  EXPECT_EQ(Bad(), 0u);
  EXPECT_TRUE(RecordsOf().empty());
  EXPECT_EQ(VerifyReport(report.get(), true), QVE_REPORT_OK);
  EXPECT_EQ(RecordsOf(), (Records{{L"a.log", QVE_FILE_OK}}));
}

struct FileCase {
  const char* name;
  FileMaker make;
  std::uint32_t verdict;
};

TEST_F(VerifyRunTest, FileVerdicts) {
  const FileCase cases[] = {
      {"all blocks ok", kAllOk, QVE_FILE_OK},
      {"signed with an unsigned tail", kOkWithTail, QVE_FILE_OK},
      {"unsigned content", kUnsignedContent, QVE_FILE_UNSIGNED},
      {"empty file", kEmpty, QVE_FILE_UNSIGNED},
      {"only an empty signature", kNoSignatureOnly, QVE_FILE_UNSIGNED},
      {"empty signature and a good block", kNoSignatureAndOk, QVE_FILE_OK},
      {"invalid block", kInvalid, QVE_FILE_INVALID},
      {"chain break in the first block only", kChainBreakFirst, QVE_FILE_CHAIN_BREAK},
      {"chain break first and one more bad block", kChainBreakFirstAndInvalid, QVE_FILE_INVALID},
      {"chain break not in the first block", kChainBreakLater, QVE_FILE_INVALID},
  };
  for (const FileCase& c : cases) {
    // A good file first, so that the file under test is not the lenient first.
    chain.Reset();
    ClearVerificationReport(report.get());
    Files({{"a.log", kAllOk}, {"b.log", c.make}});
    VerifyReport(report.get(), true);
    EXPECT_EQ(RecordsOf(), (Records{{L"a.log", QVE_FILE_OK}, {L"b.log", c.verdict}})) << c.name;
    const bool bad = c.verdict == QVE_FILE_INVALID || c.verdict == QVE_FILE_CHAIN_BREAK;
    EXPECT_EQ(Bad(), bad ? 1u : 0u) << c.name;
  }
}

TEST_F(VerifyRunTest, ReportResults) {
  const struct {
    const char* name;
    std::vector<FileMaker> files;
    std::uint32_t result;
    std::uint32_t bad;
  } cases[] = {
      {"unsigned and ok", {kUnsignedContent, kAllOk}, QVE_REPORT_OK, 0},
      {"only ok", {kAllOk, kOkWithTail}, QVE_REPORT_OK, 0},
      {"only unsigned", {kUnsignedContent, kEmpty, kNoSignatureOnly}, QVE_REPORT_UNSIGNED, 0},
      {"one invalid of three", {kAllOk, kInvalid, kUnsignedContent}, QVE_REPORT_SOME_INVALID, 1},
      {"one chain break of two", {kAllOk, kChainBreakFirst}, QVE_REPORT_SOME_INVALID, 1},
      {"every file bad", {kInvalid, kChainBreakFirst, kChainBreakLater}, QVE_REPORT_ALL_INVALID, 3},
      {"one bad file alone", {kInvalid}, QVE_REPORT_ALL_INVALID, 1},
  };
  for (const auto& c : cases) {
    chain.Reset();
    ClearVerificationReport(report.get());
    std::vector<std::pair<std::string, FileMaker>> files;
    for (std::size_t i = 0; i < c.files.size(); ++i)
      files.emplace_back("System_" + std::to_string(i) + ".log", c.files[i]);
    Files(files);
    for (const bool includeOk : {false, true}) {
      EXPECT_EQ(VerifyReport(report.get(), includeOk), c.result) << c.name;
      EXPECT_EQ(Total(), c.files.size()) << c.name;
      EXPECT_EQ(Bad(), c.bad) << c.name;
    }
  }
}

TEST_F(VerifyRunTest, MissingFilesAreUnsignedAndNotBad) {
  Add("missing.log");
  Add("System_9.log");
  EXPECT_EQ(VerifyReport(report.get(), false), QVE_REPORT_UNSIGNED);
  EXPECT_EQ(Bad(), 0u);
  EXPECT_EQ(RecordsOf(),
            (Records{{L"System_9.log", QVE_FILE_UNSIGNED}, {L"missing.log", QVE_FILE_UNSIGNED}}));
}

TEST_F(VerifyRunTest, RecordsFollowNameOrderAndKeepEqualNames) {
  fs::create_directories(dir / "one");
  fs::create_directories(dir / "two");
  Files({{"System_1.log", kUnsignedContent},
         {"System_2.log", kUnsignedContent},
         {"one/system.log", kUnsignedContent},
         {"two/system.log", kUnsignedContent}});
  VerifyReport(report.get(), true);
  EXPECT_EQ(RecordsOf(), (Records{{L"System_1.log", QVE_FILE_UNSIGNED},
                                  {L"System_2.log", QVE_FILE_UNSIGNED},
                                  {L"system.log", QVE_FILE_UNSIGNED},
                                  {L"system.log", QVE_FILE_UNSIGNED}}));
}

TEST_F(VerifyRunTest, RecordCountMissesExactlyTheOkFiles) {
  Files({{"System_1.log", kAllOk},
         {"System_2.log", kOkWithTail},
         {"System_3.log", kUnsignedContent},
         {"System_4.log", kInvalid}});
  VerifyReport(report.get(), false);
  EXPECT_EQ(GetFileReportCountInVerificationReport(report.get()), Total() - 2);
  VerifyReport(report.get(), true);
  EXPECT_EQ(GetFileReportCountInVerificationReport(report.get()), Total());
}

TEST_F(VerifyRunTest, ExceptionLeavesCountersAndRecordsEmpty) {
  Files({{"System_1.log", kAllOk}});
  ASSERT_EQ(VerifyReport(report.get(), true), QVE_REPORT_OK);
  ASSERT_EQ(Total(), 1u);
  const std::wstring bad =
      platform::ToWide((dir / "System_2").string())->append(1, wchar_t(0xDFFF));
  AddFileToVerificationReport(report.get(), bad.c_str());
  try {
    VerifyReport(report.get(), true);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "invalid wchar_t filename argument");
  }
  EXPECT_EQ(Total(), 0u);
  EXPECT_EQ(Bad(), 0u);
  EXPECT_TRUE(RecordsOf().empty());
}

}  // namespace
}  // namespace qve
