// SPDX-License-Identifier: Apache-2.0
// A verification run through the C interface, as a host runs it, once on
// its own thread and once with one or two threads lent to it: every event,
// verdict, status and record must be the same. The input is cut into logs as
// the verify target cuts it; the first bytes also choose the run's options,
// how the threads are lent (a loan, qve_run_work_wait, or qve_run_work in a
// loop) and how often each side yields, so that the fuzzer, not the clock,
// varies the interleaving. Every accessor is read after every event and
// once the run is done, as a host would read them.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "QVEHelper.h"
#include "fuzz/scratch_files.h"

namespace {

enum class Lending { None, Loan, WorkWait, WorkPolled };

struct Plan {
  Lending lending = Lending::None;
  unsigned threads = 0;
  unsigned readerYields = 0;  // between two qve_run_next
  unsigned workerYields = 0;  // between two qve_run_work
  qve_run_options options = QVE_RUN_OPTIONS_INIT;
  bool byFolder = false;
  bool odd = false;  // the odd entries added too, and a file twice
  // A rotation while the run reads: after this many events (0: none) the
  // newest log is renamed, as a writer rotates it, and named back after.
  unsigned rotateAt = 0;
  std::string newest, rotated;
};

// A folder of what a walk passes over or cannot read: a FIFO and a link
// with a log's name, a log's name but for case, a link to a folder, a
// folder with no log, and gzip rotations cut short and damaged.
const std::string& OddFolder() {
  static const std::string folder = [] {
    const std::string name = qve::fuzz::ScratchFolder("lent-run-odd");
    ::mkfifo((name + "/System_5.log").c_str(), 0600);
    static const std::uint8_t kCutGzip[] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3, 0x4b, 0xe4, 0x4a};
    qve::fuzz::WriteBytes(name + "/System_8.log.gz", kCutGzip, sizeof kCutGzip);
    static const std::uint8_t kDamagedGzip[] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3, 0xff, 0xff};
    qve::fuzz::WriteBytes(name + "/System_4.log.gz", kDamagedGzip, sizeof kDamagedGzip);
    qve::fuzz::WriteBytes(name + "/SYSTEM_6.LOG", nullptr, 0);
    ::symlink("SYSTEM_6.LOG", (name + "/System_7.log").c_str());
    ::mkdir((name + "/inner").c_str(), 0700);
    ::symlink("inner", (name + "/linked").c_str());
    return name;
  }();
  return folder;
}

// What a run gave, in the order it gave it. The record's time is apart: two
// runs a second apart record different times.
struct Seen {
  std::string events;
  std::string now;
  std::string record;
};

