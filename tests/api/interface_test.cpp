// SPDX-License-Identifier: Apache-2.0
// The C interface alone: each call's result, folder, progress and stopping,
// a container's diagnosis and the containers found in a folder.
#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <openssl/err.h>

#include <atomic>
#include <set>
#include <tuple>
#include <utility>

#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

const Bytes kOld = BytesOf("an earlier output");
const Bytes kBody = Pattern(30000, 1);

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

std::tuple<int, int> Failed(int code) { return {code, qve_last_problem()}; }

// With 2 threads the digest goes to the lent one.
constexpr int kThreadCounts[] = {1, 2};

// A host's error on its thread's OpenSSL queue, left before the call or from its callback,
// is cleared before the seal check, so it neither outlives the call nor fails the check.
enum HostError { kNoHostError, kBeforeTheCall, kAtTheSealCheck };

// Every progress call, and the call (from 0) that stops the work.
struct Calls {
  std::vector<std::tuple<int, std::uint64_t, std::uint64_t>> seen;
  std::size_t stopAt = std::size_t(-1);
  HostError hostError = kNoHostError;
  bool placed = false;

  static int Record(std::uint64_t done, std::uint64_t total, int step, void* context) {
    auto& calls = *static_cast<Calls*>(context);
    calls.seen.emplace_back(step, done, total);
    // Once: with no plaintext the check's end is told with 0 done too.
    if (calls.hostError == kAtTheSealCheck && step == QVE_STEP_CHECKING_SEAL && done == 0 &&
        !calls.placed) {
      ERR_raise(ERR_LIB_USER, 1);
      calls.placed = true;
    }
    return calls.seen.size() - 1 == calls.stopAt ? 1 : 0;
  }
};

const Container kSealed{.body = kBody};
const Container kNoSeal{.body = kBody, .seal = std::nullopt};
const Container kOtherKey{.body = kBody, .seal = Seal{.keyId = kKeyId10}};
const Container kBadHeader{.version = 2, .body = kBody};
// Many digest blocks, so that they pile up and pass between the threads.
const Container kLargeOtherKey{.body = Pattern(1500000, 5), .seal = Seal{.keyId = kKeyId10}};
// Plaintext that ends 100 bytes into a 128 KiB digest block, so that the
// trailer reaches back into the block before, and one that ends with a block.
const std::size_t kTrailer = Container{}.Plaintext().size();
const Container kStraddling{.body = Pattern(8 * 131072 + 100 - kTrailer, 6)};
const Container kWholeBlocks{.body = Pattern(8 * 131072 - kTrailer, 6)};

constexpr auto kMode = fs::perms::owner_read | fs::perms::owner_write;

// `left`: OUTPUT holds the Old bytes, the Body, the whole Plaintext or is Empty.
struct DecryptRow {
  const char* name;
  Container container = kSealed;
  int code = QVE_DECRYPT_SUCCESS;
  char left = 'B';
  int problem = QVE_PROBLEM_NONE;
  int keep = 0, direct = 0;
  bool older = false;  // options sized before the loan
  const char* input = "in.qves";
  const char* output = "out.bin";
  int threads = 1;  // 0: each count
  HostError hostError = kNoHostError;
};

class InterfaceDecrypt : public ::testing::TestWithParam<DecryptRow> {};

