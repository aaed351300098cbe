// SPDX-License-Identifier: Apache-2.0
#include "decrypt/plaintext_digest.h"

#include <algorithm>
#include <cstring>

#include "platform/temp_output.h"

namespace qve {

namespace {

// Blocks waiting for a digest before the caller digests one itself: enough
// to ride out a worker's short stalls, few enough to keep memory flat.
constexpr std::size_t kMaxPending = 8;

}  // namespace

PlaintextDigest::PlaintextDigest(OutputVerifier& verifier, platform::WorkerPool* pool)
    : verifier_(verifier), pool_(pool != nullptr ? *pool : own_) {
  // A worker returns blocks to spare_ without allocating, so it cannot throw.
  spare_.reserve(kMaxPending + 4);
  pool_.Attach(*this);
}

PlaintextDigest::~PlaintextDigest() {
  std::unique_lock<std::mutex> lock(pool_.lock());
  while (digesting_) pool_.Wait(lock);
  pool_.Detach(*this, lock);
}

void PlaintextDigest::RunOne(std::unique_lock<std::mutex>& lock) {
  digesting_ = true;
  Bytes block = std::move(pending_.front());
  pending_.pop_front();
  const bool going = updated_;
  lock.unlock();
  // Once refused, the rest needs no digest: the result is known.
  const bool updated = !going || verifier_.Update(block);
  block.clear();
  lock.lock();
  updated_ = updated_ && updated;
  if (spare_.size() < spare_.capacity()) spare_.push_back(std::move(block));
  digesting_ = false;
  pool_.Changed();
}

Bytes PlaintextDigest::Submit(Bytes block) {
  std::unique_lock<std::mutex> lock(pool_.lock());
  pending_.push_back(std::move(block));
  pool_.Changed();
  while (pending_.size() > kMaxPending) {
    if (digesting_)
      pool_.Wait(lock);
    else
      RunOne(lock);
  }
  if (spare_.empty()) return {};
  Bytes spare = std::move(spare_.back());
  spare_.pop_back();
  return spare;
}

bool PlaintextDigest::Finish() {
  std::unique_lock<std::mutex> lock(pool_.lock());
  while (!pending_.empty() || digesting_) {
    if (digesting_)
      pool_.Wait(lock);
    else
      RunOne(lock);
  }
  return updated_;
}

PlaintextSink::PlaintextSink(PlaintextDigest& digest, platform::TempOutput* file)
    : digest_(digest), file_(file) {
  current_.reserve(PlaintextDigest::kBlockSize);
}

bool PlaintextSink::BlockFull() {
  if (file_ != nullptr) {
    file_->Write(current_, writeError_);
    if (writeError_) return false;
  }
  Bytes next = previous_.empty() ? Bytes{} : digest_.Submit(std::move(previous_));
  previous_ = std::move(current_);
  current_ = std::move(next);
  current_.clear();
  current_.reserve(PlaintextDigest::kBlockSize);
  return true;
}

std::streamsize PlaintextSink::xsputn(const char* bytes, std::streamsize count) {
  std::streamsize taken = 0;
  while (taken < count && !failed_) {
    const auto room = static_cast<std::streamsize>(PlaintextDigest::kBlockSize - current_.size());
    const std::streamsize part = std::min(room, count - taken);
    const auto* from = reinterpret_cast<const std::uint8_t*>(bytes + taken);
    current_.insert(current_.end(), from, from + part);
    taken += part;
    total_ += static_cast<std::uint64_t>(part);
    if (current_.size() == PlaintextDigest::kBlockSize && !BlockFull()) failed_ = true;
  }
  // A refused write leaves the stream bad: the decryption's write failed.
  return failed_ ? 0 : taken;
}

PlaintextSink::int_type PlaintextSink::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char byte = traits_type::to_char_type(c);
  return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

bool PlaintextSink::Flush() {
  if (failed_) return false;
  if (file_ == nullptr || current_.empty()) return true;
  file_->Write(current_, writeError_);
  failed_ = static_cast<bool>(writeError_);
  return !failed_;
}

bool PlaintextSink::FinishAllBut(std::size_t trailerLength) {
  // The previous block is full, longer than any trailer: the trailer ends
  // in the current block or reaches back into the previous one.
  const std::size_t held = previous_.size() + current_.size();
  const std::size_t keep = held - std::min(trailerLength, held);
  const std::size_t fromPrevious = std::min(keep, previous_.size());
  previous_.resize(fromPrevious);
  current_.resize(keep - fromPrevious);
  if (!previous_.empty()) digest_.Submit(std::move(previous_));
  if (!current_.empty()) digest_.Submit(std::move(current_));
  previous_.clear();
  current_.clear();
  return digest_.Finish();
}

}  // namespace qve