void Put(std::string& out, std::uint64_t value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void Put(std::string& out, const char* text) {
  if (text == nullptr) {
    out += '\1';
    return;
  }
  out.append(text, std::strlen(text) + 1);
}

void Put(std::string& out, const void* bytes, std::size_t length) {
  if (bytes == nullptr && length != 0) std::abort();
  Put(out, length);
  if (bytes != nullptr) out.append(static_cast<const char*>(bytes), length);
}

void Block(std::string& out, const qve_run* run) {
  const int verdict = qve_run_block_verdict(run);
  if (verdict < QVE_BLOCK_OK || verdict > QVE_BLOCK_UNEXPECTED) std::abort();
  const std::uint32_t first = qve_run_block_first_line(run), last = qve_run_block_last_line(run);
  if (first > last) std::abort();
  Put(out, std::uint64_t(verdict));
  Put(out, first);
  Put(out, last);
  Put(out, qve_run_block_offset(run));
  Put(out, qve_run_block_id(run));
  std::size_t length = 0;
  const char* text = qve_run_block_text(run, &length);
  Put(out, text, length);
  Put(out, std::uint64_t(qve_run_block_link_matched(run)));
  Put(out, std::uint64_t(qve_run_block_covers_no_line(run)));
  Put(out, std::uint64_t(qve_run_block_parse(run)));
  Put(out, qve_run_block_stop(run));
  length = 0;
  const std::uint8_t* link = qve_run_block_link(run, &length);
  Put(out, link, length);
  Put(out, qve_run_block_signature_length(run));
  const std::size_t excerpts = qve_run_block_excerpt_count(run);
  Put(out, excerpts);
  // One past the end too: a host that counts wrong gets nothing.
  for (std::size_t i = 0; i <= excerpts; ++i) {
    Put(out, qve_run_block_excerpt_line(run, i));
    length = 0;
    const char* line = qve_run_block_excerpt_text(run, i, &length);
    Put(out, line, length);
    Put(out, qve_run_block_excerpt_covered(run, i));
    Put(out, std::uint64_t(qve_run_block_excerpt_nul(run, i)));
  }
}

void Warning(std::string& out, const qve_run* run) {
  Put(out, std::uint64_t(qve_run_warning_code(run)));
  Put(out, qve_run_warning_path(run));
  Put(out, qve_run_warning_text(run));
  Put(out, std::uint64_t(qve_run_warning_unverified(run)));
}

void File(std::string& out, const qve_run* run, std::size_t i) {
  Put(out, qve_run_file_name(run, i));
  Put(out, qve_run_file_path(run, i));
  Put(out, std::uint64_t(qve_run_file_verdict(run, i)));
  const std::uint32_t blocks = qve_run_file_blocks(run, i);
  if (qve_run_file_bad_blocks(run, i) > blocks) std::abort();
  Put(out, blocks);
  Put(out, qve_run_file_bad_blocks(run, i));
  Put(out, qve_run_file_lines(run, i));
  std::size_t length = 0;
  const std::uint8_t* bytes = qve_run_file_first_link(run, i, &length);
  Put(out, bytes, length);
  length = 0;
  bytes = qve_run_file_last_chain_value(run, i, &length);
  Put(out, bytes, length);
  for (const std::uint64_t value :
       {std::uint64_t(qve_run_file_unsigned_first(run, i)),
        std::uint64_t(qve_run_file_unsigned_last(run, i)),
        std::uint64_t(qve_run_file_nul_first_line(run, i)),
        std::uint64_t(qve_run_file_nul_lines(run, i)),
        std::uint64_t(qve_run_file_end_of_input_line(run, i)),
        std::uint64_t(qve_run_file_opened(run, i)),
        std::uint64_t(qve_run_file_signature_lines(run, i)),
        std::uint64_t(qve_run_file_changed_while_read(run, i)), qve_run_file_nul_bytes(run, i),
        qve_run_file_end_of_input_offset(run, i), qve_run_file_end_of_input_bytes(run, i)})
    Put(out, value);
  Put(out, qve_run_file_read_fault(run, i));
  Put(out, qve_run_file_break_follows(run, i));
}

void Done(Seen& seen, const qve_run* run) {
  std::string& out = seen.events;
  const int status = qve_run_status(run);
  if (status < QVE_STATUS_OK || status > QVE_STATUS_INCOMPLETE) std::abort();
  const int total = qve_run_total_files(run), bad = qve_run_bad_files(run);
  if (bad < 0 || bad > total) std::abort();
  for (const int value : {status, qve_run_result(run), total, bad, qve_run_order(run)})
    Put(out, std::uint64_t(value));
  Put(out, qve_run_longest_block(run));
  const std::size_t files = qve_run_file_count(run);
  if (files != std::size_t(total)) std::abort();
  for (std::size_t i = 0; i <= files; ++i) File(out, run, i);
  const std::size_t reasons = qve_run_strict_count(run);
  Put(out, reasons);
  for (std::size_t i = 0; i <= reasons; ++i) {
    Put(out, std::uint64_t(qve_run_strict_reason(run, i)));
    Put(out, qve_run_strict_path(run, i));
    Put(out, qve_run_strict_text(run, i));
  }
  Put(out, std::uint64_t(qve_run_checkpoint(run)));
  for (int point = QVE_POINT_RECORDED; point <= QVE_POINT_OLDEST + 1; ++point) {
    Put(out, std::uint64_t(qve_run_point_known(run, point)));
    Put(out, qve_run_point_file(run, point));
    Put(out, qve_run_point_line(run, point));
    Put(out, qve_run_point_id(run, point));
    Put(out, qve_run_point_file_index(run, point));
    std::size_t length = 0;
    const std::uint8_t* bytes = qve_run_point_chain_value(run, point, &length);
    Put(out, bytes, length);
    length = 0;
    bytes = qve_run_point_start(run, point, &length);
    Put(out, bytes, length);
    if (point == QVE_POINT_NOW) {
      Put(seen.now, qve_run_point_time(run, point));
      Put(seen.now, qve_run_point_grew(run, point));
    } else {
      Put(out, qve_run_point_time(run, point));
      Put(out, qve_run_point_grew(run, point));
    }
  }
  Put(out, std::uint64_t(qve_run_checkpoint_starts_later(run)));
  Put(out, qve_run_checkpoint_not_recorded(run));
  std::uint32_t leftFiles = 0, leftLines = 0;
  Put(out, std::uint64_t(qve_run_checkpoint_history_left(run, &leftFiles, &leftLines)));
  Put(out, leftFiles);
  Put(out, leftLines);
  Put(out, std::uint64_t(qve_run_checkpoint_shrunk(run)));
  Put(out, std::uint64_t(qve_run_checkpoint_stale(run)));
  std::size_t length = 0;
  const std::uint8_t* record = qve_run_record(run, &length);
  if (record != nullptr) seen.record.assign(reinterpret_cast<const char*>(record), length);
  Put(out, record != nullptr);
}

// Reads the run to its end, writing down every event.
void Read(Seen& seen, qve_run* run, const Plan& plan) {
  std::string& out = seen.events;
  for (unsigned events = 0;; ++events) {
    if (events == plan.rotateAt && plan.rotateAt > 0)
      std::rename(plan.newest.c_str(), plan.rotated.c_str());
    for (unsigned i = 0; i < plan.readerYields; ++i) std::this_thread::yield();
    const int event = qve_run_next(run);
    Put(out, std::uint64_t(event));
    if (event < 0) {
      // A failure ends the run; nothing more comes.
      if (qve_run_next(run) != QVE_ERROR_MISUSE) std::abort();
      return;
    }
    Put(out, qve_run_event_file(run));
    Put(out, std::uint64_t(qve_run_event_reading(run)));
    Put(out, qve_run_event_path(run));
    if (event == QVE_EVENT_BLOCK) {
      Block(out, run);
    } else if (qve_run_block_verdict(run) != QVE_ERROR_MISUSE) {
      std::abort();
    }
    if (event == QVE_EVENT_WARNING) Warning(out, run);
    if (event == QVE_EVENT_FILE_END) File(out, run, qve_run_event_file(run));
    if (event == QVE_EVENT_DONE) {
      Done(seen, run);
      if (qve_run_next(run) != QVE_ERROR_MISUSE) std::abort();
      return;
    }
    if (qve_run_status(run) != QVE_ERROR_MISUSE) std::abort();
  }
}

// A gzip'd copy of a log beside it, as a rotation may leave one.
void WriteGzipCopy(const std::string& path) {
  std::string plain;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
      plain.append(chunk, got);
    std::fclose(file);
  }
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::vector<std::uint8_t> packed(deflateBound(&stream, plain.size()) + 32);
  stream.next_in = reinterpret_cast<Bytef*>(plain.data());
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = packed.data();
  stream.avail_out = static_cast<uInt>(packed.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
  qve::fuzz::WriteBytes(path + ".gz", packed.data(), stream.total_out);
  deflateEnd(&stream);
}

struct Record {
  const std::string* bytes = nullptr;  // none: QVE_RECORD_INIT
};

Seen Run(const Plan& plan, const std::string& folder, const std::vector<std::string>& paths,
         const Record* record) {
  qve_loan* loan = nullptr;
  qve_run_options options = plan.options;
  if (plan.lending == Lending::Loan) {
    if (qve_loan_create(&loan) != 0) std::abort();
    options.loan = loan;
  }
  qve_run* run = nullptr;
  if (qve_run_create(&options, &run) != 0) std::abort();
  Seen seen;
  if (plan.byFolder) {
    Put(seen.events, std::uint64_t(qve_run_add(run, folder.c_str())));
  } else {
    for (const auto& path : paths) Put(seen.events, std::uint64_t(qve_run_add(run, path.c_str())));
  }
  if (plan.odd && !paths.empty()) {
    Put(seen.events, std::uint64_t(qve_run_add(run, OddFolder().c_str())));
    Put(seen.events, std::uint64_t(qve_run_add(run, paths.front().c_str())));
    Put(seen.events, std::uint64_t(qve_run_add(run, (OddFolder() + "/inner").c_str())));
    Put(seen.events, std::uint64_t(qve_run_add(run, (OddFolder() + "/gone.log").c_str())));
    // Opens, then fails its first read.
    Put(seen.events, std::uint64_t(qve_run_add(run, "/proc/self/mem")));
  }
  for (std::size_t i = 0; i <= qve_run_input_count(run); ++i)
    Put(seen.events, qve_run_input_path(run, i));
  if (record != nullptr) {
    const int set = record->bytes == nullptr
                        ? qve_run_set_record(run, nullptr, 0, QVE_RECORD_INIT)
                        : qve_run_set_record(run, record->bytes->data(), record->bytes->size(), 0);
    Put(seen.events, std::uint64_t(set));
    Put(seen.events, qve_run_refusal(run));
  }

  std::atomic<bool> over{false};
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < plan.threads; ++i) {
    threads.emplace_back([&] {
      switch (plan.lending) {
        case Lending::Loan:
          qve_loan_work(loan);
          break;
        case Lending::WorkWait:
          qve_run_work_wait(run);
          break;
        case Lending::WorkPolled:
          while (!over.load()) {
            qve_run_work(run);
            for (unsigned y = 0; y < plan.workerYields; ++y) std::this_thread::yield();
          }
          break;
        case Lending::None:
          break;
      }
    });
  }
  Read(seen, run, plan);
  std::rename(plan.rotated.c_str(), plan.newest.c_str());
  // As a host ends the lending: no thread may still be in a call on the run.
  over = true;
  qve_run_stop_work(run);
  if (loan != nullptr) qve_loan_end(loan);
  for (auto& thread : threads) thread.join();
  qve_run_free(run);
  qve_loan_free(loan);
  return seen;
}

