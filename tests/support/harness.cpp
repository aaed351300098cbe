// SPDX-License-Identifier: Apache-2.0
#include "tests/support/harness.h"

#ifndef _WIN32
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "decrypt/decrypt_stream.h"
#include "format/base64.h"
#include "platform/paths.h"
#include "platform/worker_pool.h"
#include "verify/block_window.h"

namespace qve::testing {

TempDir::TempDir() {
  // create_directory says whether it made the folder, so a name another
  // process took is skipped; mkdtemp is not there on Windows.
  std::mt19937_64 random(std::random_device{}());
  do path_ = fs::temp_directory_path() / ("qve-test-" + std::to_string(random()));
  while (!fs::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave folders without permissions behind; give them back first.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

void WriteFile(const fs::path& path, const Bytes& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

void WriteFile(const fs::path& path, const std::string& content) {
  WriteFile(path, BytesOf(content));
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& path) {
  const Bytes bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::wstring WidePath(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  const auto wide = platform::ToWide(path.string());
  if (!wide) throw std::runtime_error("not a UTF-8 path: " + path.string());
  return *wide;
#endif
}

QVE_Helper::DecryptResult Decrypt(const fs::path& input, const fs::path& output) {
  return QVE_Helper::Decrypt(WidePath(input), WidePath(output));
}

Decrypted DecryptBytes(const Bytes& container) {
  std::istringstream input(std::string(container.begin(), container.end()));
  std::ostringstream output;
  // A seal left over from an earlier call, so each row sees it cleared.
  Decrypted d{QVE_Helper::Success, {}, SealInfo{.length = 99, .keyId = {1}, .signature = {2}}};
  d.result = DecryptStream(input, output, d.seal);
  const std::string written = output.str();
  d.output.assign(written.begin(), written.end());
  return d;
}

Bytes Decode64(std::string_view text) { return DecodeBase64(text); }

std::vector<FileCheckResult> VerifyRun(std::vector<std::wstring> paths,
                                       const VerifyLimits& limits) {
  FileVerifier verifier;
  VerifyFiles(verifier, paths, limits);
  return verifier.results;
}

namespace {
// The details of a run whose blocks are checked on `threads` threads lent to it.
std::vector<SeenFile> VerifyInOrderLent(const std::vector<std::wstring>& paths, RunOptions options,
                                        unsigned threads = 3) {
  platform::WorkerPool pool;
  std::vector<std::thread> lent;
  for (unsigned i = 0; i < threads; ++i) lent.emplace_back([&pool] { pool.Work(); });
  std::vector<SeenFile> seen;
  {
    BlockWindow window(&pool);
    options.window = &window;
    seen = VerifyInOrder(paths, options);
  }
  pool.Shutdown();
  for (std::thread& thread : lent) thread.join();
  return seen;
}

}  // namespace

std::vector<FileCheckResult> Verify(const std::vector<std::wstring>& paths) {
  const auto results = VerifyRun(paths);
  EXPECT_EQ(VerifyRun(paths, kReadAgain), results) << "read again from the file";
  std::vector<std::wstring> sorted = paths;
  SortByFileName(sorted);
  const RunOptions held = {.excerptLines = 2, .excerptLineBytes = 4};
  RunOptions again = held;
  again.limits = kReadAgain;
  const auto details = VerifyInOrder(sorted, held);
  EXPECT_EQ(VerifyInOrder(sorted, again), details) << "details read again";
  EXPECT_EQ(VerifyInOrderLent(sorted, held), details) << "blocks checked on lent threads";
  EXPECT_EQ(VerifyInOrderLent(sorted, again, 1), details) << "lent threads, blocks read again";
  EXPECT_EQ(VerifyInOrderLent(sorted, held, 0), details) << "a pool no thread works for";
  return results;
}

std::vector<SeenFile> VerifyInOrder(const std::vector<std::wstring>& paths,
                                    const RunOptions& options) {
  DetailRecorder recorder;
  qve::VerifyInOrder(paths, recorder, options);
  return recorder.seen;
}

Records RecordsOf(QVE_VerificationReport* report) {
  Records records;
  for (std::uint32_t i = 0; i < GetFileReportCountInVerificationReport(report); ++i)
    records.emplace_back(GetFileReportNameInVerificationReport(report, i),
                         GetFileReportVerditInVerificationReport(report, i));
  return records;
}

int WithThreads(int threads, qve_loan*& loan, const std::function<int()>& call) {
  if (threads == 1) return call();
  qve_loan* lent = nullptr;
  EXPECT_EQ(qve_loan_create(&lent), 0);
  std::vector<std::thread> workers;
  for (int i = 1; i < threads; ++i)
    workers.emplace_back([lent] { EXPECT_EQ(qve_loan_work(lent), 0); });
  loan = lent;
  const int code = call();
  loan = nullptr;
  EXPECT_EQ(qve_loan_end(lent), 0);
  for (std::thread& worker : workers) worker.join();
  qve_loan_free(lent);
  return code;
}

#ifndef _WIN32
int AsNobody(const fs::path& dir, const std::function<int()>& body) {
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) throw std::runtime_error("no user nobody");
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0) {
      for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) _exit(120);
      if (chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) _exit(121);
      if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(122);
    }
    _exit(body());
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
#endif

}  // namespace qve::testing
