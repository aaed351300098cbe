// SPDX-License-Identifier: Apache-2.0
// The containers' half of the extension interface, through its C functions
// alone: the result or error of each call, what it leaves in the folder,
// what progress it tells and where a callback can stop it, the check, and
// the diagnosis's facts.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <QVEHelper.h>
#include <openssl/err.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

const Bytes kOld = BytesOf("an earlier output");
const Bytes kBody = Pattern(30000, 1);

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

qve_decrypt_options DecryptOptions() {
  return {sizeof(qve_decrypt_options), nullptr, nullptr, 0, 0, 0, nullptr};
}
qve_check_options CheckOptions() {
  return {sizeof(qve_check_options), nullptr, nullptr, nullptr, nullptr, nullptr};
}

// The thread axis: each call runs on its thread alone (no loan) and with a
// loan that a second thread works for. Both must give the same.
constexpr int kThreadCounts[] = {1, 2};

// Runs `call` with `loan` set for `threads`: none for 1, else a loan that
// threads - 1 lent threads work for until the call is over.
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

// Every progress call, and the call (from 0) that stops the work.
struct Calls {
  std::vector<std::tuple<int, std::uint64_t, std::uint64_t>> seen;
  std::size_t stopAt = std::size_t(-1);

  static int Record(std::uint64_t done, std::uint64_t total, int step, void* context) {
    auto& calls = *static_cast<Calls*>(context);
    calls.seen.emplace_back(step, done, total);
    return calls.seen.size() - 1 == calls.stopAt ? 1 : 0;
  }
};

// What OUTPUT holds afterwards: the Old bytes, the Body, the whole
// Plaintext, Empty, or '-' nothing.
struct DecryptRow {
  const char* name;
  Container container;
  int code;
  char left;
  int problem;
  std::function<void(qve_decrypt_options&)> set = {};
  const char* input = "in.qves";   // as given, in the folder
  const char* output = "out.bin";  // as given, in the folder
};

