#include "verify/chain_checker.h"

#include <cstring>

#include "crypto/digest.h"
#include "crypto/signature_block.h"
#include "verify/block_bytes.h"

namespace qve {

namespace {

// Beyond this the buffer of a large block is given back once the block ends.
constexpr std::size_t kKeptLineBuffer = 1 << 20;

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
  line = line.substr(0, line.find('\0'));
  // One block copy: char to uint8_t element by element does not vectorise.
  const std::size_t at = pendingLines_.size();
  pendingLines_.resize(at + line.size() + 1);
  std::memcpy(pendingLines_.data() + at, line.data(), line.size());
  pendingLines_.back() = 0x00;
  ++lineNumber_;
}

void ChainChecker::OnSignatureLine(std::string_view payload, bool isFirstBlockOfRun) {
  const Bytes blockBytes = BlockBytesOf(payload);
  const BlockCheckResult result =
      CheckSignatureBlock(chainValue_, pendingLines_, blockBytes, key_.pkey());
  // A block that covers no line is reported at its own signature line.
  const std::uint32_t firstLine = pendingLines_.empty() ? lineNumber_ : blockFirstLine_;
  ReleaseLines();
  chainValue_ = ComputeDigest(blockBytes);
  RecordBlock(current_, VerdictOf(result, isFirstBlockOfRun), firstLine, lineNumber_);
  ++lineNumber_;
}

void ChainChecker::EndFile() {
  if (pendingLines_.empty()) return;
  RecordBlock(current_, BlockUnsigned, blockFirstLine_, lineNumber_ - 1);
  ReleaseLines();
}

void ChainChecker::ReleaseLines() {
  if (pendingLines_.capacity() > kKeptLineBuffer)
    Bytes().swap(pendingLines_);
  else
    pendingLines_.clear();
}

}  // namespace qve