TEST_P(InterfaceDecrypt, ResultAndFolder) {
  const DecryptRow& row = GetParam();
  for (const int threads : kThreadCounts) {
    if (row.threads != 0 && row.threads != threads) continue;
    SCOPED_TRACE(std::to_string(threads) + " threads");
    TempDir dir;
    WriteFile(dir / "in.qves", row.container.Build());
    WriteFile(dir / "out.bin", kOld);
#ifndef _WIN32
    fs::permissions(dir / "out.bin", kMode);
#endif
    const std::set<std::string> before = Names(dir.path());
    qve_decrypt_options options = QVE_DECRYPT_OPTIONS_INIT;
    options.keep_unverified = row.keep;
    options.write_directly = row.direct;
    if (row.older) options.size = offsetof(qve_decrypt_options, loan);
    Calls calls{.seen = {}, .hostError = row.hostError};
    options.progress = Calls::Record;
    options.context = &calls;
    ERR_clear_error();
    if (row.hostError == kBeforeTheCall) ERR_raise(ERR_LIB_USER, 1);
    const std::string in = (dir / row.input).string();
    const std::string out = *row.output ? (dir / row.output).string() : "";
    EXPECT_EQ(WithThreads(threads, options.loan,
                          [&] { return qve_decrypt(in.c_str(), out.c_str(), &options); }),
              row.code);
    EXPECT_EQ(qve_last_problem(), row.problem);
    EXPECT_EQ(std::string(qve_last_message()).empty(), row.problem == QVE_PROBLEM_NONE);
    EXPECT_EQ(calls.placed, row.hostError == kAtTheSealCheck);
    EXPECT_TRUE(row.hostError == kNoHostError || ERR_peek_error() == 0);
    EXPECT_EQ(Names(dir.path()), before);  // no temporary file left
    EXPECT_EQ(ReadFile(dir / "out.bin"), row.left == 'B'   ? row.container.body
                                         : row.left == 'P' ? row.container.Plaintext()
                                         : row.left == 'E' ? Bytes{}
                                                           : kOld);
#ifndef _WIN32
    EXPECT_EQ(fs::status(dir / "out.bin").permissions(), kMode);  // a replaced file keeps its mode
#endif
    if (row.problem != QVE_PROBLEM_CONTAINER && row.problem != QVE_PROBLEM_NONE) continue;
    // The check gives what the decryption gives, in memory or with a scratch file.
    const std::string cause = qve_last_message(), scratch = dir.path().string();
    for (const char* folder : {static_cast<const char*>(nullptr), scratch.c_str()}) {
      qve_check_options check = QVE_CHECK_OPTIONS_INIT;
      check.scratch_folder = folder;
      EXPECT_EQ(WithThreads(threads, check.loan, [&] { return qve_check(in.c_str(), &check); }),
                row.code);
      EXPECT_EQ(qve_last_message(), cause);
      EXPECT_EQ(Names(dir.path()), before);
    }
  }
}

constexpr int kBadSignature = QVE_DECRYPT_BAD_SIGNATURE, kContainer = QVE_PROBLEM_CONTAINER;
// clang-format off
const DecryptRow kDecryptRows[] = {
    {.name = "Success"},
    {.name = "NoSealKept", .container = kNoSeal, .code = QVE_DECRYPT_NO_SEAL, .left = 'P', .problem = kContainer, .keep = 1},
    {.name = "AnotherKeyKept", .container = kOtherKey, .code = kBadSignature, .problem = kContainer, .keep = 1},
    {.name = "HeaderKept", .container = kBadHeader, .code = QVE_DECRYPT_HEADER_INVALID, .left = 'E', .problem = kContainer, .keep = 1},
    {.name = "MissingInput", .code = QVE_DECRYPT_INPUT_OPEN_FAILED, .left = 'O', .problem = QVE_PROBLEM_INPUT, .keep = 1, .input = "none"},
    {.name = "SameFile", .code = QVE_ERROR_SAME_FILE, .left = 'O', .problem = QVE_PROBLEM_SAME_FILE, .output = "in.qves"},
    {.name = "SameFileDirectly", .code = QVE_ERROR_SAME_FILE, .left = 'O', .problem = QVE_PROBLEM_SAME_FILE, .direct = 1, .output = "in.qves"},
    {.name = "AFolderAsOutput", .code = QVE_ERROR_OUTPUT, .left = 'O', .problem = QVE_PROBLEM_NOT_REGULAR, .keep = 1, .output = "."},
    {.name = "NoFolder", .code = QVE_ERROR_OUTPUT, .left = 'O', .problem = QVE_PROBLEM_FOLDER, .output = "none/out"},
    {.name = "EmptyOutputName", .code = QVE_ERROR_OUTPUT, .left = 'O', .problem = QVE_PROBLEM_NAME, .output = ""},
    {.name = "Directly", .direct = 1},
    {.name = "DirectlyHeader", .container = kBadHeader, .code = QVE_DECRYPT_HEADER_INVALID, .left = 'E', .problem = kContainer, .direct = 1},
    {.name = "DirectlyNoSeal", .container = kNoSeal, .code = QVE_DECRYPT_NO_SEAL, .left = 'P', .problem = kContainer, .direct = 1},
    {.name = "OptionsSizedBeforeTheLoan", .older = true},
    {.name = "LargeAnotherKeyKept", .container = kLargeOtherKey, .code = kBadSignature, .problem = kContainer, .keep = 1, .threads = 2},
    {.name = "TheTrailerAcrossTwoBlocks", .container = kStraddling, .threads = 0},
    {.name = "WholeBlocks", .container = kWholeBlocks, .threads = 2},
    {.name = "HostErrorBeforeTheCall", .container = {.seal = Seal{.keyId = kKeyId10}}, .code = kBadSignature, .left = 'O', .problem = kContainer, .threads = 0, .hostError = kBeforeTheCall},
    {.name = "HostErrorAtTheCheckNoPlaintext", .container = {}, .threads = 0, .hostError = kAtTheSealCheck},
    {.name = "HostErrorAtTheCheckDigestedHere", .container = kOtherKey, .code = kBadSignature, .left = 'O', .problem = kContainer, .hostError = kAtTheSealCheck},
    {.name = "CutAtABlock", .container = {.body = Pattern(20000), .cutTo = 4384}, .code = QVE_DECRYPT_NO_SEAL, .left = 'O', .problem = kContainer},
};
// clang-format on
QVE_ROWS(InterfaceDecrypt, kDecryptRows);

