// SPDX-License-Identifier: Apache-2.0
#include "verify/chain_checker.h"

#include <utility>

#include "crypto/digest.h"
#include "platform/paths.h"
#include "platform/utf8.h"

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

constexpr std::size_t kBatchBytes = 1 << 16;

ByteOrderMark MarkOf(std::string_view start) {
  if (start.starts_with("\xEF\xBB\xBF")) return ByteOrderMark::Utf8;
  if (start.starts_with("\xFF\xFE")) return ByteOrderMark::Utf16LittleEndian;
  if (start.starts_with("\xFE\xFF")) return ByteOrderMark::Utf16BigEndian;
  return ByteOrderMark::None;
}

}  // namespace

ChainChecker::ChainChecker(VerifyObserver& observer, const RunOptions& options)
    : observer_(observer),
      options_(options),
      verifyContext_(key_.pkey()),
      chainValue_(ChainStart()),
      publishChecked_([this](WindowBlock& checked) { PublishChecked(checked); }) {}

ChainChecker::~ChainChecker() {
  if (options_.window != nullptr) options_.window->Abandon();
}

void ChainChecker::BeginFile(std::wstring path, const TextLineReader* file) {
  ++filesBegun_;
  Start(std::move(path), file, 1);
}

void ChainChecker::BeginFileAgain(const TextLineReader* file) {
  chainValue_ = file_.chainBefore;
  Start(std::move(file_.path), file, file_.reading + 1);
}

void ChainChecker::GiveUpFile() {
  const platform::ReadFault fault = file_.fault;
  const std::error_code error = file_.readError;
  BeginFileAgain(nullptr);
  EndFile();
  file_.fault = fault;
  file_.readError = error;
}

void ChainChecker::Start(std::wstring path, const TextLineReader* file, int reading) {
  file_ = FileDetail{};
  file_.name = platform::FileNameOf(path);
  file_.path = std::move(path);
  file_.reading = reading;
  file_.opened = file != nullptr && file->isOpen();
  if (file != nullptr) file_.readError = file->error();
  if (file_.opened) file_.identity = file->identity();
  file_.chainBefore = chainValue_;
  reader_ = file;
  lineStart_ = 0;
  lineNumber_ = 1;
  start_.clear();
  startKnown_ = false;
  observer_.OnFileStart(file_);
}

void ChainChecker::NoteStart(std::string_view piece, bool lineEnds) {
  start_.append(piece.substr(0, 3 - start_.size()));
  if (!lineEnds && start_.size() < 3) return;
  file_.byteOrderMark = MarkOf(start_);
  startKnown_ = true;
}

void ChainChecker::OnPiece(std::string_view piece, bool lineEnds) {
  if (!startKnown_) NoteStart(piece, lineEnds);
  // Most lines come whole, hold no NUL and are data lines, for which no
  // other line rule counts, and past a block's first lines none is kept to
  // be shown.
  if (lineEnds && !line_.line().begun() && reader_ != nullptr && !reader_->pieceHasNul() &&
      (piece.empty() || piece.front() != kSignatureMarker) &&
      blockLines_ >= options_.excerptLines) {
    Hold(piece);
    EndDataLine();
    lineStart_ = reader_->offset();
    heldBefore_ = held_.size();
    ++lineNumber_;
    return;
  }
  const std::string_view counted = line_.Add(piece, reader_ == nullptr || reader_->pieceHasNul());
  Hold(counted);
  // One byte more than is shown tells whether the cut falls inside a character.
  if (blockLines_ < options_.excerptLines && lineShown_.size() <= options_.excerptLineBytes)
    lineShown_.append(counted.substr(0, options_.excerptLineBytes + 1 - lineShown_.size()));
  if (!lineEnds) return;
  if (const std::uint64_t ignored = line_.line().bytesAfterNul(); ignored > 0) {
    if (file_.afterNul.lines++ == 0) file_.afterNul.firstLine = lineNumber_;
    file_.afterNul.bytes += ignored;
  }
  if (line_.EndsSignature()) {
    EndSignatureLine();
  } else {
    EndDataLine();
  }
  line_.Next();
  lineShown_.clear();
  lineStart_ = reader_ != nullptr ? reader_->offset() : 0;
  heldBefore_ = held_.size();
  ++lineNumber_;
}

// Inline, like EndDataLine: every line passes here.
inline void ChainChecker::Hold(std::string_view counted) {
  if (spilled_) return;
  const auto bytes = BytesOf(counted);
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  if (held_.size() > options_.limits.heldBlockBytes && reader_ != nullptr) {
    Bytes().swap(held_);
    spilled_ = true;
  }
}

inline void ChainChecker::EndDataLine() {
  if (blockLines_ == 0) {
    blockFirstLine_ = lineNumber_;
    blockStart_ = lineStart_;
    if (reader_ != nullptr) reader_->KeepFrom(blockStart_);
  }
  if (blockLines_ < options_.excerptLines) {
    const std::size_t cut = platform::CutBefore(lineShown_, options_.excerptLineBytes);
    excerpt_.push_back(
        {lineNumber_, lineShown_.substr(0, cut), line_.line().length(), line_.line().cut()});
  }
  ++blockLines_;
  if (!spilled_) held_.push_back(kCoveredLineEnd);
}

