// SPDX-License-Identifier: Apache-2.0
// The verification run through the C interface alone: events, status, files,
// the checkpoint record in and out, and the codes for records and misuse.
#include <cstddef>
#include <regex>
#include <thread>
#include <tuple>

#include "tests/support/builders.h"
#include "tests/support/harness.h"

namespace qve {
namespace {

using namespace testing;

// One letter an event: S file start, a digit a block's verdict, W warning,
// E file end, R restart, D done.
struct Ran {
  std::string events;
  int status = -100, checkpoint = -100, order = -100;
  std::vector<std::string> names;  // the files, in the run's order
  std::vector<int> warnings;
  std::string record;
  int linkMismatches = 0;   // blocks whose link did not match
  std::vector<int> opened;  // per file
  int joins = 0;            // files whose first link is the last chain value before them
  // The checkpoint's recorded, held and new block: "file:line@index", or "-".
  std::vector<std::string> points;
  std::string links;   // per block: L a link told, - none
  std::string chains;  // per block: its QVE_LINK_*

  bool operator==(const Ran&) const = default;
};

qve_run* Create(int order = QVE_ORDER_LINKS, int strict = 0, qve_loan* loan = nullptr) {
  qve_run_options options = QVE_RUN_OPTIONS_INIT;
  options.order = order;
  options.strict = strict;
  options.loan = loan;
  qve_run* run = nullptr;
  EXPECT_EQ(qve_run_create(&options, &run), 0);
  return run;
}

Ran Drain(qve_run* run) {
  Ran ran;
  for (int kind; (kind = qve_run_next(run)) != QVE_EVENT_DONE;) {
    if (kind < 0) {
      ADD_FAILURE() << qve_result_name(QVE_RESULT_OF_RUN, kind);
      return ran;
    }
    EXPECT_EQ(qve_run_work(run), 0);
    if (kind == QVE_EVENT_BLOCK) {
      ran.events += char('0' + qve_run_block_verdict(run));
      if (qve_run_block_verdict(run) != 1 && qve_run_block_link_matched(run) == 0)
        ++ran.linkMismatches;
      size_t length = 1;
      const bool told = qve_run_block_link(run, &length) != nullptr;
      EXPECT_EQ(length == 0, !told);
      ran.links += told ? 'L' : '-';
      ran.chains += char('0' + qve_run_block_chain(run));
    } else {
      ran.events += "SxWER"[kind - 1];
    }
    if (kind == QVE_EVENT_WARNING) ran.warnings.push_back(qve_run_warning_code(run));
  }
  ran.events += 'D';
  ran.status = qve_run_status(run);
  ran.checkpoint = qve_run_checkpoint(run);
  ran.order = qve_run_order(run);
  for (size_t i = 0; i < qve_run_file_count(run); ++i) {
    ran.names.push_back(qve_run_file_name(run, i));
    ran.opened.push_back(qve_run_file_opened(run, i));
    size_t linkLength = 0, valueLength = 0;
    const uint8_t* link = qve_run_file_first_link(run, i, &linkLength);
    const uint8_t* value = i ? qve_run_file_last_chain_value(run, i - 1, &valueLength) : nullptr;
    ran.joins +=
        link && value && Bytes(link, link + linkLength) == Bytes(value, value + valueLength);
  }
  for (const int point : {QVE_POINT_RECORDED, QVE_POINT_HELD, QVE_POINT_NOW})
    ran.points.push_back(qve_run_point_known(run, point) == 0
                             ? "-"
                             : std::string(qve_run_point_file(run, point)) + ":" +
                                   std::to_string(qve_run_point_line(run, point)) + "@" +
                                   std::to_string(qve_run_point_file_index(run, point)));
  size_t length = 0;
  if (const uint8_t* bytes = qve_run_record(run, &length)) ran.record.assign(bytes, bytes + length);
  EXPECT_EQ(qve_run_next(run), QVE_ERROR_MISUSE) << "a finished run goes no further";
  return ran;
}

Ran RunOn(const fs::path& folder, int order, int strict,
          const std::function<void(qve_run*)>& before, qve_loan* loan, int waiting = 0) {
  qve_run* run = Create(order, strict, loan);
  EXPECT_EQ(qve_run_add(run, folder.string().c_str()), 0);
  if (before) before(run);
  // Threads lent to this run alone, asleep until it ends.
  std::vector<std::thread> lent;
  for (int i = 0; i < waiting; ++i)
    lent.emplace_back([run] { EXPECT_EQ(qve_run_work_wait(run), 0); });
  Ran ran = Drain(run);
  for (std::thread& thread : lent) thread.join();
  qve_run_free(run);
  return ran;
}

// When a record was written: two runs a second apart differ there alone.
const std::regex kTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
Ran Timeless(Ran ran) {
  ran.record = std::regex_replace(ran.record, kTime, "T");
  return ran;
}

// Each run again with threads lent to its blocks, then waiting: only the record's time may differ.
Ran RunOn(const fs::path& folder, int order = QVE_ORDER_LINKS, int strict = 0,
          const std::function<void(qve_run*)>& before = {}) {
  const Ran ran = RunOn(folder, order, strict, before, nullptr);
  qve_loan* loan = nullptr;
  Ran lent;
  WithThreads(3, loan, [&] {
    lent = RunOn(folder, order, strict, before, loan);
    return 0;
  });
  EXPECT_EQ(Timeless(lent), Timeless(ran)) << "with lent threads";
  EXPECT_EQ(Timeless(RunOn(folder, order, strict, before, nullptr, 2)), Timeless(ran))
      << "with waiting threads";
  return ran;
}

using Names = std::vector<std::string>;
const Names kTwoNames = {"System_1.log", "system.log"};

// Two files of one chain, the second continuing the first.
void Two(const fs::path& dir) {
  LogChain chain;
  LogBuilder(chain).Script("1 2 S").WriteTo(dir / "System_1.log");
  LogBuilder(chain).Script("3 4 S").WriteTo(dir / "system.log");
}

// Two files of one chain, System_1.log and system.log; `extra` ends the second.
struct EventsRow {
  const char* name;
  std::string first, last;
  std::string events;
  int status = QVE_STATUS_SOME_INVALID;
  int strict = 0;
  std::vector<int> warnings = {};
  std::string links = {};   // as Ran's, where given
  std::string chains = {};  // as Ran's, where given
  std::function<void(LogBuilder&)> extra = {};
};

class Events : public ::testing::TestWithParam<EventsRow> {};

TEST_P(Events, InOrder) {
  const EventsRow& row = GetParam();
  TempDir dir;
  LogChain chain;
  LogBuilder(chain).Script(row.first).WriteTo(dir / "System_1.log");
  LogBuilder last(chain);
  last.Script(row.last);
  if (row.extra) row.extra(last);
  last.WriteTo(dir / "system.log");
  const Ran ran = RunOn(dir.path(), QVE_ORDER_LINKS, row.strict);
  EXPECT_EQ(std::tie(ran.events, ran.status, ran.names, ran.warnings),
            std::tie(row.events, row.status, kTwoNames, row.warnings));
  EXPECT_TRUE(row.links.empty() || ran.links == row.links) << ran.links;
  EXPECT_TRUE(row.chains.empty() || ran.chains == row.chains) << ran.chains;
}

// clang-format off
const EventsRow kEventsRows[] = {
    {.name = "GoodChain", .first = "1 2 S", .last = "3 4 S", .events = "S0ES0ED", .status = QVE_STATUS_OK, .links = "LL", .chains = "11"},
    // The row logic of inspect: first, differs, matches, no parse, the unsigned tail.
    {.name = "WhereBlocksStandInTheChain", .first = "a S", .last = "b S c S@ d S e E f", .events = "S0ES04021WED",
              .warnings = {QVE_WARNING_UNSIGNED_LINES}, .links = "LLLL--", .chains = "113240"},
    {.name = "UnsignedTailStrict", .first = "a S b", .last = "c S", .events = "S01WES0ED", .status = QVE_STATUS_STRICT_FAILED,
              .strict = 1, .warnings = {QVE_WARNING_UNSIGNED_LINES}},
    // A block that stops after its link field tells no link.
    {.name = "MalformedBlock", .first = "a S", .last = "b", .events = "S0ES3ED", .links = "L-",
              .extra = [](LogBuilder& log) { log.Sign([](Block& block) { block.signatureLength = 100000; }); }}};
// clang-format on
QVE_ROWS(Events, kEventsRows);

// Written System_2, System_1, system.log: the links give that order, the
// names another, with breaks (each file links to another than the one
// before) and warnings that the links say otherwise.
TEST(Run, LinkOrderAgainstNameOrder) {
  TempDir dir;
  LogChain chain;
  for (const char* name : {"System_2.log", "System_1.log", "system.log"})
    LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / name);
  const Ran links = RunOn(dir.path(), QVE_ORDER_LINKS), names = RunOn(dir.path(), QVE_ORDER_NAME);
  EXPECT_EQ(std::tie(links.status, links.order, links.linkMismatches, links.joins, links.names),
            std::tuple(QVE_STATUS_OK, QVE_ORDER_LINKS, 0, 2,
                       Names{"System_2.log", "System_1.log", "system.log"}));
  EXPECT_EQ(std::tie(names.status, names.order, names.linkMismatches, names.joins, names.names),
            std::tuple(QVE_STATUS_SOME_INVALID, QVE_ORDER_NAME, 3, 0,
                       Names{"System_1.log", "System_2.log", "system.log"}));
  EXPECT_EQ(names.warnings, (std::vector<int>{QVE_WARNING_LINKS, QVE_WARNING_LINKS}));
}

// A record made by a run that passes; a later run without the newest file
// has cut the recorded block away, and records nothing.
TEST(Run, CheckpointRoundTrip) {
  TempDir dir;
  Two(dir.path());
  const Ran first = RunOn(dir.path(), QVE_ORDER_LINKS, 0, [](qve_run* run) {
    EXPECT_EQ(qve_run_set_record(run, nullptr, 0, QVE_RECORD_INIT), 0);
  });
  EXPECT_EQ(std::tie(first.checkpoint, first.points),
            std::tuple(QVE_CHECKPOINT_NEW, Names{"-", "-", "system.log:3@1"}));
  ASSERT_FALSE(first.record.empty());
  const auto against = [&](qve_run* run) {
    EXPECT_EQ(qve_run_set_record(run, first.record.data(), first.record.size(), 0), 0);
  };
  const Ran again = RunOn(dir.path(), QVE_ORDER_LINKS, 0, against);
  EXPECT_EQ(std::tie(again.status, again.checkpoint, again.points),
            std::tuple(QVE_STATUS_OK, QVE_CHECKPOINT_EXTENDED,
                       Names{"system.log:3@0", "system.log:3@1", "system.log:3@1"}));
  EXPECT_FALSE(again.record.empty());
  fs::remove(dir / "system.log");
  const Ran cut = RunOn(dir.path(), QVE_ORDER_LINKS, 0, against);
  EXPECT_EQ(std::tie(cut.status, cut.checkpoint, cut.record),
            std::tuple(QVE_STATUS_CHECKPOINT_LOST, QVE_CHECKPOINT_LOST, std::string()));
}

// A file gone between the run's walk and its reading is warned about as
// unreadable, and stays in the run: it was there, so the run is incomplete.
TEST(Run, AFileThatVanishesStaysInTheRun) {
  TempDir dir;
  Two(dir.path());
  qve_run* run = Create();
  ASSERT_EQ(qve_run_add(run, dir.path().string().c_str()), 0);
  ASSERT_EQ(qve_run_input_count(run), 2u);
  EXPECT_EQ(std::string(qve_run_input_path(run, 0)) + qve_run_input_path(run, 1),
            (dir / "system.log").string() + (dir / "System_1.log").string());
  fs::remove(dir / "system.log");
  const Ran ran = Drain(run);
  qve_run_free(run);
  EXPECT_EQ(std::tie(ran.events, ran.warnings, ran.status, ran.names, ran.opened),
            std::tuple("S0ESWED", std::vector<int>{QVE_WARNING_UNREADABLE}, QVE_STATUS_INCOMPLETE,
                       Names{"System_1.log", "system.log"}, std::vector<int>{1, 0}));
}

TEST(Run, RecordsThatCannotBeUsed) {
  TempDir dir;
  Two(dir.path());
  const std::string record = RunOn(dir.path(), QVE_ORDER_LINKS, 0, [](qve_run* run) {
                               qve_run_set_record(run, nullptr, 0, QVE_RECORD_INIT);
                             }).record;
  const auto replaced = [&](const std::string& from, const std::string& to) {
    return std::regex_replace(record, std::regex(from), to,
                              std::regex_constants::format_first_only);
  };
  constexpr int kDamaged = QVE_ERROR_RECORD_DAMAGED;
  constexpr const char* kAtTime = R"("time": "[^"]*)";
  // clang-format off
  std::vector<std::pair<std::string, int>> rows = {
      {"", kDamaged}, {record.substr(0, record.size() / 2), kDamaged},
      {replaced("\"version\": 2", "\"version\": 3"), QVE_ERROR_RECORD_VERSION},
      {replaced("\"verificationKey\": \"", "\"verificationKey\": \"00"), QVE_ERROR_RECORD_OTHER_CHAIN},
      {replaced("\"line\": ", "\"line\": \"x\", \"lines\": "), kDamaged}};
  for (const char* time : {"2024-02-29t23:59:60.5z", "2026-12-07T07:20:00.25+01:30", "2026-12-07T07:20:00-00:00"})
    rows.emplace_back(replaced(kAtTime, "\"time\": \"" + std::string(time)), 0);
  for (const char* time : {"yesterday", "2026-12-07 07:20:00Z", "2026/12/07T07:20:00Z", "2026-12-07T07.20.00Z",
                           "2025-02-29T07:20:00Z", "2100-02-29T07:20:00Z", "2026-13-07T07:20:00Z", "2026-04-31T07:20:00Z",
                           "2026-12-07T24:00:00Z", "2026-12-07T07:60:00Z", "2026-12-07T07:20:61Z", "2026-12-07T07:20:00.Z",
                           "2026-12-07T07:20:00", "2026-12-07T07:20:00+0130", "2026-12-07T07:20:00+24:00", "2026-12-07T07:20:00Z "})
    rows.emplace_back(replaced(kAtTime, "\"time\": \"" + std::string(time)), kDamaged);
  // clang-format on
  for (const auto& [bytes, code] : rows) {
    qve_run* run = Create();
    EXPECT_EQ(qve_run_set_record(run, bytes.data(), bytes.size(), 0), code) << bytes;
    EXPECT_EQ(*qve_run_refusal(run) != '\0', code != 0) << "a refusal says why, here and below";
    EXPECT_STREQ(code ? qve_last_problem_reason() : "", code ? qve_run_refusal(run) : "");
    qve_run_free(run);
  }
}

TEST(Run, Misuse) {
  TempDir dir;
  Two(dir.path());
  qve_run_options options{};
  qve_run* run = nullptr;
  EXPECT_EQ(qve_run_create(&options, &run), QVE_ERROR_MISUSE) << "no size";
  EXPECT_EQ(qve_run_create(nullptr, &run), QVE_ERROR_MISUSE);
  options.size = sizeof options;
  EXPECT_EQ(qve_run_create(&options, nullptr), QVE_ERROR_MISUSE);
  // Hosts built before the excerpts and before the loan; any other size is misuse.
  for (const size_t size : {offsetof(qve_run_options, excerpt_lines),
                            offsetof(qve_run_options, loan), sizeof options}) {
    options.size = size;
    EXPECT_EQ(qve_run_create(&options, &run), 0) << size;
    qve_run_free(run);
  }
  options.size = offsetof(qve_run_options, once);
  EXPECT_EQ(qve_run_create(&options, &run), QVE_ERROR_MISUSE);
  EXPECT_NE(*qve_last_message(), '\0') << "a size of no version is said";
  constexpr int M = QVE_ERROR_MISUSE;
  EXPECT_EQ(
      std::tuple(qve_run_add(nullptr, "."), qve_run_next(nullptr), qve_run_work(nullptr),
                 qve_run_status(nullptr), qve_run_work_wait(nullptr), qve_run_stop_work(nullptr)),
      std::tuple(M, M, M, M, M, M));
  EXPECT_TRUE(qve_run_record(nullptr, nullptr) == nullptr &&
              qve_run_file_name(nullptr, 0) == nullptr);
  run = Create();
  EXPECT_EQ(qve_run_add(run, nullptr), QVE_ERROR_MISUSE);
  EXPECT_EQ(qve_run_add(run, (dir / "missing").string().c_str()), QVE_ERROR_NOT_FOUND);
  EXPECT_EQ(std::tuple(qve_last_problem(), std::string(qve_last_problem_path())),
            std::tuple(QVE_PROBLEM_INPUT, (dir / "missing").string()));
  EXPECT_STREQ(qve_last_problem_reason(), qve_run_refusal(run));
  EXPECT_EQ(qve_run_add(run, dir.path().string().c_str()), 0);
  EXPECT_EQ(qve_run_status(run), QVE_ERROR_MISUSE) << "not done yet";
  EXPECT_EQ(qve_run_next(run), QVE_EVENT_FILE_START);
  EXPECT_EQ(qve_run_add(run, dir.path().string().c_str()), QVE_ERROR_MISUSE) << "started";
  EXPECT_EQ(qve_run_set_record(run, nullptr, 0, QVE_RECORD_INIT), QVE_ERROR_MISUSE);
  EXPECT_EQ(qve_run_block_verdict(run), QVE_ERROR_MISUSE) << "no block now";
  EXPECT_EQ(Drain(run).status, QVE_STATUS_OK);
  // An accessor misused gives no code, but says why all the same: one row
  // per family of accessors.
  const std::function<void()> misused[] = {
      // clang-format off
      [run] { qve_run_event_reading(run); },  // the current event is DONE
      [run] { qve_run_block_id(run); }, [run] { qve_run_warning_text(run); }, [run] { qve_run_file_blocks(run, 2); },
      [run] { qve_run_input_path(run, 2); }, [run] { qve_run_strict_path(run, 0); }, [run] { qve_run_point_file(run, 7); },
      [] { qve_run_longest_block(nullptr); }, [] { qve_run_refusal(nullptr); },  // a text, not a code
      [] { qve_diagnosis_size(nullptr); }, [] { qve_diagnosis_record_tag(nullptr, 0); },
      // clang-format on
  };
  for (std::size_t row = 0; row < std::size(misused); ++row) {
    qve_loan_work(nullptr);
    const std::string before = qve_last_message();
    misused[row]();
    EXPECT_STRNE(qve_last_message(), before.c_str()) << row;
    EXPECT_NE(*qve_last_message(), '\0') << row;
  }
  EXPECT_EQ(qve_run_work_wait(run), 0) << "over: at once";
  qve_run_free(run);
  qve_run_free(nullptr);
  // A run ended early: stopping the work lets its lent threads go.
  run = Create();
  EXPECT_EQ(qve_run_add(run, dir.path().string().c_str()), 0);
  std::thread lent([run] { EXPECT_EQ(qve_run_work_wait(run), 0); });
  EXPECT_EQ(qve_run_stop_work(run), 0);
  lent.join();
  qve_run_free(run);
}

// A rotation while the run reads: the run is done again on the files as
// they are named now, and nothing is taken for a break.
TEST(Run, ARotationRestartsTheRun) {
  TempDir dir;
  LogChain chain;
  LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "System_1.log");
  LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "system.log");
  qve_run* run = Create();
  EXPECT_EQ(qve_run_add(run, dir.path().string().c_str()), 0);
  EXPECT_EQ(qve_run_next(run), QVE_EVENT_FILE_START);
  fs::rename(dir / "System_1.log", dir / "System_2.log");
  fs::rename(dir / "system.log", dir / "System_1.log");
  LogBuilder(chain).DataLines(1).Sign().WriteTo(dir / "system.log");
  const Ran ran = Drain(run);
  qve_run_free(run);
  EXPECT_EQ(std::tie(ran.status, ran.names),
            std::tuple(QVE_STATUS_OK, Names{"System_2.log", "System_1.log", "system.log"}));
  EXPECT_TRUE(ran.events.ends_with("RS0ES0ES0ED")) << ran.events;
}

}  // namespace
}  // namespace qve