TEST(Interface, DecryptTable) {
  const Container sealed{.body = kBody};
  const Container noSeal{.body = kBody, .seal = std::nullopt};
  const Container otherKey{.body = kBody, .seal = Seal{.keyId = kKeyId10}};
  const Container badHeader{.version = 2, .body = kBody};
  const Container noKey{
      .records = std::vector{WrappedFor(kKeyId11, KeyBlock(Container{}.sessionKey))},
      .body = kBody};
  // Many digest blocks, so that they pile up and pass between the threads.
  const Container large{.body = Pattern(1500000, 5)};
  const Container largeOtherKey{.body = Pattern(1500000, 5), .seal = Seal{.keyId = kKeyId10}};
  const Container largeNoSeal{.body = Pattern(1500000, 5), .seal = std::nullopt};
  // Plaintext that ends 100 bytes into a digest block of 128 KiB, so that
  // the trailer reaches back into the block before, and one that ends with
  // a block.
  const std::size_t trailer = Container{}.Plaintext().size();
  const Container straddling{.body = Pattern(8 * 131072 + 100 - trailer, 6)};
  const Container wholeBlocks{.body = Pattern(8 * 131072 - trailer, 6)};
  const auto keep = [](qve_decrypt_options& o) { o.keep_unverified = 1; };
  const auto direct = [](qve_decrypt_options& o) { o.write_directly = 1; };
  const auto older = [](qve_decrypt_options& o) { o.size = offsetof(qve_decrypt_options, loan); };
  constexpr int Ok = QVE_DECRYPT_SUCCESS, NoSeal = QVE_DECRYPT_NO_SEAL;
  constexpr int NONE = QVE_PROBLEM_NONE, CONTAINER = QVE_PROBLEM_CONTAINER;
  const DecryptRow rows[] = {
      // clang-format off
      {"success", sealed, Ok, 'B', NONE},
      {"success, a new file", sealed, Ok, 'O', NONE, {}, "in.qves", "new"},
      {"no seal", noSeal, NoSeal, 'O', CONTAINER},
      {"no seal, kept", noSeal, NoSeal, 'P', CONTAINER, keep},
      {"another key", otherKey, QVE_DECRYPT_BAD_SIGNATURE, 'O', CONTAINER},
      {"another key, kept", otherKey, QVE_DECRYPT_BAD_SIGNATURE, 'B', CONTAINER, keep},
      {"header", badHeader, QVE_DECRYPT_HEADER_INVALID, 'O', CONTAINER},
      {"header, kept", badHeader, QVE_DECRYPT_HEADER_INVALID, 'E', CONTAINER, keep},
      {"no key", noKey, QVE_DECRYPT_SESSION_KEY_UNAVAILABLE, 'O', CONTAINER},
      {"missing input", sealed, QVE_DECRYPT_INPUT_OPEN_FAILED, 'O', QVE_PROBLEM_INPUT, keep, "none"},
      {"folder as input", sealed, QVE_DECRYPT_INPUT_OPEN_FAILED, 'O', QVE_PROBLEM_INPUT, {}, "."},
      {"same file", sealed, QVE_ERROR_SAME_FILE, 'O', QVE_PROBLEM_SAME_FILE, {}, "in.qves", "in.qves"},
      {"same file, directly", sealed, QVE_ERROR_SAME_FILE, 'O', QVE_PROBLEM_SAME_FILE, direct, "in.qves", "in.qves"},
      {"a folder as output", sealed, QVE_ERROR_OUTPUT, 'O', QVE_PROBLEM_NOT_REGULAR, keep, "in.qves", "."},
      {"no folder", sealed, QVE_ERROR_OUTPUT, 'O', QVE_PROBLEM_FOLDER, {}, "in.qves", "none/out"},
      {"empty output name", sealed, QVE_ERROR_OUTPUT, 'O', QVE_PROBLEM_NAME, {}, "in.qves", ""},
      {"directly", sealed, Ok, 'B', NONE, direct},
      {"directly, header", badHeader, QVE_DECRYPT_HEADER_INVALID, 'E', CONTAINER, direct},
      {"directly, no seal", noSeal, NoSeal, 'P', CONTAINER, direct},
      {"options sized before the loan", sealed, Ok, 'B', NONE, older},
      {"large", large, Ok, 'B', NONE},
      {"large, another key, kept", largeOtherKey, QVE_DECRYPT_BAD_SIGNATURE, 'B', CONTAINER, keep},
      {"large, no seal, kept", largeNoSeal, NoSeal, 'P', CONTAINER, keep},
      {"the trailer across two blocks", straddling, Ok, 'B', NONE},
      {"whole blocks", wholeBlocks, Ok, 'B', NONE},
      // clang-format on
  };
  for (const int threads : kThreadCounts)
    for (const DecryptRow& row : rows) {
      TempDir dir;
      WriteFile(dir / "in.qves", row.container.Build());
      WriteFile(dir / "out.bin", kOld);
#ifndef _WIN32
      fs::permissions(dir / "out.bin", fs::perms::owner_read | fs::perms::owner_write);
#endif
      const std::set<std::string> before = Names(dir.path());
      qve_decrypt_options options = DecryptOptions();
      if (row.set) row.set(options);
      const auto path = [&](const char* name) {
        return std::string(name).empty() ? std::string() : (dir / name).string();
      };
      const int code = WithThreads(threads, options.loan, [&] {
        return qve_decrypt(path(row.input).c_str(), path(row.output).c_str(), &options);
      });
      SCOPED_TRACE(std::to_string(threads) + " threads");
      EXPECT_EQ(code, row.code) << row.name;
      EXPECT_EQ(qve_last_problem(), row.problem) << row.name;
      EXPECT_EQ(std::string(qve_last_message()).empty(), row.problem == QVE_PROBLEM_NONE)
          << row.name;
      std::set<std::string> after = before;
      if (std::string(row.output) == "new" && code == QVE_DECRYPT_SUCCESS) after.insert("new");
      EXPECT_EQ(Names(dir.path()), after) << row.name;  // no temporary file left
      const Bytes left = row.left == 'B'   ? row.container.body
                         : row.left == 'P' ? row.container.Plaintext()
                         : row.left == 'E' ? Bytes{}
                                           : kOld;
      EXPECT_EQ(ReadFile(dir / "out.bin"), left) << row.name;
      if (after.count("new")) {
        EXPECT_EQ(ReadFile(dir / "new"), row.container.body) << row.name;
      }
#ifndef _WIN32
      // A replaced file keeps its mode.
      EXPECT_EQ(fs::status(dir / "out.bin").permissions(),
                fs::perms::owner_read | fs::perms::owner_write)
          << row.name;
#endif
    }
}

#ifndef _WIN32
// Inputs that would keep a reader waiting, and what is no regular file.
TEST(Interface, SpecialFiles) {
  TempDir dir;
  WriteFile(dir / "in.qves", Container{.body = kBody}.Build());
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  qve_decrypt_options options = DecryptOptions();
  const std::string in = (dir / "in.qves").string(), fifo = (dir / "fifo").string();
  const std::string out = (dir / "out").string();
  EXPECT_EQ(qve_decrypt(fifo.c_str(), out.c_str(), &options), QVE_ERROR_WRONG_KIND);
  EXPECT_EQ(qve_last_problem(), QVE_PROBLEM_INPUT);
  EXPECT_STREQ(qve_last_problem_reason(), "a FIFO");
  EXPECT_EQ(qve_decrypt(in.c_str(), fifo.c_str(), &options), QVE_ERROR_OUTPUT);
  EXPECT_EQ(qve_last_problem(), QVE_PROBLEM_NOT_REGULAR);
  // Written directly too; a reader is there, so that a FIFO taken as the
  // output would not keep the call waiting.
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  options.write_directly = 1;
  EXPECT_EQ(qve_decrypt(in.c_str(), fifo.c_str(), &options), QVE_ERROR_OUTPUT);
  EXPECT_EQ(qve_last_problem(), QVE_PROBLEM_NOT_REGULAR);
  options.write_directly = 0;
  close(reader);
  qve_check_options check = CheckOptions();
  EXPECT_EQ(qve_check(fifo.c_str(), &check), QVE_ERROR_WRONG_KIND);
  qve_diagnosis* diagnosis = nullptr;
  const qve_diagnose_options diagnose{sizeof diagnose, 0};
  EXPECT_EQ(qve_diagnose_container(fifo.c_str(), &diagnose, &diagnosis), QVE_ERROR_WRONG_KIND);
  EXPECT_EQ(diagnosis, nullptr);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"fifo", "in.qves"}));

  // Taken as a stream, the FIFO is opened once: a reader that came and
  // went would let a writer waiting to open in, to write to no reader (a
  // broken pipe), and the decryption would wait for good for another. The
  // moment is short: many rounds.
  const Bytes bytes = Container{.body = kBody}.Build();
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
#endif

