#include "decrypt/decrypt_stream.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "tests/support/container_builder.h"

namespace qve {
namespace {

using QVE_Helper::DecryptResult;
using testing::ContainerBuilder;
using testing::kKeyId10;
using testing::kKeyId11;
using testing::Pattern;
using testing::SealTrailerBuilder;
using testing::WrappedFor;

struct Decrypted {
  DecryptResult result;
  Bytes output;
  SealInfo seal;
};

// A seal left over from an earlier call, so each test sees it cleared.
SealInfo StaleSeal() { return SealInfo{.length = 99, .keyId = {1}, .signature = {2}}; }

Decrypted DecryptAll(const Bytes& container) {
  std::istringstream input(std::string(container.begin(), container.end()));
  std::ostringstream output;
  Decrypted d{QVE_Helper::Success, {}, StaleSeal()};
  d.result = DecryptStream(input, output, d.seal);
  const std::string written = output.str();
  d.output.assign(written.begin(), written.end());
  return d;
}

TEST(DecryptStream, AMalformedHeaderWritesNothing) {
  const Decrypted d = DecryptAll(ContainerBuilder().Body(Pattern(5000)).Magic("QVEZ").Build());
  EXPECT_EQ(d.result, QVE_Helper::HeaderInvalid);
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(d.seal.length, 0u);
  EXPECT_TRUE(d.seal.keyId.empty());
  EXPECT_TRUE(d.seal.signature.empty());
}

TEST(DecryptStream, RecordsForOtherKeysOnlyWriteNothing) {
  const Bytes block = testing::KeyBlock(ContainerBuilder().sessionKey());
  const Decrypted d = DecryptAll(ContainerBuilder()
                                     .Body(Pattern(5000))
                                     .Recipient(WrappedFor(kKeyId11, block))
                                     .Recipient(WrappedFor({0x0A, 0, 0}, block))
                                     .Build());
  EXPECT_EQ(d.result, QVE_Helper::SessionKeyUnavailable);
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(d.seal.length, 0u);
}

TEST(DecryptStream, WritesTheWholePlaintextTrailerIncluded) {
  const Bytes body = Pattern(20000 - 30);
  // keyId 4 bytes + signature 10 bytes + 16 = a 30-byte trailer.
  const ContainerBuilder builder =
      ContainerBuilder().Body(body).Trailer(SealTrailerBuilder().Signature(Pattern(10, 3)));
  const Decrypted d = DecryptAll(builder.Build());
  ASSERT_EQ(d.result, QVE_Helper::Success);
  ASSERT_EQ(builder.Plaintext().size(), 20000u);
  EXPECT_EQ(d.output, builder.Plaintext());
  EXPECT_EQ(d.seal.length, 30u);
  EXPECT_EQ(d.seal.keyId, kKeyId11);
  EXPECT_EQ(d.seal.signature, Pattern(10, 3));
}

// Plaintext sizes around the 4096-byte chunks: with PKCS#7 padding a
// plaintext of 4096m - 1 bytes gives a payload of exactly 4096m bytes, whose
// last read delivers nothing and runs the final step once.
TEST(DecryptStream, PayloadsAroundChunkMultiplesDecryptCompletely) {
  for (const std::size_t size : {4095u, 4096u, 4097u, 8191u, 8192u, 12287u, 40959u}) {
    const ContainerBuilder builder = ContainerBuilder().Body(Pattern(size)).NoTrailer();
    const Bytes container = builder.Build();
    const Decrypted d = DecryptAll(container);
    ASSERT_EQ(d.result, QVE_Helper::Success) << size;
    EXPECT_EQ(d.output, Pattern(size)) << size;
    EXPECT_EQ(d.seal.length, 0u) << size;
    if (size % 4096 == 4095) {
      EXPECT_EQ((container.size() - builder.Header().size()) % 4096, 0u) << size;
    }
  }
}

TEST(DecryptStream, ATrailerEndingAPayloadOfExactChunksIsFound) {
  // 256-byte signature + 4-byte id + 16 = 276-byte trailer; 8191 bytes of
  // plaintext in all give a payload of 8192.
  const ContainerBuilder builder = ContainerBuilder().Body(Pattern(8191 - 276));
  ASSERT_EQ(builder.Plaintext().size(), 8191u);
  const Decrypted d = DecryptAll(builder.Build());
  ASSERT_EQ(d.result, QVE_Helper::Success);
  EXPECT_EQ(d.output, builder.Plaintext());
  EXPECT_EQ(d.seal.length, 276u);
}

TEST(DecryptStream, AnEmptyPayloadRunsOnlyTheFinalStep) {
  const Decrypted d = DecryptAll(ContainerBuilder().RawPayload({}).Build());
  EXPECT_EQ(d.result, QVE_Helper::Success);
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(d.seal.length, 0u);
}

TEST(DecryptStream, AOneBlockPayloadProducesNothingAndEndsTheLoop) {
  // The update withholds the only block, and producing nothing ends the
  // loop before the final step could release it.
  const Decrypted d = DecryptAll(ContainerBuilder().Body(Pattern(9)).NoTrailer().Build());
  EXPECT_EQ(d.result, QVE_Helper::Success);
  EXPECT_TRUE(d.output.empty());
  EXPECT_EQ(d.seal.length, 0u);
}

TEST(DecryptStream, ACutPayloadLosesItsEndAndItsSeal) {
  const ContainerBuilder builder = ContainerBuilder().Body(Pattern(10000));
  const Bytes plaintext = builder.Plaintext();
  const Bytes full = builder.Build();
  const Decrypted d = DecryptAll(Bytes(full.begin(), full.end() - 5));
  EXPECT_EQ(d.result, QVE_Helper::Success);
  EXPECT_EQ(d.seal.length, 0u);
  ASSERT_LT(d.output.size(), plaintext.size());
  ASSERT_GT(d.output.size(), 9000u);
  EXPECT_EQ(d.output,
            Bytes(plaintext.begin(), plaintext.begin() + static_cast<long>(d.output.size())));
}

TEST(DecryptStream, APayloadUnderAnotherSessionKeyDecryptsToNoSeal) {
  const ContainerBuilder other = ContainerBuilder().SessionKey(Pattern(32, 200)).Body(Pattern(500));
  const Bytes otherContainer = other.Build();
  const std::size_t payloadSize = otherContainer.size() - other.Header().size();
  const Bytes otherPayload(otherContainer.end() - static_cast<long>(payloadSize),
                           otherContainer.end());
  const Decrypted d =
      DecryptAll(ContainerBuilder().Body(Pattern(500)).RawPayload(otherPayload).Build());
  EXPECT_EQ(d.result, QVE_Helper::Success);
  EXPECT_EQ(d.seal.length, 0u);
}

// Accepts `limit` bytes, then refuses every write.
class LimitedBuffer : public std::streambuf {
 public:
  explicit LimitedBuffer(std::size_t limit) : limit_(limit) {}
  const Bytes& accepted() const { return accepted_; }

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const auto take = std::min<std::size_t>(static_cast<std::size_t>(n), limit_ - accepted_.size());
    accepted_.insert(accepted_.end(), s, s + take);
    return static_cast<std::streamsize>(take);
  }
  int_type overflow(int_type c) override {
    if (accepted_.size() >= limit_ || traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::eof();
    accepted_.push_back(static_cast<std::uint8_t>(c));
    return c;
  }

 private:
  std::size_t limit_;
  Bytes accepted_;
};

TEST(DecryptStream, AFailedWriteStopsWithWhatWasWrittenBefore) {
  const ContainerBuilder builder = ContainerBuilder().Body(Pattern(20000));
  const Bytes container = builder.Build();
  std::istringstream input(std::string(container.begin(), container.end()));
  LimitedBuffer buffer(10000);
  std::ostream output(&buffer);
  SealInfo seal = StaleSeal();
  EXPECT_EQ(DecryptStream(input, output, seal), QVE_Helper::OutputWriteFailed);
  const Bytes plaintext = builder.Plaintext();
  EXPECT_EQ(buffer.accepted(), Bytes(plaintext.begin(), plaintext.begin() + 10000));
  EXPECT_EQ(seal.length, 0u);
}

}  // namespace
}  // namespace qve
