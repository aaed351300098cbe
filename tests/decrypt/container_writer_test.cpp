// The writer side must make what the library reads.
#include "tools/writer/container_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "decrypt/decrypt_stream.h"
#include "decrypt/output_signature.h"
#include "tests/support/byte_writer.h"
#include "tests/support/container_builder.h"
#include "tests/support/dev_keys.h"

namespace qve {
namespace {

using testing::ByteWriter;
using testing::Pattern;

TEST(ContainerWriter, KeyBlockAndTrailerFollowTheLayout) {
  EXPECT_EQ(writer::KeyBlock(testing::BytesOf("123456789")),
            ByteWriter().Text("123456789").U32(0xCBF43926).Take());
  EXPECT_EQ(writer::KeyIdOf(11), testing::kKeyId11);
  EXPECT_EQ(writer::SealTrailer(testing::kKeyId11, Bytes{7, 8}), ByteWriter()
                                                                     .Text("Seal")
                                                                     .U16(1)
                                                                     .U16(4)
                                                                     .Raw(testing::kKeyId11)
                                                                     .U16(2)
                                                                     .U8(7)
                                                                     .U8(8)
                                                                     .Text("Seal")
                                                                     .U16(22)
                                                                     .Take());
  EXPECT_THROW(writer::SealTrailer({}, Bytes(65520, 0)), std::length_error);
}

TEST(ContainerWriter, WritesContainersTheLibraryDecryptsAndVerifies) {
  for (const std::size_t size : {0u, 1u, 4095u, 65536u, 200001u}) {
    const Bytes plaintext = Pattern(size, 5);
    std::ostringstream container;
    writer::ContainerWriter writer(container,
                                   {{testing::kKeyId11, testing::DevVerificationPublicKey()},
                                    {testing::kKeyId10, testing::DevDecryptionPublicKey()}},
                                   testing::DevVerificationPrivateKey(), testing::kKeyId11);
    for (std::size_t offset = 0; offset < size; offset += 1000)
      writer.Write(
          std::span(plaintext).subspan(offset, std::min<std::size_t>(1000, size - offset)));
    writer.Finish();

    std::istringstream input(container.str());
    std::stringstream output;
    SealInfo seal;
    ASSERT_EQ(DecryptStream(input, output, seal), QVE_Helper::Success) << size;
    std::string decrypted = output.str();
    ASSERT_EQ(seal.length, 16u + 4u + 256u) << size;
    decrypted.resize(decrypted.size() - seal.length);
    EXPECT_EQ(Bytes(decrypted.begin(), decrypted.end()), plaintext) << size;

    std::istringstream cut(decrypted);
    const VerificationKey key;
    EXPECT_EQ(VerifyOutputSignature(cut, seal, key), QVE_Helper::Success) << size;
  }
}

TEST(ContainerWriter, RefusesMoreThan32Recipients) {
  std::ostringstream container;
  const std::vector<writer::Recipient> many(33,
                                            {testing::kKeyId10, testing::DevDecryptionPublicKey()});
  EXPECT_THROW(writer::ContainerWriter(container, many, testing::DevVerificationPrivateKey(),
                                       testing::kKeyId11),
               std::runtime_error);
}

}  // namespace
}  // namespace qve
