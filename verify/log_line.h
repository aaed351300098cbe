// SPDX-License-Identifier: Apache-2.0
// The line rules of a signed log (format/line_rules.h) applied to a line that
// comes in pieces, with the digest of the block bytes that a signature line's
// payload stands for, which the chain links by.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/digest.h"
#include "format/bytes.h"
#include "format/line_rules.h"
#include "format/signed_log_format.h"

namespace qve {

// The block bytes of a payload that comes in pieces, decoded as it comes:
// every byte the stopping base64 decoder yields goes into the digest, and
// only the first ones, as many as a block's layout can use, are kept.
class BlockBytes {
 public:
  // Base64 text; pieces after a stop are not read.
  void Add(std::string_view text);
  // Ends the payload, which was `payloadLength` bytes long: a payload shorter
  // than four bytes is empty and not decoded at all.
  void Finish(std::uint64_t payloadLength);

  // After Finish: the bytes a block parser reads, and the digest of all.
  std::span<const std::uint8_t> kept() const { return kept_; }
  const Bytes& digest() const { return digest_; }

  // Starts the next payload.
  void Clear();

 private:
  void Decode(const char* text, std::size_t n);

  char group_[4] = {};
  std::size_t grouped_ = 0;  // characters waiting in group_
  bool stopped_ = false;
  bool finished_ = true;  // nothing fed since the last Final
  Bytes kept_;
  Digest all_;
  Bytes digest_;
};

// One line fed piece by piece, with the block bytes of its payload for as long
// as it may be a signature line.
class LineFeed {
 public:
  // The bytes of the piece that count; while the line starts with the marker,
  // those after the marker are its payload too.
  std::string_view Add(std::string_view piece, bool mayHoldNul = true) {
    const bool lineStarts = line_.length() == 0;
    const std::string_view counted = line_.Counted(piece, mayHoldNul);
    // Until its end, a line that starts with the marker may be either kind.
    if (line_.startsWithMarker())
      payload_.Add(lineStarts && !counted.empty() ? counted.substr(1) : counted);
    return counted;
  }
  // At the line's end: whether it is a signature line, whose payload is then
  // finished.
  bool EndsSignature() {
    if (!line_.isSignature()) return false;
    payload_.Finish(line_.length() - 2);
    return true;
  }
  // Starts the next line.
  void Next() {
    if (line_.startsWithMarker()) payload_.Clear();
    line_ = LineText{};
  }

  const LineText& line() const { return line_; }
  const BlockBytes& payload() const { return payload_; }

 private:
  LineText line_;
  BlockBytes payload_;
};

}  // namespace qve
