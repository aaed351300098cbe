// SPDX-License-Identifier: Apache-2.0
// The container header (layout in format/container_format.h): read from the
// start of the container up to the first payload byte.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <span>
#include <vector>

#include "format/bytes.h"
#include "format/container_format.h"
#include "format/parse_stop.h"

namespace qve {

struct RecipientEntry {
  Bytes keyId;
  Bytes wrappedKey;
};

// Offsets count from the start of the file.
struct HeaderStop : ParseStop<HeaderStatus, HeaderField> {
  std::uint32_t record = 0;  // the record the field belongs to, from 1; 0 for none

  bool operator==(const HeaderStop&) const = default;
};

// What reading the header found besides the records themselves.
struct HeaderParse {
  HeaderStop stop;
  std::optional<std::uint32_t> version;  // as read, whatever its value
  std::optional<std::uint32_t> count;
  std::vector<std::uint64_t> recordOffsets;  // of every record begun
  std::uint64_t end = 0;                     // the first payload byte, once Complete
};

// Reads the header, the IV into all of `iv`; on Complete the stream is left
// at the first payload byte. Entries appended before a failure stay in
// `recipients`, a record whose wrapped key is cut short without that key.
HeaderParse ReadHeaderStop(std::istream& input, std::span<std::uint8_t> iv,
                           std::vector<RecipientEntry>& recipients);

// The reader the decryption calls: only its code.
HeaderStatus ReadHeader(std::istream& input, std::span<std::uint8_t> iv,
                        std::vector<RecipientEntry>& recipients);

}  // namespace qve
