// SPDX-License-Identifier: Apache-2.0
// Each named vector gives the result its sidecar names, through the interface alone.
#include <gtest/gtest.h>

#include <string>

#include "format/container_format.h"
#include "format/signed_log_format.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

std::string Named(const char* name, std::uint32_t value) {
  return std::string(name) + " " + std::to_string(value) + "\n";
}

TEST(Vectors, EachGivesTheResultItsSidecarNames) {
  const fs::path root = QVE_VECTORS_DIR;
  TempDir dir;
  std::size_t containers = 0, logSets = 0;
  for (const auto& entry : fs::directory_iterator(root / "containers")) {
    if (entry.path().extension() != ".qves") continue;
    ++containers;
    const auto result = Decrypt(entry.path(), dir / "out");
    EXPECT_EQ(Named(DecryptResultName(result), static_cast<std::uint32_t>(result)),
              ReadText(fs::path(entry.path()).replace_extension(".expected")))
        << entry.path().filename();
  }
  // expected: the report result, then each file's name and verdict in run order.
  for (const auto& entry : fs::directory_iterator(root / "logs")) {
    ++logSets;
    auto* report = QVE_Helper::IVerificationReport::Create();
    report->AddFileInFolder(WidePath(entry.path()));
    const std::uint32_t result = report->Verify(true);
    std::string actual = Named(ReportResultName(result), result);
    for (std::uint32_t i = 0; i < report->GetFileReportCount(); ++i) {
      const QVE_Helper::FileReport& file = report->GetFileReport(i);
      actual += std::string(file.name.begin(), file.name.end()) + " " +
                Named(FileVerdictName(file.verdict), file.verdict);
    }
    QVE_Helper::IVerificationReport::Delete(report);
    EXPECT_EQ(actual, ReadText(entry.path() / "expected")) << entry.path().filename();
  }
  EXPECT_GE(containers, 20u);
  EXPECT_GE(logSets, 9u);
}

}  // namespace
}  // namespace qve
