// The state of one verification run: the link that the next block must carry,
// the data lines waiting for their signature line, and the result of the file
// being read. A block's lines are held while they are few; past a bound only
// where the block starts is kept, and its lines are read again from the file
// when its signature line comes. An unsigned tail is never read again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/built_in_keys.h"
#include "crypto/bytes.h"
#include "crypto/signature_block.h"
#include "platform/text_reader.h"
#include "verify/log_line.h"
#include "verify/verify_files.h"

namespace qve {

class ChainChecker {
 public:
  // Builds the verification key and starts the chain at the empty digest.
  explicit ChainChecker(std::size_t heldBlockBytes = VerifyLimits{}.heldBlockBytes);

  // Starts the result of the next file; line numbers restart at 1. `file`,
  // the reader that the lines come from, serves to read a large block again.
  void BeginFile(std::wstring fileName, const platform::TextLineReader* file = nullptr);
  // The next piece of the current line, as the reader gives it.
  void OnPiece(std::string_view piece, bool lineEnds);
  // Closes an unsigned tail; the chain value stays.
  void EndFile();

  // Whether a block read again from the file did not end where its signature
  // line starts: the file was cut or rewritten while it was read.
  bool fileChanged() const { return fileChanged_; }
  // After EndFile, starts the same file over from its first line, with the
  // chain as it stood before the file.
  void BeginFileAgain(const platform::TextLineReader* file);

  const FileCheckResult& current() const { return current_; }
  const Bytes& chainValue() const { return chainValue_; }

 private:
  // Adds the counted bytes of a line to the held block, unless it gave up.
  void Hold(std::string_view counted);
  void EndDataLine();
  void EndSignatureLine();
  // Feeds `check` the block's lines as read again from the file.
  void ReadBlockAgain(BlockCheck& check);
  void ForgetBlock();

  VerificationKey key_;
  VerifyContext verifyContext_;
  Bytes chainValue_;
  Bytes chainBeforeFile_;
  bool fileChanged_ = false;
  std::size_t heldBlockBytes_;
  const platform::TextLineReader* file_ = nullptr;
  std::uint32_t filesBegun_ = 0;
  bool signatureSeen_ = false;  // in the current file

  LineText line_;
  BlockBytes payload_;
  std::uint64_t lineStart_ = 0;  // in the file

  Bytes held_;                  // the block's lines so far, each followed by 0x00
  std::size_t heldBefore_ = 0;  // held_'s size before the current line
  bool spilled_ = false;        // held_ gave up; the lines are read again
  std::uint64_t blockLines_ = 0;
  std::uint64_t blockStart_ = 0;  // in the file
  std::uint32_t lineNumber_ = 1;
  std::uint32_t blockFirstLine_ = 1;
  FileCheckResult current_;
};

}  // namespace qve
