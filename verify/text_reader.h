// SPDX-License-Identifier: Apache-2.0
// Reads a file line by line the way the log writer's platform reads text:
// CR LF ends a line like LF, a lone CR stays in the line, 0x1A ends the input,
// and a last line needs no LF: the line rules of format/signed_log_format.h
// over the raw bytes of platform/text_file.h, which opens the file without
// any lock, so a writer may keep appending while it is read. Lines come in
// pieces of at most the buffer's size, so a line of any length costs no more
// memory. A gzip file may be read as its content, with offsets in the
// content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "format/signed_log_format.h"
#include "platform/files.h"
#include "platform/text_file.h"

namespace qve {

namespace platform {
class GzipInput;
}  // namespace platform

enum class Compression : std::uint8_t {
  None,
  Gzip,  // the lines are those of the content, as gzip -d gives it
};

// Gzip for a path whose name ends in ".gz"; the library's own readers never
// ask.
Compression CompressionByName(std::wstring_view path);

class TextLineReader {
 public:
  static constexpr std::size_t kDefaultBufferSize = 1 << 16;

  // A path that does not open or names no regular file gives a reader with
  // no lines.
  explicit TextLineReader(const std::string& path, std::size_t bufferSize = kDefaultBufferSize,
                          Compression compression = Compression::None);
  // A second reader of `file`'s open file, from `offset` (a line start that
  // `file` went past), with a buffer of the same size; `file` must outlive it.
  // Of gzip content it decompresses again, from a state `file` saved.
  TextLineReader(const TextLineReader& file, std::uint64_t offset);
  ~TextLineReader();
  TextLineReader(const TextLineReader&) = delete;
  TextLineReader& operator=(const TextLineReader&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  // Why the file did not open, or why a read failed before its end (the
  // lines before it stand); nothing when it read to its end.
  std::error_code error() const { return error_; }

  // The next piece of the current line, without the line end; `*lineEnds`
  // tells whether it is the line's last piece. The view stays valid until the
  // next call. False at the end of the input.
  bool NextPiece(std::string_view* piece, bool* lineEnds) {
    // Most lines lie whole in the buffer.
    if (const std::size_t lfAt = Find(begin_, kLineFeed); lfAt < end_) {
      TakeLine(piece, lfAt);
      *lineEnds = true;
      return true;
    }
    return NextPieceAfterFill(piece, lineEnds);
  }

  // Where in the file the next piece starts; after a line's last piece, the
  // start of the next line.
  std::uint64_t offset() const { return bufferOffset_ + begin_; }

  // Whether the last piece holds a NUL byte. Known from one scan of each
  // read, so that a line's reader need not search it again.
  bool pieceHasNul() const { return pieceHasNul_; }

  // The next whole line, its pieces joined where there are several; the view
  // stays valid until the next call. False at the end of the input.
  bool NextLine(std::string_view* line);

  // After the last line: where a 0x1A ended the input, if one did; how many
  // bytes the file held after it then; and whether the last line had no line
  // end (so the 0x1A stands on it).
  std::optional<std::uint64_t> endOfTextOffset() const { return endOfTextOffset_; }
  std::uint64_t bytesAfterEndOfText() const { return bytesAfterEndOfText_; }
  bool lastLineUnterminated() const { return lastLineUnterminated_; }

  // Nothing for a file that did not open, or when the system does not say.
  std::optional<platform::FileIdentity> identity() const;

  // After the last line: why the lines ended before the end of the content.
  // Only gzip content tells; its lines before a fault prove nothing.
  platform::ReadFault fault() const;
  // No second reader will start before `offset`: a hint that lets gzip
  // content forget the states it saved before. What this reader gives does
  // not change.
  void KeepFrom(std::uint64_t offset) const;

 private:
  // Reads more bytes behind the unconsumed ones; false when none came.
  bool Fill();
  // NextPiece when the buffer holds no line end from begin_ on.
  bool NextPieceAfterFill(std::string_view* piece, bool* lineEnds);
  // Where `byte` first stands from `from` on, or end_.
  std::size_t Find(std::size_t from, char byte) const {
    const void* found = std::memchr(buffer_.data() + from, byte, end_ - from);
    return found == nullptr ? end_ : std::size_t(static_cast<const char*>(found) - buffer_.data());
  }
  // Gives out the next `length` bytes as a piece and consumes `consumed`.
  void Take(std::string_view* piece, std::size_t length, std::size_t consumed) {
    *piece = std::string_view(buffer_.data() + begin_, length);
    pieceHasNul_ = nul_ < begin_ + length;
    begin_ += consumed;
    if (nul_ < begin_) nul_ = Find(begin_, kNul);
  }
  // Gives out the line that the LF at `lfAt` ends, without its line end.
  void TakeLine(std::string_view* piece, std::size_t lfAt) {
    const std::size_t length = lfAt - begin_;
    Take(piece, length > 0 && buffer_[lfAt - 1] == kCarriageReturn ? length - 1 : length,
         length + 1);
    inLine_ = false;
  }

  int fd_ = -1;
  bool ownsFile_ = true;
  std::error_code error_;
  std::unique_ptr<platform::GzipInput> gzip_;  // reads the content of gzip data
  std::vector<char> buffer_;
  std::uint64_t bufferOffset_ = 0;  // where buffer_[0] lies in the file
  std::size_t begin_ = 0;           // first unconsumed byte
  std::size_t end_ = 0;             // one past the last byte read
  bool atEnd_ = false;              // end of file, a read error or 0x1A
  bool inLine_ = false;             // a piece of the current line was given
  std::optional<std::uint64_t> endOfTextOffset_;
  std::uint64_t bytesAfterEndOfText_ = 0;
  std::size_t nul_ = 0;  // the first NUL from begin_ on, or end_
  bool pieceHasNul_ = false;
  bool lastLineUnterminated_ = false;
  std::string joined_;  // NextLine's long line
};

}  // namespace qve