#ifndef _WIN32
// Inputs that would keep a reader waiting, and what is no regular file.
TEST(Interface, SpecialFiles) {
  TempDir dir;
  const Bytes bytes = kSealed.Build();
  WriteFile(dir / "in.qves", bytes);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  qve_decrypt_options options = QVE_DECRYPT_OPTIONS_INIT;
  const std::string in = (dir / "in.qves").string(), fifo = (dir / "fifo").string(),
                    out = in + ".out";
  const auto notRegular = std::tuple(QVE_ERROR_OUTPUT, QVE_PROBLEM_NOT_REGULAR);
  EXPECT_EQ(Failed(qve_decrypt(fifo.c_str(), out.c_str(), &options)),
            std::tuple(QVE_ERROR_WRONG_KIND, QVE_PROBLEM_INPUT));
  EXPECT_STREQ(qve_last_problem_reason(), "a FIFO");
  EXPECT_EQ(Failed(qve_decrypt(in.c_str(), fifo.c_str(), &options)), notRegular);
  // Written directly too; a reader is there, so a mistake cannot hang.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  options.write_directly = 1;
  EXPECT_EQ(Failed(qve_decrypt(in.c_str(), fifo.c_str(), &options)), notRegular);
  options.write_directly = 0;
  close(reader);
  qve_check_options check = QVE_CHECK_OPTIONS_INIT;
  EXPECT_EQ(qve_check(fifo.c_str(), &check), QVE_ERROR_WRONG_KIND);
  qve_diagnosis* diagnosis = nullptr;
  const qve_diagnose_options diagnose{sizeof diagnose, 0};
  EXPECT_EQ(qve_diagnose_container(fifo.c_str(), &diagnose, &diagnosis), QVE_ERROR_WRONG_KIND);
  EXPECT_EQ(diagnosis, nullptr);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"fifo", "in.qves"}));

  // Taken as a stream, the FIFO is opened once: opened twice, a writer could
  // slip in between and leave the second open waiting for good. Many rounds,
  // as the moment is short.
  options.read_stream = 1;
  for (int round = 0; round < 50; ++round) {
    const pid_t writer = fork();
    if (writer == 0) {
      ::signal(SIGPIPE, SIG_IGN);
      const int fd = open(fifo.c_str(), O_WRONLY);
      const bool written =
          fd >= 0 && write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
      // A reader still waiting to open gets an empty stream, not a hang.
      if (!written) close(open(fifo.c_str(), O_WRONLY));
      _exit(written ? 0 : 1);
    }
    // Until the writer waits in its open.
    const std::string wchan = "/proc/" + std::to_string(writer) + "/wchan";
    for (int i = 0; i < 1000000 && ReadFile(wchan) != BytesOf("wait_for_partner"); ++i)
      sched_yield();
    EXPECT_EQ(qve_decrypt(fifo.c_str(), out.c_str(), &options), QVE_DECRYPT_SUCCESS) << round;
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << round;
  }
}

std::atomic<int> umaskCalls{0};
}  // namespace
}  // namespace qve

// The mask is the process's: setting it, even to set it back, leaves a file
// another thread makes meanwhile unmasked.
extern "C" mode_t umask(mode_t mask) {
  ++qve::umaskCalls;
  return static_cast<mode_t>(syscall(SYS_umask, mask));
}

namespace qve {
namespace {

// A new OUTPUT gets 0666 less the mask, which is read, never set.
TEST(Interface, NewOutputsTakeTheMaskAndLeaveItAlone) {
  TempDir dir;
  WriteFile(dir / "in.qves", Container{.body = kBody}.Build());
  const mode_t before = umask(027);
  const int calls = umaskCalls;
  const std::string in = (dir / "in.qves").string(), out = (dir / "new").string();
  qve_decrypt_options options = QVE_DECRYPT_OPTIONS_INIT;
  EXPECT_EQ(qve_decrypt(in.c_str(), out.c_str(), &options), QVE_DECRYPT_SUCCESS);
  EXPECT_EQ(umaskCalls, calls);
  umask(before);
  EXPECT_EQ(fs::status(out).permissions(), fs::perms(0640));
  EXPECT_EQ(ReadFile(out), kBody);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"in.qves", "new"}));
}
#endif

