#include "crypto/digest.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/byte_writer.h"

namespace qve {
namespace {

std::string Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (auto b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

TEST(ComputeDigest, IsSha256) {
  const struct {
    std::string input;
    const char* hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string("\0", 1), "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex(ComputeDigest(testing::BytesOf(c.input))), c.hex);
}

TEST(ComputeDigest, EmptyInputIsTheEmptyDigest) {
  const Bytes digest = ComputeDigest({});
  EXPECT_EQ(digest.size(), 32u);
  EXPECT_EQ(digest, ComputeDigest(Bytes{}));
}

}  // namespace
}  // namespace qve
