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

void WriteGroup(const std::uint8_t g[4], std::uint8_t* out, std::size_t count) {
  const std::uint8_t bytes[3] = {
      static_cast<std::uint8_t>((g[0] << 2) + ((g[1] >> 4) & 3)),
      static_cast<std::uint8_t>((g[1] << 4) + ((g[2] >> 2) & 15)),
      static_cast<std::uint8_t>((g[2] << 6) + g[3]),
  };
  for (std::size_t i = 0; i < count; ++i) out[i] = bytes[i];
}

}  // namespace

Base64Decoded DecodeBase64(std::uint8_t* out, const char* text, std::size_t n) {
  std::uint8_t group[4] = {0, 0, 0, 0};
  std::size_t k = 0;
  Base64Decoded result{0, 0};
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c == '=') break;
    const std::uint8_t value = kTable[static_cast<unsigned char>(c)];
    if (value == kNotInAlphabet) break;
    group[k++] = value;
    ++result.charactersConsumed;
    if (k == 4) {
      WriteGroup(group, out + result.bytesWritten, 3);
      result.bytesWritten += 3;
      k = 0;
    }
  }
  if (k > 0) {
    WriteGroup(group, out + result.bytesWritten, k - 1);
    result.bytesWritten += k - 1;
  }
  return result;
}

}  // namespace qve
