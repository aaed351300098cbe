#include "verify/chain_checker.h"

#include "crypto/digest.h"
#include "crypto/signature_block.h"
#include "verify/block_bytes.h"

namespace qve {

namespace {

BlockVerdict VerdictOf(BlockCheckResult result, bool isFirstBlockOfRun) {
  switch (result) {
    case BlockCheckResult::SignatureInvalid:
      return BlockInvalid;
    case BlockCheckResult::NoSignature:
      return BlockNoSignature;
    case BlockCheckResult::LinkMismatch:
      return isFirstBlockOfRun ? BlockOk : BlockChainBreak;
    case BlockCheckResult::Valid:
      return BlockOk;
  }
  return BlockUnexpected;
}

}  // namespace

ChainChecker::ChainChecker() : chainValue_(ComputeDigest({})) {}

void ChainChecker::BeginFile(std::wstring fileName) {
  current_ = FileCheckResult{};
  current_.fileName = std::move(fileName);
  lineNumber_ = 1;
}

void ChainChecker::OnDataLine(std::string_view line) {
  if (pendingLines_.empty()) blockFirstLine_ = lineNumber_;
  pendingLines_.Append(line.substr(0, line.find('\0')));
  ++lineNumber_;
}

void ChainChecker::OnSignatureLine(std::string_view payload, bool isFirstBlockOfRun) {
  const Bytes blockBytes = BlockBytesOf(payload);
  const BlockCheckResult result =
      CheckSignatureBlock(chainValue_, pendingLines_, blockBytes, key_.pkey());
  // A block that covers no line is reported at its own signature line.
  const std::uint32_t firstLine = pendingLines_.empty() ? lineNumber_ : blockFirstLine_;
  pendingLines_.Clear();
  chainValue_ = ComputeDigest(blockBytes);
  RecordBlock(current_, VerdictOf(result, isFirstBlockOfRun), firstLine, lineNumber_);
  ++lineNumber_;
}

void ChainChecker::EndFile() {
  if (pendingLines_.empty()) return;
  RecordBlock(current_, BlockUnsigned, blockFirstLine_, lineNumber_ - 1);
  pendingLines_.Clear();
}

}  // namespace qve
