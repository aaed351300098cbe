// SPDX-License-Identifier: Apache-2.0
// A container decrypted in memory: header, session key, payload chunks and the
// seal window, each row judged by what DecryptStream returns and writes.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

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

// Offsets of `two`: magic 0, version 4, N 6, record 1 at 7 (tag 7, K 8,
// keyId 10, W 14, key 16), record 2 at 19 (K 20, keyId 22, W 23, key 25),
// IV 27, end 43. Neither record is for key 10.
TEST(DecryptStream, HeaderFieldsAndLimits) {
  const Container two{.records = {{{.keyId = {1, 2, 3, 4}, .wrappedKey = {5, 6, 7}},
                                   {.keyId = {8}, .wrappedKey = {9, 10}}}},
                      .payload = Bytes{}};
  const Bytes twoBytes = two.Build();
  const auto cut = [&](std::size_t n) { return Head(twoBytes, n); };
  const Container plain{.body = Pattern(100)};
  const Record key10 = WrappedFor(kKeyId10, KeyBlock(plain.sessionKey));
  // `record` first, then the record for key 10: a Success shows that the
  // first one was read to its exact end.
  const auto before = [&](Record record) {
    Container c = plain;
    c.records = {record, key10};
    return c.Build();
  };
  std::vector<Record> thirtyTwo(31, {.keyId = kKeyId11, .wrappedKey = {1}});
  thirtyTwo.push_back(key10);
  const struct {
    const char* name;
    Bytes container;
    DecryptResult expected;
  } rows[] = {
      {"two records", two.Build(), K},
      {"empty", {}, H},
      {"shorter than the magic", cut(3), H},
      {"wrong magic", Container{.magic = "QVEZ"}.Build(), H},
      {"lower-case magic", Container{.magic = "qves"}.Build(), H},
      {"version cut", cut(5), H},
      {"version 2", Container{.version = 2}.Build(), H},
      {"version bytes 00 01", Container{.version = 0x0100}.Build(), H},
      {"version 0", Container{.version = 0}.Build(), H},
      {"count missing", cut(6), H},
      {"count 33", Container{.count = 33}.Build(), H},
      {"count 255", Container{.count = 255}.Build(), H},
      {"32 records, key 10 last", Container{.records = thirtyTwo, .body = plain.body}.Build(), S},
      {"tag missing", cut(7), H},
      {"lower-case tag", before({.tag = 'p', .keyId = {1}, .wrappedKey = {2}}), H},
      {"second record's tag wrong", Container{.records = {{key10, {.tag = 'Q'}}}}.Build(), H},
      {"key id length missing", cut(8), H},
      {"key id length half", cut(9), H},
      {"key id 16385", before({.keyId = Bytes(16385, 1), .wrappedKey = {2}}), H},
      {"key id 16384", before({.keyId = Bytes(16384, 1), .wrappedKey = {2}}), S},
      {"key id cut", cut(13), H},
      {"key id past the end",
       Container{.records = {{{.keyId = {1}, .keyIdLength = 100}}}, .payload = Bytes{}}.Build(), H},
      {"wrapped key length missing", cut(14), H},
      {"wrapped key length half", cut(15), H},
      {"wrapped key 4097", before({.keyId = {1}, .wrappedKey = Bytes(4097, 2)}), H},
      {"wrapped key 4096", before({.keyId = {1}, .wrappedKey = Bytes(4096, 2)}), S},
      {"wrapped key cut", cut(18), H},
      {"wrapped key past the end",
       Container{.records = {{{.wrappedKeyLength = 100}}}, .payload = Bytes{}}.Build(), H},
      {"second record's wrapped key cut", cut(26), H},
      {"empty key id and wrapped key", before({}), S},
      {"IV missing", cut(27), H},
      {"IV cut short", cut(42), H},
      {"ends right after the IV", cut(43), K},
      {"no records", Container{.records = std::vector<Record>{}}.Build(), K},
  };
  for (const auto& row : rows) {
    const Decrypted d = DecryptBytes(row.container);
    EXPECT_EQ(d.result, row.expected) << row.name;
    EXPECT_EQ(d.output, row.expected == S ? plain.Plaintext() : Bytes{}) << row.name;
    EXPECT_EQ(d.seal.length, row.expected == S ? 276u : 0u) << row.name;
  }
}

