#include "decrypt/container_header.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"

namespace qve {
namespace {

using testing::ContainerBuilder;
using testing::RecipientRecord;

RecipientRecord Record(Bytes keyId, Bytes wrappedKey) {
  return RecipientRecord().KeyId(std::move(keyId)).WrappedKey(std::move(wrappedKey));
}

// A header with two small records and no payload. Offsets: magic 0,
// version 4, N 6, record 1 at 7 (tag 7, K 8, keyId 10, W 14, key 16),
// record 2 at 19 (tag 19, K 20, keyId 22, W 23, key 25), IV 27, end 43.
ContainerBuilder TwoRecords() {
  return ContainerBuilder()
      .Recipient(Record({1, 2, 3, 4}, {5, 6, 7}))
      .Recipient(Record({8}, {9, 10}))
      .RawPayload({});
}

Bytes Cut(const ContainerBuilder& builder, std::size_t size) {
  return ContainerBuilder(builder).TruncateTo(size).Build();
}

struct HeaderCase {
  const char* name;
  Bytes container;
  HeaderStatus expected;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class ReadHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ReadHeaderTest, StopsWithTheCodeOfTheFirstBadField) {
  const Bytes& bytes = GetParam().container;
  std::istringstream input(std::string(bytes.begin(), bytes.end()));
  std::array<std::uint8_t, 16> iv{};
  std::vector<RecipientEntry> recipients;
  EXPECT_EQ(ReadHeader(input, iv, recipients), GetParam().expected);
}

std::vector<HeaderCase> HeaderCases() {
  const ContainerBuilder two = TwoRecords();
  const auto withRecord = [](RecipientRecord record) {
    return ContainerBuilder().Recipient(std::move(record)).RawPayload({}).Build();
  };
  std::vector<RecipientRecord> thirtyTwo(32, Record({0x0A, 0, 0, 0}, {1}));
  ContainerBuilder full;
  for (auto& r : thirtyTwo) full.Recipient(r);
  return {
      {"Complete", two.Build(), HeaderStatus::Complete},
      {"Empty", {}, HeaderStatus::MagicVersionOrIvUnreadable},
      {"ShorterThanMagic", Cut(two, 3), HeaderStatus::MagicVersionOrIvUnreadable},
      {"WrongMagic", ContainerBuilder().Magic("QVEZ").Build(),
       HeaderStatus::MagicVersionOrIvUnreadable},
      {"LowerCaseMagic", ContainerBuilder().Magic("qves").Build(),
       HeaderStatus::MagicVersionOrIvUnreadable},
      {"VersionCut", Cut(two, 5), HeaderStatus::MagicVersionOrIvUnreadable},
      {"VersionTwo", ContainerBuilder().Version(2).Build(), HeaderStatus::VersionUnsupported},
      {"VersionBytes0001", ContainerBuilder().Version(0x0100).Build(),
       HeaderStatus::VersionUnsupported},
      {"VersionZero", ContainerBuilder().Version(0).Build(), HeaderStatus::VersionUnsupported},
      {"CountMissing", Cut(two, 6), HeaderStatus::Truncated},
      {"Count33", ContainerBuilder().DeclaredRecipientCount(33).Build(),
       HeaderStatus::TooManyRecipients},
      {"Count255", ContainerBuilder().DeclaredRecipientCount(255).Build(),
       HeaderStatus::TooManyRecipients},
      {"Count32", full.RawPayload({}).Build(), HeaderStatus::Complete},
      {"TagMissing", Cut(two, 7), HeaderStatus::Truncated},
      {"LowerCaseTag", withRecord(Record({1}, {2}).Tag(0x70)), HeaderStatus::BadRecipientTag},
      {"SecondRecordTagWrong",
       ContainerBuilder().Recipient(Record({1}, {2})).Recipient(RecipientRecord().Tag('Q')).Build(),
       HeaderStatus::BadRecipientTag},
      {"KeyIdLengthMissing", Cut(two, 8), HeaderStatus::KeyIdLengthInvalid},
      {"KeyIdLengthHalf", Cut(two, 9), HeaderStatus::KeyIdLengthInvalid},
      {"KeyIdLength16385", withRecord(Record(Bytes(16385, 1), {2})),
       HeaderStatus::KeyIdLengthInvalid},
      {"KeyIdLength16384", withRecord(Record(Bytes(16384, 1), {2})), HeaderStatus::Complete},
      {"KeyIdCut", Cut(two, 13), HeaderStatus::Truncated},
      {"KeyIdPastEndWithinLimit", withRecord(Record({1}, {}).DeclaredKeyIdLength(100)),
       HeaderStatus::Truncated},
      {"WrappedKeyPastEndWithinLimit", withRecord(Record({1}, {2}).DeclaredWrappedKeyLength(100)),
       HeaderStatus::Truncated},
      {"WrappedKeyLengthMissing", Cut(two, 14), HeaderStatus::WrappedKeyLengthInvalid},
      {"WrappedKeyLengthHalf", Cut(two, 15), HeaderStatus::WrappedKeyLengthInvalid},
      {"WrappedKeyLength4097", withRecord(Record({1}, Bytes(4097, 2))),
       HeaderStatus::WrappedKeyLengthInvalid},
      {"WrappedKeyLength4096", withRecord(Record({1}, Bytes(4096, 2))), HeaderStatus::Complete},
      {"WrappedKeyCut", Cut(two, 18), HeaderStatus::Truncated},
      {"SecondRecordWrappedKeyCut", Cut(two, 26), HeaderStatus::Truncated},
      {"EmptyKeyIdAndWrappedKey", withRecord(Record({}, {})), HeaderStatus::Complete},
      {"IvMissing", Cut(two, 27), HeaderStatus::MagicVersionOrIvUnreadable},
      {"IvCutShort", Cut(two, 42), HeaderStatus::MagicVersionOrIvUnreadable},
      {"EndsRightAfterIv", Cut(two, 43), HeaderStatus::Complete},
      {"NoRecipients", ContainerBuilder().NoRecipients().RawPayload({}).Build(),
       HeaderStatus::Complete},
  };
}

INSTANTIATE_TEST_SUITE_P(Codes, ReadHeaderTest, ::testing::ValuesIn(HeaderCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadHeader, CodesKeepTheirNumbers) {
  EXPECT_EQ(static_cast<int>(HeaderStatus::Complete), 0);
  EXPECT_EQ(static_cast<int>(HeaderStatus::MagicVersionOrIvUnreadable), 1);
  EXPECT_EQ(static_cast<int>(HeaderStatus::VersionUnsupported), 2);
  EXPECT_EQ(static_cast<int>(HeaderStatus::Truncated), 3);
  EXPECT_EQ(static_cast<int>(HeaderStatus::TooManyRecipients), 4);
  EXPECT_EQ(static_cast<int>(HeaderStatus::BadRecipientTag), 5);
  EXPECT_EQ(static_cast<int>(HeaderStatus::KeyIdLengthInvalid), 6);
  EXPECT_EQ(static_cast<int>(HeaderStatus::WrappedKeyLengthInvalid), 7);
}

TEST(ReadHeader, FillsRecordsInFileOrderAndStopsAtTheFirstPayloadByte) {
  const Bytes iv = testing::Pattern(16, 3);
  const Bytes bytes = TwoRecords().Iv(iv).RawPayload({0xC1, 0xC2}).Build();
  std::istringstream input(std::string(bytes.begin(), bytes.end()));
  std::array<std::uint8_t, 16> readIv{};
  std::vector<RecipientEntry> recipients = {RecipientEntry{{7}, {7}}};

  ASSERT_EQ(ReadHeader(input, readIv, recipients), HeaderStatus::Complete);
  ASSERT_EQ(recipients.size(), 2u);
  EXPECT_EQ(recipients[0].keyId, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(recipients[0].wrappedKey, (Bytes{5, 6, 7}));
  EXPECT_EQ(recipients[1].keyId, (Bytes{8}));
  EXPECT_EQ(recipients[1].wrappedKey, (Bytes{9, 10}));
  EXPECT_EQ(Bytes(readIv.begin(), readIv.end()), iv);
  EXPECT_EQ(input.get(), 0xC1);
}

TEST(ReadHeader, NoRecipientsLeavesTheListEmptyAndReadsTheIvAtOffsetSeven) {
  const Bytes iv = testing::Pattern(16, 5);
  const Bytes bytes = ContainerBuilder().NoRecipients().Iv(iv).RawPayload({}).Build();
  ASSERT_EQ(bytes.size(), 7u + 16u);
  std::istringstream input(std::string(bytes.begin(), bytes.end()));
  std::array<std::uint8_t, 16> readIv{};
  std::vector<RecipientEntry> recipients = {RecipientEntry{{1}, {1}}};
  ASSERT_EQ(ReadHeader(input, readIv, recipients), HeaderStatus::Complete);
  EXPECT_TRUE(recipients.empty());
  EXPECT_EQ(Bytes(readIv.begin(), readIv.end()), iv);
}

TEST(ReadHeader, KeepsTheRecordsAppendedBeforeAFailure) {
  const Bytes bytes = Cut(TwoRecords(), 24);  // second record's W cut short
  std::istringstream input(std::string(bytes.begin(), bytes.end()));
  std::array<std::uint8_t, 16> iv{};
  std::vector<RecipientEntry> recipients;
  ASSERT_EQ(ReadHeader(input, iv, recipients), HeaderStatus::WrappedKeyLengthInvalid);
  ASSERT_EQ(recipients.size(), 2u);
  EXPECT_EQ(recipients[1].keyId, (Bytes{8}));
  EXPECT_TRUE(recipients[1].wrappedKey.empty());
}

TEST(ReadHeader, AFailedStreamIsUnreadable) {
  const Bytes bytes = TwoRecords().Build();
  std::istringstream input(std::string(bytes.begin(), bytes.end()));
  input.setstate(std::ios::failbit);
  std::array<std::uint8_t, 16> iv{};
  std::vector<RecipientEntry> recipients;
  EXPECT_EQ(ReadHeader(input, iv, recipients), HeaderStatus::MagicVersionOrIvUnreadable);
}

}  // namespace
}  // namespace qve
