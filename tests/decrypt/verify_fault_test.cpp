// The failures that a sound key, digest and file system do not produce: the
// two signature-check failures and a refused truncation. This executable
// defines EVP_DigestVerifyInit, EVP_DigestUpdate and truncate itself, so the
// library's calls land here first; each forwards to the real one unless a
// test has armed it to fail.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "QVEHelper.h"
#include "platform/paths.h"
#include "tests/support/container_builder.h"
#include "tests/support/temp_dir.h"

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

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::Pattern;

class VerifyFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ContainerBuilder builder;
    builder.Body(Pattern(10000, 8));
    testing::WriteFile(input_, builder.Build());
  }
  void TearDown() override { failVerifyInit = failDigestUpdate = failTruncate = false; }

  QVE_Helper::DecryptResult Decrypt() {
    return QVE_Helper::Decrypt(*platform::ToWide(input_.string()),
                               *platform::ToWide(output_.string()));
  }

  testing::TempDir dir_;
  const fs::path input_ = dir_ / "in.qves";
  const fs::path output_ = dir_ / "out.bin";
};

TEST_F(VerifyFaultTest, TheSeamPassesCallsThroughWhenUnarmed) {
  EXPECT_EQ(Decrypt(), QVE_Helper::Success);
  EXPECT_EQ(testing::ReadFile(output_), Pattern(10000, 8));
}

TEST_F(VerifyFaultTest, AVerificationThatCannotStartLeavesTheCutOutput) {
  failVerifyInit = true;
  EXPECT_EQ(Decrypt(), QVE_Helper::VerifyInitFailed);
  EXPECT_EQ(testing::ReadFile(output_), Pattern(10000, 8));
}

TEST_F(VerifyFaultTest, AFailingDigestUpdateLeavesTheCutOutput) {
  failDigestUpdate = true;
  EXPECT_EQ(Decrypt(), QVE_Helper::VerifyUpdateFailed);
  failDigestUpdate = false;
  EXPECT_EQ(testing::ReadFile(output_), Pattern(10000, 8));
}

TEST_F(VerifyFaultTest, ARefusedTruncationLeavesTheSealOnTheOutput) {
  failTruncate = true;
  EXPECT_EQ(Decrypt(), QVE_Helper::OutputTruncateFailed);
  failTruncate = false;
  testing::ContainerBuilder builder;
  builder.Body(Pattern(10000, 8));
  EXPECT_EQ(testing::ReadFile(output_), builder.Plaintext());
}

}  // namespace
}  // namespace qve
