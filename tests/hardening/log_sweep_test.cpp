// Tamper sweep over a chain of three signed logs: every byte of every covered
// line and signature line changed, every line deleted, every pair of
// neighbouring lines swapped, every file deleted, every pair of file names
// swapped. The report may never come back ReportOk with every touched file
// FileOk, except for the changes the format cannot see, which are asserted
// here as exactly those limits.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "QVEHelper.h"
#include "platform/paths.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"
#include "verify/block_bytes.h"
#include "verify/log_line.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::LogBuilder;
using testing::LogChain;
using testing::TempDir;
using testing::WriteFile;

using Lines = std::vector<std::string>;

struct LogFile {
  std::string name;
  Lines lines;
};
using Chain = std::vector<LogFile>;

Lines SplitLines(const Bytes& bytes) {
  Lines lines;
  std::string line;
  for (const auto byte : bytes) {
    if (byte == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(byte));
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// System_1.log, System_2.log, system.log: one chain, every line distinct,
// every file ending in a signature line.
Chain BuildChain(const std::function<void(LogBuilder&)>& extraInFirst = {}) {
  LogChain chain;
  LogBuilder first(chain), second(chain), third(chain);
  first.DataLines(2, "boot ").Sign();
  if (extraInFirst) extraInFirst(first);
  first.Data("service up").Sign();
  second.Data("user login").Sign().DataLines(2, "job ").Sign();
  third.Data("user logout").Data("shutdown").Sign();
  return {{"System_1.log", SplitLines(first.bytes())},
          {"System_2.log", SplitLines(second.bytes())},
          {"system.log", SplitLines(third.bytes())}};
}

struct Outcome {
  QVE_Helper::ReportResult result;
  std::vector<std::pair<std::string, std::uint32_t>> verdicts;  // name, FileVerdict
};

class ChainRunner {
 public:
  // Writes the files, verifies them as one report and says whether the
  // report looks untouched: ReportOk with every file named in `touched` FileOk.
  Outcome Run(const Chain& chain) {
    fs::remove_all(dir_.path() / "logs");
    fs::create_directory(dir_.path() / "logs");
    auto* report = QVE_Helper::IVerificationReport::Create();
    for (const auto& file : chain) {
      std::string text;
      for (const auto& line : file.lines) text += line + "\n";
      const fs::path path = dir_.path() / "logs" / file.name;
      WriteFile(path, text);
      report->AddFile(*platform::ToWide(path.string()));
    }
    Outcome outcome{static_cast<QVE_Helper::ReportResult>(report->Verify(true)), {}};
    for (std::uint32_t i = 0; i < report->GetFileReportCount(); ++i) {
      const auto& record = report->GetFileReport(i);
      outcome.verdicts.emplace_back(*platform::ToNarrow(record.name), record.verdict);
    }
    QVE_Helper::IVerificationReport::Delete(report);
    ++runs_;
    return outcome;
  }

  bool LooksUntouched(const Chain& chain, const std::vector<std::string>& touched) {
    const Outcome outcome = Run(chain);
    if (outcome.result != QVE_Helper::ReportOk) return false;
    for (const auto& name : touched) {
      for (const auto& [file, verdict] : outcome.verdicts)
        if (file == name && verdict != QVE_Helper::FileOk) return false;
    }
    return true;
  }

  std::size_t runs() const { return runs_; }

 private:
  TempDir dir_;
  std::size_t runs_ = 0;
};

void Count(const char* name, std::size_t tried, std::size_t accepted) {
  ::testing::Test::RecordProperty(std::string(name) + "_tried", static_cast<int>(tried));
  ::testing::Test::RecordProperty(std::string(name) + "_accepted", static_cast<int>(accepted));
  std::cout << name << ": " << tried << " tampered chains tried, " << accepted
            << " accepted as untouched\n";
}

TEST(LogSweepTest, UntouchedChainIsOk) {
  ChainRunner runner;
  const Outcome outcome = runner.Run(BuildChain());
  EXPECT_EQ(outcome.result, QVE_Helper::ReportOk);
  ASSERT_EQ(outcome.verdicts.size(), 3u);
  for (const auto& [name, verdict] : outcome.verdicts)
    EXPECT_EQ(verdict, QVE_Helper::FileOk) << name;
}

// Two changes per byte: one bit flipped, and the byte made a line end. The
// only change let through is one that leaves a signature line's decoded
// block as it was: a payload byte past where base64 decoding stops, or one
// carrying only the unused low bits of the last base64 character.
TEST(LogSweepTest, EveryChangedByteIsCaughtUnlessTheBlockBytesStay) {
  const Chain original = BuildChain();
  ChainRunner runner;
  std::size_t tried = 0, accepted = 0;
  for (std::size_t f = 0; f < original.size(); ++f) {
    for (std::size_t l = 0; l < original[f].lines.size(); ++l) {
      const std::string& line = original[f].lines[l];
      for (std::size_t b = 0; b < line.size(); ++b) {
        for (const auto& change : {std::function<char(char)>([](char c) { return char(c ^ 1); }),
                                   std::function<char(char)>([](char) { return '\n'; })}) {
          Chain tampered = original;
          std::string& changed = tampered[f].lines[l];
          changed[b] = change(changed[b]);
          ++tried;
          if (!runner.LooksUntouched(tampered, {original[f].name})) continue;
          ++accepted;
          const LogLine before = ClassifyLine(line);
          const LogLine after = ClassifyLine(changed);
          ASSERT_TRUE(before.isSignature && after.isSignature)
              << original[f].name << " line " << l + 1 << " byte " << b << " changed unseen";
          ASSERT_EQ(BlockBytesOf(before.payload), BlockBytesOf(after.payload))
              << original[f].name << " line " << l + 1 << " byte " << b << " changed unseen";
        }
      }
    }
  }
  Count("changed_bytes", tried, accepted);
  EXPECT_GT(tried, 2000u);
}

// Every deleted line is caught here; the chain's last file holds one block,
// so losing its signature line leaves it FileUnsigned. The one deletion that
// can pass is stated as a limit below.
TEST(LogSweepTest, EveryDeletedLineIsCaught) {
  const Chain original = BuildChain();
  ChainRunner runner;
  std::size_t tried = 0, accepted = 0;
  for (std::size_t f = 0; f < original.size(); ++f) {
    for (std::size_t l = 0; l < original[f].lines.size(); ++l) {
      Chain tampered = original;
      tampered[f].lines.erase(tampered[f].lines.begin() + static_cast<std::ptrdiff_t>(l));
      ++tried;
      if (runner.LooksUntouched(tampered, {original[f].name})) {
        ++accepted;
        ADD_FAILURE() << original[f].name << " line " << l + 1 << " deleted unseen";
      }
    }
  }
  Count("deleted_lines", tried, accepted);
  EXPECT_EQ(accepted, 0u);
}

TEST(LogSweepTest, EverySwapOfNeighbouringLinesIsCaught) {
  const Chain original = BuildChain();
  ChainRunner runner;
  std::size_t tried = 0, accepted = 0;
  for (std::size_t f = 0; f < original.size(); ++f) {
    for (std::size_t l = 0; l + 1 < original[f].lines.size(); ++l) {
      Chain tampered = original;
      std::swap(tampered[f].lines[l], tampered[f].lines[l + 1]);
      ++tried;
      if (runner.LooksUntouched(tampered, {original[f].name})) {
        ++accepted;
        ADD_FAILURE() << original[f].name << " lines " << l + 1 << " and " << l + 2
                      << " swapped unseen";
      }
    }
  }
  Count("swapped_lines", tried, accepted);
  EXPECT_EQ(accepted, 0u);
}

// Removing the first file leaves a chain whose new first block may link to
// anything, and removing the last leaves a shorter chain that is whole: both
// pass unseen. A file removed from the middle breaks the chain.
TEST(LogSweepTest, OnlyAFileFromEitherEndOfTheChainCanBeRemovedUnseen) {
  const Chain original = BuildChain();
  ChainRunner runner;
  std::vector<bool> unseen;
  for (std::size_t f = 0; f < original.size(); ++f) {
    Chain tampered = original;
    tampered.erase(tampered.begin() + static_cast<std::ptrdiff_t>(f));
    std::vector<std::string> remaining;
    for (const auto& file : tampered) remaining.push_back(file.name);
    unseen.push_back(runner.LooksUntouched(tampered, remaining));
  }
  Count("deleted_files", unseen.size(),
        static_cast<std::size_t>(std::count(unseen.begin(), unseen.end(), true)));
  EXPECT_EQ(unseen, (std::vector<bool>{true, false, true}));
}

TEST(LogSweepTest, EverySwapOfFileNamesIsCaught) {
  const Chain original = BuildChain();
  ChainRunner runner;
  std::size_t tried = 0, accepted = 0;
  for (std::size_t a = 0; a < original.size(); ++a) {
    for (std::size_t b = a + 1; b < original.size(); ++b) {
      Chain tampered = original;
      std::swap(tampered[a].name, tampered[b].name);
      ++tried;
      if (runner.LooksUntouched(tampered, {original[a].name, original[b].name})) {
        ++accepted;
        ADD_FAILURE() << original[a].name << " and " << original[b].name << " swapped unseen";
      }
    }
  }
  Count("swapped_names", tried, accepted);
  EXPECT_EQ(accepted, 0u);
}

// The limits, each on its own: what the format does not protect.

TEST(LogSweepLimitTest, UnsignedTailCanBeChangedUnseen) {
  Chain chain = BuildChain();
  chain[2].lines.push_back("written after the last signature");
  ChainRunner runner;
  const Outcome before = runner.Run(chain);
  chain[2].lines.back() = "something else entirely";
  const Outcome after = runner.Run(chain);
  EXPECT_EQ(before.result, QVE_Helper::ReportOk);
  EXPECT_EQ(after.result, before.result);
  EXPECT_EQ(after.verdicts, before.verdicts);
}

TEST(LogSweepLimitTest, BytesAfterANulCanBeChangedUnseen) {
  const Chain chain =
      BuildChain([](LogBuilder& log) { log.Data(std::string("kept\0ignored", 12)); });
  ChainRunner runner;
  ASSERT_EQ(runner.Run(chain).result, QVE_Helper::ReportOk);
  Chain tampered = chain;
  std::string* line = nullptr;
  for (auto& candidate : tampered[0].lines)
    if (candidate.find('\0') != std::string::npos) line = &candidate;
  ASSERT_NE(line, nullptr);
  *line = std::string("kept\0CHANGED!", 13);
  EXPECT_TRUE(runner.LooksUntouched(tampered, {"System_1.log"}));
  line->replace(0, 4, "KEPT");
  EXPECT_FALSE(runner.LooksUntouched(tampered, {"System_1.log"}));
}

TEST(LogSweepLimitTest, PayloadPastTheDecodingStopCanBeChangedUnseen) {
  Chain chain = BuildChain();
  std::string& signature = chain[1].lines.back();
  ASSERT_TRUE(ClassifyLine(signature).isSignature);
  signature.insert(signature.size() - 1, "!anything at all");
  ChainRunner runner;
  EXPECT_TRUE(runner.LooksUntouched(chain, {"System_2.log"}));
}

// Deleting the chain's very last signature line turns its block into an
// unsigned tail, which a file with a signed block before it still passes as
// FileOk: the end of a chain can be cut off unseen.
TEST(LogSweepLimitTest, ChainsLastSignatureLineCanBeDeletedUnseen) {
  Chain chain = BuildChain();
  chain.pop_back();  // System_2.log, with two blocks, ends the chain
  chain.back().lines.pop_back();
  ChainRunner runner;
  EXPECT_TRUE(runner.LooksUntouched(chain, {"System_2.log"}));
}

// Cutting the last file down to data lines makes it FileUnsigned, yet the
// report as a whole stays ReportOk while other files are signed.
TEST(LogSweepLimitTest, LastFileCutToDataLinesLeavesTheReportOk) {
  Chain chain = BuildChain();
  chain[2].lines.resize(2);
  ChainRunner runner;
  const Outcome outcome = runner.Run(chain);
  EXPECT_EQ(outcome.result, QVE_Helper::ReportOk);
  EXPECT_EQ(outcome.verdicts.back().second, QVE_Helper::FileUnsigned);
}

}  // namespace
}  // namespace qve