// Each step is told at its start, per 256 KiB block and at its end (with a
// loan the plaintext is not read back: the seal check's start and end only);
// a stop at any call leaves OUTPUT as it was and no file behind.
TEST(Interface, ProgressAndStopping) {
  TempDir dir, scratch;
  const Container big{.body = Pattern(600000, 3)};
  const Bytes container = big.Build();
  WriteFile(dir / "in.qves", container);
  const std::string in = (dir / "in.qves").string(), out = (dir / "out.bin").string();
  using Call = std::tuple<int, std::uint64_t, std::uint64_t>;
  const auto steps = [](std::vector<Call>& told, int step, std::uint64_t total, bool perBlock) {
    told.push_back({step, 0, total});
    if (perBlock)
      told.insert(told.end(), {{step, 262144, total}, {step, 524288, total}, {step, total, total}});
    told.push_back({step, total, total});
  };
  for (const int threads : kThreadCounts) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    std::vector<Call> told;
    steps(told, QVE_STEP_DECRYPTING, container.size(), true);
    steps(told, QVE_STEP_CHECKING_SEAL, big.body.size(), threads == 1);
    WriteFile(dir / "out.bin", kOld);
    Calls calls;
    qve_decrypt_options options = QVE_DECRYPT_OPTIONS_INIT;
    options.progress = Calls::Record;
    options.context = &calls;
    const auto decrypt = [&] {
      return WithThreads(threads, options.loan,
                         [&] { return qve_decrypt(in.c_str(), out.c_str(), &options); });
    };
    ASSERT_EQ(decrypt(), QVE_DECRYPT_SUCCESS);
    EXPECT_EQ(calls.seen, told);
    for (std::size_t stop = 0; stop < told.size(); ++stop) {
      WriteFile(dir / "out.bin", kOld);
      calls = {{}, stop};
      // Stopped is no result: what was decrypted is not kept either way.
      options.keep_unverified = int(stop % 2);
      EXPECT_EQ(Failed(decrypt()), std::tuple(QVE_ERROR_CANCELLED, QVE_PROBLEM_CANCELLED)) << stop;
      EXPECT_EQ(calls.seen.size(), stop + 1) << "no call after the one that stopped";
      EXPECT_EQ(ReadFile(dir / "out.bin"), kOld) << stop;
      EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"in.qves", "out.bin"})) << stop;
    }
    // A check in memory has the one step; with a scratch file, both.
    const std::string folder = scratch.path().string();
    for (const char* scratchFolder : {static_cast<const char*>(nullptr), folder.c_str()}) {
      qve_check_options check = QVE_CHECK_OPTIONS_INIT;
      check.progress = Calls::Record;
      check.context = &calls;
      check.scratch_folder = scratchFolder;
      const auto checked = [&] {
        return WithThreads(threads, check.loan, [&] { return qve_check(in.c_str(), &check); });
      };
      calls = {};
      EXPECT_EQ(checked(), QVE_DECRYPT_SUCCESS);
      EXPECT_EQ(calls.seen.size(), scratchFolder ? told.size() : 5u);
      EXPECT_EQ(calls.seen.back(), scratchFolder ? told.back() : told[3]);
      calls = {{}, 1};
      EXPECT_EQ(checked(), QVE_ERROR_CANCELLED);
      EXPECT_TRUE(fs::is_empty(scratch.path()));
    }
  }
  qve_check_options check = QVE_CHECK_OPTIONS_INIT;
  const std::string missing = (scratch / "none").string();
  check.scratch_folder = missing.c_str();
  EXPECT_EQ(Failed(qve_check(in.c_str(), &check)),
            std::tuple(QVE_ERROR_SCRATCH, QVE_PROBLEM_TEMPORARY));
  EXPECT_EQ(qve_last_problem_path(), missing);
}

