// SPDX-License-Identifier: Apache-2.0
// A container decrypted in memory: header, session key, payload and seal.
#include <gtest/gtest.h>

#include "decrypt/block_buffers.h"
#include "decrypt/crc32.h"
#include "decrypt/decrypt_stream.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"
#include "tools/writer/container_writer.h"

namespace qve {
namespace {

using namespace testing;
using QVE_Helper::DecryptResult;
constexpr auto S = QVE_Helper::Success;
constexpr auto H = QVE_Helper::HeaderInvalid;
constexpr auto K = QVE_Helper::SessionKeyUnavailable;

// kTwo ends right after its IV, at 43, and neither record is for key 10.
const Bytes kTwo = Container{
    .records = {{{.keyId = {1, 2, 3, 4}, .wrappedKey = {5, 6, 7}},
                 {.keyId = {8}, .wrappedKey = {9, 10}}}},
    .payload = Bytes{}}.Build();
const Container kPlain{.body = Pattern(100)};
const Bytes kKeyBlock = KeyBlock(kPlain.sessionKey);
const Record kGood = WrappedFor(kKeyId10, kKeyBlock);

// `records` then, for a header row, the record for key 10: a Success shows
// that the records before it were read to their exact end.
Bytes With(std::vector<Record> records, bool thenKey10 = true) {
  Container c = kPlain;
  if (thenKey10) records.push_back(kGood);
  c.records = records;
  return c.Build();
}

struct HeaderRow {
  const char* name;
  Bytes container;
  DecryptResult result;
};
class DecryptStreamHeader : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(DecryptStreamHeader, FieldsAndLimits) {
  const Decrypted d = DecryptBytes(GetParam().container);
  const bool ok = GetParam().result == S;
  EXPECT_EQ(d.result, GetParam().result);
  EXPECT_EQ(d.output, ok ? kPlain.Plaintext() : Bytes{});
  EXPECT_EQ(d.seal.length, ok ? 276u : 0u);
}

// clang-format off
const HeaderRow kHeaderRows[] = {
    {.name = "ThirtyTwoRecordsKey10Last", .container = With(std::vector<Record>(31, {.keyId = kKeyId11, .wrappedKey = {1}})), .result = S},
    {.name = "KeyId16384", .container = With({{.keyId = Bytes(16384, 1), .wrappedKey = {2}}}), .result = S},
    {.name = "WrappedKey4096", .container = With({{.keyId = {1}, .wrappedKey = Bytes(4096, 2)}}), .result = S},
    {.name = "EmptyKeyIdAndWrappedKey", .container = With({{}}), .result = S},
    {.name = "IvCutShort", .container = Head(kTwo, 42), .result = H},
    {.name = "EndsRightAfterTheIv", .container = kTwo, .result = K},
};
// clang-format on
QVE_ROWS(DecryptStreamHeader, kHeaderRows);

// Only the first record for key 10 counts; its block must be intact and hold
// at least the 32-byte key.
struct KeyRow {
  const char* name;
  std::vector<Record> records;
  bool ready = false;
};
class DecryptStreamSessionKey : public ::testing::TestWithParam<KeyRow> {};

TEST_P(DecryptStreamSessionKey, FirstRecordForKey10) {
  const Decrypted d = DecryptBytes(With(GetParam().records, false));
  EXPECT_EQ(d.result, GetParam().ready ? S : K);
  EXPECT_EQ(d.output, GetParam().ready ? kPlain.Plaintext() : Bytes{});
}

const Bytes kBigEndianCrc =
    Concat(kPlain.sessionKey, Bytes(kKeyBlock.rbegin(), kKeyBlock.rbegin() + 4));
// clang-format off
const KeyRow kKeyRows[] = {
    {.name = "ThreeByteId", .records = {WrappedFor({0x0A, 0, 0}, kKeyBlock)}},
    {.name = "OthersBeforeKey10", .records = {WrappedFor(kKeyId11, kKeyBlock), WrappedFor({0x0A, 0, 0}, kKeyBlock), kGood}, .ready = true},
    {.name = "FirstForKey10Undecryptable", .records = {{.keyId = kKeyId10, .wrappedKey = Pattern(256, 1)}, kGood}},
    {.name = "FirstForKey10WithABigEndianCrc", .records = {WrappedFor(kKeyId10, kBigEndianCrc), kGood}},
    {.name = "BlockOfThreeBytes", .records = {WrappedFor(kKeyId10, {0, 0, 0})}},
    {.name = "MaterialOneByteShort", .records = {WrappedFor(kKeyId10, KeyBlock(Head(kPlain.sessionKey, 31)))}},
    {.name = "MaterialLongerThanTheKey", .records = {WrappedFor(kKeyId10, KeyBlock(Concat(kPlain.sessionKey, Pattern(8))))}, .ready = true},
};
// clang-format on
QVE_ROWS(DecryptStreamSessionKey, kKeyRows);

// The seal is searched for in the last 8192 bytes; a bare trailer is 30.
const Bytes kSig = Pattern(10, 9);
Bytes Trailer(Seal s) {
  if (!s.signature) s.signature = kSig;
  return s.Build();
}
Bytes After(std::size_t n, const Bytes& trailer) { return Concat(Pattern(n), trailer); }
Bytes Length(std::uint32_t length) { return ByteBuilder().Tag("Seal").U16LE(length).Take(); }

struct SealRow {
  const char* name;
  Bytes plaintext;
  std::uint32_t length = 0;
  Bytes keyId = kKeyId11, signature = kSig;
};
class DecryptStreamSeal : public ::testing::TestWithParam<SealRow> {};

TEST_P(DecryptStreamSeal, WindowAndTrailer) {
  const SealRow& row = GetParam();
  const Decrypted d = DecryptBytes(Container{.body = row.plaintext, .seal = std::nullopt}.Build());
  ASSERT_EQ(d.result, S);
  EXPECT_EQ(d.output, row.plaintext);
  EXPECT_EQ(d.seal.length, row.length);
  if (row.length == 0) return;  // the fields of no seal are no caller's
  EXPECT_EQ(d.seal.keyId, row.keyId);
  EXPECT_EQ(d.seal.signature, row.signature);
}

// clang-format off
const SealRow kSealRows[] = {
    {.name = "Minimal16Bytes", .plaintext = ByteBuilder().Tag("Seal").U16LE(1).U16LE(0).U16LE(0).Tag("Seal").U16LE(16).Take(), .length = 16, .keyId = {}, .signature = {}},
    {.name = "Length1", .plaintext = After(100, Length(1))},
    {.name = "LengthBeyondTheData", .plaintext = Trailer({.length = 31})},
    {.name = "TrailerAfter20000Bytes", .plaintext = After(20000 - 30, Trailer({})), .length = 30},
    {.name = "TrailerOf8192FillsTheWindow", .plaintext = After(20000 - 8192, Trailer({.signature = Pattern(8172, 4)})),
     .length = 8192, .signature = Pattern(8172, 4)},
    {.name = "TrailerOf8193", .plaintext = After(20000 - 8193, Trailer({.signature = Pattern(8173, 4)}))},
    {.name = "SignatureOverTheClosingTag", .plaintext = After(100, Trailer({.signatureLength = 16})), .length = 30,
     .signature = Concat(kSig, Length(30))},
    {.name = "GapBeforeTheClosingTag", .plaintext = After(100, Trailer({.gap = Pattern(7, 2)})), .length = 37},
};
// clang-format on
QVE_ROWS(DecryptStreamSeal, kSealRows);

// 4095 bytes pad to a payload of 4096, whose last read delivers nothing.
TEST(DecryptStream, PayloadChunks) {
  const std::optional<Seal> none;
  // The update withholds the only block and producing nothing ends the loop.
  EXPECT_EQ(DecryptBytes(Container{.body = Pattern(9), .seal = none}.Build()).result, S);
  for (const Container& c :
       {Container{.body = Pattern(4095), .seal = none},
        Container{.body = Pattern(40959), .seal = none}, Container{.body = Pattern(8191 - 276)},
        Container{.payload = Bytes{}}}) {
    const Decrypted d = DecryptBytes(c.Build());
    EXPECT_EQ(d.result, S);
    EXPECT_EQ(d.output, c.payload ? Bytes{} : c.Plaintext()) << c.body.size();
    EXPECT_EQ(d.seal.length, c.seal && !c.payload ? 276u : 0u) << c.body.size();
  }
  // A cut payload loses its end and its seal.
  const Container full{.body = Pattern(10000)};
  const Bytes bytes = full.Build();
  const Decrypted d = DecryptBytes(Head(bytes, bytes.size() - 5));
  EXPECT_EQ(d.seal.length, 0u);
  EXPECT_GT(d.output.size(), 9000u);
  EXPECT_EQ(d.output, Head(full.Plaintext(), d.output.size()));
}

// Where recognising the seal stops, in plaintext offsets (the window starts
// at 1000 here).
TEST(ParseSealStop, SaysWhereItStops) {
  using F = SealField;
  using T = SealStatus;
  const std::pair<Bytes, SealStop> rows[] = {
      {Pattern(9), {{T::WindowTooShort, F::None, 1000, 9, 10}}},
      {Trailer({.close = "seal"}),
       {{T::NoClosingTag, F::ClosingTag, 1024, 0x7365616c, 0x5365616c}}},
      {After(4, Length(0)), {{T::LengthInvalid, F::Length, 1008, 0, 10}}},
      {Trailer({.open = "Seel"}), {{T::NoOpeningTag, F::OpeningTag, 1000, 0x5365656c, 0x5365616c}}},
      {Trailer({.version = 2}), {{T::VersionUnsupported, F::Version, 1004, 2, 1}}},
      {Trailer({.keyIdLength = 100}), {{T::KeyIdInvalid, F::KeyId, 1008, 100, 0, true, 22}}},
      {Trailer({.signatureLength = 100}),
       {{T::SignatureInvalid, F::Signature, 1014, 100, 0, true, 16}}},
      {After(100, Trailer({})), {{T::Found, F::None, 0, 0, 0}, 30}},
  };
  for (const auto& [window, stop] : rows) {
    Bytes keyId, signature;
    EXPECT_EQ(ParseSealStop(window, 1000, keyId, signature), stop) << stop.offset;
  }
}

// Records each hand-over to the file: whole blocks until the flush.
struct Sink : std::streambuf {
  std::vector<std::streamsize> handOvers;
  std::streamsize xsputn(const char*, std::streamsize n) override {
    handOvers.push_back(n);
    return n;
  }
};

TEST(BlockWriteBuffer, HandsOverWholeBlocksUntilTheFlush) {
  Sink sink;
  BlockWriteBuffer blocks(sink, 256);
  std::ostream out(&blocks);
  for (int i = 0; i < 10; ++i) out.write(std::string(100, 'x').data(), 100);
  EXPECT_EQ(sink.handOvers, (std::vector<std::streamsize>{256, 256, 256}));
  EXPECT_TRUE(out.flush().good());
  EXPECT_EQ(sink.handOvers, (std::vector<std::streamsize>{256, 256, 256, 232}));
}

TEST(Crc32, LibraryAgreesWithTheWritersBitwiseCrc) {
  const auto crc = [](const Bytes& b) {
    return Crc32Update(kCrc32Start, b.data(), b.size()) ^ 0xFFFFFFFFu;
  };
  EXPECT_EQ(crc(BytesOf("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc({}), 0u);
  const Bytes data = Pattern(4097, 17);
  EXPECT_EQ(crc(data), writer::Crc32(data));
}

}  // namespace
}  // namespace qve
