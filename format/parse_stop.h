// SPDX-License-Identifier: Apache-2.0
// Where a parser of the library's formats stopped, and the reading of a
// length-prefixed field that records it: what the diagnoses and the commands
// report, kept apart from the cursor, which only reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "format/byte_cursor.h"

namespace qve {

// Where a parser stopped and why: the field it was reading and the offset
// of that field's first byte; what it read there (a length, a count, a
// version, a tag's bytes big-endian) and what was allowed or expected; or,
// when the input ended inside the field, how many of its bytes there were
// (and for a field after its length, the length in `value`).
template <typename Status, typename Field>
struct ParseStop {
  Status status{};
  Field field{};
  std::uint64_t offset = 0;
  std::uint64_t value = 0;
  std::uint64_t limit = 0;
  bool cut = false;
  std::uint64_t left = 0;

  // A field read whole whose value is refused.
  void Refuse(Status why, Field at, std::uint64_t fieldOffset, std::uint64_t read,
              std::uint64_t allowed) {
    *this = ParseStop{why, at, fieldOffset, read, allowed};
  }
  // A field the input ends inside, after `there` of its bytes.
  void Cut(Status why, Field at, std::uint64_t fieldOffset, std::uint64_t there,
           std::uint64_t declared = 0) {
    *this = ParseStop{why, at, fieldOffset, declared, 0, true, there};
  }

  bool operator==(const ParseStop&) const = default;
};

// A length-prefixed field whose failure is recorded in `stop`: at the length
// when it is missing (`noLength`) or over `limit` (`overLimit`), at the field
// itself (`contentField`), right after its length, when the bytes end inside
// it (`cut`).
template <typename Cursor, typename Status, typename Field>
bool ReadFieldOrStop(Cursor& cursor, std::size_t width, std::uint32_t limit,
                     ParseStop<Status, Field>& stop, Field lengthField, Field contentField,
                     Status noLength, Status overLimit, Status cut,
                     std::span<const std::uint8_t>* field) {
  const std::uint64_t at = cursor.offset();
  std::uint32_t length = 0;
  const FieldRead read = width == 2 ? cursor.ReadU16Prefixed(field, limit, &length)
                                    : cursor.ReadU32Prefixed(field, limit, &length);
  switch (read) {
    case FieldRead::Read:
      return true;
    case FieldRead::NoLength:
      stop.Cut(noLength, lengthField, at, cursor.delivered());
      return false;
    case FieldRead::OverLimit:
      stop.Refuse(overLimit, lengthField, at, length, limit);
      return false;
    case FieldRead::Short:
      break;
  }
  stop.Cut(cut, contentField, at + width, cursor.delivered(), length);
  return false;
}

}  // namespace qve