TEST(Interface, Misuse) {
  TempDir dir;
  WriteFile(dir / "in.qves", Container{}.Build());
  const std::string in = (dir / "in.qves").string(), out = (dir / "out").string();
  qve_decrypt_options decrypt = QVE_DECRYPT_OPTIONS_INIT;
  qve_check_options check = QVE_CHECK_OPTIONS_INIT;
  qve_diagnose_options diagnose{sizeof diagnose, 0};
  // Not a diagnosis: what a host's pointer holds before the call.
  qve_diagnosis* diagnosis = reinterpret_cast<qve_diagnosis*>(&decrypt);
  qve_decrypt_options older = decrypt;
  older.size -= sizeof(int);
  qve_check_options both = check;
  both.scratch_folder = ".";
  both.scratch_folder_w = L".";
  qve_diagnose_options larger[2] = {diagnose, diagnose};
  larger[0].size = sizeof larger;
  const std::function<int()> calls[] = {
      // clang-format off
      [&] { return qve_decrypt(nullptr, out.c_str(), &decrypt); }, [&] { return qve_decrypt(in.c_str(), nullptr, &decrypt); },
      [&] { return qve_decrypt(in.c_str(), out.c_str(), nullptr); }, [&] { return qve_decrypt_w(nullptr, L"out", &decrypt); },
      [&] { return qve_decrypt(in.c_str(), out.c_str(), &older); }, [&] { return qve_check(nullptr, &check); },
      [&] { return qve_loan_create(nullptr); }, [&] { return qve_loan_work(nullptr); }, [&] { return qve_loan_end(nullptr); },
      [&] { return qve_check(in.c_str(), nullptr); }, [&] { return qve_check(in.c_str(), &both); },
      [&] { return qve_diagnose_container(nullptr, &diagnose, &diagnosis); },
      [&] { return qve_diagnose_container(in.c_str(), nullptr, &diagnosis); },
      [&] { return qve_diagnose_container(in.c_str(), &diagnose, nullptr); },
      [&] { return qve_diagnose_container(in.c_str(), larger, &diagnosis); },
      // clang-format on
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), QVE_ERROR_MISUSE) << i;
  EXPECT_EQ(diagnosis, nullptr);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"in.qves"}));
  // Every accessor takes a NULL diagnosis.
  EXPECT_EQ(std::tuple(qve_diagnosis_record_count(nullptr), qve_diagnosis_version(nullptr),
                       std::string(qve_diagnosis_cause(nullptr, 1))),
            std::tuple(0u, -1, ""));
  std::size_t length = 1;
  EXPECT_EQ(qve_diagnosis_iv(nullptr, &length), nullptr);
  EXPECT_EQ(length, 0u);
  qve_diagnosis_free(nullptr);
  EXPECT_EQ(qve_starts_container(nullptr, 4) + qve_starts_container("QVE", 3), 0);
  EXPECT_EQ(qve_starts_container("QVES", 4), 1);
}

// A path with no form here (a lone surrogate on Linux, narrow text that is
// not UTF-8 on Windows) names no file: the path's error, not a file's.
TEST(Interface, PathsWithNoForm) {
  TempDir dir;
  WriteFile(dir / "in.qves", Container{}.Build());
  qve_decrypt_options decrypt = QVE_DECRYPT_OPTIONS_INIT;
  qve_check_options check = QVE_CHECK_OPTIONS_INIT, scratch = QVE_CHECK_OPTIONS_INIT;
  const qve_diagnose_options diagnose{sizeof diagnose, 0};
  qve_diagnosis* diagnosis = nullptr;
  const qve_run_options runOptions = QVE_RUN_OPTIONS_INIT;
  qve_run* run = nullptr;
  ASSERT_EQ(qve_run_create(&runOptions, &run), 0);
  // clang-format off
#ifdef _WIN32
  const std::string in = (dir / "in.qves").string(), none = dir.path().string() + "/caf\xe9";
  scratch.scratch_folder = none.c_str();
  const std::function<int()> calls[] = {
      [&] { return qve_decrypt(none.c_str(), (in + ".out").c_str(), &decrypt); }, [&] { return qve_decrypt(in.c_str(), none.c_str(), &decrypt); },
      [&] { return qve_check(none.c_str(), &check); }, [&] { return qve_check(in.c_str(), &scratch); },
      [&] { return qve_diagnose_container(none.c_str(), &diagnose, &diagnosis); }, [&] { return qve_run_add(run, none.c_str()); }};
#else
  const std::wstring in = WidePath(dir / "in.qves"), none = WidePath(dir.path()) + L"/\xD800";
  scratch.scratch_folder_w = none.c_str();
  const std::function<int()> calls[] = {
      [&] { return qve_decrypt_w(none.c_str(), (in + L".out").c_str(), &decrypt); }, [&] { return qve_decrypt_w(in.c_str(), none.c_str(), &decrypt); },
      [&] { return qve_check_w(none.c_str(), &check); }, [&] { return qve_check_w(in.c_str(), &scratch); },
      [&] { return qve_diagnose_container_w(none.c_str(), &diagnose, &diagnosis); }, [&] { return qve_run_add_w(run, none.c_str()); }};
#endif
  // clang-format on
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    EXPECT_EQ(calls[i](), QVE_ERROR_INVALID_PATH) << i;
    EXPECT_STRNE(qve_last_message(), "") << i;
  }
  EXPECT_STRNE(qve_run_refusal(run), "");
  EXPECT_STREQ(qve_last_problem_reason(), qve_run_refusal(run));
  qve_run_free(run);
  EXPECT_EQ(diagnosis, nullptr);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"in.qves"}));
}