void Same(const Seen& alone, const Seen& lent) {
  if (alone.events != lent.events) std::abort();
  // The record holds when it was made; made in the same second, it is the same.
  if (alone.now == lent.now && alone.record != lent.record) std::abort();
  if (alone.record.size() != lent.record.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const std::string folder = qve::fuzz::ScratchFolder("lent-run");
  static const char* const kNames[] = {"System_1.log", "System_2.log", "system.log"};

  // data[0] % 3 is the number of files; the rest of it, and the bits of
  // the two cut bytes, choose the run.
  const unsigned choice = data[0] / 3;
  Plan lent;
  lent.lending = static_cast<Lending>(1 + choice % 3);
  lent.threads = 1 + choice / 3 % 2;
  lent.readerYields = data[1] % 4;
  lent.workerYields = data[2] % 4;
  qve_run_options& options = lent.options;
  options.order = choice / 6 % 2 ? QVE_ORDER_NAME : QVE_ORDER_LINKS;
  options.strict = choice / 12 % 2;
  options.excerpt_lines = data[1] / 4 % 4;
  options.excerpt_line_bytes = data[2] / 4 % 4;
  options.once = data[1] / 16 % 2;
  options.accept = data[2] / 16 % 2;
  options.max_unsigned_lines = data[1] / 32 % 4;
  options.stale_after_days = data[2] / 32 % 2;
  lent.byFolder = data[1] / 128;
  lent.odd = choice / 24 % 2;
  // 0: no record; 1: a first one; 2: the first one's, held to; 3: the same,
  // one byte damaged.
  const unsigned recorded = data[2] / 64;

  const std::size_t fileCount = 1 + data[0] % 3;
  const std::vector<std::string> written =
      qve::fuzz::WriteCutInto(folder, {kNames, kNames + fileCount}, data, size);
  lent.rotateAt = choice / 48 % 2 * (1 + data[2] / 4 % 8);
  if (lent.odd && lent.byFolder) WriteGzipCopy(written.front());
  lent.newest = written.back();
  lent.rotated = folder + "/System_9.log";
  Plan alone = lent;
  alone.lending = Lending::None;
  alone.threads = 0;

  const Record first;
  const Record* record = recorded > 0 ? &first : nullptr;
  Seen made = Run(alone, folder, written, record);
  Same(made, Run(lent, folder, written, record));
  if (recorded >= 2 && !made.record.empty()) {
    // A few low bits: a digit stays a digit now and then, so that a number
    // changes rather than the text breaking.
    if (recorded == 3) made.record[data[1] % made.record.size()] ^= char(1 + data[2] % 63);
    const Record held{&made.record};
    Same(Run(alone, folder, written, &held), Run(lent, folder, written, &held));
    // The same record once the oldest file has left the chain, as rotation
    // takes it away.
    if (written.size() > 1) {
      std::remove(written.front().c_str());
      const std::vector<std::string> later(written.begin() + 1, written.end());
      Same(Run(alone, folder, later, &held), Run(lent, folder, later, &held));
    }
  }
  for (const auto& path : written) std::remove(path.c_str());
  std::remove((written.front() + ".gz").c_str());
  return 0;
}