#ifndef _WIN32
std::atomic<int> umaskCalls{0};
}  // namespace
}  // namespace qve

// Every umask call in the process, counted: the mask is the process's, so
// a library that sets it, even to set it back, leaves a file another thread
// of the host makes meanwhile unmasked.
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
  qve_decrypt_options options = DecryptOptions();
  EXPECT_EQ(qve_decrypt(in.c_str(), out.c_str(), &options), QVE_DECRYPT_SUCCESS);
  EXPECT_EQ(umaskCalls, calls);
  umask(before);
  EXPECT_EQ(fs::status(out).permissions(), fs::perms(0640));
}
#endif

// Three 256 KiB blocks of container and of plaintext: each step is told at
// its start, block by block and at its end (with a loan, the seal check at
// its start and end only, as the plaintext is not read back), and a
// callback that stops at any call leaves OUTPUT as it was and no file
// behind.
TEST(Interface, ProgressAndStopping) {
  TempDir dir, scratch;
  const Container big{.body = Pattern(600000, 3)};
  const Bytes container = big.Build();
  WriteFile(dir / "in.qves", container);
  const std::string in = (dir / "in.qves").string(), out = (dir / "out.bin").string();
  const std::uint64_t size = container.size(), plain = big.body.size();
  using Call = std::tuple<int, std::uint64_t, std::uint64_t>;
  const std::vector<Call> decrypting = {{QVE_STEP_DECRYPTING, 0, size},
                                        {QVE_STEP_DECRYPTING, 262144, size},
                                        {QVE_STEP_DECRYPTING, 524288, size},
                                        {QVE_STEP_DECRYPTING, size, size},
                                        {QVE_STEP_DECRYPTING, size, size}};
  for (const int threads : kThreadCounts) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    std::vector<Call> told = decrypting;
    if (threads == 1) {
      told.insert(told.end(), {{QVE_STEP_CHECKING_SEAL, 0, plain},
                               {QVE_STEP_CHECKING_SEAL, 262144, plain},
                               {QVE_STEP_CHECKING_SEAL, 524288, plain},
                               {QVE_STEP_CHECKING_SEAL, plain, plain},
                               {QVE_STEP_CHECKING_SEAL, plain, plain}});
    } else {
      told.insert(told.end(),
                  {{QVE_STEP_CHECKING_SEAL, 0, plain}, {QVE_STEP_CHECKING_SEAL, plain, plain}});
    }
    WriteFile(dir / "out.bin", kOld);
    Calls calls;
    qve_decrypt_options options = DecryptOptions();
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
      EXPECT_EQ(decrypt(), QVE_ERROR_CANCELLED) << stop;
      EXPECT_EQ(qve_last_problem(), QVE_PROBLEM_CANCELLED);
      EXPECT_EQ(calls.seen.size(), stop + 1) << "no call after the one that stopped";
      EXPECT_EQ(ReadFile(dir / "out.bin"), kOld) << stop;
      EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"in.qves", "out.bin"})) << stop;
    }
    // A check in memory has the one step; with a scratch file, both.
    const std::string folder = scratch.path().string();
    for (const char* scratchFolder : {static_cast<const char*>(nullptr), folder.c_str()}) {
      qve_check_options check = CheckOptions();
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
}