using Diagnosis = std::unique_ptr<qve_diagnosis, decltype(&qve_diagnosis_free)>;

Diagnosis Diagnose(const Bytes& file, bool decrypt = false) {
  TempDir dir;
  WriteFile(dir / "c", file);
  const qve_diagnose_options options{sizeof options, decrypt ? 1 : 0};
  qve_diagnosis* made = nullptr;
  EXPECT_EQ(qve_diagnose_container((dir / "c").string().c_str(), &options, &made), 0);
  return {made, qve_diagnosis_free};
}

// Where reading the header stops, in file offsets. The default container's
// record runs from 7 to 272 (K at 8, key id at 10, W at 14, key at 16).
TEST(Interface, DiagnosisSaysWhereTheHeaderStops) {
  using Records = std::vector<Record>;
  const struct {
    Bytes file;
    int status;
    std::string field;
    std::uint32_t record = 0;
    std::uint64_t offset = 0, value = 0, limit = 0;
    int cut = 0;
    std::uint64_t left = 0;
    std::string problem;
  } rows[] = {
      // clang-format off
      {.file = BytesOf("Q"), .status = 1, .field = "magic", .cut = 1, .left = 1, .problem = "magic cut short by the end of the file"},
      {.file = Container{.magic = "QVEX"}.Build(), .status = 1, .field = "magic", .value = 0x51564558, .limit = 0x51564553, .problem = "magic 51564558, expected 51564553"},
      {.file = Container{.version = 256}.Build(), .status = 2, .field = "version", .offset = 4, .value = 256, .limit = 1, .problem = "version 256, expected 1"},
      {.file = Container{.cutTo = 6}.Build(), .status = 3, .field = "recipient count", .offset = 6, .cut = 1, .problem = "recipient count cut short by the end of the file"},
      {.file = Container{.count = 33}.Build(), .status = 4, .field = "recipient count", .offset = 6, .value = 33, .limit = 32, .problem = "recipient count 33, at most 32"},
      {.file = Container{.records = Records{{.tag = 'p'}}}.Build(), .status = 5, .field = "tag", .record = 1, .offset = 7, .value = 0x70, .limit = 0x50, .problem = "tag of record 1 70, expected 50"},
      {.file = Container{.cutTo = 9}.Build(), .status = 6, .field = "key identifier length", .record = 1, .offset = 8, .cut = 1, .left = 1, .problem = "key identifier length of record 1 cut short by the end of the file"},
      {.file = Container{.records = Records{{.keyIdLength = 16385}}, .cutTo = 10}.Build(), .status = 6, .field = "key identifier length", .record = 1, .offset = 8, .value = 16385, .limit = 16384, .problem = "key identifier length of record 1 16385, at most 16384"},
      {.file = Container{.records = Records{{.keyId = kKeyId10, .keyIdLength = 90}}, .cutTo = 50}.Build(), .status = 3, .field = "key identifier", .record = 1, .offset = 10, .value = 90, .cut = 1, .left = 40, .problem = "key identifier of record 1: 90 bytes, 40 left"},
      {.file = Container{.records = Records{{.keyId = kKeyId10, .wrappedKeyLength = 4097}}, .cutTo = 16}.Build(), .status = 7, .field = "wrapped key length", .record = 1, .offset = 14, .value = 4097, .limit = 4096, .problem = "wrapped key length of record 1 4097, at most 4096"},
      {.file = Container{.count = 2, .cutTo = 272}.Build(), .status = 3, .field = "tag", .record = 2, .offset = 272, .cut = 1, .problem = "tag of record 2 cut short by the end of the file"},
      {.file = Container{.cutTo = 280}.Build(), .status = 1, .field = "IV", .offset = 272, .value = 16, .cut = 1, .left = 8, .problem = "IV: 16 bytes, 8 left"},
      {.file = Container{}.Build(), .status = 0, .field = "", .problem = ""},
      // clang-format on
  };
  for (const auto& row : rows) {
    const Diagnosis d = Diagnose(row.file);
    const qve_diagnosis* h = d.get();
    EXPECT_EQ(std::tuple(qve_diagnosis_header_status(h), std::string(qve_diagnosis_header_field(h)),
                         qve_diagnosis_header_record(h), qve_diagnosis_header_offset(h),
                         qve_diagnosis_header_value(h), qve_diagnosis_header_limit(h),
                         qve_diagnosis_header_cut(h), qve_diagnosis_header_left(h),
                         std::string(qve_diagnosis_header_problem(h)), qve_diagnosis_size(h)),
              std::tuple(row.status, row.field, row.record, row.offset, row.value, row.limit,
                         row.cut, row.left, row.problem, row.file.size()));
  }
  // What the Python tests' facts of a whole container do not reach.
  const Diagnosis whole = Diagnose(Container{}.Build());
  EXPECT_EQ(qve_diagnosis_record_tag(whole.get(), 0), 'P');
  EXPECT_EQ(qve_diagnosis_record_wrapped_key_length(whole.get(), 0), 256u);
  EXPECT_EQ(qve_diagnosis_whole_blocks(Diagnose(Head(Container{}.Build(), 300)).get()), 0);
}

