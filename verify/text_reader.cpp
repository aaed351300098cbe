// SPDX-License-Identifier: Apache-2.0
#include "verify/text_reader.h"

#include <algorithm>
#include <cstring>

#include "format/signed_log_format.h"
#include "platform/gzip_input.h"
#include "platform/name_order.h"

namespace qve {

using platform::GzipInput;
using platform::ReadFault;

Compression CompressionByName(std::wstring_view path) {
  return path.size() > 3 && platform::SameName(path.substr(path.size() - 3), L".gz")
             ? Compression::Gzip
             : Compression::None;
}

// Two bytes at least: a CR at the end of a full buffer waits for the next
// byte, and the piece before it must not be empty.
TextLineReader::TextLineReader(const std::string& path, std::size_t bufferSize,
                               Compression compression)
    : buffer_(std::max<std::size_t>(bufferSize, 2)) {
  fd_ = platform::OpenText(path, &error_);
  // A rotation renames a log and a pull replaces one: gone for a moment is
  // not gone, so a name that is not there is tried once more.
  if (fd_ < 0 && error_ == std::errc::no_such_file_or_directory) {
    error_.clear();
    fd_ = platform::OpenText(path, &error_);
  }
  atEnd_ = fd_ < 0;
  if (fd_ >= 0 && compression == Compression::Gzip)
    gzip_ = std::make_unique<GzipInput>(fd_, &platform::ReadAt, buffer_.size());
}

TextLineReader::TextLineReader(const TextLineReader& file, std::uint64_t offset)
    : fd_(file.fd_), ownsFile_(false), buffer_(file.buffer_.size()), bufferOffset_(offset) {
  atEnd_ = fd_ < 0;
  if (file.gzip_ != nullptr) gzip_ = std::make_unique<GzipInput>(*file.gzip_, offset);
}

TextLineReader::~TextLineReader() {
  if (fd_ >= 0 && ownsFile_) platform::CloseText(fd_);
}

std::optional<platform::FileIdentity> TextLineReader::identity() const {
  platform::FileIdentity identity;
  std::uint64_t size = 0;
  if (fd_ < 0 || !platform::Describe(fd_, &identity, &size)) return std::nullopt;
  return identity;
}

ReadFault TextLineReader::fault() const {
  return gzip_ != nullptr ? gzip_->fault() : ReadFault::None;
}

void TextLineReader::KeepFrom(std::uint64_t offset) const {
  if (gzip_ != nullptr) gzip_->KeepFrom(offset);
}

bool TextLineReader::Fill() {
  if (atEnd_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    nul_ -= begin_;
    bufferOffset_ += begin_;
    begin_ = 0;
  }
  const std::uint64_t at = bufferOffset_ + end_;
  const long got =
      gzip_ != nullptr
          ? gzip_->ReadAt(at, buffer_.data() + end_, buffer_.size() - end_)
          : platform::ReadAt(fd_, at, buffer_.data() + end_, buffer_.size() - end_, &error_);
  if (got < 0 && gzip_ != nullptr) error_ = gzip_->error();
  if (got <= 0) {
    atEnd_ = true;
    return false;
  }
  const std::size_t first = end_;
  end_ += static_cast<std::size_t>(got);
  if (nul_ == first) nul_ = Find(first, kNul);
  if (const void* stop = std::memchr(buffer_.data() + first, kEndOfInput, end_ - first)) {
    const std::size_t stopAt =
        static_cast<std::size_t>(static_cast<const char*>(stop) - buffer_.data());
    endOfTextOffset_ = bufferOffset_ + stopAt;
    bytesAfterEndOfText_ = end_ - stopAt - 1;
    platform::FileIdentity ignored;
    std::uint64_t size = 0;
    if (gzip_ != nullptr) {
      // The content's length is known only by reading it all, which also
      // checks it; a second reader needs neither.
      if (const auto length = ownsFile_ ? gzip_->Length() : std::nullopt) {
        bytesAfterEndOfText_ = *length - *endOfTextOffset_ - 1;
      }
    } else if (platform::Describe(fd_, &ignored, &size) &&
               size > *endOfTextOffset_ + bytesAfterEndOfText_) {
      bytesAfterEndOfText_ = size - *endOfTextOffset_ - 1;
    }
    end_ = stopAt;
    nul_ = std::min(nul_, end_);
    atEnd_ = true;
  }
  return true;
}

bool TextLineReader::NextPieceAfterFill(std::string_view* piece, bool* lineEnds) {
  for (;;) {
    // A full buffer gives what it holds but a last CR, which may start a line end.
    if (begin_ == 0 && end_ == buffer_.size()) {
      const std::size_t length = end_ - (buffer_[end_ - 1] == kCarriageReturn ? 1 : 0);
      Take(piece, length, length);
      *lineEnds = false;
      inLine_ = true;
      return true;
    }
    const std::size_t scanned = end_ - begin_;  // holds no LF; where it ends once Fill moved it
    if (!Fill()) break;
    if (const std::size_t lfAt = Find(scanned, kLineFeed); lfAt < end_) {
      TakeLine(piece, lfAt);
      *lineEnds = true;
      return true;
    }
  }
  if (begin_ == end_ && !inLine_) return false;
  Take(piece, end_ - begin_, end_ - begin_);
  *lineEnds = true;
  inLine_ = false;
  lastLineUnterminated_ = true;
  return true;
}

bool TextLineReader::NextLine(std::string_view* line) {
  bool lineEnds = false;
  if (!NextPiece(line, &lineEnds)) return false;
  if (lineEnds) return true;
  // The pieces of a long line are joined, as they do not stay valid.
  joined_.assign(*line);
  std::string_view piece;
  while (!lineEnds && NextPiece(&piece, &lineEnds)) joined_.append(piece);
  *line = joined_;
  return true;
}

}  // namespace qve