void ChainChecker::EndSignatureLine() {
  if (!spilled_) held_.resize(heldBefore_);
  const bool isFirstBlockOfRun = filesBegun_ == 1 && file_.signatureLines == 0;
  // A spilled block is read again from the file, which only this thread reads.
  if (options_.window != nullptr && options_.window->hasWorkers() && !spilled_) {
    Enqueue(isFirstBlockOfRun);
    return;
  }
  BlockCheck check(line_.payload().kept(), verifyContext_);
  // A long signature line may spill a block that covers no line: then
  // there is nothing to read again.
  if (!spilled_) {
    check.Add(held_);
  } else if (check.parsed() && blockLines_ > 0) {
    ReadBlockAgain(check);
  }
  const BlockCheckResult result = check.Finish(chainValue_);

  BlockDetail& block = block_;
  Describe(block, check);
  block.verdict = VerdictOf(result, isFirstBlockOfRun);
  block.text = std::move(check.block().text);
  block.link = std::move(check.block().link);
  PublishInOrder(block);
  DropBlock();
}

void ChainChecker::Describe(BlockDetail& block, BlockCheck& check) {
  block.coversNoLine = blockLines_ == 0;
  // A block that covers no line is reported at its own signature line.
  block.lines = {block.coversNoLine ? lineNumber_ : blockFirstLine_, lineNumber_};
  block.offset = lineStart_;
  block.parse = check.stop().status;
  block.stop = check.stop();
  block.id = check.block().id;
  block.signatureLength = check.block().signature.size();
  block.expectedLink = chainValue_;
  chainValue_ = line_.payload().digest();
  block.chainValue = chainValue_;
  if (file_.signatureLines++ == 0 && check.parsed()) file_.firstLink = check.block().link;
  file_.lastChainValue = chainValue_;
}

void ChainChecker::Enqueue(bool isFirstBlockOfRun) {
  WindowBlock queued;
  BlockCheck& check = queued.check.emplace(line_.payload().kept(), verifyContext_);
  queued.covered = std::move(held_);
  queued.expectedLink = chainValue_;
  queued.firstOfRun = isFirstBlockOfRun;
  BlockDetail& block = queued.detail;
  Describe(block, check);
  block.excerpt = std::move(excerpt_);
  excerpt_.clear();
  options_.window->Add(std::move(queued), publishChecked_);
  DropBlock();
}

void ChainChecker::PublishChecked(WindowBlock& checked) {
  if (checked.failure) std::rethrow_exception(checked.failure);
  BlockDetail& block = checked.detail;
  block.verdict = VerdictOf(checked.result, checked.firstOfRun);
  SignatureBlock& fields = checked.check->block();
  block.text = std::move(fields.text);
  block.link = std::move(fields.link);
  Publish(block);
}

void ChainChecker::ReadBlockAgain(BlockCheck& check) {
  TextLineReader again(*reader_, blockStart_);
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
      batch.push_back(kCoveredLineEnd);
      line = LineText{};
      ++lines;
    }
    if (batch.size() >= kBatchBytes) {
      check.Add(batch);
      batch.clear();
    }
  }
  check.Add(batch);
  if (again.error()) file_.readError = again.error();
  if (lines < blockLines_ || again.offset() != lineStart_) file_.changedWhileRead = true;
}

void ChainChecker::PublishInOrder(BlockDetail& block) {
  // Only a run that ever had workers can have blocks waiting.
  if (options_.window != nullptr && options_.window->hasWorkers())
    options_.window->Drain(publishChecked_);
  block.excerpt.swap(excerpt_);
  Publish(block);
  excerpt_.swap(block.excerpt);
  excerpt_.clear();
}

void ChainChecker::Publish(BlockDetail& block) {
  file_.counts.Add(block.verdict);
  observer_.OnBlock(file_, block);
}

void ChainChecker::DropBlock() {
  // The storage of a very large block is given back.
  if (held_.capacity() > options_.limits.heldBlockBytes) Bytes().swap(held_);
  held_.clear();
  heldBefore_ = 0;
  spilled_ = false;
  blockLines_ = 0;
}

void ChainChecker::EndFile() {
  // The file's end comes after all its blocks.
  if (options_.window != nullptr) options_.window->Drain(publishChecked_);
  if (blockLines_ > 0) {
    BlockDetail tail;
    tail.verdict = BlockUnsigned;
    tail.lines = {blockFirstLine_, lineNumber_ - 1};
    tail.offset = blockStart_;
    tail.expectedLink = chainValue_;
    tail.chainValue = chainValue_;
    file_.unsignedTail = tail.lines;
    PublishInOrder(tail);
  }
  file_.lines = lineNumber_ - 1;
  if (reader_ != nullptr && reader_->error()) file_.readError = reader_->error();
  if (reader_ != nullptr) file_.fault = reader_->fault();
  // A 0x1A on a line of its own counts as the line after the last.
  if (reader_ != nullptr && reader_->endOfTextOffset() && reader_->bytesAfterEndOfText() > 0) {
    file_.endOfInput = EndOfInput{lineNumber_ - (reader_->lastLineUnterminated() ? 1 : 0),
                                  *reader_->endOfTextOffset(), reader_->bytesAfterEndOfText()};
  }
  DropBlock();
  line_.Next();
  lineShown_.clear();
}

}  // namespace qve
