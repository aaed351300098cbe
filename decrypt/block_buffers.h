// SPDX-License-Identifier: Apache-2.0
// Large buffers between the decryption's 4096-byte chunks and the file
// streams: the chunking stays as it is, but a file is read and written in
// few system calls (a file stream writes a 4096-byte chunk straight
// through, one call per chunk).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <streambuf>
#include <vector>

namespace qve {

inline constexpr std::size_t kFileBlockSize = 256 * 1024;

// Reads `source` a block at a time. A read error ends the input like its end.
class BlockReadBuffer : public std::streambuf {
 public:
  // Before each block is read, `before` (when given) gets the number of
  // bytes handed out so far; returning false ends the input there.
  using BeforeBlock = std::function<bool(std::uint64_t handedOut)>;
  BlockReadBuffer(std::streambuf& source, std::size_t blockSize, BeforeBlock before = {});

  std::uint64_t handedOut() const {
    return handedOut_ + static_cast<std::uint64_t>(gptr() - eback());
  }

 protected:
  int_type underflow() override;

 private:
  std::streambuf& source_;
  std::vector<char> block_;
  BeforeBlock before_;
  std::uint64_t handedOut_ = 0;  // before the block held now
};

// Hands bytes to `sink` a block at a time; a flush hands over the rest and
// flushes `sink`. Nothing is written at destruction: bytes not flushed by
// then belong to a write that has already failed or was abandoned.
class BlockWriteBuffer : public std::streambuf {
 public:
  BlockWriteBuffer(std::streambuf& sink, std::size_t blockSize);

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();

  std::streambuf& sink_;
  std::vector<char> block_;
};

}  // namespace qve