// The check gives what the decryption gives, in memory or with a scratch
// file, and leaves no file anywhere.
TEST(Interface, CheckAgreesWithTheDecryption) {
  TempDir dir, scratch;
  const Container containers[] = {
      {.body = kBody},
      {.body = kBody, .seal = std::nullopt},
      {.body = kBody, .seal = Seal{.signature = Pattern(256)}},
      {.version = 2},
      {.records = std::vector{WrappedFor(kKeyId11, KeyBlock(Container{}.sessionKey))}},
      {.body = Pattern(20000), .cutTo = 288 + 4096},
      {.body = Pattern(1500000, 4)},
      {.body = Pattern(1500000, 4), .seal = Seal{.signature = Pattern(256)}},
  };
  const std::string in = (dir / "in.qves").string(), out = (dir / "out.bin").string();
  const std::string folder = scratch.path().string();
  for (const Container& container : containers) {
    WriteFile(dir / "in.qves", container.Build());
    qve_decrypt_options options = DecryptOptions();
    const int decrypted = qve_decrypt(in.c_str(), out.c_str(), &options);
    const std::string cause = qve_last_message();
    for (const int threads : kThreadCounts) {
      qve_check_options check = CheckOptions();
      const auto checked = [&] {
        return WithThreads(threads, check.loan, [&] { return qve_check(in.c_str(), &check); });
      };
      EXPECT_EQ(checked(), decrypted) << threads;
      EXPECT_EQ(qve_last_message(), cause);
      check.scratch_folder = folder.c_str();
      EXPECT_EQ(checked(), decrypted) << threads;
      EXPECT_EQ(qve_last_message(), cause);
    }
  }
  EXPECT_TRUE(fs::is_empty(scratch.path()));
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"in.qves", "out.bin"}));
  qve_check_options check = CheckOptions();
  const std::string missing = (scratch / "none").string();
  check.scratch_folder = missing.c_str();
  EXPECT_EQ(qve_check(in.c_str(), &check), QVE_ERROR_SCRATCH);
  EXPECT_EQ(qve_last_problem(), QVE_PROBLEM_TEMPORARY);
  EXPECT_EQ(qve_last_problem_path(), missing);
}

// An error that a host leaves on its thread's OpenSSL queue, before the call
// or from its progress callback, is cleared before each OpenSSL call of the
// seal check on that thread, so it neither outlives the call nor stands for
// the check's own failure. With a loan and no plaintext, only the binding
// and the final check run on the calling thread; with no loan the plaintext
// is read back and digested there.
// A folder as check takes it: the containers by name (any case) or by their
// first bytes, in order of their paths after every entry passed over or
// taken with a doubt; each told by a wide path that opens it.
TEST(Interface, FindContainers) {
  TempDir dir;
  const fs::path d = dir / "d";
  fs::create_directories(d / "sub");
  const Bytes container = Container{}.Build();
#ifndef _WIN32
  const char* const renamed = "renamed\xe9.bin";  // no UTF-8, as Linux names may be
#else
  const char* const renamed = "renamed.bin";
#endif
  // Name, bytes, what is told of it: a container, a warning or both.
  const struct {
    const char* name;
    Bytes bytes;
    bool container, warned;
  } entries[] = {
      {"b.qves", container, true, false},  {"sub/a.QVES", container, true, false},
      {renamed, container, true, false},   {"notes.txt", BytesOf("QVE"), false, false},
      {"empty.qves", Bytes(), true, true}, {"other.qves", BytesOf("PK\x03\x04"), true, true},
  };
  std::set<std::string> warned;
  for (const auto& entry : entries) {
    WriteFile(d / entry.name, entry.bytes);
    if (entry.warned) warned.insert(entry.name);
  }
#ifndef _WIN32
  fs::create_symlink("b.qves", d / "link.qves");
  ASSERT_EQ(mkfifo((d / "fifo.qves").c_str(), 0644), 0);
  warned.insert({"link.qves", "fifo.qves"});
#endif
  struct Told {
    fs::path folder;
    std::vector<std::pair<std::string, std::wstring>> containers = {};
    std::set<std::string> warned = {};
    int stopAt = -1;  // calls to take before stopping
    bool warnedLate = false;
  } told{d};
  const qve_found_fn found = [](const char* path, const wchar_t* wide, const char* warning,
                                void* context) {
    Told& to = *static_cast<Told*>(context);
    if (to.stopAt-- == 0) return 1;
    const std::string name = fs::path(path).lexically_relative(to.folder).generic_string();
    if (warning == nullptr && wide != nullptr) {
      // The path given out names the same file as the wide one.
      EXPECT_STREQ(qve_path_w(path), wide) << name;
      to.containers.emplace_back(name, wide);
    } else if (warning != nullptr && *warning != '\0' && wide == nullptr) {
      to.warnedLate = to.warnedLate || !to.containers.empty();
      to.warned.insert(name);
    } else {
      ADD_FAILURE() << name << " is told as neither";
    }
    return 0;
  };
  EXPECT_EQ(qve_find_containers(d.string().c_str(), found, &told), 5);
  std::vector<std::string> names;
  for (const auto& [name, wide] : told.containers) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"b.qves", "empty.qves", "other.qves", renamed,
                                             "sub/a.QVES"}));
  EXPECT_EQ(told.warned, warned);
  EXPECT_FALSE(told.warnedLate);
  qve_check_options check = CheckOptions();
  ASSERT_EQ(told.containers.size(), 5u);
  EXPECT_EQ(qve_check_w(told.containers[3].second.c_str(), &check), QVE_DECRYPT_SUCCESS);
  EXPECT_EQ(qve_path_w(nullptr), nullptr);
  // The wide form tells the same; a folder that is not there is a warning.
  Told wide{d};
  EXPECT_EQ(qve_find_containers_w(WidePath(d).c_str(), found, &wide), 5);
  EXPECT_EQ(wide.containers, told.containers);
  Told missing{dir / "missing"};
  EXPECT_EQ(qve_find_containers((dir / "missing").string().c_str(), found, &missing), 0);
  EXPECT_EQ(missing.warned.size(), 1u);
  // The callback stops it, at a warning or at a container.
  for (const int stopAt : {0, int(warned.size())}) {
    Told stopped{d};
    stopped.stopAt = stopAt;
    EXPECT_EQ(qve_find_containers(d.string().c_str(), found, &stopped), QVE_ERROR_CANCELLED);
  }
  EXPECT_EQ(qve_find_containers(nullptr, found, &told), QVE_ERROR_MISUSE);
  EXPECT_EQ(qve_find_containers_w(WidePath(d).c_str(), nullptr, &told), QVE_ERROR_MISUSE);
}

