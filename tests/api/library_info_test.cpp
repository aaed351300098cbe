// SPDX-License-Identifier: Apache-2.0
// The extension interface's common part, through the C functions a host
// calls: every code has its name, and the build says what it is and which
// keys it carries.
#include <QVEHelper.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <string>

#include "crypto/built_in_keys.h"
#include "format/container_format.h"

namespace qve {
namespace {

// The names at each end of every range of codes, and past them.
TEST(LibraryInfo, EveryCodeHasItsName) {
  const struct {
    int of, code;
    const char* name;
  } rows[] = {
      {QVE_RESULT_OF_RUN, QVE_STATUS_OK, "ReportOk"},
      {QVE_RESULT_OF_RUN, QVE_STATUS_STRICT_FAILED, "StrictPolicyFailed"},
      {QVE_RESULT_OF_RUN, QVE_STATUS_INCOMPLETE, "Incomplete"},
      {QVE_RESULT_OF_RUN, 7, "Unknown"},
      {QVE_RESULT_OF_DECRYPTION, QVE_DECRYPT_SUCCESS, "Success"},
      {QVE_RESULT_OF_DECRYPTION, QVE_DECRYPT_BAD_SIGNATURE, "BadSignature"},
      {QVE_RESULT_OF_DECRYPTION, 3, "Unknown"},
      {QVE_RESULT_OF_DECRYPTION, 14, "Unknown"},
      {0, 0, "Unknown"},
      {QVE_RESULT_OF_RUN, QVE_ERROR_MISUSE, "Misuse"},
      {QVE_RESULT_OF_DECRYPTION, QVE_ERROR_WRONG_KIND, "WrongKind"},
      {QVE_RESULT_OF_RUN, -9, "Unknown"},
      {QVE_RESULT_OF_RUN, QVE_ERROR_RECORD_DAMAGED, "RecordDamaged"},
      {QVE_RESULT_OF_RUN, QVE_ERROR_RECORD_OTHER_CHAIN, "RecordOtherChain"},
      {QVE_RESULT_OF_RUN, -13, "Unknown"},
      {QVE_RESULT_OF_DECRYPTION, QVE_ERROR_CANCELLED, "Cancelled"},
      {QVE_RESULT_OF_DECRYPTION, QVE_ERROR_SCRATCH, "ScratchFailed"},
      {QVE_RESULT_OF_RUN, -24, "Unknown"},
  };
  for (const auto& row : rows)
    EXPECT_STREQ(qve_result_name(row.of, row.code), row.name) << row.of << " " << row.code;
  const struct {
    int of, first, last;
  } kinds[] = {{QVE_RESULT_OF_RUN, 0, 6},
               {QVE_RESULT_OF_EVENT, 1, 6},
               {QVE_RESULT_OF_WARNING, 1, 13},
               {QVE_RESULT_OF_STRICT, 1, 10},
               {QVE_RESULT_OF_CHECKPOINT, 0, 3}};
  for (const auto& kind : kinds) {
    EXPECT_STREQ(qve_result_name(kind.of, kind.last + 1), "Unknown");
    for (int code = kind.first; code <= kind.last; ++code)
      EXPECT_STRNE(qve_result_name(kind.of, code), "Unknown") << kind.of << " " << code;
  }
}

TEST(LibraryInfo, TheBuildAndItsKeys) {
  EXPECT_STREQ(qve_version(), QVE_VERSION);
  // The header a host is built with says the version it runs with here.
  EXPECT_EQ(std::to_string(QVE_VERSION_MAJOR) + "." + std::to_string(QVE_VERSION_MINOR) + "." +
                std::to_string(QVE_VERSION_PATCH),
            QVE_VERSION);
  EXPECT_EQ(qve_version_number(), QVE_VERSION_NUMBER);
  EXPECT_EQ(qve_has("run-policy"), 1);
  EXPECT_EQ(qve_has("Run-Policy"), 0);
  EXPECT_EQ(qve_has(nullptr), 0);
  const qve_run_options options = QVE_RUN_OPTIONS_INIT;
  EXPECT_EQ(options.size, sizeof options);
  EXPECT_EQ(options.loan, nullptr);
  EXPECT_STREQ(qve_crypto_library_version(), OpenSSL_version(OPENSSL_VERSION));
  // This suite is built with keys/dev.
  EXPECT_EQ(qve_development_keys(), 1);
  std::uint8_t id[4] = {}, sha256[32] = {};
  ASSERT_EQ(qve_key_identity(QVE_KEY_DECRYPTION, id, sha256), 0);
  EXPECT_EQ(Bytes(id, id + 4), KeyIdOf(kDecryptionKeyNumber));
  EXPECT_EQ(Bytes(sha256, sha256 + 32), PublicKeyFingerprint(DecryptionKey().pkey()));
  ASSERT_EQ(qve_key_identity(QVE_KEY_VERIFICATION, id, sha256), 0);
  EXPECT_EQ(Bytes(id, id + 4), KeyIdOf(kVerificationKeyNumber));
  EXPECT_EQ(Bytes(sha256, sha256 + 32), PublicKeyFingerprint(VerificationKey().pkey()));
  EXPECT_EQ(qve_key_identity(12, id, sha256), QVE_ERROR_MISUSE);
  EXPECT_EQ(qve_key_identity(QVE_KEY_DECRYPTION, nullptr, sha256), QVE_ERROR_MISUSE);
  EXPECT_EQ(qve_key_identity(QVE_KEY_DECRYPTION, id, nullptr), QVE_ERROR_MISUSE);
}

}  // namespace
}  // namespace qve
