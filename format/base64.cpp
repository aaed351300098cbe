// SPDX-License-Identifier: Apache-2.0
#include "format/base64.h"

#include <array>

#include "format/signed_log_format.h"

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

// Writes the first `count` of a group's three bytes.
std::uint8_t* PutGroup(const std::uint8_t g[4], std::uint8_t* out, std::size_t count) {
  const std::uint8_t bytes[3] = {
      static_cast<std::uint8_t>((g[0] << 2) + ((g[1] >> 4) & 3)),
      static_cast<std::uint8_t>((g[1] << 4) + ((g[2] >> 2) & 15)),
      static_cast<std::uint8_t>((g[2] << 6) + g[3]),
  };
  for (std::size_t i = 0; i < count; ++i) *out++ = bytes[i];
  return out;
}

}  // namespace

Bytes DecodeBase64(std::string_view text) {
  // Sized for the whole text and cut to what was decoded: a payload of a
  // gigabyte goes through here, and a growing vector would cost a check a byte.
  Bytes out((text.size() + 3) / 4 * 3);
  std::uint8_t* end = out.data();
  // Whole groups of four characters of the alphabet, nearly all of a payload,
  // four at a time; the rest one by one from the first group that is not.
  std::size_t whole = 0;
  for (; whole + 4 <= text.size(); whole += 4) {
    const std::uint8_t g[4] = {kTable[static_cast<unsigned char>(text[whole])],
                               kTable[static_cast<unsigned char>(text[whole + 1])],
                               kTable[static_cast<unsigned char>(text[whole + 2])],
                               kTable[static_cast<unsigned char>(text[whole + 3])]};
    // kNotInAlphabet has every bit set, so it shows through the OR.
    if ((g[0] | g[1] | g[2] | g[3]) == kNotInAlphabet) break;
    end = PutGroup(g, end, 3);
  }
  std::uint8_t group[4] = {0, 0, 0, 0};
  std::size_t k = 0;
  for (const char c : text.substr(whole)) {
    if (c == kBase64Stop) break;
    const std::uint8_t value = kTable[static_cast<unsigned char>(c)];
    if (value == kNotInAlphabet) break;
    group[k++] = value;
    if (k == 4) {
      end = PutGroup(group, end, 3);
      k = 0;
    }
  }
  if (k > 0) end = PutGroup(group, end, k - 1);
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

}  // namespace qve