TEST(Interface, HostErrorsOnTheQueueDoNotOutliveTheSealCheck) {
  enum When { BeforeTheCall, AtTheSealCheck };
  struct Left {
    When when;
    bool placed = false;
    static int Place(std::uint64_t done, std::uint64_t, int step, void* context) {
      auto& left = *static_cast<Left*>(context);
      // Once: with no plaintext the check's end is told with 0 done too.
      if (left.when == AtTheSealCheck && step == QVE_STEP_CHECKING_SEAL && done == 0 &&
          !left.placed) {
        ERR_raise(ERR_LIB_USER, 1);
        left.placed = true;
      }
      return 0;
    }
  };
  const Container signedEmpty{}, otherKeyEmpty{.seal = Seal{.keyId = kKeyId10}},
      otherKey{.body = kBody, .seal = Seal{.keyId = kKeyId10}};
  const struct {
    const char* name;
    Container container;
    When when;
    int threads;  // 0: each count
    int code;
  } rows[] = {
      // clang-format off
      {"before, no plaintext, another key", otherKeyEmpty, BeforeTheCall, 0, QVE_DECRYPT_BAD_SIGNATURE},
      {"at the check, no plaintext, signed", signedEmpty, AtTheSealCheck, 0, QVE_DECRYPT_SUCCESS},
      {"at the check, digested here, another key", otherKey, AtTheSealCheck, 1, QVE_DECRYPT_BAD_SIGNATURE},
      // clang-format on
  };
  TempDir dir;
  const std::string in = (dir / "in.qves").string(), out = (dir / "out.bin").string();
  for (const auto& row : rows)
    for (const int threads : kThreadCounts) {
      if (row.threads != 0 && row.threads != threads) continue;
      SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(threads) + " threads");
      WriteFile(dir / "in.qves", row.container.Build());
      Left left{row.when};
      qve_decrypt_options options = DecryptOptions();
      options.progress = Left::Place;
      options.context = &left;
      ERR_clear_error();
      if (row.when == BeforeTheCall) ERR_raise(ERR_LIB_USER, 1);
      EXPECT_EQ(WithThreads(threads, options.loan,
                            [&] { return qve_decrypt(in.c_str(), out.c_str(), &options); }),
                row.code);
      EXPECT_EQ(left.placed, row.when == AtTheSealCheck);
      EXPECT_EQ(ERR_peek_error(), 0u);
      ERR_clear_error();
    }
}

