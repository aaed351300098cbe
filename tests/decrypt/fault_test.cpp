// SPDX-License-Identifier: Apache-2.0
// Failures a sound key, digest and file system do not produce. This executable
// defines the calls that fail, so the library's calls land here first; each
// forwards to the real one unless a row has armed it.
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

extern "C" __attribute__((visibility("default"))) int truncate(const char* path, off_t length) {
  if (failTruncate) {
    errno = EPERM;
    return -1;
  }
  static const auto next = Next<int (*)(const char*, off_t)>("truncate");
  return next(path, length);
}

extern "C" __attribute__((visibility("default"))) int ftruncate(int fd, off_t length) {
  if (failTruncate) {
    errno = EPERM;
    return -1;
  }
  static const auto next = Next<int (*)(int, off_t)>("ftruncate");
  return next(fd, length);
}

namespace qve {
namespace {

using namespace testing;

// Each row arms one seam; the output is left as the step before it made it.
TEST(DecryptFault, LibcryptoAndFileSystemFailures) {
  const Container c{.body = Pattern(10000, 8)};
  const struct {
    const char* name;
    bool* seam;
    QVE_Helper::DecryptResult expected;
    Bytes left;
  } rows[] = {
      // clang-format off
      {.name = "unarmed", .seam = nullptr, .expected = QVE_Helper::Success, .left = c.body},
      {.name = "verification cannot start", .seam = &failVerifyInit, .expected = QVE_Helper::VerifyInitFailed, .left = c.body},
      {.name = "digest update fails", .seam = &failDigestUpdate, .expected = QVE_Helper::VerifyUpdateFailed, .left = c.body},
      {.name = "truncation refused", .seam = &failTruncate, .expected = QVE_Helper::OutputTruncateFailed, .left = c.Plaintext()},
      // clang-format on
  };
  TempDir dir;
  WriteFile(dir / "in.qves", c.Build());
  // The C interface keeps what it wrote, alone and with a lent thread.
  const std::string in = (dir / "in.qves").string(), out = (dir / "kept.bin").string();
  for (const auto& row : rows) {
    if (row.seam) *row.seam = true;
    EXPECT_EQ(Decrypt(dir / "in.qves", dir / "out.bin"), row.expected) << row.name;
    EXPECT_EQ(ReadFile(dir / "out.bin"), row.left) << row.name;
    for (const int threads : {1, 2}) {
      qve_decrypt_options options{sizeof options, nullptr, nullptr, 1, 0, 0, nullptr};
      EXPECT_EQ(WithThreads(threads, options.loan,
                            [&] { return qve_decrypt(in.c_str(), out.c_str(), &options); }),
                row.expected)
          << row.name << threads;
      EXPECT_EQ(ReadFile(dir / "kept.bin"), row.left) << row.name << threads;
    }
    if (row.seam) *row.seam = false;
  }
}

}  // namespace
}  // namespace qve
