// SPDX-License-Identifier: Apache-2.0
// Failures a sound key, digest and file system do not produce: the calls are
// defined here, failing when armed.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace {

bool failVerifyInit = false;
bool failDigestUpdate = false;
bool failTruncate = false;

template <typename Fn>
Fn Next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int EVP_DigestVerifyInit(EVP_MD_CTX* ctx, EVP_PKEY_CTX** pctx, const EVP_MD* type,
                                    ENGINE* e, EVP_PKEY* pkey) {
  if (failVerifyInit) return 0;
  static const auto next = Next<decltype(&EVP_DigestVerifyInit)>("EVP_DigestVerifyInit");
  return next(ctx, pctx, type, e, pkey);
}

extern "C" int EVP_DigestUpdate(EVP_MD_CTX* ctx, const void* data, size_t count) {
  if (failDigestUpdate) return 0;
  static const auto next = Next<decltype(&EVP_DigestUpdate)>("EVP_DigestUpdate");
  return next(ctx, data, count);
}

// The C++ runtime may truncate by either call.
#define REFUSED_WHEN_ARMED(name, type)                                                  \
  extern "C" __attribute__((visibility("default"))) int name(type file, off_t length) { \
    if (failTruncate) return errno = EPERM, -1;                                         \
    static const auto next = Next<int (*)(type, off_t)>(#name);                         \
    return next(file, length);                                                          \
  }
REFUSED_WHEN_ARMED(truncate, const char*)
REFUSED_WHEN_ARMED(ftruncate, int)

namespace qve {
namespace {

using namespace testing;

// Each row arms one seam; the output is left as the step before it made it.
TEST(DecryptFault, LibcryptoAndFileSystemFailures) {
  const Container c{.body = Pattern(10000, 8)};
  const struct {
    bool* seam;
    QVE_Helper::DecryptResult expected;
    Bytes left;
  } rows[] = {{nullptr, QVE_Helper::Success, c.body},
              {&failVerifyInit, QVE_Helper::VerifyInitFailed, c.body},
              {&failDigestUpdate, QVE_Helper::VerifyUpdateFailed, c.body},
              {&failTruncate, QVE_Helper::OutputTruncateFailed, c.Plaintext()}};
  TempDir dir;
  WriteFile(dir / "in.qves", c.Build());
  // The C interface keeps what it wrote, alone and with a lent thread.
  const std::string in = (dir / "in.qves").string(), out = (dir / "kept.bin").string();
  for (const auto& row : rows) {
    if (row.seam) *row.seam = true;
    EXPECT_EQ(Decrypt(dir / "in.qves", dir / "out.bin"), row.expected);
    EXPECT_EQ(ReadFile(dir / "out.bin"), row.left) << row.expected;
    for (const int threads : {1, 2}) {
      qve_decrypt_options options{sizeof options, nullptr, nullptr, 1, 0, 0, nullptr};
      EXPECT_EQ(WithThreads(threads, options.loan,
                            [&] { return qve_decrypt(in.c_str(), out.c_str(), &options); }),
                row.expected)
          << threads;
      EXPECT_EQ(ReadFile(dir / "kept.bin"), row.left) << row.expected << threads;
    }
    if (row.seam) *row.seam = false;
  }
}

}  // namespace
}  // namespace qve