TEST(Interface, Misuse) {
  TempDir dir;
  WriteFile(dir / "in.qves", Container{}.Build());
  const std::string in = (dir / "in.qves").string(), out = (dir / "out").string();
  qve_decrypt_options decrypt = DecryptOptions();
  qve_check_options check = CheckOptions();
  qve_diagnose_options diagnose{sizeof diagnose, 0};
  // Not a diagnosis: what a host's pointer holds before the call.
  qve_diagnosis* diagnosis = reinterpret_cast<qve_diagnosis*>(&decrypt);
  const std::function<int()> calls[] = {
      [&] { return qve_decrypt(nullptr, out.c_str(), &decrypt); },
      [&] { return qve_decrypt(in.c_str(), nullptr, &decrypt); },
      [&] { return qve_decrypt(in.c_str(), out.c_str(), nullptr); },
      [&] { return qve_decrypt_w(nullptr, L"out", &decrypt); },
      [&] {
        qve_decrypt_options older = decrypt;
        older.size -= sizeof(int);
        return qve_decrypt(in.c_str(), out.c_str(), &older);
      },
      [&] { return qve_check(nullptr, &check); },
      [&] { return qve_loan_create(nullptr); },
      [&] { return qve_loan_work(nullptr); },
      [&] { return qve_loan_end(nullptr); },
      [&] { return qve_check(in.c_str(), nullptr); },
      [&] {
        qve_check_options both = check;
        both.scratch_folder = ".";
        both.scratch_folder_w = L".";
        return qve_check(in.c_str(), &both);
      },
      [&] { return qve_diagnose_container(nullptr, &diagnose, &diagnosis); },
      [&] { return qve_diagnose_container(in.c_str(), nullptr, &diagnosis); },
      [&] { return qve_diagnose_container(in.c_str(), &diagnose, nullptr); },
      [&] {
        qve_diagnose_options larger[2] = {diagnose, diagnose};
        larger[0].size = sizeof larger;
        return qve_diagnose_container(in.c_str(), larger, &diagnosis);
      },
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i](), QVE_ERROR_MISUSE) << i;
  EXPECT_EQ(diagnosis, nullptr);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"in.qves"}));
  // Every accessor takes a NULL diagnosis.
  EXPECT_EQ(qve_diagnosis_record_count(nullptr), 0u);
  EXPECT_EQ(qve_diagnosis_version(nullptr), -1);
  EXPECT_STREQ(qve_diagnosis_cause(nullptr, 1), "");
  std::size_t length = 1;
  EXPECT_EQ(qve_diagnosis_iv(nullptr, &length), nullptr);
  EXPECT_EQ(length, 0u);
  qve_diagnosis_free(nullptr);
  EXPECT_EQ(qve_starts_container(nullptr, 4), 0);
  EXPECT_EQ(qve_starts_container("QVES", 4), 1);
  EXPECT_EQ(qve_starts_container("QVE", 3), 0);
}

