#include "decrypt/session_key.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "decrypt/crc32.h"
#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"
#include "tests/support/dev_keys.h"
#include "tools/writer/container_writer.h"

namespace qve {
namespace {

using testing::BytesOf;
using testing::ContainerBuilder;
using testing::KeyBlock;
using testing::KeyBlockWithCrcBytes;
using testing::kKeyId10;
using testing::kKeyId11;
using testing::Pattern;
using testing::RecipientRecord;
using testing::WrappedFor;

std::uint32_t Crc32(const Bytes& bytes) {
  return Crc32Update(kCrc32Start, bytes.data(), bytes.size()) ^ 0xFFFFFFFFu;
}

TEST(Crc32, IsTheIeeeChecksumOnceStartedAndInverted) {
  EXPECT_EQ(Crc32(BytesOf("123456789")), 0xCBF43926u);
  EXPECT_EQ(Crc32({}), 0u);
  EXPECT_EQ(Crc32(BytesOf("a")), 0xE8B7BE43u);
}

TEST(Crc32, UpdateAppliesNeitherStartValueNorInversion) {
  const std::uint8_t one = 0x01, top = 0x80;
  // From 0, one byte gives the table entry at that byte: the reflected table.
  EXPECT_EQ(Crc32Update(0, &one, 1), 0x77073096u);
  EXPECT_EQ(Crc32Update(0, &top, 1), 0xEDB88320u);
  EXPECT_EQ(Crc32Update(0x12345678, nullptr, 0), 0x12345678u);
}

TEST(Crc32, PiecewiseUpdatesMatchOneUpdateAndAnIndependentBitwiseCrc) {
  for (const std::size_t size : {1u, 3u, 255u, 256u, 4097u}) {
    const Bytes data = Pattern(size, 17);
    std::uint32_t crc = kCrc32Start;
    for (std::size_t offset = 0; offset < size; offset += 7)
      crc = Crc32Update(crc, data.data() + offset, std::min<std::size_t>(7, size - offset));
    EXPECT_EQ(crc ^ 0xFFFFFFFFu, Crc32(data)) << size;
    EXPECT_EQ(Crc32(data), writer::Crc32(data)) << size;
  }
}

TEST(KeyBlockIntact, StoresTheCrcLeastSignificantByteFirst) {
  const Bytes digits = BytesOf("123456789");  // CRC CB F4 39 26
  const struct {
    const char* name;
    Bytes block;
    bool intact;
  } cases[] = {
      {"LittleEndianCrc", KeyBlockWithCrcBytes(digits, {0x26, 0x39, 0xF4, 0xCB}), true},
      {"BigEndianCrc", KeyBlockWithCrcBytes(digits, {0xCB, 0xF4, 0x39, 0x26}), false},
      {"OneBitOff", KeyBlockWithCrcBytes(digits, {0x27, 0x39, 0xF4, 0xCB}), false},
      {"FourBytesZeroCrc", {0, 0, 0, 0}, true},
      {"FourBytesOtherCrc", {1, 0, 0, 0}, false},
      {"ThreeBytes", {0, 0, 0}, false},
      {"Empty", {}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(KeyBlockIntact(c.block), c.intact) << c.name;
}

// The header of `builder` read into a context, then unwrapped with the
// built-in key. On success the payload is decrypted with the context's
// cipher so that the test sees which key it was set up with.
struct Unwrapped {
  bool ready = false;
  Bytes plaintext;
};

Unwrapped Unwrap(const ContainerBuilder& builder) {
  const Bytes bytes = builder.Build();
  std::istringstream input(std::string(bytes.begin(), bytes.end()));
  DecryptionContext context;
  context.iv.resize(16);
  EXPECT_EQ(ReadHeader(input, context.iv, context.recipients), HeaderStatus::Complete);
  const DecryptionKey key;
  Unwrapped result;
  result.ready = UnwrapSessionKey(context, key);
  if (!result.ready) return result;
  const std::string payload(std::istreambuf_iterator<char>(input), {});
  Bytes out(payload.size() + 16);
  int updated = 0, finished = 0;
  EVP_DecryptUpdate(context.cipherContext.get(), out.data(), &updated,
                    reinterpret_cast<const std::uint8_t*>(payload.data()),
                    static_cast<int>(payload.size()));
  if (EVP_DecryptFinal_ex(context.cipherContext.get(), out.data() + updated, &finished) != 1)
    return result;
  out.resize(static_cast<std::size_t>(updated + finished));
  result.plaintext = out;
  return result;
}

struct UnwrapCase {
  const char* name;
  std::vector<RecipientRecord> records;
  bool ready;
};

void PrintTo(const UnwrapCase& c, std::ostream* os) { *os << c.name; }

class UnwrapSessionKeyTest : public ::testing::TestWithParam<UnwrapCase> {};

TEST_P(UnwrapSessionKeyTest, TakesOnlyTheFirstRecordForKey10) {
  ContainerBuilder builder;
  builder.Body(Pattern(100)).NoRecipients();
  for (const auto& record : GetParam().records) builder.Recipient(record);
  const Unwrapped unwrapped = Unwrap(builder);
  EXPECT_EQ(unwrapped.ready, GetParam().ready);
  if (GetParam().ready) {
    EXPECT_EQ(unwrapped.plaintext, builder.Plaintext());
  }
}

std::vector<UnwrapCase> UnwrapCases() {
  const Bytes sessionKey = ContainerBuilder().sessionKey();
  const Bytes block = KeyBlock(sessionKey);
  const auto key10 = [&] { return WrappedFor(kKeyId10, block); };
  const auto withCrc = [&](Bytes crc) {
    return WrappedFor(kKeyId10, KeyBlockWithCrcBytes(sessionKey, crc));
  };
  const Bytes crc = KeyBlock(sessionKey);
  const Bytes crcLe(crc.end() - 4, crc.end());
  const Bytes crcBe(crcLe.rbegin(), crcLe.rend());
  Bytes longer = sessionKey;
  longer.insert(longer.end(), {1, 2, 3, 4, 5, 6, 7, 8});
  const Bytes garbage = Pattern(256, 1);
  return {
      {"OneRecordForKey10", {key10()}, true},
      {"NoRecords", {}, false},
      {"OnlyKey11", {WrappedFor(kKeyId11, block)}, false},
      {"ThreeByteId", {WrappedFor({0x0A, 0, 0}, block)}, false},
      {"FiveByteId", {WrappedFor({0x0A, 0, 0, 0, 0}, block)}, false},
      {"OthersBeforeKey10",
       {WrappedFor(kKeyId11, block), WrappedFor({0x0A, 0, 0}, block), key10()},
       true},
      {"FirstKey10Undecryptable",
       {RecipientRecord().KeyId(kKeyId10).WrappedKey(garbage), key10()},
       false},
      {"FirstKey10BadCrc", {withCrc(crcBe), key10()}, false},
      {"FirstKey10EmptyWrappedKey", {RecipientRecord().KeyId(kKeyId10), key10()}, false},
      {"FirstKey10GoodSecondCorrupt",
       {key10(), RecipientRecord().KeyId(kKeyId10).WrappedKey(garbage)},
       true},
      {"CrcLittleEndian", {withCrc(crcLe)}, true},
      {"CrcBigEndian", {withCrc(crcBe)}, false},
      {"WrappedForAnotherRsaKey",
       {WrappedFor(kKeyId10, block, testing::DevVerificationPublicKey())},
       false},
      {"KeyBlockThreeBytes", {WrappedFor(kKeyId10, {0, 0, 0})}, false},
      // Intact, but no key material at all: refused, not keyed from beyond it.
      {"KeyBlockFourBytesZeroCrc", {WrappedFor(kKeyId10, {0, 0, 0, 0})}, false},
      {"MaterialOneByteShortOfTheKey",
       {WrappedFor(kKeyId10, KeyBlock(Bytes(sessionKey.begin(), sessionKey.end() - 1)))},
       false},
      {"MaterialLongerThanTheKey", {WrappedFor(kKeyId10, KeyBlock(longer))}, true},
  };
}

INSTANTIATE_TEST_SUITE_P(Records, UnwrapSessionKeyTest, ::testing::ValuesIn(UnwrapCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qve
