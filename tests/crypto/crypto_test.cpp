// SPDX-License-Identifier: Apache-2.0
// Base64, signature blocks and the built-in keys.
#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include <algorithm>
#include <stdexcept>

#include "crypto/block_check.h"
#include "crypto/built_in_keys.h"
#include "crypto/digest.h"
#include "tests/support/builders.h"
#include "tests/support/harness.h"
#include "tools/writer/signature_block_writer.h"

namespace qve {
namespace {

using namespace testing;

TEST(Base64, DecodesUpToTheFirstStop) {
  const struct {
    std::string text;
    Bytes bytes;
  } rows[] = {{"", {}},
              {"QQ==", {0x41}},
              {"QUI=", {0x41, 0x42}},
              {"QUJD", {0x41, 0x42, 0x43}},
              {"QUJDRA", {0x41, 0x42, 0x43, 0x44}},
              {"Q", {}},
              {"QR==", {0x41}},  // stray low bits dropped
              {"QQ==QUJD", {0x41}},
              {"QUJD\nRA==", {0x41, 0x42, 0x43}},
              {"QUJDRA RA==", {0x41, 0x42, 0x43, 0x44}},  // a partial group is kept
              {"QU-JD", {0x41}},
              {"QUJ_D", {0x41, 0x42}},
              {std::string("QUJD\0QUJD", 9), {0x41, 0x42, 0x43}},
              {"+/+/", {0xFB, 0xFF, 0xBF}}};
  for (const auto& row : rows) EXPECT_EQ(Decode64(row.text), row.bytes) << row.text;
  // Against the writer's own encoder: every padding and every character.
  Bytes all(256);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = std::uint8_t(i);
  for (std::size_t n = 0; n < all.size(); n += 1 + n / 8)
    EXPECT_EQ(Decode64(writer::EncodeBase64(Head(all, n))), Head(all, n)) << n;
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int c = 0; c < 256; ++c) {
    const bool in = alphabet.find(char(c)) != std::string::npos;
    EXPECT_EQ(Decode64(std::string("QUJD") + char(c) + "QUJDQUJD").size(), in ? 9u : 3u) << c;
  }
}

// Offsets of `full`: magic 0, version 2, id 6, T 10, text 14, K 17, link 21,
// S 25, signature 29, end 34.
TEST(ParseSignatureBlock, StopsWithTheCodeOfTheFailingField) {
  using R = BlockParseResult;
  const Bytes full =
      Block{.id = 7, .text = "abc", .link = {1, 2, 3, 4}, .signature = {9, 9, 9, 9, 9}}.Build();
  const struct {
    const char* name;
    Bytes bytes;
    R expected;
  } rows[] = {
      {"empty", {}, R::Empty},
      {"one byte", {'Q'}, R::OneByte},
      {"wrong magic", BytesOf("QW\x02\x00\x00\x00"), R::BadMagic},
      {"lower-case magic", BytesOf("qv"), R::BadMagic},
      {"magic only", Head(full, 2), R::VersionTruncated},
      {"version cut", Head(full, 5), R::VersionTruncated},
      {"version 1", Block{.version = 1}.Build(), R::VersionUnsupported},
      {"version 3", Block{.version = 3}.Build(), R::VersionUnsupported},
      {"id cut", Head(full, 9), R::IdTruncated},
      {"text length cut", Head(full, 13), R::TextLengthTruncated},
      {"text cut", Head(full, 16), R::TextInvalid},
      {"text 2049", Block{.text = std::string(2049, 't')}.Build(), R::TextInvalid},
      {"text 2048", Block{.text = std::string(2048, 't')}.Build(), R::Parsed},
      {"text past the end", Block{.textLength = 2048}.Build(), R::TextInvalid},
      {"link length cut", Head(full, 20), R::LinkLengthTruncated},
      {"link cut", Head(full, 24), R::LinkInvalid},
      {"link 131073", Block{.link = Bytes(131073, 1)}.Build(), R::LinkInvalid},
      {"link 131072", Block{.link = Bytes(131072, 1)}.Build(), R::Parsed},
      {"link past the end", Block{.linkLength = 5}.Build(), R::LinkInvalid},
      {"signature length cut", Head(full, 28), R::SignatureLengthTruncated},
      {"signature cut", Head(full, 33), R::SignatureInvalid},
      {"signature 131073", Block{.signature = Bytes(131073, 1)}.Build(), R::SignatureInvalid},
      {"signature 131072", Block{.signature = Bytes(131072, 1)}.Build(), R::Parsed},
      {"signature past the end", Block{.signature = {1, 1, 1}, .signatureLength = 4}.Build(),
       R::SignatureInvalid},
      {"complete", full, R::Parsed},
      {"all fields empty", Block{}.Build(), R::Parsed},
      {"trailing bytes ignored", Block{.trailing = {1, 2, 3}}.Build(), R::Parsed},
  };
  for (const auto& row : rows) {
    SignatureBlock block;
    EXPECT_EQ(ParseSignatureBlock(row.bytes, block), row.expected) << row.name;
  }
  SignatureBlock block;
  ASSERT_EQ(ParseSignatureBlock(full, block), R::Parsed);
  EXPECT_EQ(block.version, 2u);
  EXPECT_EQ(block.id, 7u);
  EXPECT_EQ(block.text, "abc");
  EXPECT_EQ(block.link, (Bytes{1, 2, 3, 4}));
  EXPECT_EQ(block.signature, (Bytes{9, 9, 9, 9, 9}));
}

// Where the parser stops, as inspect shows it: the field, its offset, what
// was read there and what was allowed, or how much of a cut field was there.
TEST(ParseSignatureBlock, SaysWhereItStops) {
  using R = BlockParseResult;
  using F = BlockField;
  const Bytes full =
      Block{.id = 7, .text = "abc", .link = {1, 2, 3, 4}, .signature = {9, 9, 9, 9, 9}}.Build();
  const struct {
    const char* name;
    Bytes bytes;
    BlockStop stop;
  } rows[] = {
      {"empty", {}, {R::Empty, F::None, 0, 0, 0, true, 0}},
      {"one byte", {'Q'}, {R::OneByte, F::Magic, 0, 0, 0, true, 1}},
      {"wrong magic", BytesOf("QW"), {R::BadMagic, F::Magic, 0, 0x5157, 0x5156}},
      {"version cut", Head(full, 5), {R::VersionTruncated, F::Version, 2, 0, 0, true, 3}},
      {"version 3", Block{.version = 3}.Build(), {R::VersionUnsupported, F::Version, 2, 3, 2}},
      {"text 2049",
       Block{.textLength = 2049}.Build(),
       {R::TextInvalid, F::TextLength, 10, 2049, 2048}},
      {"link past the end", Head(full, 24), {R::LinkInvalid, F::Link, 21, 4, 0, true, 3}},
      {"signature length cut",
       Head(full, 28),
       {R::SignatureLengthTruncated, F::SignatureLength, 25, 0, 0, true, 3}},
      {"complete", full, {R::Parsed, F::None, 0, 0, 0}},
  };
  for (const auto& row : rows) {
    SignatureBlock block;
    EXPECT_EQ(ParseSignatureBlockStop(row.bytes, block), row.stop) << row.name;
  }
}

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
      {"valid", valid({.id = 5, .text = "note"}), lines, R::Valid},
      {"no lines", valid({.signOver = std::vector<std::string>{}}), {}, R::Valid},
      {"trailing bytes", valid({.trailing = {0, 1, 2}}), lines, R::Valid},
      {"longest text", valid({.text = std::string(2048, 't')}), lines, R::Valid},
      {"link longer than a digest", valid({.link = longLink}), lines, R::Valid, longLink},
      {"empty", {}, lines, R::NoSignature},
      {"one byte", {'Q'}, lines, R::SignatureInvalid},
      {"link differs in a byte", valid({.link = otherLink}), lines, R::LinkMismatch},
      {"link shorter", valid({.link = Head(chain, 31)}), lines, R::LinkMismatch},
      {"link longer", valid({.link = Concat(chain, Bytes{0})}), lines, R::LinkMismatch},
      {"long link expected", valid({}), lines, R::LinkMismatch, longLink},
      {"other lines", valid({}), {"first line", "", "third lin"}, R::SignatureInvalid},
      {"line dropped", valid({}), {"first line", "third line"}, R::SignatureInvalid},
      {"extra empty line", valid({}), {"first line", "", "third line", ""}, R::SignatureInvalid},
      {"wrong key", valid({.key = DevDecryptionPrivateKey()}), lines, R::SignatureInvalid},
      {"version 1", valid({.version = 1}), lines, R::SignatureInvalid},
      {"empty signature", valid({}, false), lines, R::SignatureInvalid},
      {"one-byte signature", valid({.signature = {1}}, false), lines, R::SignatureInvalid},
      {"257 bytes", valid({.signature = Bytes(257, 0xFF)}, false), lines, R::SignatureInvalid},
      {"all ones", valid({.signature = Bytes(256, 0xFF)}, false), lines, R::SignatureInvalid},
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