// A path with no form here names no file: the path's error, not a file's,
// and the run says why. On Linux a wide path with a lone surrogate, which no
// Linux name holds; on Windows, where every wide text names a file, narrow
// text that is not UTF-8 (a name in the code page).
TEST(Interface, PathsWithNoForm) {
  TempDir dir;
  WriteFile(dir / "in.qves", Container{}.Build());
  qve_decrypt_options decrypt = DecryptOptions();
  qve_check_options check = CheckOptions(), scratch = CheckOptions();
  const qve_diagnose_options diagnose{sizeof diagnose, 0};
  qve_diagnosis* diagnosis = nullptr;
  const qve_run_options runOptions = QVE_RUN_OPTIONS_INIT;
  qve_run* run = nullptr;
  ASSERT_EQ(qve_run_create(&runOptions, &run), 0);
#ifdef _WIN32
  const std::string in = (dir / "in.qves").string(), none = dir.path().string() + "/caf\xe9";
  scratch.scratch_folder = none.c_str();
  const std::function<int()> calls[] = {
      [&] { return qve_decrypt(none.c_str(), (in + ".out").c_str(), &decrypt); },
      [&] { return qve_decrypt(in.c_str(), none.c_str(), &decrypt); },
      [&] { return qve_check(none.c_str(), &check); },
      [&] { return qve_check(in.c_str(), &scratch); },
      [&] { return qve_diagnose_container(none.c_str(), &diagnose, &diagnosis); },
      [&] { return qve_run_add(run, none.c_str()); },
  };
#else
  const std::wstring in = WidePath(dir / "in.qves"), none = WidePath(dir.path()) + L"/\xD800";
  scratch.scratch_folder_w = none.c_str();
  const std::function<int()> calls[] = {
      [&] { return qve_decrypt_w(none.c_str(), (in + L".out").c_str(), &decrypt); },
      [&] { return qve_decrypt_w(in.c_str(), none.c_str(), &decrypt); },
      [&] { return qve_check_w(none.c_str(), &check); },
      [&] { return qve_check_w(in.c_str(), &scratch); },
      [&] { return qve_diagnose_container_w(none.c_str(), &diagnose, &diagnosis); },
      [&] { return qve_run_add_w(run, none.c_str()); },
  };
#endif
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
  struct Stop {
    int status;
    const char* field;
    std::uint32_t record;
    std::uint64_t offset, value, limit;
    bool cut = false;
    std::uint64_t left = 0;
  };
  const struct {
    const char* name;
    Bytes file;
    Stop stop;
    const char* problem;
  } rows[] = {
      // clang-format off
      {"one byte", BytesOf("Q"), {1, "magic", 0, 0, 0, 0, true, 1}, "magic cut short by the end of the file"},
      {"magic", Container{.magic = "QVEX"}.Build(), {1, "magic", 0, 0, 0x51564558, 0x51564553},
       "magic 51564558, expected 51564553"},
      {"version cut", Container{.cutTo = 5}.Build(), {1, "version", 0, 4, 0, 0, true, 1},
       "version cut short by the end of the file"},
      {"version 256", Container{.version = 256}.Build(), {2, "version", 0, 4, 256, 1}, "version 256, expected 1"},
      {"count cut", Container{.cutTo = 6}.Build(), {3, "recipient count", 0, 6, 0, 0, true},
       "recipient count cut short by the end of the file"},
      {"count 33", Container{.count = 33}.Build(), {4, "recipient count", 0, 6, 33, 32},
       "recipient count 33, at most 32"},
      {"lower-case tag", Container{.records = Records{{.tag = 'p'}}}.Build(), {5, "tag", 1, 7, 0x70, 0x50},
       "tag of record 1 70, expected 50"},
      {"key id length cut", Container{.cutTo = 9}.Build(), {6, "key identifier length", 1, 8, 0, 0, true, 1},
       "key identifier length of record 1 cut short by the end of the file"},
      {"key id length 16385", Container{.records = Records{{.keyIdLength = 16385}}, .cutTo = 10}.Build(),
       {6, "key identifier length", 1, 8, 16385, 16384}, "key identifier length of record 1 16385, at most 16384"},
      {"key id cut", Container{.records = Records{{.keyId = kKeyId10, .keyIdLength = 90}}, .cutTo = 50}.Build(),
       {3, "key identifier", 1, 10, 90, 0, true, 40}, "key identifier of record 1: 90 bytes, 40 left"},
      {"wrapped key length 4097",
       Container{.records = Records{{.keyId = kKeyId10, .wrappedKeyLength = 4097}}, .cutTo = 16}.Build(),
       {7, "wrapped key length", 1, 14, 4097, 4096}, "wrapped key length of record 1 4097, at most 4096"},
      {"wrapped key cut", Container{.cutTo = 100}.Build(), {3, "wrapped key", 1, 16, 256, 0, true, 84},
       "wrapped key of record 1: 256 bytes, 84 left"},
      {"second record missing", Container{.count = 2, .cutTo = 272}.Build(), {3, "tag", 2, 272, 0, 0, true},
       "tag of record 2 cut short by the end of the file"},
      {"IV cut", Container{.cutTo = 280}.Build(), {1, "IV", 0, 272, 16, 0, true, 8}, "IV: 16 bytes, 8 left"},
      {"complete", Container{}.Build(), {0, "", 0, 0, 0, 0}, ""},
      // clang-format on
  };
  for (const auto& row : rows) {
    const Diagnosis d = Diagnose(row.file);
    const Stop& s = row.stop;
    EXPECT_EQ(qve_diagnosis_header_status(d.get()), s.status) << row.name;
    EXPECT_STREQ(qve_diagnosis_header_field(d.get()), s.field) << row.name;
    EXPECT_EQ(qve_diagnosis_header_record(d.get()), s.record) << row.name;
    EXPECT_EQ(qve_diagnosis_header_offset(d.get()), s.offset) << row.name;
    EXPECT_EQ(qve_diagnosis_header_value(d.get()), s.value) << row.name;
    EXPECT_EQ(qve_diagnosis_header_limit(d.get()), s.limit) << row.name;
    EXPECT_EQ(qve_diagnosis_header_cut(d.get()), s.cut ? 1 : 0) << row.name;
    EXPECT_EQ(qve_diagnosis_header_left(d.get()), s.left) << row.name;
    EXPECT_STREQ(qve_diagnosis_header_problem(d.get()), row.problem) << row.name;
    EXPECT_EQ(qve_diagnosis_size(d.get()), row.file.size()) << row.name;
  }
  const Diagnosis whole = Diagnose(Container{.body = Pattern(100)}.Build());
  EXPECT_EQ(qve_diagnosis_version(whole.get()), 1);
  EXPECT_EQ(qve_diagnosis_recipient_count(whole.get()), 1);
  ASSERT_EQ(qve_diagnosis_record_count(whole.get()), 1u);
  EXPECT_EQ(qve_diagnosis_record_offset(whole.get(), 0), 7u);
  EXPECT_EQ(qve_diagnosis_record_tag(whole.get(), 0), 'P');
  std::size_t length = 0;
  const std::uint8_t* id = qve_diagnosis_record_key_id(whole.get(), 0, &length);
  EXPECT_EQ(Bytes(id, id + length), kKeyId10);
  EXPECT_EQ(qve_diagnosis_record_wrapped_key_length(whole.get(), 0), 256u);
  const std::uint8_t* iv = qve_diagnosis_iv(whole.get(), &length);
  EXPECT_EQ(Bytes(iv, iv + length), Container{}.iv);
  EXPECT_EQ(qve_diagnosis_payload_length(whole.get()), 384u);  // 100 + 276, padded to whole blocks
  EXPECT_EQ(qve_diagnosis_block_size(whole.get()), 16u);
  EXPECT_EQ(qve_diagnosis_whole_blocks(whole.get()), 1);
  EXPECT_EQ(qve_diagnosis_last_block_padding(whole.get()), 1);
  EXPECT_EQ(qve_diagnosis_whole_blocks(Diagnose(Head(Container{}.Build(), 300)).get()), 0);
}