// Only the first record for key 10 counts; its block must be intact and hold
// at least the 32-byte key.
TEST(DecryptStream, SessionKeyRecords) {
  const Container base{.body = Pattern(100)};
  const Bytes key = base.sessionKey, block = KeyBlock(key);
  const Bytes crc(block.end() - 4, block.end());
  const auto withCrc = [&](Bytes c) { return WrappedFor(kKeyId10, Concat(key, c)); };
  const Record good = WrappedFor(kKeyId10, block),
               garbage{.keyId = kKeyId10, .wrappedKey = Pattern(256, 1)};
  const struct {
    const char* name;
    std::vector<Record> records;
    bool ready;
  } rows[] = {
      {"one record for key 10", {good}, true},
      {"only key 11", {WrappedFor(kKeyId11, block)}, false},
      {"three-byte id", {WrappedFor({0x0A, 0, 0}, block)}, false},
      {"five-byte id", {WrappedFor({0x0A, 0, 0, 0, 0}, block)}, false},
      {"others before key 10",
       {WrappedFor(kKeyId11, block), WrappedFor({0x0A, 0, 0}, block), good},
       true},
      {"first for key 10 undecryptable", {garbage, good}, false},
      {"first for key 10 with a big-endian CRC",
       {withCrc(Bytes(crc.rbegin(), crc.rend())), good},
       false},
      {"first for key 10 empty", {{.keyId = kKeyId10}, good}, false},
      {"second for key 10 corrupt", {good, garbage}, true},
      {"CRC one bit off",
       {withCrc(Bytes{std::uint8_t(crc[0] ^ 1), crc[1], crc[2], crc[3]})},
       false},
      {"wrapped for another RSA key",
       {WrappedFor(kKeyId10, block, DevVerificationPublicKey())},
       false},
      {"block of three bytes", {WrappedFor(kKeyId10, {0, 0, 0})}, false},
      {"intact block without key material", {WrappedFor(kKeyId10, {0, 0, 0, 0})}, false},
      {"material one byte short", {WrappedFor(kKeyId10, KeyBlock(Head(key, 31)))}, false},
      {"material longer than the key",
       {WrappedFor(kKeyId10, KeyBlock(Concat(key, Pattern(8))))},
       true},
  };
  for (const auto& row : rows) {
    Container c = base;
    c.records = row.records;
    const Decrypted d = DecryptBytes(c.Build());
    EXPECT_EQ(d.result, row.ready ? S : K) << row.name;
    EXPECT_EQ(d.output, row.ready ? c.Plaintext() : Bytes{}) << row.name;
  }
}

