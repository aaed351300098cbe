// What one verification found, as the verify command shows it. The text
// output and the JSON output render from this alone, and so can any other.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "verify/verify_files.h"

namespace qve::cli {

struct VerifyWarning {
  std::string path;  // as reached from the PATH argument
  std::string message;
};

struct VerifiedFile {
  std::string path;  // as reached from the PATH argument
  std::string name;
  std::uint32_t verdict = 0;
  bool listed = false;  // the report made a record for it
  const FileCheckResult* result = nullptr;
};

struct VerifyOutcome {
  std::string path;  // the PATH argument with --each, else empty
  std::uint32_t result = 0;
  std::uint32_t totalFiles = 0;
  std::uint32_t badFiles = 0;
  std::vector<VerifiedFile> files;  // every verified file, in the run's order
  std::vector<VerifyWarning> warnings;
};

using qve::BlockVerdictName;
using qve::FileVerdictName;
using qve::ReportResultName;

// The file's unsigned tail, when it has one.
const BlockResult* UnsignedTail(const FileCheckResult& result);

// The JSON object of one outcome; `details` adds every file's blocks.
nlohmann::ordered_json ToJson(const VerifyOutcome& outcome, bool details);

}  // namespace qve::cli
