// qvehelper verify as users run it: one row per case, with what it prints and
// its exit status, on chains of logs built line by line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "tests/support/builders.h"
#include "tests/support/command_runner.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

namespace fs = std::filesystem;
using testing::LogBuilder;
using testing::LogChain;

// One device's export: System_1.log, System_2.log and system.log, one chain,
// system.log ending in two unsigned lines (5-6).
void Export(const fs::path& folder) {
  fs::create_directories(folder);
  LogChain chain;
  LogBuilder(chain).DataLines(3, "one ").Sign().WriteTo(folder / "System_1.log");
  LogBuilder(chain).DataLines(2, "two ").Sign().WriteTo(folder / "System_2.log");
  LogBuilder(chain)
      .DataLines(3, "sys ")
      .Sign()
      .DataLines(2, "tail ")
      .WriteTo(folder / "system.log");
}

struct Row {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;  // patterns; the whole text must match
  std::string err;
  std::function<void(const fs::path&)> setup = {};
  testing::Command how = {};
  std::function<void(const fs::path&)> during = {};
};

// The report page goes to the FIFO "h", read only after more than the second
// that progress waits for: the command is held with its chains done.
void ReadPageLate(const fs::path& dir) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  // Never blocking here, in case the command ended before it opened "h".
  const int fifo = open((dir / "h").c_str(), O_RDONLY | O_NONBLOCK);
  fcntl(fifo, F_SETFL, 0);
  char chunk[4096];
  while (read(fifo, chunk, sizeof chunk) > 0) {
  }
  close(fifo);
}

