// SPDX-License-Identifier: Apache-2.0
// Signature blocks checked against their chain and lines, and the built-in keys.
#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include <algorithm>
#include <stdexcept>

#include "crypto/block_check.h"
#include "crypto/built_in_keys.h"
#include "crypto/digest.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

TEST(CheckSignatureBlock, Results) {
  using R = BlockCheckResult;
  const Bytes chain = ComputeDigest({});
  const std::vector<std::string> lines = {"first line", "", "third line"};
  Bytes otherLink = chain;
  otherLink.back() ^= 1;
  // Linked to `chain` and, unless it has a signature, signed over `lines`.
  const auto valid = [&](Block b) {
    if (b.link.empty()) b.link = chain;
    if (b.signature.empty() && !b.signOver) b.signOver = lines;
    return b.Build();
  };
  const struct {
    const char* name;
    Bytes block;
    R expected;
    std::vector<std::string> pending = {"first line", "", "third line"};
  } rows[] = {
      {"valid", valid({.id = 5, .text = "note"}), R::Valid},
      {"empty", {}, R::NoSignature},
      {"one byte", {'Q'}, R::SignatureInvalid},
      {"link differs in a byte", valid({.link = otherLink}), R::LinkMismatch},
      {"link shorter", valid({.link = Head(chain, 31)}), R::LinkMismatch},
      {"other lines", valid({}), R::SignatureInvalid, {"first line", "", "third lin"}},
      {"wrong key", valid({.key = DevDecryptionPrivateKey()}), R::SignatureInvalid},
      {"257 bytes", valid({.signature = Bytes(257, 0xFF)}), R::SignatureInvalid},
      {"all ones", valid({.signature = Bytes(256, 0xFF)}), R::SignatureInvalid},
  };
  // One context serves block after block, as in a verification run; each
  // block is checked over its lines at once and byte by byte.
  const VerificationKey key;
  VerifyContext context(key.pkey());
  for (const auto& row : rows) {
    Bytes covered;
    for (const auto& line : row.pending) {
      covered.insert(covered.end(), line.begin(), line.end());
      covered.push_back(0x00);
    }
    EXPECT_EQ(CheckSignatureBlock(chain, covered, row.block, context), row.expected) << row.name;
    BlockCheck check(row.block, context);
    for (const std::uint8_t byte : covered) check.Add(std::span(&byte, 1));
    EXPECT_EQ(check.Finish(chain), row.expected) << row.name;
  }
  // A malformed block needs no key; a well-formed one does.
  VerifyContext noKey(nullptr);
  EXPECT_EQ(CheckSignatureBlock(chain, {}, Bytes{}, noKey), R::NoSignature);
  EXPECT_EQ(CheckSignatureBlock(chain, {}, Bytes{'Q', 'V'}, noKey), R::SignatureInvalid);
  EXPECT_THROW(CheckSignatureBlock(chain, {}, valid({}), noKey), std::runtime_error);
}

BignumPtr Param(EVP_PKEY* key, const char* name) {
  BIGNUM* value = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &value) != 1) return nullptr;
  return BignumPtr(value);
}

TEST(BuiltInKeys, StoredComponentsAreMpisOfTheKeyFiles) {
  using namespace stored_keys;
  // A wrong modulus fails every decryption, a wrong verification key every
  // seal check; OpenSSL falls back between CRT and d, which may hide the rest.
  const std::pair<const StoredComponent&, const char*> rows[] = {
      {kDecryptionE, OSSL_PKEY_PARAM_RSA_E},
      {kDecryptionD, OSSL_PKEY_PARAM_RSA_D},
      {kDecryptionP, OSSL_PKEY_PARAM_RSA_FACTOR1},
      {kDecryptionQ, OSSL_PKEY_PARAM_RSA_FACTOR2},
      {kDecryptionDP, OSSL_PKEY_PARAM_RSA_EXPONENT1},
      {kDecryptionDQ, OSSL_PKEY_PARAM_RSA_EXPONENT2}};
  for (const auto& [stored, param] : rows) {
    const BignumPtr expected = Param(DevDecryptionPrivateKey(), param), asMpi = ReadMpi(stored);
    ASSERT_TRUE(expected && asMpi) << param;
    EXPECT_EQ(BN_cmp(asMpi.get(), expected.get()), 0) << param;
    const BignumPtr plain(BN_bin2bn(stored.bytes, int(stored.length), nullptr));
    EXPECT_NE(BN_cmp(plain.get(), expected.get()), 0) << param;
  }
  PkeyPtr incomplete;
  SetRsaComponents(incomplete, nullptr, ReadMpi(kVerificationE), nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  EXPECT_EQ(incomplete, nullptr);
}

TEST(BuiltInKeys, CrtCoefficientIsInverseOfQModP) {
  DecryptionKey key;
  const BignumPtr p = Param(key.pkey(), OSSL_PKEY_PARAM_RSA_FACTOR1);
  const BignumPtr q = Param(key.pkey(), OSSL_PKEY_PARAM_RSA_FACTOR2);
  const BignumPtr iqmp = Param(key.pkey(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  ASSERT_TRUE(p && q && iqmp);
  BnCtxPtr ctx(BN_CTX_new());
  BignumPtr product(BN_new());
  ASSERT_EQ(BN_mod_mul(product.get(), q.get(), iqmp.get(), p.get(), ctx.get()), 1);
  EXPECT_TRUE(BN_is_one(product.get()));
  const BignumPtr pem = Param(DevDecryptionPrivateKey(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  EXPECT_EQ(BN_cmp(iqmp.get(), pem.get()), 0);
}

Bytes Magnitude(EVP_PKEY* key, const char* name) {
  const BignumPtr value = Param(key, name);
  Bytes out(static_cast<std::size_t>(BN_num_bytes(value.get())));
  BN_bn2bin(value.get(), out.data());
  return out;
}

// Any 16-byte run identifies a secret, stored in either byte order.
TEST(BuiltInKeys, LibraryFileHoldsNoPartOfTheSigningKey) {
  const Bytes library = ReadFile(QVE_LIBRARY_FILE);
  const auto Contains = [&](const Bytes& part) {
    return std::search(library.begin(), library.end(), part.begin(), part.end()) != library.end();
  };
  for (const char* secret : {OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_FACTOR1,
                             OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1}) {
    const Bytes value = Magnitude(DevVerificationPrivateKey(), secret);
    EXPECT_FALSE(Contains(Head(value, 16))) << secret;
    EXPECT_FALSE(Contains(Bytes(value.rbegin(), value.rbegin() + 16))) << secret;
  }
  // The same search finds the decryption key's exponent, which is embedded.
  const Bytes embedded = Magnitude(DevDecryptionPrivateKey(), OSSL_PKEY_PARAM_RSA_D);
  EXPECT_TRUE(Contains(Head(embedded, 16)));
}

}  // namespace
}  // namespace qve
