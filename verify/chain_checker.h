// The state of one verification run: the link that the next block must carry,
// the data lines waiting for their signature line, and the result of the file
// being read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/built_in_keys.h"
#include "crypto/bytes.h"
#include "crypto/signed_lines.h"
#include "verify/file_check_result.h"

namespace qve {

class ChainChecker {
 public:
  // Builds the verification key and starts the chain at the empty digest.
  ChainChecker();

  // Starts the result of the next file; line numbers restart at 1.
  void BeginFile(std::wstring fileName);
  void OnDataLine(std::string_view line);
  // `isFirstBlockOfRun` lets the very first block of a run carry any link.
  void OnSignatureLine(std::string_view payload, bool isFirstBlockOfRun);
  // Closes an unsigned tail; the chain value stays.
  void EndFile();

  const FileCheckResult& current() const { return current_; }
  const Bytes& chainValue() const { return chainValue_; }

 private:
  VerificationKey key_;
  Bytes chainValue_;
  SignedLines pendingLines_;
  std::uint32_t lineNumber_ = 1;
  std::uint32_t blockFirstLine_ = 1;
  FileCheckResult current_;
};

}  // namespace qve
