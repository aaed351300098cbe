// SPDX-License-Identifier: Apache-2.0
// Keeps the newest bytes of a stream in storage allocated once, so that
// following a long stream costs no allocation per chunk. The decryption
// keeps its newest plaintext in one, to find the seal trailer in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "format/bytes.h"

namespace qve {

class ByteRing {
 public:
  explicit ByteRing(std::size_t capacity);

  std::size_t size() const { return size_; }

  // Keeps only the newest `capacity` bytes of everything appended so far.
  void Append(std::span<const std::uint8_t> bytes);

  // The bytes held, oldest first.
  Bytes Contents() const;

 private:
  std::vector<std::uint8_t> storage_;
  std::size_t first_ = 0;  // oldest byte
  std::size_t last_ = 0;   // one past the newest byte
  std::size_t size_ = 0;
};

}  // namespace qve