// The record the built-in key uses, how far its key gets (1 unwraps, 2 its
// CRC matches, 3 ready), decrypted in memory what the seal says as the
// decryption would judge it, and why a decryption gives the result it gives.
TEST(Interface, DiagnosisFollowsTheKeyAndTheSeal) {
  const Bytes key = Container{}.sessionKey;
  const Record good = WrappedFor(kKeyId10, KeyBlock(key));
  constexpr int K = QVE_DECRYPT_SESSION_KEY_UNAVAILABLE, H = QVE_DECRYPT_HEADER_INVALID;
  constexpr int N = QVE_DECRYPT_NO_SEAL, B = QVE_DECRYPT_BAD_SIGNATURE;
  const struct {
    Container container;
    std::int64_t record = 0;
    int key = 3, found = 1;
    int result = QVE_DECRYPT_SUCCESS;  // the seal is not reached for H and K
    const char* cause = "";            // of it
  } rows[] = {
      // clang-format off
      {.container = {.records = {{WrappedFor(kKeyId11, KeyBlock(key)), good}}}, .record = 1},
      {.container = {.records = {{WrappedFor(kKeyId11, KeyBlock(key))}}}, .record = -1, .key = 0, .found = 0, .result = K, .cause = "no recipient record names the built-in key 0a000000"},
      {.container = {.records = {{{.keyId = kKeyId10, .wrappedKey = Pattern(256)}}}}, .key = 0, .found = 0, .result = K, .cause = "record 1, the built-in key's, does not unwrap with it"},
      {.container = {.records = {{WrappedFor(kKeyId10, Concat(key, Bytes{1, 2, 3, 4}))}}}, .key = 1, .found = 0, .result = K, .cause = "record 1, the built-in key's, holds a key block whose CRC does not match"},
      {.container = {.body = Pattern(100), .seal = std::nullopt}, .found = 0, .result = N, .cause = "the plaintext ends in no seal trailer"},
      {.container = {.body = Pattern(100), .seal = Seal{.signature = Pattern(256)}}, .result = B, .cause = "the seal's signature does not match the plaintext"},
      {.container = {.seal = Seal{.keyId = kKeyId10}}, .result = B, .cause = "the seal names key 0a000000, not the built-in verification key 0b000000"},
      {.container = {.body = Pattern(20000)}},  // longer than the window
      {.container = {.body = Pattern(20000), .cutTo = 288 + 4096}, .found = 0, .result = N, .cause = "the container looks cut short or damaged: the padding of its last cipher block is invalid"},
      {.container = {.cutTo = 288}, .found = 0, .result = N, .cause = "the container looks cut short: it ends right after its IV, with no payload"},
      {.container = {.version = 2}, .record = -1, .key = 0, .found = 0, .result = H, .cause = "version 2 is not supported (this tool reads version 1)"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cause);
    const Diagnosis d = Diagnose(row.container.Build(), true);
    const int ready = row.key == 3;
    const qve_diagnosis* k = d.get();
    EXPECT_EQ(std::tuple(qve_diagnosis_key_record(k), qve_diagnosis_key_unwraps(k),
                         qve_diagnosis_key_crc_matches(k), qve_diagnosis_key_ready(k),
                         qve_diagnosis_key_material_length(k), qve_diagnosis_seal_result(k),
                         qve_diagnosis_seal_reached(k), qve_diagnosis_seal_found(k),
                         std::string(qve_diagnosis_cause(k, row.result))),
              std::tuple(row.record, int(row.key >= 1), int(row.key >= 2), ready,
                         std::size_t(row.key ? 32 : 0), row.result, ready, row.found,
                         std::string(row.cause)));
    if (!ready) continue;
    EXPECT_TRUE(row.container.cutTo ||
                qve_diagnosis_seal_plaintext_length(k) == row.container.Plaintext().size());
    EXPECT_EQ(*qve_diagnosis_seal_problem(k) == '\0', bool(row.found));
    if (!row.found) continue;
    std::size_t length = 0;
    const std::uint8_t* id = qve_diagnosis_seal_key_id(k, &length);
    EXPECT_EQ(Bytes(id, id + length), row.container.seal->keyId);
    EXPECT_EQ(std::tuple(qve_diagnosis_seal_names_built_in_key(k) == 1,
                         qve_diagnosis_seal_signature_length(k), qve_diagnosis_seal_length(k)),
              std::tuple(row.container.seal->keyId == kKeyId11, 256u, 276u));
  }
}

