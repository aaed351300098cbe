// SPDX-License-Identifier: Apache-2.0
// What the suites share to run the library.
#pragma once

#include <QVEHelper.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "decrypt/seal_trailer.h"
#include "format/bytes.h"
#include "verify/details.h"
#include "verify/verify_files.h"

// The rows of a TEST_P suite, each test named and printed by its row's `name`.
#define QVE_ROWS(suite, rows)                                                         \
  [[maybe_unused]] void PrintTo(const std::decay_t<decltype(*std::begin(rows))>& row, \
                                std::ostream* os) {                                   \
    *os << row.name;                                                                  \
  }                                                                                   \
  INSTANTIATE_TEST_SUITE_P(Rows, suite, ::testing::ValuesIn(rows),                    \
                           [](const auto& info) { return std::string(info.param.name); })

namespace qve::testing {

namespace fs = std::filesystem;

// A fresh folder per test, removed with everything in it afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

void WriteFile(const fs::path& path, const Bytes& content);
void WriteFile(const fs::path& path, const std::string& content);
Bytes ReadFile(const fs::path& path);
std::string ReadText(const fs::path& path);
// A path as the library takes it: the platform's wide text for the name.
std::wstring WidePath(const fs::path& path);

QVE_Helper::DecryptResult Decrypt(const fs::path& input, const fs::path& output);

// A container decrypted in memory: the result, the output, the seal found.
struct Decrypted {
  QVE_Helper::DecryptResult result;
  Bytes output;
  SealInfo seal;
};
Decrypted DecryptBytes(const Bytes& container);

Bytes Decode64(std::string_view text);

// Files verified as one run, through the library's file verifier.
std::vector<FileCheckResult> VerifyRun(std::vector<std::wstring> paths,
                                       const VerifyLimits& limits = {});
// Blocks of over five bytes read again from their file, lines in pieces of
// three bytes: the results must not depend on it.
inline constexpr VerifyLimits kReadAgain = {.heldBlockBytes = 5, .readBuffer = 3};
// A run both ways, expected to give the same results and the same details.
std::vector<FileCheckResult> Verify(const std::vector<std::wstring>& paths);

// What a run's observer is given: each file with its blocks, as it ends.
struct SeenFile {
  FileDetail file;
  std::vector<BlockDetail> blocks;
  bool operator==(const SeenFile&) const = default;
};
class DetailRecorder : public VerifyObserver {
 public:
  void OnFileStart(const FileDetail&) override { blocks_.clear(); }
  void OnBlock(const FileDetail&, const BlockDetail& block) override { blocks_.push_back(block); }
  void OnFileEnd(const FileDetail& file) override { seen.push_back({file, std::move(blocks_)}); }
  std::vector<SeenFile> seen;

 private:
  std::vector<BlockDetail> blocks_;
};
// The details of a run in the order given.
std::vector<SeenFile> VerifyInOrder(const std::vector<std::wstring>& paths,
                                    const RunOptions& options = {});

struct ReportDeleter {
  void operator()(QVE_VerificationReport* r) const { DeleteVerificationReport(r); }
};
using Report = std::unique_ptr<QVE_VerificationReport, ReportDeleter>;
// Each record of the last run: name and verdict.
using Records = std::vector<std::pair<std::wstring, std::uint32_t>>;
Records RecordsOf(QVE_VerificationReport* report);

// Runs `call` on this thread alone (threads 1), or with a loan set into
// `loan` meanwhile that threads - 1 more threads work for.
int WithThreads(int threads, qve_loan*& loan, const std::function<int()>& call);

#ifndef _WIN32
// `body`'s exit status in a child run as `nobody`, who owns `dir` meanwhile.
int AsNobody(const fs::path& dir, const std::function<int()>& body);
#endif

}  // namespace qve::testing