// The plaintext's last 8192 bytes are searched for a trailer ending exactly
// at its end. Each row is a whole plaintext, sealed by no one.
TEST(DecryptStream, SealWindow) {
  const Bytes id = kKeyId11, sig = Pattern(10, 9);
  const auto trailer = [&](Seal s) {
    if (!s.signature) s.signature = sig;
    return s.Build();
  };
  const Bytes minimal =
      ByteBuilder().Tag("Seal").U16LE(1).U16LE(0).U16LE(0).Tag("Seal").U16LE(16).Take();
  const Bytes bare = trailer({});  // 16 + 4 + 10 = 30 bytes
  const auto after = [](std::size_t n, const Bytes& t) { return Concat(Pattern(n), t); };
  const struct {
    const char* name;
    Bytes plaintext;
    std::uint32_t length;
    Bytes keyId = {};
    Bytes signature = {};
  } rows[] = {
      {"empty", {}, 0},
      {"minimal 16 bytes", minimal, 16},
      {"minimal after data", after(100, minimal), 16},
      {"length 0", after(100, ByteBuilder().Tag("Seal").U16LE(0).Take()), 0},
      {"length 1", after(100, ByteBuilder().Tag("Seal").U16LE(1).Take()), 0},
      {"length 6 reads the closing tag as opening",
       after(100, ByteBuilder().Tag("Seal").U16LE(6).Take()), 0},
      {"closing tag wrong", after(100, trailer({.close = "seal"})), 0},
      {"opening tag wrong", after(100, trailer({.open = "Seel"})), 0},
      {"version 2", after(100, trailer({.version = 2})), 0},
      {"version bytes 00 01", after(100, trailer({.version = 0x0100})), 0},
      {"length beyond the data", trailer({.length = 31}), 0},
      {"20000 bytes with a 30-byte trailer", after(20000 - 30, bare), 30, id, sig},
      {"length beyond the window",
       after(20000 - 16,
             ByteBuilder().Tag("Seal").U16LE(1).U16LE(0).U16LE(0).Tag("Seal").U16LE(9000).Take()),
       0},
      {"trailer of 8192 fills the window",
       after(20000 - 8192, trailer({.signature = Pattern(8172, 4)})), 8192, id, Pattern(8172, 4)},
      {"trailer of 8193", after(20000 - 8193, trailer({.signature = Pattern(8173, 4)})), 0},
      {"key id past the end", after(100, trailer({.keyIdLength = 100})), 0},
      {"key id exactly to the end", after(100, trailer({.keyIdLength = 22})), 0},
      {"signature past the end", after(100, trailer({.signatureLength = 100})), 0},
      {"signature over the closing tag", after(100, trailer({.signatureLength = 16})), 30, id,
       Concat(sig, ByteBuilder().Tag("Seal").U16LE(30).Take())},
      {"gap before the closing tag", after(100, trailer({.gap = Pattern(7, 2)})), 37, id, sig},
      {"empty key id and signature", after(9000, trailer({.keyId = {}, .signature = Bytes{}})), 16},
  };
  for (const auto& row : rows) {
    const Decrypted d =
        DecryptBytes(Container{.body = row.plaintext, .seal = std::nullopt}.Build());
    ASSERT_EQ(d.result, S) << row.name;
    EXPECT_EQ(d.output, row.plaintext) << row.name;
    EXPECT_EQ(d.seal.length, row.length) << row.name;
    if (row.length == 0) continue;  // the fields of no seal are no caller's
    EXPECT_EQ(d.seal.keyId, row.keyId) << row.name;
    EXPECT_EQ(d.seal.signature, row.signature) << row.name;
  }
}

// With PKCS#7 padding a plaintext of 4096m - 1 bytes gives a payload of
// exactly 4096m bytes, whose last read delivers nothing.
TEST(DecryptStream, PayloadChunks) {
  const Container sealed{.body = Pattern(8191 - 276)};  // 8192-byte payload
  Bytes otherKey = Container{.sessionKey = Pattern(32, 200), .body = Pattern(500)}.Build();
  otherKey.erase(otherKey.begin(), otherKey.begin() + long(sealed.Header().size()));
  const Bytes full = Container{.body = Pattern(10000)}.Build();
  const struct {
    const char* name;
    Bytes container;
    std::optional<Bytes> output;  // garbage under another key
    std::uint32_t seal;
  } rows[] = {
      {"trailer ending exact chunks", sealed.Build(), sealed.Plaintext(), 276},
      {"empty payload", Container{.payload = Bytes{}}.Build(), {}, 0},
      // The update withholds the only block and producing nothing ends the loop.
      {"one block", Container{.body = Pattern(9), .seal = std::nullopt}.Build(), {}, 0},
      {"payload under another key", Concat(Container{.body = Pattern(500)}.Header(), otherKey),
       std::nullopt, 0},
  };
  for (const std::size_t size : {4095u, 4096u, 4097u, 8191u, 12287u, 40959u}) {
    const Decrypted d =
        DecryptBytes(Container{.body = Pattern(size), .seal = std::nullopt}.Build());
    EXPECT_EQ(d.output, Pattern(size)) << size;
  }
  for (const auto& row : rows) {
    const Decrypted d = DecryptBytes(row.container);
    EXPECT_EQ(d.result, S) << row.name;
    if (row.output) {
      EXPECT_EQ(d.output, *row.output) << row.name;
    }
    EXPECT_EQ(d.seal.length, row.seal) << row.name;
  }
  // A cut payload loses its end and its seal.
  const Decrypted d = DecryptBytes(Head(full, full.size() - 5));
  EXPECT_EQ(d.seal.length, 0u);
  EXPECT_GT(d.output.size(), 9000u);
  EXPECT_EQ(d.output, Head(Container{.body = Pattern(10000)}.Plaintext(), d.output.size()));
}

