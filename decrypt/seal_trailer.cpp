#include "decrypt/seal_trailer.h"

#include <string_view>

#include "crypto/byte_cursor.h"

namespace qve {

namespace {

constexpr std::string_view kSealTag = "Seal";
constexpr std::uint32_t kSealVersion = 1;
constexpr std::size_t kClosingSize = 6;  // tag and L
constexpr std::size_t kShortestWindow = 10;

}  // namespace

std::uint32_t ParseSeal(std::span<const std::uint8_t> window, Bytes& keyId, Bytes& signature) {
  if (window.size() < kShortestWindow) return 0;

  ByteCursor closing(window.last(kClosingSize));
  std::uint32_t length = 0;
  if (!closing.ReadTag(kSealTag) || !closing.ReadU16LE(&length)) return 0;
  if (length == 0 || length > window.size()) return 0;

  // The fields run from the opening tag to the end of the data; the closing
  // tag bounds nothing.
  ByteCursor trailer(window.last(length));
  std::uint32_t version = 0;
  if (!trailer.ReadTag(kSealTag) || !trailer.ReadU16LE(&version) || version != kSealVersion)
    return 0;
  std::span<const std::uint8_t> field;
  if (trailer.ReadU16Prefixed(&field) != FieldRead::Read) return 0;
  keyId.assign(field.begin(), field.end());
  if (trailer.ReadU16Prefixed(&field) != FieldRead::Read) return 0;
  signature.assign(field.begin(), field.end());
  return length;
}

}  // namespace qve
