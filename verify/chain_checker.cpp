#include "verify/chain_checker.h"

#include "crypto/digest.h"

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

std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

constexpr std::size_t kBatchBytes = 1 << 16;

}  // namespace

ChainChecker::ChainChecker(std::size_t heldBlockBytes)
    : verifyContext_(key_.pkey()),
      chainValue_(ComputeDigest({})),
      heldBlockBytes_(heldBlockBytes) {}

void ChainChecker::BeginFile(std::wstring fileName, const platform::TextLineReader* file) {
  ++filesBegun_;
  chainBeforeFile_ = chainValue_;
  fileChanged_ = false;
  current_ = FileCheckResult{};
  current_.fileName = std::move(fileName);
  file_ = file;
  signatureSeen_ = false;
  lineStart_ = 0;
  lineNumber_ = 1;
}

void ChainChecker::BeginFileAgain(const platform::TextLineReader* file) {
  --filesBegun_;
  chainValue_ = chainBeforeFile_;
  BeginFile(std::move(current_.fileName), file);
}

void ChainChecker::OnPiece(std::string_view piece, bool lineEnds) {
  // Most lines come whole, hold no NUL and are data lines, for which no
  // other line rule counts.
  if (lineEnds && !line_.begun() && file_ != nullptr && !file_->pieceHasNul() &&
      (piece.empty() || piece.front() != kSignatureMarker)) {
    Hold(piece);
    EndDataLine();
    lineStart_ = file_->offset();
    heldBefore_ = held_.size();
    ++lineNumber_;
    return;
  }
  const bool lineStarts = line_.length() == 0;
  const std::string_view counted = line_.Counted(piece, file_ == nullptr || file_->pieceHasNul());
  // Until its end, a line that starts with the marker may be either kind.
  if (line_.startsWithMarker())
    payload_.Add(lineStarts && !counted.empty() ? counted.substr(1) : counted);
  Hold(counted);
  if (!lineEnds) return;
  if (line_.bytesAfterNul() && current_.linesWithBytesAfterNul++ == 0)
    current_.firstLineWithBytesAfterNul = lineNumber_;
  if (line_.isSignature()) {
    EndSignatureLine();
  } else {
    EndDataLine();
  }
  if (line_.startsWithMarker()) payload_.Clear();
  line_ = LineText{};
  lineStart_ = file_ != nullptr ? file_->offset() : 0;
  heldBefore_ = held_.size();
  ++lineNumber_;
}

// Inline, like EndDataLine: every line passes here.
inline void ChainChecker::Hold(std::string_view counted) {
  if (spilled_) return;
  const auto bytes = BytesOf(counted);
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  if (held_.size() > heldBlockBytes_ && file_ != nullptr) {
    Bytes().swap(held_);
    spilled_ = true;
  }
}

inline void ChainChecker::EndDataLine() {
  if (blockLines_ == 0) {
    blockFirstLine_ = lineNumber_;
    blockStart_ = lineStart_;
  }
  ++blockLines_;
  if (!spilled_) held_.push_back(0x00);
}

void ChainChecker::EndSignatureLine() {
  if (!spilled_) held_.resize(heldBefore_);
  payload_.Finish(line_.length() - 2);
  const bool isFirstBlockOfRun = filesBegun_ == 1 && !signatureSeen_;
  signatureSeen_ = true;
  BlockCheckResult result;
  if (spilled_) {
    BlockCheck check(payload_.kept(), verifyContext_);
    if (check.parsed()) ReadBlockAgain(check);
    result = check.Finish(chainValue_);
  } else {
    result = CheckSignatureBlock(chainValue_, held_, payload_.kept(), verifyContext_);
  }
  // A block that covers no line is reported at its own signature line.
  const std::uint32_t firstLine = blockLines_ == 0 ? lineNumber_ : blockFirstLine_;
  ForgetBlock();
  chainValue_ = payload_.digest();
  RecordBlock(current_, VerdictOf(result, isFirstBlockOfRun), firstLine, lineNumber_);
}

void ChainChecker::ReadBlockAgain(BlockCheck& check) {
  platform::TextLineReader again(*file_, blockStart_);
  std::string_view piece;
  bool lineEnds = false;
  LineText line;
  // Gathered, since one digest call per short line would cost more than the copy.
  Bytes batch;
  batch.reserve(2 * kBatchBytes);
  std::uint64_t lines = 0;
  while (lines < blockLines_ && again.NextPiece(&piece, &lineEnds)) {
    const auto bytes = BytesOf(line.Counted(piece, again.pieceHasNul()));
    batch.insert(batch.end(), bytes.begin(), bytes.end());
    if (lineEnds) {
      batch.push_back(0x00);
      line = LineText{};
      ++lines;
    }
    if (batch.size() >= kBatchBytes) {
      check.Add(batch);
      batch.clear();
    }
  }
  check.Add(batch);
  if (lines < blockLines_ || again.offset() != lineStart_) fileChanged_ = true;
}

void ChainChecker::ForgetBlock() {
  // The storage of a very large block is given back.
  if (held_.capacity() > heldBlockBytes_) Bytes().swap(held_);
  held_.clear();
  heldBefore_ = 0;
  spilled_ = false;
  blockLines_ = 0;
}

void ChainChecker::EndFile() {
  // A 0x1A on a line of its own counts as the line after the last.
  if (file_ != nullptr && file_->dataAfterEndOfText())
    current_.endOfInputLine = lineNumber_ - (file_->lastLineUnterminated() ? 1 : 0);
  if (blockLines_ > 0) RecordBlock(current_, BlockUnsigned, blockFirstLine_, lineNumber_ - 1);
  ForgetBlock();
  line_ = LineText{};
  payload_.Clear();
}

}  // namespace qve
