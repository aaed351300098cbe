// SPDX-License-Identifier: Apache-2.0
// The state of one verification run: the link that the next block must carry,
// the data lines waiting for their signature line, and the details of the
// file being read, passed to the run's observer block by block. A block's
// lines are held while they are few; past a bound only where the block starts
// is kept, and its lines are read again from the file when its signature line
// comes. An unsigned tail is never read again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/block_check.h"
#include "crypto/built_in_keys.h"
#include "format/bytes.h"
#include "verify/block_window.h"
#include "verify/details.h"
#include "verify/log_line.h"
#include "verify/text_reader.h"

namespace qve {

class ChainChecker {
 public:
  // Builds the verification key and starts the chain at the empty digest.
  explicit ChainChecker(VerifyObserver& observer, const RunOptions& options = {});
  // Leaves no block of its own in the window for a worker to touch.
  ~ChainChecker();
  ChainChecker(const ChainChecker&) = delete;
  ChainChecker& operator=(const ChainChecker&) = delete;

  // Starts the next file; line numbers restart at 1. `file`, the reader that
  // the lines come from, tells whether the file opened and serves to read a
  // large block again.
  void BeginFile(std::wstring path, const TextLineReader* file);
  // The next piece of the current line, as the reader gives it.
  void OnPiece(std::string_view piece, bool lineEnds);
  // Closes an unsigned tail; the chain value stays.
  void EndFile();

  // After EndFile, starts the same file over from its first line, with the
  // chain as it stood before the file.
  void BeginFileAgain(const TextLineReader* file);
  // After EndFile, takes the file back as one that cannot be read: no
  // lines, the chain as it stood before it, its fault kept.
  void GiveUpFile();

  const FileDetail& file() const { return file_; }

 private:
  void Start(std::wstring path, const TextLineReader* file, int reading);
  // Gathers the first bytes of the file until they tell its byte-order mark.
  void NoteStart(std::string_view piece, bool lineEnds);
  // Adds the counted bytes of a line to the held block, unless it gave up.
  void Hold(std::string_view counted);
  void EndDataLine();
  void EndSignatureLine();
  // Fills in what the reader knows of the block at its signature line, all
  // but its verdict, text and link, and moves the chain on past it.
  void Describe(BlockDetail& block, BlockCheck& check);
  // Queues the block with its lines in the window, to be checked by a
  // worker and published in turn.
  void Enqueue(bool isFirstBlockOfRun);
  void PublishChecked(WindowBlock& checked);
  // Feeds `check` the block's lines as read again from the file.
  void ReadBlockAgain(BlockCheck& check);
  // Publishes the block with the lines gathered, after every block queued
  // before it, so the observer sees the blocks in file order.
  void PublishInOrder(BlockDetail& block);
  // Counts the block and passes it to the observer.
  void Publish(BlockDetail& block);
  void DropBlock();

  VerifyObserver& observer_;
  RunOptions options_;
  VerificationKey key_;
  VerifyContext verifyContext_;
  Bytes chainValue_;
  const TextLineReader* reader_ = nullptr;
  std::uint32_t filesBegun_ = 0;
  FileDetail file_;

  LineFeed line_;
  std::uint64_t lineStart_ = 0;  // in the file
  std::string lineShown_;        // the current line's first bytes, for the excerpt
  std::string start_;            // the file's first bytes, until the mark is known
  bool startKnown_ = false;

  Bytes held_;                  // the block's lines so far, each followed by 0x00
  std::size_t heldBefore_ = 0;  // held_'s size before the current line
  bool spilled_ = false;        // held_ gave up; the lines are read again
  std::uint64_t blockLines_ = 0;
  std::uint64_t blockStart_ = 0;  // in the file
  std::uint32_t lineNumber_ = 1;
  std::uint32_t blockFirstLine_ = 1;
  std::vector<CoveredLine> excerpt_;  // the block's first lines, when gathered
  BlockDetail block_;                 // the last signed block, its storage reused
  BlockWindow::Publisher publishChecked_;
};

}  // namespace qve