// Where recognising the seal stops, in plaintext offsets (the window starts
// at 1000 here). `bare` is 30 bytes: key id 4, signature 10.
TEST(ParseSealStop, SaysWhereItStops) {
  using S = SealStatus;
  using F = SealField;
  const auto trailer = [](Seal s) {
    if (!s.signature) s.signature = Pattern(10, 9);
    return s.Build();
  };
  const Bytes body = Pattern(100);
  const struct {
    const char* name;
    Bytes window;
    SealStop stop;
  } rows[] = {
      {"nine bytes", Pattern(9), {{S::WindowTooShort, F::None, 1000, 9, 10}}},
      {"closing tag",
       trailer({.close = "seal"}),
       {{S::NoClosingTag, F::ClosingTag, 1024, 0x7365616c, 0x5365616c}}},
      {"length 0",
       Concat(body, ByteBuilder().Tag("Seal").U16LE(0).Take()),
       {{S::LengthInvalid, F::Length, 1104, 0, 106}}},
      {"opening tag",
       trailer({.open = "Seel"}),
       {{S::NoOpeningTag, F::OpeningTag, 1000, 0x5365656c, 0x5365616c}}},
      {"version 2", trailer({.version = 2}), {{S::VersionUnsupported, F::Version, 1004, 2, 1}}},
      {"key id past the end",
       trailer({.keyIdLength = 100}),
       {{S::KeyIdInvalid, F::KeyId, 1008, 100, 0, true, 22}}},
      {"signature past the end",
       trailer({.signatureLength = 100}),
       {{S::SignatureInvalid, F::Signature, 1014, 100, 0, true, 16}}},
      {"found", Concat(body, trailer({})), {{S::Found, F::None, 0, 0, 0}, 30}},
  };
  for (const auto& row : rows) {
    Bytes keyId, signature;
    EXPECT_EQ(ParseSealStop(row.window, 1000, keyId, signature), row.stop) << row.name;
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
  const auto crc = [](const Bytes& b, std::size_t step) {
    std::uint32_t value = kCrc32Start;
    for (std::size_t at = 0; at < b.size(); at += step)
      value = Crc32Update(value, b.data() + at, std::min(step, b.size() - at));
    return value ^ 0xFFFFFFFFu;
  };
  EXPECT_EQ(writer::Crc32(BytesOf("123456789")), 0xCBF43926u);
  EXPECT_EQ(crc({}, 1), 0u);
  for (const std::size_t size : {1u, 3u, 255u, 256u, 4097u}) {
    const Bytes data = Pattern(size, 17);
    EXPECT_EQ(crc(data, 7), writer::Crc32(data)) << size;
    EXPECT_EQ(crc(data, size), writer::Crc32(data)) << size;
  }
  EXPECT_EQ(writer::KeyBlock(BytesOf("123456789")),
            ByteBuilder().Tag("123456789").U32LE(0xCBF43926).Take());
  EXPECT_EQ(writer::EncodeSeal({.keyId = kKeyId11, .signature = {7, 8}}),
            BytesOf(std::string("Seal\x01\0\x04\0\x0B\0\0\0\x02\0\x07\x08Seal\x16\0", 22)));
}

}  // namespace
}  // namespace qve
