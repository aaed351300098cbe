// SPDX-License-Identifier: Apache-2.0
// The extension interface's entry points that belong to no one subsystem:
// the names of its codes, the version and the built-in keys.
#include <QVEHelper.h>

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "api/calls.h"
#include "crypto/built_in_keys.h"
#include "crypto/library_version.h"
#include "format/container_format.h"
#include "format/signed_log_format.h"
#include "platform/paths.h"

namespace {

struct Named {
  int code;
  const char* name;
};

constexpr Named kErrors[] = {
    {QVE_ERROR_MISUSE, "Misuse"},
    {QVE_ERROR_NO_MEMORY, "NoMemory"},
    {QVE_ERROR_CRYPTO, "CryptoFailed"},
    {QVE_ERROR_INVALID_PATH, "InvalidPath"},
    {QVE_ERROR_NOT_FOUND, "NotFound"},
    {QVE_ERROR_UNREADABLE, "Unreadable"},
    {QVE_ERROR_NO_LOG, "NoLog"},
    {QVE_ERROR_WRONG_KIND, "WrongKind"},
    {QVE_ERROR_RECORD_DAMAGED, "RecordDamaged"},
    {QVE_ERROR_RECORD_VERSION, "RecordVersion"},
    {QVE_ERROR_RECORD_OTHER_CHAIN, "RecordOtherChain"},
    {QVE_ERROR_CANCELLED, "Cancelled"},
    {QVE_ERROR_OUTPUT, "OutputFailed"},
    {QVE_ERROR_SAME_FILE, "SameFile"},
    {QVE_ERROR_SCRATCH, "ScratchFailed"},
};

// A run's statuses beyond the report's results, which format/ names.
constexpr const char* kStatuses[] = {"CheckpointLost", "StrictPolicyFailed", "Incomplete"};

// Names of the run's codes, from 1 (events, warnings, strict reasons) or
// from 0 (checkpoint outcomes).
constexpr const char* kEvents[] = {"FileStart", "Block", "Warning", "FileEnd", "Restart", "Done"};
constexpr const char* kWarnings[] = {"SameFile",    "Unreadable",    "NameCase", "PassedOver",
                                     "NoLog",       "UnsignedLines", "AfterNul", "AfterEnd",
                                     "Changed",     "ByteOrderMark", "Links",    "BreakFollows",
                                     "KeptChanging"};
constexpr const char* kStrictReasons[] = {
    "FileUnsigned", "UnsignedLines", "EmptySignatureLine", "BytesAfterNul", "BytesAfterEndOfInput",
    "NameCase",     "Unverified",    "HistoryShrunk",      "UnsignedTail",  "Stale"};
constexpr const char* kCheckpoints[] = {"None", "New", "Extended", "Lost"};

constexpr const char* kUnknown = "Unknown";

template <std::size_t N>
const char* NameIn(const char* const (&names)[N], int code, int first) {
  return code >= first && code - first < int(N) ? names[code - first] : kUnknown;
}

}  // namespace

extern "C" {

const char* qve_result_name(int of, int code) {
  if (code < 0) {
    const auto* found = std::find_if(std::begin(kErrors), std::end(kErrors),
                                     [&](const Named& named) { return named.code == code; });
    return found != std::end(kErrors) ? found->name : kUnknown;
  }
  if (of == QVE_RESULT_OF_RUN && code <= QVE_STATUS_ALL_INVALID)
    return qve::ReportResultName(static_cast<std::uint32_t>(code));
  if (of == QVE_RESULT_OF_RUN) return NameIn(kStatuses, code, QVE_STATUS_CHECKPOINT_LOST);
  if (of == QVE_RESULT_OF_EVENT) return NameIn(kEvents, code, QVE_EVENT_FILE_START);
  if (of == QVE_RESULT_OF_WARNING) return NameIn(kWarnings, code, QVE_WARNING_SAME_FILE);
  if (of == QVE_RESULT_OF_STRICT) return NameIn(kStrictReasons, code, QVE_STRICT_FILE_UNSIGNED);
  if (of == QVE_RESULT_OF_CHECKPOINT) return NameIn(kCheckpoints, code, QVE_CHECKPOINT_NONE);
  if (of == QVE_RESULT_OF_FILE && code <= int(QVE_Helper::FileInvalid))
    return qve::FileVerdictName(static_cast<std::uint32_t>(code));
  if (of == QVE_RESULT_OF_BLOCK && code <= int(qve::BlockUnexpected))
    return qve::BlockVerdictName(code);
  if (of == QVE_RESULT_OF_DECRYPTION)
    return qve::DecryptResultName(static_cast<QVE_Helper::DecryptResult>(code));
  return kUnknown;
}

const wchar_t* qve_path_w(const char* path) {
  thread_local std::wstring wide;
  if (path == nullptr) return nullptr;
  try {
    const std::optional<std::wstring> named = qve::platform::InterfacePath(std::string_view(path));
    if (!named) return nullptr;
    wide = *named;
    return wide.c_str();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

const char* qve_version(void) { return QVE_VERSION; }

// A host built with this header must see the version it runs with.
static_assert(QVE_VERSION_NUMBER == QVE_BUILT_VERSION_NUMBER,
              "QVEHelper.h's QVE_VERSION_* differ from CMakeLists.txt's project version");

int qve_version_number(void) { return QVE_BUILT_VERSION_NUMBER; }

int qve_has(const char* feature) {
  if (feature == nullptr) return 0;
  static constexpr std::string_view kFeatures[] = {"run-policy", "last-error", "run-work-wait"};
  return std::find(std::begin(kFeatures), std::end(kFeatures), feature) != std::end(kFeatures) ? 1
                                                                                               : 0;
}

const char* qve_crypto_library_version(void) { return qve::CryptoLibraryVersion(); }

int qve_key_identity(int key, uint8_t id[4], uint8_t sha256[32]) {
  using qve::interface::Fail;
  if (id == nullptr || sha256 == nullptr) return Fail(QVE_ERROR_MISUSE, "a NULL argument");
  if (key != QVE_KEY_DECRYPTION && key != QVE_KEY_VERIFICATION)
    return Fail(QVE_ERROR_MISUSE, "no such key");
  return qve::interface::Guarded([&] {
    qve::Bytes keyId, fingerprint;
    if (key == QVE_KEY_DECRYPTION) {
      const qve::DecryptionKey built;
      keyId = built.keyId();
      fingerprint = qve::PublicKeyFingerprint(built.pkey());
    } else {
      const qve::VerificationKey built;
      keyId = built.keyId();
      fingerprint = qve::PublicKeyFingerprint(built.pkey());
    }
    if (keyId.size() != 4 || fingerprint.size() != 32)
      return Fail(QVE_ERROR_CRYPTO, "the built-in key has no identity", {}, {}, QVE_PROBLEM_CRYPTO);
    std::copy(keyId.begin(), keyId.end(), id);
    std::copy(fingerprint.begin(), fingerprint.end(), sha256);
    return 0;
  });
}

int qve_development_keys(void) { return QVE_DEVELOPMENT_KEYS ? 1 : 0; }

}  // extern "C"
