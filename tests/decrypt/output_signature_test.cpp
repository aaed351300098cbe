#include "decrypt/output_signature.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"
#include "tests/support/dev_keys.h"
#include "tools/writer/keys.h"

namespace qve {
namespace {

using testing::kKeyId10;
using testing::kKeyId11;
using testing::Pattern;

QVE_Helper::DecryptResult Verify(const Bytes& file, SealInfo seal) {
  std::istringstream input(std::string(file.begin(), file.end()));
  const VerificationKey key;
  return VerifyOutputSignature(input, seal, key);
}

Bytes SignedByDevKey(const Bytes& data) {
  return writer::SignMessage(testing::DevVerificationPrivateKey(), data);
}

struct SignatureCase {
  const char* name;
  Bytes file;
  Bytes keyId;
  Bytes signature;
  QVE_Helper::DecryptResult expected;
};

void PrintTo(const SignatureCase& c, std::ostream* os) { *os << c.name; }

class VerifyOutputSignatureTest : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(VerifyOutputSignatureTest, ChecksTheSealOverTheWholeFile) {
  const auto& c = GetParam();
  EXPECT_EQ(Verify(c.file, SealInfo{.length = 1, .keyId = c.keyId, .signature = c.signature}),
            c.expected);
}

std::vector<SignatureCase> SignatureCases() {
  const Bytes data = Pattern(10000);
  const Bytes good = SignedByDevKey(data);
  Bytes flipped = data;
  flipped[5000] ^= 1;
  Bytes keyIdPlus = kKeyId11;
  keyIdPlus.push_back(0);
  Bytes withTrailer = data;
  const Bytes trailer = testing::SealTrailerBuilder().Signature(good).Build();
  withTrailer.insert(withTrailer.end(), trailer.begin(), trailer.end());
  const auto success = QVE_Helper::Success;
  const auto bad = QVE_Helper::BadSignature;
  return {
      {"Signed", data, kKeyId11, good, success},
      {"EmptyFile", {}, kKeyId11, SignedByDevKey({}), success},
      {"OneChunk", Pattern(4096), kKeyId11, SignedByDevKey(Pattern(4096)), success},
      {"TwoChunks", Pattern(8192), kKeyId11, SignedByDevKey(Pattern(8192)), success},
      {"OneByteOverAChunk", Pattern(4097), kKeyId11, SignedByDevKey(Pattern(4097)), success},
      {"OneByteChanged", flipped, kKeyId11, good, bad},
      {"KeyIdOfTheDecryptionKey", data, kKeyId10, good, bad},
      {"KeyIdWithAFifthByte", data, keyIdPlus, good, bad},
      {"KeyIdThreeBytes", data, {0x0B, 0, 0}, good, bad},
      {"EmptyKeyId", data, {}, good, bad},
      {"SignatureOverDataAndTrailer", data, kKeyId11, SignedByDevKey(withTrailer), bad},
      {"EmptySignature", data, kKeyId11, {}, bad},
      {"SignatureOneByteShort", data, kKeyId11, Bytes(good.begin(), good.end() - 1), bad},
      {"SignedByAnotherKey", data, kKeyId11,
       writer::SignMessage(testing::DevDecryptionPrivateKey(), data), bad},
  };
}

INSTANTIATE_TEST_SUITE_P(Seals, VerifyOutputSignatureTest, ::testing::ValuesIn(SignatureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VerifyOutputSignature, ReadsTheFileToItsEndBeforeJudgingTheKeyId) {
  const Bytes data = Pattern(9000);
  std::istringstream input(std::string(data.begin(), data.end()));
  const VerificationKey key;
  EXPECT_EQ(
      VerifyOutputSignature(input, SealInfo{.length = 1, .keyId = kKeyId10, .signature = {}}, key),
      QVE_Helper::BadSignature);
  EXPECT_TRUE(input.eof());
}

}  // namespace
}  // namespace qve