// The record the built-in key uses, how far its key gets, decrypted in
// memory what the seal says as the decryption would judge it, and why a
// decryption gives the result it gives.
TEST(Interface, DiagnosisFollowsTheKeyAndTheSeal) {
  const Bytes key = Container{}.sessionKey;
  const Record good = WrappedFor(kKeyId10, KeyBlock(key));
  constexpr int K = QVE_DECRYPT_SESSION_KEY_UNAVAILABLE, H = QVE_DECRYPT_HEADER_INVALID;
  constexpr int S = QVE_DECRYPT_SUCCESS, N = QVE_DECRYPT_NO_SEAL, B = QVE_DECRYPT_BAD_SIGNATURE;
  const struct {
    const char* name;
    Container container;
    std::int64_t record;
    int unwraps, crcMatches, ready, found;
    int result;         // what the decryption gives; the seal is not reached for H and K
    const char* cause;  // of it
  } rows[] = {
      // clang-format off
      {"second record", {.records = {{WrappedFor(kKeyId11, KeyBlock(key)), good}}}, 1, 1, 1, 1, 1, S, ""},
      {"no record for key 10", {.records = {{WrappedFor(kKeyId11, KeyBlock(key))}}}, -1, 0, 0, 0, 0, K,
       "no recipient record names the built-in key 0a000000"},
      {"does not unwrap", {.records = {{{.keyId = kKeyId10, .wrappedKey = Pattern(256)}}}}, 0, 0, 0, 0, 0, K,
       "record 1, the built-in key's, does not unwrap with it"},
      {"CRC mismatch", {.records = {{WrappedFor(kKeyId10, Concat(key, Bytes{1, 2, 3, 4}))}}}, 0, 1, 0, 0, 0, K,
       "record 1, the built-in key's, holds a key block whose CRC does not match"},
      {"no seal", {.body = Pattern(100), .seal = std::nullopt}, 0, 1, 1, 1, 0, N,
       "the plaintext ends in no seal trailer"},
      {"bad signature", {.body = Pattern(100), .seal = Seal{.signature = Pattern(256)}}, 0, 1, 1, 1, 1, B,
       "the seal's signature does not match the plaintext"},
      {"seal names key 10", {.seal = Seal{.keyId = kKeyId10}}, 0, 1, 1, 1, 1, B,
       "the seal names key 0a000000, not the built-in verification key 0b000000"},
      {"longer than the window", {.body = Pattern(20000)}, 0, 1, 1, 1, 1, S, ""},
      {"cut at a block", {.body = Pattern(20000), .cutTo = 288 + 4096}, 0, 1, 1, 1, 0, N,
       "the container looks cut short or damaged: the padding of its last cipher block is invalid"},
      {"cut after the IV", {.cutTo = 288}, 0, 1, 1, 1, 0, N,
       "the container looks cut short: it ends right after its IV, with no payload"},
      {"version 2", {.version = 2}, -1, 0, 0, 0, 0, H, "version 2 is not supported (this tool reads version 1)"},
      // clang-format on
  };
  for (const auto& row : rows) {
    const Diagnosis d = Diagnose(row.container.Build(), true);
    EXPECT_EQ(qve_diagnosis_key_record(d.get()), row.record) << row.name;
    EXPECT_EQ(qve_diagnosis_key_unwraps(d.get()), row.unwraps) << row.name;
    EXPECT_EQ(qve_diagnosis_key_crc_matches(d.get()), row.crcMatches) << row.name;
    EXPECT_EQ(qve_diagnosis_key_ready(d.get()), row.ready) << row.name;
    EXPECT_EQ(qve_diagnosis_key_material_length(d.get()), row.unwraps ? 32u : 0u) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_result(d.get()), row.result) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_reached(d.get()), row.ready) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_found(d.get()), row.found) << row.name;
    EXPECT_STREQ(qve_diagnosis_cause(d.get(), row.result), row.cause) << row.name;
    if (!row.ready) continue;
    EXPECT_EQ(qve_diagnosis_seal_plaintext_length(d.get()),
              row.container.cutTo ? qve_diagnosis_seal_plaintext_length(d.get())
                                  : row.container.Plaintext().size())
        << row.name;
    if (!row.found) {
      EXPECT_STRNE(qve_diagnosis_seal_problem(d.get()), "") << row.name;
      continue;
    }
    std::size_t length = 0;
    const std::uint8_t* id = qve_diagnosis_seal_key_id(d.get(), &length);
    EXPECT_EQ(Bytes(id, id + length), row.container.seal->keyId) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_names_built_in_key(d.get()), row.container.seal->keyId == kKeyId11)
        << row.name;
    EXPECT_EQ(qve_diagnosis_seal_signature_length(d.get()), 256u) << row.name;
    EXPECT_EQ(qve_diagnosis_seal_length(d.get()), 276u) << row.name;
  }
}

}  // namespace
}  // namespace qve
