// SPDX-License-Identifier: Apache-2.0
// The seal check's digest of the plaintext taken as the plaintext is
// produced, on a thread a host lends when there is one: the caller's thread
// decrypts and writes while the lent one digests what came before. The
// library starts no thread; without a lent one the caller digests it all.
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
#include "platform/work_loan.h"

namespace qve {

namespace platform {
class TempOutput;
}

// One decryption's digest: blocks handed in order are digested in order by
// whichever thread takes them, a lent one or, once too many pile up, the
// caller's own. Memory stays a few blocks whatever the plaintext's length.
class PlaintextDigest final : public platform::LoanJob {
 public:
  static constexpr std::size_t kBlockSize = 128 * 1024;

  // `loan` may be null: the caller's thread does it all.
  PlaintextDigest(OutputVerifier& verifier, platform::Loan* loan);
  ~PlaintextDigest();
  PlaintextDigest(const PlaintextDigest&) = delete;
  PlaintextDigest& operator=(const PlaintextDigest&) = delete;

  // Queues `block` after those handed before; gives back an empty block
  // to fill (one digested before, so that memory is reused).
  Bytes Hand(Bytes block);
  // Once every block is digested: false when the verifier refused one.
  bool Finish();

  bool Takeable() const override { return !pending_.empty() && !digesting_; }
  // Digests the oldest pending block, the lock released meanwhile.
  void TakeOne(std::unique_lock<std::mutex>& lock) override;

 private:
  OutputVerifier& verifier_;
  platform::Loan own_;  // when no loan is given
  platform::Loan& loan_;
  std::deque<Bytes> pending_;
  std::vector<Bytes> spare_;
  bool digesting_ = false;
  bool updated_ = true;
};

// Takes the plaintext of a decryption: writes it to `file` (when given) a
// block at a time, and hands all but the newest block to the digest at
// once; the newest wait until the trailer is known, so that the trailer
// itself stays out of the digest, as it does when the output file is cut.
class PlaintextSink : public std::streambuf {
 public:
  PlaintextSink(PlaintextDigest& digest, platform::TempOutput* file);

  std::uint64_t total() const { return total_; }
  // Why the file took no more, once it did not.
  const std::error_code& writeError() const { return writeError_; }
  // Writes what is still held; false when the file takes it not.
  bool Flush();
  // Hands all but the last `trailerLength` bytes and digests them all;
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