// Every warning comes before the first container.
TEST(Interface, FindContainers) {
  TempDir dir;
  const fs::path d = dir / "d";
  fs::create_directories(d / "sub");
#ifndef _WIN32
  const char* const renamed = "renamed\xe9.bin";  // no UTF-8, as Linux names may be
#else
  const char* const renamed = "renamed.bin";
#endif
  for (const char* name : {"b.qves", "sub/a.QVES", renamed}) WriteFile(d / name, kSealed.Build());
  WriteFile(d / "notes.txt", BytesOf("QVE"));
  WriteFile(d / "empty.qves", Bytes());
  WriteFile(d / "other.qves", BytesOf("PK\x03\x04"));
  std::set<std::string> warned = {"empty.qves", "other.qves"};
#ifndef _WIN32
  fs::create_symlink("b.qves", d / "link.qves");
  ASSERT_EQ(mkfifo((d / "fifo.qves").c_str(), 0644), 0);
  warned.insert({"link.qves", "fifo.qves"});
#endif
  struct Found {
    fs::path folder;
    int stopAt = -1;  // calls to take before stopping
    std::vector<std::pair<std::string, std::wstring>> containers = {};
    std::set<std::string> warned = {};
    bool warnedLate = false;
  };
  const qve_found_fn found = [](const char* path, const wchar_t* wide, const char* warning,
                                void* context) {
    Found& to = *static_cast<Found*>(context);
    if (to.stopAt-- == 0) return 1;
    const std::string name = fs::path(path).lexically_relative(to.folder).generic_string();
    if (warning == nullptr && wide != nullptr) {
      EXPECT_STREQ(qve_path_w(path), wide) << name;  // the same file as the wide path
      to.containers.emplace_back(name, wide);
    } else if (warning != nullptr && *warning != '\0' && wide == nullptr) {
      to.warnedLate = to.warnedLate || !to.containers.empty();
      to.warned.insert(name);
    } else {
      ADD_FAILURE() << name << " is told as neither";
    }
    return 0;
  };
  Found told{d}, wide{d}, missing{dir / "missing"};
  EXPECT_EQ(qve_find_containers(d.string().c_str(), found, &told), 5);
  std::vector<std::string> names;
  for (const auto& [name, path] : told.containers) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"b.qves", "empty.qves", "other.qves", renamed,
                                             "sub/a.QVES"}));
  EXPECT_EQ(told.warned, warned);
  EXPECT_FALSE(told.warnedLate);
  qve_check_options check = QVE_CHECK_OPTIONS_INIT;
  EXPECT_EQ(qve_check_w(told.containers.at(3).second.c_str(), &check), QVE_DECRYPT_SUCCESS);
  EXPECT_EQ(qve_path_w(nullptr), nullptr);
  EXPECT_EQ(qve_find_containers_w(WidePath(d).c_str(), found, &wide), 5);
  EXPECT_EQ(wide.containers, told.containers);
  EXPECT_EQ(qve_find_containers((dir / "missing").string().c_str(), found, &missing), 0);
  EXPECT_EQ(missing.warned.size(), 1u);
  // The callback stops it, at a warning or at a container.
  for (const int stopAt : {0, int(warned.size())}) {
    Found stopped{d, stopAt};
    EXPECT_EQ(qve_find_containers(d.string().c_str(), found, &stopped), QVE_ERROR_CANCELLED);
  }
  EXPECT_EQ(qve_find_containers(nullptr, found, &told), QVE_ERROR_MISUSE);
  EXPECT_EQ(qve_find_containers_w(WidePath(d).c_str(), nullptr, &told), QVE_ERROR_MISUSE);
}

}  // namespace
}  // namespace qve
