// SPDX-License-Identifier: Apache-2.0
#include "decrypt/block_buffers.h"

namespace qve {

BlockReadBuffer::BlockReadBuffer(std::streambuf& source, std::size_t blockSize, BeforeBlock before)
    : source_(source), block_(blockSize == 0 ? 1 : blockSize), before_(std::move(before)) {}

BlockReadBuffer::int_type BlockReadBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  handedOut_ += static_cast<std::uint64_t>(egptr() - eback());
  setg(block_.data(), block_.data(), block_.data());
  if (before_ && !before_(handedOut_)) return traits_type::eof();
  const std::streamsize got =
      source_.sgetn(block_.data(), static_cast<std::streamsize>(block_.size()));
  if (got <= 0) return traits_type::eof();
  setg(block_.data(), block_.data(), block_.data() + got);
  return traits_type::to_int_type(*gptr());
}

BlockWriteBuffer::BlockWriteBuffer(std::streambuf& sink, std::size_t blockSize)
    : sink_(sink), block_(blockSize == 0 ? 1 : blockSize) {
  setp(block_.data(), block_.data() + block_.size());
}

bool BlockWriteBuffer::Drain() {
  const std::streamsize pending = pptr() - pbase();
  const std::streamsize taken = pending > 0 ? sink_.sputn(pbase(), pending) : 0;
  setp(block_.data(), block_.data() + block_.size());
  return taken == pending;
}

BlockWriteBuffer::int_type BlockWriteBuffer::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int BlockWriteBuffer::sync() { return Drain() && sink_.pubsync() == 0 ? 0 : -1; }

}  // namespace qve
