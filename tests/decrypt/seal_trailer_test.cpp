#include "decrypt/seal_trailer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decrypt/byte_ring.h"
#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"

namespace qve {
namespace {

using testing::ByteWriter;
using testing::Pattern;
using testing::SealTrailerBuilder;

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ByteRing, KeepsTheLast8192Of10000BytesOldestFirst) {
  const Bytes input = Pattern(10000);
  ByteRing ring(8192);
  ring.Append(input);
  EXPECT_EQ(ring.size(), 8192u);
  EXPECT_EQ(ring.Contents(), Bytes(input.end() - 8192, input.end()));
}

TEST(ByteRing, HoldsTheNewestBytesWhateverTheChunking) {
  const struct {
    const char* name;
    std::vector<std::size_t> chunks;
  } cases[] = {
      {"Nothing", {}},
      {"EmptyAppend", {0}},
      {"LessThanCapacity", {5, 7}},
      {"ExactlyCapacity", {16}},
      {"CapacityInPieces", {6, 10}},
      {"WrapsOnce", {10, 10}},
      {"WrapsMidChunk", {13, 5, 9}},
      {"LongerThanCapacityAtOnce", {3, 40}},
      {"ManySmall", std::vector<std::size_t>(50, 3)},
  };
  constexpr std::size_t kCapacity = 16;
  for (const auto& c : cases) {
    ByteRing ring(kCapacity);
    Bytes all;
    std::uint8_t seed = 0;
    for (const std::size_t size : c.chunks) {
      const Bytes chunk = Pattern(size, seed++);
      ring.Append(chunk);
      all = Concat(all, chunk);
    }
    const std::size_t kept = std::min(all.size(), kCapacity);
    EXPECT_EQ(ring.size(), kept) << c.name;
    EXPECT_EQ(ring.Contents(), Bytes(all.end() - static_cast<std::ptrdiff_t>(kept), all.end()))
        << c.name;
  }
}

// The window that the decryption keeps after `data` went through it in
// 4096-byte chunks.
std::uint32_t Parse(const Bytes& data, Bytes& keyId, Bytes& signature) {
  ByteRing window(kWindowSize);
  for (std::size_t offset = 0; offset < data.size(); offset += 4096)
    window.Append(
        std::span(data).subspan(offset, std::min<std::size_t>(4096, data.size() - offset)));
  return ParseSeal(window.Contents(), keyId, signature);
}

struct SealCase {
  const char* name;
  Bytes data;
  std::uint32_t length;
  Bytes keyId = {};
  Bytes signature = {};
};

void PrintTo(const SealCase& c, std::ostream* os) { *os << c.name; }

class ParseSealTest : public ::testing::TestWithParam<SealCase> {};

TEST_P(ParseSealTest, RecognisesOnlyAWholeTrailerAtTheEnd) {
  Bytes keyId = {0xEE}, signature = {0xEE};
  EXPECT_EQ(Parse(GetParam().data, keyId, signature), GetParam().length);
  if (GetParam().length != 0) {
    EXPECT_EQ(keyId, GetParam().keyId);
    EXPECT_EQ(signature, GetParam().signature);
  }
}

// A trailer with explicit fields and no signing.
SealTrailerBuilder Trailer(Bytes keyId, Bytes signature) {
  return SealTrailerBuilder().KeyId(std::move(keyId)).Signature(std::move(signature));
}

std::vector<SealCase> SealCases() {
  const Bytes id = {0x0B, 0, 0, 0};
  const Bytes sig = Pattern(10, 9);
  const Bytes thirty = Trailer(id, sig).Build();  // 16 + 4 + 10 = 30 bytes
  const Bytes minimal = ByteWriter().Text("Seal").U16(1).U16(0).U16(0).Text("Seal").U16(16).Take();
  const Bytes body = Pattern(20000 - 30);
  return {
      {"Empty", {}, 0},
      {"NineBytes", ByteWriter().Fill(3, 1).Text("Seal").U16(9).Take(), 0},
      {"MinimalSixteenBytes", minimal, 16},
      {"MinimalAfterData", Concat(Pattern(100), minimal), 16},
      {"LengthZero", Concat(Pattern(100), ByteWriter().Text("Seal").U16(0).Take()), 0},
      {"ClosingTagWrong", Concat(Pattern(100), Trailer(id, sig).ClosingTag("seal").Build()), 0},
      {"OpeningTagWrong", Concat(Pattern(100), Trailer(id, sig).OpeningTag("Seel").Build()), 0},
      {"VersionTwo", Concat(Pattern(100), Trailer(id, sig).Version(2).Build()), 0},
      {"VersionBytes0001", Concat(Pattern(100), Trailer(id, sig).Version(0x0100).Build()), 0},
      {"LengthBeyondData", Trailer(id, sig).DeclaredLength(31).Build(), 0},
      {"LengthOne", Concat(Pattern(100), ByteWriter().Text("Seal").U16(1).Take()), 0},
      {"LengthSixReadsTheClosingTagAsOpening",
       Concat(Pattern(100), ByteWriter().Text("Seal").U16(6).Take()), 0},
      {"Plaintext20000With30ByteTrailer", Concat(body, thirty), 30, id, sig},
      {"LengthBeyondTheWindow",
       Concat(Pattern(20000 - 16),
              ByteWriter().Text("Seal").U16(1).U16(0).U16(0).Text("Seal").U16(9000).Take()),
       0},
      {"TrailerFillingTheWindow",
       Concat(Pattern(20000 - 8192), Trailer(id, Pattern(8192 - 20, 4)).Build()), 8192, id,
       Pattern(8192 - 20, 4)},
      {"TrailerOneLongerThanTheWindow",
       Concat(Pattern(20000 - 8193), Trailer(id, Pattern(8193 - 20, 4)).Build()), 0},
      {"KeyIdRunsPastTheEnd",
       Concat(Pattern(100), Trailer(id, sig).DeclaredKeyIdLength(100).Build()), 0},
      {"KeyIdRunsExactlyToTheEnd",
       Concat(Pattern(100), Trailer(id, sig).DeclaredKeyIdLength(30 - 8).Build()), 0},
      {"SignatureRunsPastTheEnd",
       Concat(Pattern(100), Trailer(id, sig).DeclaredSignatureLength(100).Build()), 0},
      {"SignatureOverlappingTheClosingTag",
       Concat(Pattern(100), Trailer(id, sig).DeclaredSignatureLength(10 + 6).Build()), 30, id,
       Concat(sig, ByteWriter().Text("Seal").U16(30).Take())},
      {"GapBeforeClosingTagIsSkipped",
       Concat(Pattern(100), Trailer(id, sig).Gap(Pattern(7, 2)).Build()), 37, id, sig},
      {"EmptyKeyIdAndSignature", Concat(Pattern(9000), Trailer({}, {}).Build()), 16},
  };
}

INSTANTIATE_TEST_SUITE_P(Windows, ParseSealTest, ::testing::ValuesIn(SealCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseSeal, ASignatureFieldPastTheEndLeavesTheKeyIdAlreadyCopied) {
  const Bytes data = Concat(
      Pattern(50),
      SealTrailerBuilder().KeyId({1, 2, 3}).Signature({4, 5}).DeclaredSignatureLength(500).Build());
  Bytes keyId, signature = {9};
  EXPECT_EQ(Parse(data, keyId, signature), 0u);
  EXPECT_EQ(keyId, (Bytes{1, 2, 3}));
  EXPECT_EQ(signature, (Bytes{9}));
}

}  // namespace
}  // namespace qve
