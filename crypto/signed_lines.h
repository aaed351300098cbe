// The pending lines of a signature block, kept the way its signature covers
// them (each line's bytes, then 0x00) in one buffer with room in front, where
// the block's own fields go once the block is known. The whole signed
// message then lies in one piece without a copy of the lines, and the
// buffer serves block after block without an allocation per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/bytes.h"

namespace qve {

struct SignatureBlock;

class SignedLines {
 public:
  SignedLines();

  // Adds the line's bytes and its 0x00 separator.
  void Append(std::string_view line);
  bool empty() const { return buffer_.size() == start_; }
  // The lines joined, without the block's fields.
  std::span<const std::uint8_t> joined() const { return std::span(buffer_).subspan(start_); }

  // id (u32 LE) | link | text | the lines: the message that `block` signs.
  std::span<const std::uint8_t> MessageFor(const SignatureBlock& block);

  // Forgets the lines; the storage of a very large block is given back.
  void Clear();

 private:
  Bytes buffer_;
  std::size_t start_;  // where the first line begins
};

}  // namespace qve
