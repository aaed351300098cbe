#include "crypto/built_in_keys.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/dev_keys.h"
#include "tests/support/temp_dir.h"
#include "tools/writer/keys.h"

namespace qve {
namespace {

BignumPtr Param(EVP_PKEY* key, const char* name) {
  BIGNUM* value = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &value) != 1) return nullptr;
  return BignumPtr(value);
}

Bytes Magnitude(const BIGNUM* value) {
  Bytes out(static_cast<std::size_t>(BN_num_bytes(value)));
  BN_bn2bin(value, out.data());
  return out;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

Bytes Decrypt(EVP_PKEY* key, const Bytes& wrapped) {
  PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  EXPECT_EQ(EVP_PKEY_decrypt_init(ctx.get()), 1);
  EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 1);
  Bytes out(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
  std::size_t length = out.size();
  if (EVP_PKEY_decrypt(ctx.get(), out.data(), &length, wrapped.data(), wrapped.size()) != 1)
    return {};
  out.resize(length);
  return out;
}

TEST(BuiltInKeys, KeyIdsAreTheKeyNumbersLittleEndian) {
  EXPECT_EQ(DecryptionKey().keyId(), (Bytes{0x0A, 0x00, 0x00, 0x00}));
  EXPECT_EQ(VerificationKey().keyId(), (Bytes{0x0B, 0x00, 0x00, 0x00}));
  EXPECT_EQ(MakeKeyId(0x01020304), (Bytes{0x04, 0x03, 0x02, 0x01}));
}

TEST(BuiltInKeys, StoredComponentsAreMpiNotPlainBigEndian) {
  using namespace stored_keys;
  EVP_PKEY* decryption = testing::DevDecryptionPrivateKey();
  EVP_PKEY* verification = testing::DevVerificationPublicKey();
  const struct {
    const char* name;
    const StoredComponent& stored;
    EVP_PKEY* pem;
    const char* param;
  } cases[] = {
      {"n", kDecryptionN, decryption, OSSL_PKEY_PARAM_RSA_N},
      {"e", kDecryptionE, decryption, OSSL_PKEY_PARAM_RSA_E},
      {"d", kDecryptionD, decryption, OSSL_PKEY_PARAM_RSA_D},
      {"p", kDecryptionP, decryption, OSSL_PKEY_PARAM_RSA_FACTOR1},
      {"q", kDecryptionQ, decryption, OSSL_PKEY_PARAM_RSA_FACTOR2},
      {"dP", kDecryptionDP, decryption, OSSL_PKEY_PARAM_RSA_EXPONENT1},
      {"dQ", kDecryptionDQ, decryption, OSSL_PKEY_PARAM_RSA_EXPONENT2},
      {"verification n", kVerificationN, verification, OSSL_PKEY_PARAM_RSA_N},
      {"verification e", kVerificationE, verification, OSSL_PKEY_PARAM_RSA_E},
  };
  for (const auto& c : cases) {
    const BignumPtr expected = Param(c.pem, c.param);
    ASSERT_TRUE(expected) << c.name;
    const BignumPtr asMpi = ReadMpi(c.stored);
    ASSERT_TRUE(asMpi) << c.name;
    EXPECT_EQ(BN_cmp(asMpi.get(), expected.get()), 0) << c.name;
    const BignumPtr plain(BN_bin2bn(c.stored.bytes, static_cast<int>(c.stored.length), nullptr));
    EXPECT_NE(BN_cmp(plain.get(), expected.get()), 0) << c.name;
  }
  // The documented sizes of the stored form.
  EXPECT_EQ(Bytes(kDecryptionE.bytes, kDecryptionE.bytes + kDecryptionE.length),
            (Bytes{0x00, 0x00, 0x00, 0x03, 0x01, 0x00, 0x01}));
  EXPECT_EQ(kDecryptionN.length, 261u);
  EXPECT_EQ(kVerificationN.length, 261u);
  EXPECT_EQ(kDecryptionP.length, 133u);
  EXPECT_EQ(kDecryptionQ.length, 133u);
}

TEST(BuiltInKeys, CrtCoefficientIsInverseOfQModP) {
  DecryptionKey key;
  ASSERT_NE(key.pkey(), nullptr);
  const BignumPtr p = Param(key.pkey(), OSSL_PKEY_PARAM_RSA_FACTOR1);
  const BignumPtr q = Param(key.pkey(), OSSL_PKEY_PARAM_RSA_FACTOR2);
  const BignumPtr iqmp = Param(key.pkey(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  ASSERT_TRUE(p && q && iqmp);
  BnCtxPtr ctx(BN_CTX_new());
  BignumPtr product(BN_new());
  ASSERT_EQ(BN_mod_mul(product.get(), q.get(), iqmp.get(), p.get(), ctx.get()), 1);
  EXPECT_TRUE(BN_is_one(product.get()));
  const BignumPtr pemIqmp =
      Param(testing::DevDecryptionPrivateKey(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  EXPECT_EQ(BN_cmp(iqmp.get(), pemIqmp.get()), 0);
}

TEST(BuiltInKeys, CrtDecryptionAgreesWithPlainExponentiation) {
  using namespace stored_keys;
  DecryptionKey crtKey;
  PkeyPtr plainKey;
  SetRsaComponents(plainKey, ReadMpi(kDecryptionN), ReadMpi(kDecryptionE), ReadMpi(kDecryptionD),
                   nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(plainKey, nullptr);
  EXPECT_FALSE(Param(plainKey.get(), OSSL_PKEY_PARAM_RSA_FACTOR1));

  for (std::size_t size : {4u, 36u, 48u, 245u}) {
    const Bytes secret = writer::RandomBytes(size);
    const Bytes wrapped = writer::EncryptPkcs1(testing::DevDecryptionPublicKey(), secret);
    EXPECT_EQ(Decrypt(crtKey.pkey(), wrapped), secret) << size;
    EXPECT_EQ(Decrypt(plainKey.get(), wrapped), secret) << size;
  }
}

TEST(BuiltInKeys, VerificationKeyIsPublicOnlyAndMatchesTheSigner) {
  VerificationKey key;
  ASSERT_NE(key.pkey(), nullptr);
  EXPECT_FALSE(Param(key.pkey(), OSSL_PKEY_PARAM_RSA_D));
  EXPECT_EQ(EVP_PKEY_get_bits(key.pkey()), 2048);

  const Bytes message = {1, 2, 3};
  const Bytes signature = writer::SignMessage(testing::DevVerificationPrivateKey(), message);
  MdCtxPtr ctx(EVP_MD_CTX_new());
  ASSERT_EQ(EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.pkey()), 1);
  EXPECT_EQ(EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                             message.size()),
            1);
}

TEST(BuiltInKeys, MissingComponentLeavesNoKey) {
  using namespace stored_keys;
  PkeyPtr key;
  SetRsaComponents(key, nullptr, ReadMpi(kVerificationE), nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  EXPECT_EQ(key, nullptr);
}

TEST(BuiltInKeys, LibraryFileHoldsNoPartOfTheSigningKey) {
  const Bytes library = testing::ReadFile(QVE_LIBRARY_FILE);
  ASSERT_GT(library.size(), 0u);
  EVP_PKEY* signer = testing::DevVerificationPrivateKey();
  for (const char* secret : {OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_FACTOR1,
                             OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1}) {
    const Bytes value = Magnitude(Param(signer, secret).get());
    // Any 16-byte run of the secret would do to identify it.
    const Bytes head(value.begin(), value.begin() + 16);
    Bytes reversed(value.rbegin(), value.rbegin() + 16);
    EXPECT_FALSE(Contains(library, head)) << secret;
    EXPECT_FALSE(Contains(library, reversed)) << secret;
  }
  // The same search finds the decryption key's exponent, which is embedded.
  const Bytes embedded =
      Magnitude(Param(testing::DevDecryptionPrivateKey(), OSSL_PKEY_PARAM_RSA_D).get());
  EXPECT_TRUE(Contains(library, Bytes(embedded.begin(), embedded.begin() + 16)));
}

}  // namespace
}  // namespace qve
