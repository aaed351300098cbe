// SPDX-License-Identifier: Apache-2.0
// qvehelper --version names the build: version, OpenSSL and the built-in keys
// by the SHA-256 that openssl gives for each PEM file's public key.
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <regex>
#include <string>

#include "tests/support/command_runner.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

// As a user checks a key file against the build.
std::string OpensslFingerprint(const std::string& pkeyArguments) {
  const testing::CommandResult ran = testing::RunCommand(
      "/bin/sh", {"-c", "openssl pkey " + pkeyArguments + " -outform DER | sha256sum"});
  EXPECT_EQ(ran.exitCode, 0) << ran.err;
  return ran.out.substr(0, 64);
}

// This suite is built with keys/dev, which the build must own up to.
std::string ExpectedDescription() {
  return std::string("qvehelper " QVE_VERSION "\n") + OpenSSL_version(OPENSSL_VERSION) +
         "\nbuilt-in keys: development keys, insecure"
         "\n  decryption key 0a000000, public key SHA-256 " +
         OpensslFingerprint("-in " QVE_DEV_KEY_DIR "/decryption-private.pem -pubout") +
         "\n  verification key 0b000000, public key SHA-256 " +
         OpensslFingerprint("-pubin -in " QVE_DEV_KEY_DIR "/verification-public.pem") +
         "\nlicence: Apache-2.0";
}

// The footer of a page says the same.
TEST(VersionTest, VersionNamesTheBuildAndItsKeys) {
  const testing::CommandResult ran = testing::RunCommand(QVE_CLI_FILE, {"--version"});
  EXPECT_EQ(ran.exitCode, 0);
  EXPECT_EQ(ran.out, ExpectedDescription() + "\n");
  EXPECT_EQ(ran.err, "");
  testing::TempDir dir;
  testing::WriteFile(dir / "system.log", std::string("an unsigned line\n"));
  testing::RunCommand(QVE_CLI_FILE,
                      {"verify", "-q", "--html", dir / "page.html", dir / "system.log"});
  const std::string page = testing::ReadText(dir / "page.html");
  const std::size_t start = page.find("<footer>");
  ASSERT_NE(start, std::string::npos);
  // The footer's text as a reader sees it: one line per block element.
  std::string footer = std::regex_replace(page.substr(start), std::regex("</div>"), "\n");
  footer = std::regex_replace(footer, std::regex("<[^>]*>"), "");
  EXPECT_EQ(footer.substr(0, footer.find("\n\n")), "Written by " + ExpectedDescription()) << footer;
}

}  // namespace
}  // namespace qve
