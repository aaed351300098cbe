// SPDX-License-Identifier: Apache-2.0
// The seal check's digest of the plaintext, taken while the plaintext is
// produced. With a worker pool, the caller's thread decrypts and writes while
// a worker digests the blocks before. The library starts no thread, so
// without a worker the caller digests everything itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <streambuf>
#include <system_error>
#include <vector>

#include "decrypt/output_signature.h"
#include "format/bytes.h"
#include "platform/worker_pool.h"

namespace qve {

namespace platform {
class TempOutput;
}

// One decryption's digest: blocks are digested in the order submitted, by a
// worker or, once too many pile up, by the caller. Memory stays at a few
// blocks however long the plaintext is.
class PlaintextDigest final : public platform::WorkItem {
 public:
  static constexpr std::size_t kBlockSize = 128 * 1024;

  // `pool` may be null: the caller's thread does it all.
  PlaintextDigest(OutputVerifier& verifier, platform::WorkerPool* pool);
  ~PlaintextDigest();
  PlaintextDigest(const PlaintextDigest&) = delete;
  PlaintextDigest& operator=(const PlaintextDigest&) = delete;

  // Queues `block` after those submitted before. Returns an empty block to
  // fill, one already digested when possible, so memory is reused.
  Bytes Submit(Bytes block);
  // Once every block is digested: false when the verifier refused one.
  bool Finish();

  bool HasPending() const override { return !pending_.empty() && !digesting_; }
  // Digests the oldest pending block, the lock released meanwhile.
  void RunOne(std::unique_lock<std::mutex>& lock) override;

 private:
  OutputVerifier& verifier_;
  platform::WorkerPool own_;  // when no pool is given
  platform::WorkerPool& pool_;
  std::deque<Bytes> pending_;
  std::vector<Bytes> spare_;
  bool digesting_ = false;
  bool updated_ = true;
};

// Takes the plaintext of a decryption: writes it to `file` (when given) a
// block at a time and submits all but the newest block to the digest at
// once. The newest waits until the trailer is known, so that the trailer
// stays out of the digest, as it does when the output file is cut.
class PlaintextSink : public std::streambuf {
 public:
  PlaintextSink(PlaintextDigest& digest, platform::TempOutput* file);

  std::uint64_t total() const { return total_; }
  // Why the file took no more, once it did not.
  const std::error_code& writeError() const { return writeError_; }
  // Writes what is still held; false when the file takes it not.
  bool Flush();
  // Submits all but the last `trailerLength` bytes and digests them all;
  // false when the verifier refused some.
  bool FinishAllBut(std::size_t trailerLength);

 protected:
  std::streamsize xsputn(const char* bytes, std::streamsize count) override;
  int_type overflow(int_type c) override;

 private:
  bool BlockFull();

  PlaintextDigest& digest_;
  platform::TempOutput* file_;
  Bytes current_, previous_;  // previous_: full, or empty before the first
  std::uint64_t total_ = 0;
  bool failed_ = false;
  std::error_code writeError_;
};

}  // namespace qve
