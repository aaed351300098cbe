#include "crypto/base64.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/bytes.h"

namespace qve {
namespace {

struct Base64Case {
  const char* name;
  std::string text;
  Bytes expected;
  std::size_t consumed;
};

void PrintTo(const Base64Case& c, std::ostream* os) { *os << c.name; }

class Base64Test : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64Test, DecodesUpToTheFirstStop) {
  const auto& c = GetParam();
  EXPECT_EQ(DecodeBase64(c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Base64Test,
    ::testing::Values(
        Base64Case{"Empty", "", {}, 0}, Base64Case{"OnePadded", "QQ==", {0x41}, 2},
        Base64Case{"TwoPadded", "QUI=", {0x41, 0x42}, 3},
        Base64Case{"FullGroup", "QUJD", {0x41, 0x42, 0x43}, 4},
        Base64Case{"Unpadded", "QUJDRA", {0x41, 0x42, 0x43, 0x44}, 6},
        Base64Case{"SingleCharacter", "Q", {}, 1},
        Base64Case{"StrayLowBitsDropped", "QR==", {0x41}, 2},
        Base64Case{"NothingReadAfterPadding", "QQ==QUJD", {0x41}, 2},
        Base64Case{"LineBreakStops", "QUJD\nRA==", {0x41, 0x42, 0x43}, 4},
        Base64Case{"SpaceStopsKeepingPartialGroup", "QUJDRA RA==", {0x41, 0x42, 0x43, 0x44}, 6},
        Base64Case{"DashStops", "QU-JD", {0x41}, 2},
        Base64Case{"UnderscoreStops", "QUJ_D", {0x41, 0x42}, 3},
        Base64Case{"HighByteStops", "QUJD\x80QUJD", {0x41, 0x42, 0x43}, 4},
        Base64Case{"NulStops", std::string("QUJD\0QUJD", 9), {0x41, 0x42, 0x43}, 4},
        Base64Case{"PlusAndSlash", "+/+/", {0xFB, 0xFF, 0xBF}, 4},
        Base64Case{"WholeAlphabet",
                   "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/",
                   {0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0x20, 0x92, 0x8B, 0x30, 0xD3, 0x8F,
                    0x41, 0x14, 0x93, 0x51, 0x55, 0x97, 0x61, 0x96, 0x9B, 0x71, 0xD7, 0x9F,
                    0x82, 0x18, 0xA3, 0x92, 0x59, 0xA7, 0xA2, 0x9A, 0xAB, 0xB2, 0xDB, 0xAF,
                    0xC3, 0x1C, 0xB3, 0xD3, 0x5D, 0xB7, 0xE3, 0x9E, 0xBB, 0xF3, 0xDF, 0xBF},
                   64}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Base64, EveryNonAlphabetByteStops) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int c = 0; c < 256; ++c) {
    const std::string text = std::string("QUJD") + char(c) + "QUJD";
    const bool inAlphabet = alphabet.find(char(c)) != std::string::npos;
    EXPECT_EQ(DecodeBase64(text).size(), inAlphabet ? 6u : 3u) << "byte " << c;
  }
}

}  // namespace
}  // namespace qve
