#include "platform/text_reader.h"

#include <cstring>

namespace qve::platform {

namespace {

constexpr char kEndOfText = 0x1A;

}  // namespace

TextLineReader::TextLineReader(const std::string& path, std::size_t bufferSize)
    : buffer_(bufferSize == 0 ? 1 : bufferSize) {
  fd_ = OpenText(path);
  atEnd_ = fd_ < 0;
}

TextLineReader::~TextLineReader() {
  if (fd_ >= 0) CloseText(fd_);
}

bool TextLineReader::Fill() {
  if (atEnd_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  // Only a line longer than the buffer makes it grow.
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  const long got = ReadSome(fd_, buffer_.data() + end_, buffer_.size() - end_);
  if (got <= 0) {
    atEnd_ = true;
    return false;
  }
  const std::size_t first = end_;
  end_ += static_cast<std::size_t>(got);
  if (const void* stop = std::memchr(buffer_.data() + first, kEndOfText, end_ - first)) {
    const std::size_t stopAt =
        static_cast<std::size_t>(static_cast<const char*>(stop) - buffer_.data());
    char probe;
    dataAfterEndOfText_ = stopAt + 1 < end_ || ReadSome(fd_, &probe, 1) > 0;
    end_ = stopAt;
    atEnd_ = true;
  }
  return true;
}

bool TextLineReader::NextLine(std::string_view* line) {
  std::size_t scanned = 0;  // bytes after begin_ already known to hold no LF
  for (;;) {
    const char* from = buffer_.data() + begin_ + scanned;
    const std::size_t left = end_ - begin_ - scanned;
    if (const void* lf = std::memchr(from, '\n', left)) {
      const std::size_t lfAt =
          static_cast<std::size_t>(static_cast<const char*>(lf) - buffer_.data());
      std::size_t length = lfAt - begin_;
      if (length > 0 && buffer_[lfAt - 1] == '\r') --length;
      *line = std::string_view(buffer_.data() + begin_, length);
      begin_ = lfAt + 1;
      return true;
    }
    scanned = end_ - begin_;
    if (!Fill()) break;
  }
  if (begin_ == end_) return false;
  *line = std::string_view(buffer_.data() + begin_, end_ - begin_);
  begin_ = end_;
  lastLineUnterminated_ = true;
  return true;
}

}  // namespace qve::platform
