// SPDX-License-Identifier: Apache-2.0
#include "verify/log_line.h"

#include <algorithm>

#include "format/base64.h"
#include "format/signed_log_format.h"

namespace qve {

namespace {

constexpr std::size_t kDecodeChunk = 1 << 16;  // characters per decoder call

}  // namespace

// Whole groups of four characters decode alike in one call or in several, so
// the text goes to the decoder in whole groups; a group cut between pieces
// waits in group_.
void BlockBytes::Add(std::string_view text) {
  finished_ = false;
  if (stopped_) return;
  if (grouped_ > 0) {
    const std::size_t take = std::min(4 - grouped_, text.size());
    std::copy_n(text.data(), take, group_ + grouped_);
    grouped_ += take;
    text.remove_prefix(take);
    if (grouped_ < 4) return;
    grouped_ = 0;
    Decode(group_, 4);
  }
  while (text.size() >= 4 && !stopped_) {
    const std::size_t n = std::min(text.size() / 4 * 4, kDecodeChunk);
    Decode(text.data(), n);
    text.remove_prefix(n);
  }
  if (stopped_) return;
  std::copy(text.begin(), text.end(), group_);
  grouped_ = text.size();
}

void BlockBytes::Decode(const char* text, std::size_t n) {
  if (stopped_) return;
  const Bytes bytes = DecodeBase64({text, n});
  // Whole groups decode to three bytes each unless the decoder stopped.
  stopped_ = bytes.size() < n / 4 * 3;
  const std::size_t keep = std::min(bytes.size(), kUsableBlockBytes - kept_.size());
  kept_.insert(kept_.end(), bytes.begin(), bytes.begin() + keep);
  all_.Update(bytes);
}

void BlockBytes::Finish(std::uint64_t payloadLength) {
  if (payloadLength < kBase64Group) {
    kept_.clear();
    all_.Final();
  } else if (grouped_ > 0) {
    Decode(group_, grouped_);
  }
  grouped_ = 0;
  digest_ = all_.Final();
  finished_ = true;
}

void BlockBytes::Clear() {
  if (!finished_) all_.Final();
  finished_ = true;
  grouped_ = 0;
  stopped_ = false;
  kept_.clear();
}

}  // namespace qve
