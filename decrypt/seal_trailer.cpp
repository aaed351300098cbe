#include "decrypt/seal_trailer.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "crypto/byte_cursor.h"

namespace qve {

namespace {

constexpr std::string_view kSealTag = "Seal";
constexpr std::uint32_t kSealVersion = 1;
constexpr std::size_t kClosingSize = 6;  // tag and L
constexpr std::size_t kShortestWindow = 10;

bool ReadTag(ByteCursor& cursor) {
  std::span<const std::uint8_t> tag;
  return cursor.ReadBytes(kSealTag.size(), &tag) &&
         std::equal(tag.begin(), tag.end(), kSealTag.begin());
}

bool ReadField(ByteCursor& cursor, Bytes& out) {
  std::uint32_t length = 0;
  std::span<const std::uint8_t> field;
  if (!cursor.ReadU16LE(&length) || !cursor.ReadBytes(length, &field)) return false;
  out.assign(field.begin(), field.end());
  return true;
}

}  // namespace

std::uint32_t ParseSeal(const StreamVerifier& verifier, Bytes& keyId, Bytes& signature) {
  const Bytes window = verifier.window().Contents();
  const std::span<const std::uint8_t> data(window);
  if (data.size() < kShortestWindow) return 0;

  ByteCursor closing(data.last(kClosingSize));
  std::uint32_t length = 0;
  if (!ReadTag(closing) || !closing.ReadU16LE(&length)) return 0;
  if (length == 0 || length > data.size()) return 0;

  // The fields run from the opening tag to the end of the data; the closing
  // tag bounds nothing.
  ByteCursor trailer(data.last(length));
  std::uint32_t version = 0;
  if (!ReadTag(trailer) || !trailer.ReadU16LE(&version) || version != kSealVersion) return 0;
  if (!ReadField(trailer, keyId) || !ReadField(trailer, signature)) return 0;
  return length;
}

}  // namespace qve