TEST(VerifyCommand, Table) {
  const std::string tail = "warning: a/system.log: lines 5-6 are not signed\n";
  const std::string ok = "ReportOk \\(0\\): 3 files, 0 bad\n";
  const std::string any = "[\\s\\S]*";
  const testing::Command nobody{.asNobody = true};
  const auto tamper = [](const fs::path& dir) {
    Bytes log = testing::ReadFile(dir / "b/System_2.log");
    log[1] = 'W';  // "two 1" becomes "tWo 1"
    testing::WriteFile(dir / "b/System_2.log", log);
  };
  const auto forgeName = [](const fs::path& dir) {
    fs::create_directory(dir / "n");
    // A four-byte character is printed as it is.
    testing::WriteFile(dir / "n" / "System_1\nOK: x\x1b[m\xF0\x9F\x98\x80.log",
                       std::string("plain\n"));
  };
  const auto lock = [](const fs::path& dir) {
    chmod((dir / "a/System_2.log").c_str(), 0);
    fs::create_directory(dir / "a/locked");
    chmod((dir / "a/locked").c_str(), 0);
  };
  const auto notUtf8 = [](const fs::path& dir) {
    testing::WriteFile(dir / "a/System_\xff.log", std::string());
  };
  const auto deep = [](const fs::path& dir) {
    fs::path folder = dir / "deep";
    for (int i = 0; i < 40; ++i) folder /= "d";
    fs::create_directories(folder);
    LogChain chain;
    LogBuilder(chain).Data("x").Sign().WriteTo(folder / "system.log");
  };
  const auto unseen = [](const fs::path& dir) {
    fs::create_directory(dir / "u");
    LogChain chain;
    LogBuilder(chain)
        .Data("a")
        .Data(std::string_view("b\0 forged", 9))
        .Sign()
        .Raw("\x1a forged\n")
        .WriteTo(dir / "u/system.log");
  };
  const auto pageFifo = [](const fs::path& dir) {
    ASSERT_EQ(mkfifo((dir / "h").c_str(), 0644), 0);
  };
  const auto fifos = [](const fs::path& dir) {
    for (const char* name : {"a/System_9.log", "a/notes"})
      ASSERT_EQ(mkfifo((dir / name).c_str(), 0644), 0);
  };
  const testing::Command terminal{.errorToTerminal = true};
  const std::vector<std::string> held = {"--each", "--html", "h", "a", "b"};
  const auto with = [&](const char* flag) {
    std::vector<std::string> args = held;
    args.insert(args.begin(), flag);
    return args;
  };
  // clang-format off
  const Row rows[] = {
      {"one chain", {"a"}, 0, ok, tail},
      {"quiet", {"-q", "a"}, 0, "", ""},
      {"a typo", {"a", "typo.log"}, 66, "", ".*verify: typo\\.log: no such file or directory\n"},
      {"the same folder twice", {"a", "./a"}, 0, ok,
       "(warning: \\./a/\\S+: the same file as a/\\S+; verified once\n){3}" + tail},
      {"a file with its folder", {"a/system.log", "a"}, 0, ok,
       "warning: a/system.log: the same file as a/system.log; verified once\n" + tail},
      {"names repeat", {"a", "b"}, 2, "FileChainBreak b/System_1.log\nFileChainBreak b/System_2.log\n"
       "FileChainBreak b/system.log\nReportSomeInvalid \\(2\\): 6 files, 3 bad\n", any},
      {"each", {"--each", "-j", "2", "a", "b"}, 0, "a: " + ok + "b: " + ok, tail + "warning: b/.*\n"},
      {"each worst", {"--each", "a", "b"}, 2,
       "a: " + ok + "  FileInvalid System_2.log\nb: ReportSomeInvalid \\(2\\): 3 files, 1 bad\n", any, tamper},
      {"each JSON", {"--each", "--json", "a", "b"}, 0,
       "\\{\"path\":\"a\",\"result\":\"ReportOk\".*\\}\n\\{\"path\":\"b\",.*\\}\n", ""},
      {"JSON", {"--json", "--include-ok", "a"}, 0,
       any + "\"name\": \"system.log\",\\s*\"path\": \"a/system.log\",\\s*\"verdict\": \"FileOk\",\\s*"
       "\"verdictCode\": 0,\\s*\"unsignedLines\": \\{\\s*\"first\": 5,\\s*\"last\": 6\\s*\\}" + any +
       "\"warnings\": \\[\\s*\\{\\s*\"path\": \"a/system.log\",\\s*\"message\": \"lines 5-6 are not "
       "signed\"\\s*\\}\\s*\\]\\s*\\}\n", ""},
      {"a forged line", {"n"}, 1,
       "FileUnsigned System_1\\\\nOK: x\\\\x1b\\[m\xF0\x9F\x98\x80\\.log\nReportUnsigned \\(1\\): 1 file, 0 bad\n",
       "warning: n/System_1\\\\nOK: x\\\\x1b\\[m\xF0\x9F\x98\x80\\.log: line 1 is not signed\n", forgeName},
      {"unreadable", {"a"}, 2,
       "FileUnsigned System_2.log\nFileChainBreak system.log\nReportSomeInvalid \\(2\\): 3 files, 1 bad\n",
       "warning: a/System_2.log: cannot be read \\(permission denied\\); FileUnsigned\n"
       "warning: a/locked: skipped: permission denied\n" + tail, lock, nobody},
      {"not UTF-8", {"a"}, 0, ok,
       "warning: a/System_\\\\xff\\.log: skipped: the name is not valid UTF-8\n" + tail, notUtf8},
      {"FIFOs", {"a"}, 0, ok, "warning: a/System_9.log: skipped: a FIFO, not a regular file\n" + tail,
       fifos},
      {"deeper than the open-file limit", {"deep"}, 0, "ReportOk \\(0\\): 1 file, 0 bad\n", "", deep,
       {.openFileLimit = 12}},
      {"unseen bytes", {"u"}, 0, "ReportOk \\(0\\): 1 file, 0 bad\n",
       "warning: u/system.log: line 2: bytes after a NUL are not signed\n"
       "warning: u/system.log: line 4: data after an end-of-input byte \\(0x1A\\) is not read\n", unseen},
      {"progress", held, 0, "a: " + ok + "b: " + ok,
       tail + "warning: b/system.log.*\n(\r[12] of 2 chains done)+\r {18}\r", pageFifo, terminal, ReadPageLate},
      {"quiet, no progress", with("-q"), 0, "", "", pageFifo, terminal, ReadPageLate},
      {"JSON, no progress", with("--json"), 0, any, "", pageFifo, terminal, ReadPageLate},
  };
  // clang-format on
  for (const Row& row : rows) {
    testing::TempDir dir;
    chmod(dir.path().c_str(), 0755);
    Export(dir / "a");
    Export(dir / "b");
    if (row.setup) row.setup(dir.path());
    auto command = testing::InFolder(row.how, QVE_CLI_FILE, "verify", row.args, dir.path());
    if (row.during) command.whileRunning = [&](pid_t) { row.during(dir.path()); };
    testing::ExpectPrinted(testing::Run(command), row.status, row.out, row.err, row.name);
  }
}

}  // namespace
}  // namespace qve
