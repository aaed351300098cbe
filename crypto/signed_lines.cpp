#include "crypto/signed_lines.h"

#include <cstring>

#include "crypto/signature_block.h"

namespace qve {

namespace {

// Room for the id, a SHA-512-sized link and the longest text; a longer link
// makes room by moving the lines once.
constexpr std::size_t kFieldRoom = 4 + 64 + kMaxBlockTextLength;
constexpr std::size_t kKeptCapacity = 1 << 20;

}  // namespace

SignedLines::SignedLines() : buffer_(kFieldRoom), start_(kFieldRoom) {}

void SignedLines::Append(std::string_view line) {
  // From a byte pointer the insert is one block copy; from the chars
  // themselves it would convert them one by one.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(line.data());
  buffer_.insert(buffer_.end(), bytes, bytes + line.size());
  buffer_.push_back(0x00);
}

std::span<const std::uint8_t> SignedLines::MessageFor(const SignatureBlock& block) {
  const std::size_t fields = 4 + block.link.size() + block.text.size();
  if (fields > start_) {
    buffer_.insert(buffer_.begin(), fields - start_, 0);
    start_ = fields;
  }
  std::uint8_t* out = buffer_.data() + (start_ - fields);
  for (int i = 0; i < 4; ++i) *out++ = std::uint8_t(block.id >> (8 * i));
  if (!block.link.empty()) std::memcpy(out, block.link.data(), block.link.size());
  out += block.link.size();
  if (!block.text.empty()) std::memcpy(out, block.text.data(), block.text.size());
  return std::span(buffer_).subspan(start_ - fields);
}

void SignedLines::Clear() {
  if (buffer_.capacity() > kKeptCapacity) {
    Bytes(kFieldRoom).swap(buffer_);
    start_ = kFieldRoom;
  } else {
    buffer_.resize(start_);
  }
}

}  // namespace qve
