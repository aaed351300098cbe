// SPDX-License-Identifier: Apache-2.0
#include "decrypt/byte_ring.h"

#include <algorithm>

namespace qve {

ByteRing::ByteRing(std::size_t capacity) : storage_(capacity) {}

void ByteRing::Append(std::span<const std::uint8_t> bytes) {
  const std::size_t capacity = storage_.size();
  if (capacity == 0) return;
  if (bytes.size() > capacity) bytes = bytes.last(capacity);
  const std::size_t total = size_ + bytes.size();
  while (!bytes.empty()) {
    const std::size_t run = std::min(bytes.size(), capacity - last_);
    std::copy_n(bytes.begin(), run, storage_.begin() + static_cast<std::ptrdiff_t>(last_));
    last_ = (last_ + run) % capacity;
    bytes = bytes.subspan(run);
  }
  if (total >= capacity) {
    // Full: the oldest byte is the one the next append overwrites.
    size_ = capacity;
    first_ = last_;
  } else {
    size_ = total;
  }
}

Bytes ByteRing::Contents() const {
  // At most two runs: from the oldest byte to the end of the storage, then
  // from its start.
  const std::size_t firstRun = std::min(size_, storage_.size() - first_);
  Bytes out;
  out.reserve(size_);
  const auto oldest = storage_.begin() + static_cast<std::ptrdiff_t>(first_);
  out.insert(out.end(), oldest, oldest + static_cast<std::ptrdiff_t>(firstRun));
  out.insert(out.end(), storage_.begin(),
             storage_.begin() + static_cast<std::ptrdiff_t>(size_ - firstRun));
  return out;
}

}  // namespace qve
