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
  const Bytes longLink(5000, 0x5A);
  // Linked to `chain` and signed over `lines` unless the row says otherwise.
  const auto valid = [&](Block b, bool sign = true) {
    if (b.link.empty()) b.link = chain;
    if (sign && !b.signOver) b.signOver = lines;
    return b.Build();
  };
  const struct {
    const char* name;
    Bytes block;
    std::vector<std::string> pending;
    R expected;
    Bytes expectedLink = {};
  } rows[] = {
      // clang-format off
      {.name = "valid", .block = valid({.id = 5, .text = "note"}), .pending = lines, .expected = R::Valid},
      {.name = "no lines", .block = valid({.signOver = std::vector<std::string>{}}), .pending = {}, .expected = R::Valid},
      {.name = "trailing bytes", .block = valid({.trailing = {0, 1, 2}}), .pending = lines, .expected = R::Valid},
      {.name = "longest text", .block = valid({.text = std::string(2048, 't')}), .pending = lines, .expected = R::Valid},
      {.name = "link longer than a digest", .block = valid({.link = longLink}), .pending = lines, .expected = R::Valid, .expectedLink = longLink},
      {.name = "empty", .block = {}, .pending = lines, .expected = R::NoSignature},
      {.name = "one byte", .block = {'Q'}, .pending = lines, .expected = R::SignatureInvalid},
      {.name = "link differs in a byte", .block = valid({.link = otherLink}), .pending = lines, .expected = R::LinkMismatch},
      {.name = "link shorter", .block = valid({.link = Head(chain, 31)}), .pending = lines, .expected = R::LinkMismatch},
      {.name = "link longer", .block = valid({.link = Concat(chain, Bytes{0})}), .pending = lines, .expected = R::LinkMismatch},
      {.name = "long link expected", .block = valid({}), .pending = lines, .expected = R::LinkMismatch, .expectedLink = longLink},
      {.name = "other lines", .block = valid({}), .pending = {"first line", "", "third lin"}, .expected = R::SignatureInvalid},
      {.name = "extra empty line", .block = valid({}), .pending = {"first line", "", "third line", ""}, .expected = R::SignatureInvalid},
      {.name = "wrong key", .block = valid({.key = DevDecryptionPrivateKey()}), .pending = lines, .expected = R::SignatureInvalid},
      {.name = "empty signature", .block = valid({}, false), .pending = lines, .expected = R::SignatureInvalid},
      {.name = "257 bytes", .block = valid({.signature = Bytes(257, 0xFF)}, false), .pending = lines, .expected = R::SignatureInvalid},
      {.name = "all ones", .block = valid({.signature = Bytes(256, 0xFF)}, false), .pending = lines, .expected = R::SignatureInvalid},
      // clang-format on
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
    const Bytes& link = row.expectedLink.empty() ? chain : row.expectedLink;
    EXPECT_EQ(CheckSignatureBlock(link, covered, row.block, context), row.expected) << row.name;
    BlockCheck check(row.block, context);
    for (const std::uint8_t byte : covered) check.Add(std::span(&byte, 1));
    EXPECT_EQ(check.Finish(link), row.expected) << row.name;
  }
  // A malformed block needs no key; a well-formed one does.
  VerifyContext noKey(nullptr);
  EXPECT_EQ(CheckSignatureBlock(chain, {}, Bytes{}, noKey), R::NoSignature);
  EXPECT_EQ(CheckSignatureBlock(chain, {}, Bytes{'Q', 'V'}, noKey), R::SignatureInvalid);
  try {
    CheckSignatureBlock(chain, {}, valid({}), noKey);
    ADD_FAILURE() << "expected an exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "EVP_DigestVerifyInit() failed.");
  }
}

BignumPtr Param(EVP_PKEY* key, const char* name) {
  BIGNUM* value = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &value) != 1) return nullptr;
  return BignumPtr(value);
}

TEST(BuiltInKeys, StoredComponentsAreMpisOfTheKeyFiles) {
  using namespace stored_keys;
  EVP_PKEY* decryption = DevDecryptionPrivateKey();
  EVP_PKEY* verification = DevVerificationPublicKey();
  const struct {
    const StoredComponent& stored;
    EVP_PKEY* pem;
    const char* param;
  } rows[] = {
      {kDecryptionN, decryption, OSSL_PKEY_PARAM_RSA_N},
      {kDecryptionE, decryption, OSSL_PKEY_PARAM_RSA_E},
      {kDecryptionD, decryption, OSSL_PKEY_PARAM_RSA_D},
      {kDecryptionP, decryption, OSSL_PKEY_PARAM_RSA_FACTOR1},
      {kDecryptionQ, decryption, OSSL_PKEY_PARAM_RSA_FACTOR2},
      {kDecryptionDP, decryption, OSSL_PKEY_PARAM_RSA_EXPONENT1},
      {kDecryptionDQ, decryption, OSSL_PKEY_PARAM_RSA_EXPONENT2},
      {kVerificationN, verification, OSSL_PKEY_PARAM_RSA_N},
      {kVerificationE, verification, OSSL_PKEY_PARAM_RSA_E},
  };
  for (const auto& row : rows) {
    const BignumPtr expected = Param(row.pem, row.param), asMpi = ReadMpi(row.stored);
    ASSERT_TRUE(expected && asMpi) << row.param;
    EXPECT_EQ(BN_cmp(asMpi.get(), expected.get()), 0) << row.param;
    const BignumPtr plain(BN_bin2bn(row.stored.bytes, int(row.stored.length), nullptr));
    EXPECT_NE(BN_cmp(plain.get(), expected.get()), 0) << row.param;
  }
  EXPECT_EQ(Bytes(kDecryptionE.bytes, kDecryptionE.bytes + kDecryptionE.length),
            (Bytes{0x00, 0x00, 0x00, 0x03, 0x01, 0x00, 0x01}));
  PkeyPtr incomplete;
  SetRsaComponents(incomplete, nullptr, ReadMpi(kVerificationE), nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  EXPECT_EQ(incomplete, nullptr);
}

// OpenSSL falls back to plain exponentiation when CRT fails, so a decryption
// would not show a wrong q^-1 mod p; only the coefficient itself does.
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
  const BignumPtr pem = Param(DevDecryptionPrivateKey(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
  EXPECT_EQ(BN_cmp(iqmp.get(), pem.get()), 0);
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
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
  for (const char* secret : {OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_FACTOR1,
                             OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1}) {
    const Bytes value = Magnitude(DevVerificationPrivateKey(), secret);
    EXPECT_FALSE(Contains(library, Head(value, 16))) << secret;
    EXPECT_FALSE(Contains(library, Bytes(value.rbegin(), value.rbegin() + 16))) << secret;
  }
  // The same search finds the decryption key's exponent, which is embedded.
  const Bytes embedded = Magnitude(DevDecryptionPrivateKey(), OSSL_PKEY_PARAM_RSA_D);
  EXPECT_TRUE(Contains(library, Head(embedded, 16)));
}

}  // namespace
}  // namespace qve
