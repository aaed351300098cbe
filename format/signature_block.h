// SPDX-License-Identifier: Apache-2.0
// Signature blocks: the binary record that a log signature line carries
// (layout in format/signed_log_format.h), and its parser. Its check, which
// needs the key, is crypto/block_check.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "format/bytes.h"
#include "format/parse_stop.h"
#include "format/signed_log_format.h"

namespace qve {

struct SignatureBlock {
  std::uint32_t version = kSignatureBlockVersion;
  std::uint32_t id = 0;
  std::string text;
  Bytes link;
  Bytes signature;
};

// Where parsing stopped, offsets from the block's first byte.
using BlockStop = ParseStop<BlockParseResult, BlockField>;

// Fields parsed before a failure keep their values; later ones are untouched.
BlockStop ParseSignatureBlockStop(std::span<const std::uint8_t> bytes, SignatureBlock& block);

// The parser the check calls: only its code.
BlockParseResult ParseSignatureBlock(std::span<const std::uint8_t> bytes, SignatureBlock& block);

}  // namespace qve
