#include "crypto/base64.h"

#include <array>

namespace qve {

namespace {

constexpr std::uint8_t kNotInAlphabet = 255;

constexpr std::array<std::uint8_t, 256> MakeTable() {
  std::array<std::uint8_t, 256> table{};
  table.fill(kNotInAlphabet);
  constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::uint8_t v = 0; v < 64; ++v) table[static_cast<unsigned char>(kAlphabet[v])] = v;
  return table;
}

constexpr std::array<std::uint8_t, 256> kTable = MakeTable();

void AppendGroup(const std::uint8_t g[4], Bytes& out, std::size_t count) {
  const std::uint8_t bytes[3] = {
      static_cast<std::uint8_t>((g[0] << 2) + ((g[1] >> 4) & 3)),
      static_cast<std::uint8_t>((g[1] << 4) + ((g[2] >> 2) & 15)),
      static_cast<std::uint8_t>((g[2] << 6) + g[3]),
  };
  out.insert(out.end(), bytes, bytes + count);
}

}  // namespace

Bytes DecodeBase64(std::string_view text) {
  Bytes out;
  out.reserve((text.size() + 3) / 4 * 3);
  std::uint8_t group[4] = {0, 0, 0, 0};
  std::size_t k = 0;
  for (const char c : text) {
    if (c == '=') break;
    const std::uint8_t value = kTable[static_cast<unsigned char>(c)];
    if (value == kNotInAlphabet) break;
    group[k++] = value;
    if (k == 4) {
      AppendGroup(group, out, 3);
      k = 0;
    }
  }
  if (k > 0) AppendGroup(group, out, k - 1);
  return out;
}

}  // namespace qve
