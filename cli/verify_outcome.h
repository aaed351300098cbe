// What one verification found, as the verify command shows it. The text
// output and the JSON output render from this alone, and so can any other.
#pragma once

#include <QVEHelper.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "cli/escape.h"
#include "verify/details.h"

namespace qve::cli {

struct VerifyWarning {
  std::string path;  // as reached from the PATH argument
  std::string message;
};

struct VerifiedFile {
  std::string path;  // as reached from the PATH argument
  std::string name;
  QVE_Helper::FileVerdict verdict = QVE_Helper::FileOk;
  bool listed = false;  // the report made a record for it
  FileDetail detail;
  std::vector<BlockResult> blocks;  // every block that is not BlockOk, when kept
};

struct VerifyOutcome {
  std::string path;  // the PATH argument with --each, else empty
  std::uint32_t result = 0;
  std::uint32_t totalFiles = 0;
  std::uint32_t badFiles = 0;
  std::vector<VerifiedFile> files;  // every verified file, in the run's order
  std::vector<VerifyWarning> warnings;
};

// Fills an outcome's files, and warns about the bytes no signature covers,
// as the run goes; passes everything on to `next` when there is one.
class OutcomeBuilder final : public VerifyObserver {
 public:
  OutcomeBuilder(VerifyOutcome& outcome, bool includeOkFiles, bool keepBlocks,
                 VerifyObserver* next = nullptr);
  void OnFileStart(const FileDetail& file) override;
  void OnBlock(const FileDetail& file, const BlockDetail& block) override;
  void OnFileEnd(const FileDetail& file) override;

 private:
  VerifyOutcome& outcome_;
  bool includeOkFiles_;
  bool keepBlocks_;
  VerifyObserver* next_;
  std::vector<BlockResult> blocks_;
};

// "5" or "5-6"; "line 5" or "lines 5-6"; the page's dash is an en dash.
std::string RangeText(LineRange lines, std::string_view dash = "-");
std::string LinesText(LineRange lines, std::string_view dash = "-");

// "1 line", "2 lines".
std::string Counted(std::uint64_t count, std::string_view noun);

// The JSON object of one outcome; `details` adds every file's blocks.
nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details);

}  // namespace qve::cli
