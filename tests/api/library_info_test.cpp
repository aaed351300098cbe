// SPDX-License-Identifier: Apache-2.0
// The extension interface's common part, through the C functions a host
// calls: every code has its name, and the build says what it is and which
// keys it carries.
#include <QVEHelper.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <string>
#include <tuple>

#include "crypto/built_in_keys.h"
#include "format/container_format.h"

namespace qve {
namespace {

// The names at each end of every range of codes, and past them.
TEST(LibraryInfo, EveryCodeHasItsName) {
  constexpr int kRun = QVE_RESULT_OF_RUN, kDecryption = QVE_RESULT_OF_DECRYPTION;
  // clang-format off
  const struct { int of, code; const char* name; } rows[] = {
      {kRun, QVE_STATUS_OK, "ReportOk"}, {kRun, QVE_STATUS_INCOMPLETE, "Incomplete"}, {kRun, -9, "Unknown"},
      {kDecryption, QVE_DECRYPT_SUCCESS, "Success"}, {kDecryption, 3, "Unknown"}, {kDecryption, 14, "Unknown"},
      {0, 0, "Unknown"}, {kRun, QVE_ERROR_MISUSE, "Misuse"}, {kDecryption, QVE_ERROR_WRONG_KIND, "WrongKind"},
      {kRun, QVE_ERROR_RECORD_DAMAGED, "RecordDamaged"}, {kRun, -13, "Unknown"}, {kRun, -24, "Unknown"},
      {kDecryption, QVE_ERROR_SCRATCH, "ScratchFailed"}};
  for (const auto& row : rows)
    EXPECT_STREQ(qve_result_name(row.of, row.code), row.name) << row.of << " " << row.code;
  const struct { int of, first, last; } kinds[] = {
      {kRun, 0, 6}, {QVE_RESULT_OF_EVENT, 1, 6}, {QVE_RESULT_OF_WARNING, 1, 13}, {QVE_RESULT_OF_STRICT, 1, 10},
      {QVE_RESULT_OF_CHECKPOINT, 0, 3}};
  // clang-format on
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
  EXPECT_EQ(std::tuple(qve_has("run-policy"), qve_has("Run-Policy"), qve_has(nullptr)),
            std::tuple(1, 0, 0));
  EXPECT_STREQ(qve_crypto_library_version(), OpenSSL_version(OPENSSL_VERSION));
  EXPECT_EQ(qve_development_keys(), 1);  // built with keys/dev
  // The fingerprints are checked against openssl's own in the Python tests.
  std::uint8_t id[4] = {}, sha256[32] = {};
  ASSERT_EQ(qve_key_identity(QVE_KEY_DECRYPTION, id, sha256), 0);
  EXPECT_EQ(Bytes(id, id + 4), KeyIdOf(kDecryptionKeyNumber));
  ASSERT_EQ(qve_key_identity(QVE_KEY_VERIFICATION, id, sha256), 0);
  EXPECT_EQ(Bytes(id, id + 4), KeyIdOf(kVerificationKeyNumber));
  EXPECT_EQ(std::tuple(qve_key_identity(12, id, sha256),
                       qve_key_identity(QVE_KEY_DECRYPTION, nullptr, sha256),
                       qve_key_identity(QVE_KEY_DECRYPTION, id, nullptr)),
            std::tuple(QVE_ERROR_MISUSE, QVE_ERROR_MISUSE, QVE_ERROR_MISUSE));
}

}  // namespace
}  // namespace qve
