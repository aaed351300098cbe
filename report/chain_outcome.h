// SPDX-License-Identifier: Apache-2.0
// What one verification run found, beyond the report's verdicts: every
// file with its details, the warnings for what a verdict cannot say, the
// strict policy's reasons and the checkpoint's outcome, and the chain's
// status, the most severe of them. Every output renders from this alone.
#pragma once

#include "qvehelper/contract.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "report/checkpoint_rules.h"
#include "report/run_codes.h"
#include "verify/details.h"

namespace qve {

struct VerifyWarning {
  std::string path;  // as reached from the PATH argument
  std::string message;
  // Something that could hold evidence was not read or not verified: the
  // run is Incomplete.
  bool unverified = false;
  WarningKind code = WarningKind::None;
};

struct VerifiedFile {
  std::string path;  // as reached from the PATH argument
  std::string name;
  QVE_Helper::FileVerdict verdict = QVE_Helper::FileOk;
  FileDetail detail;
  // Its first signature line's block, when it has one.
  std::optional<BlockVerdict> firstSigned;
  // Its empty signature lines: how many, and the first.
  std::uint32_t emptySignatures = 0;
  std::uint32_t firstEmptySignature = 0;
  // The file that cannot be read, before it, that its chain break follows from.
  std::string breakFollows;
};

// Why a run fails the strict policy.
enum class StrictReason {
  FileUnsigned,   // in a run that has signed files: signatures stripped
  UnsignedLines,  // anywhere but at the end of the newest file
  EmptySignatureLine,
  BytesAfterNul,
  BytesAfterEndOfInput,
  NameCase,       // a log's name but for case, so not verified
  Unverified,     // anything else that could hold evidence and was not verified
  HistoryShrunk,  // more files left the old end than arrived since the record
  UnsignedTail,   // the newest file's tail longer than the device signs
  Stale,          // the record has not grown for the days asked
};

struct StrictFinding {
  StrictReason reason;
  std::string path;
  std::string message;
};

struct VerifyOutcome {
  bool linkOrder = false;  // verified in link order, not name order
  bool seams = false;      // in link order, runs of files the links do not join
  std::uint32_t result = 0;
  std::uint32_t totalFiles = 0;
  std::uint32_t badFiles = 0;
  // The data lines of its longest validly signed block: how many lines the
  // writer signs at most.
  std::uint32_t longestBlock = 0;
  std::vector<VerifiedFile> files;  // every verified file, in the run's order
  std::vector<VerifyWarning> warnings;
  // Entries passed over because their name is a log's only when case is ignored.
  std::vector<VerifyWarning> caseOnly;
  std::optional<CheckpointOutcome> checkpoint;       // with --checkpoint
  std::optional<std::vector<StrictFinding>> strict;  // with --strict
};

// Why a file could not be read whole, in words: "damaged gzip data".
const char* ReadFaultText(platform::ReadFault fault);

// Where a block's signature line stops parsing, in words ("at offset 12:
// ..."); "" for one that parses or is empty.
std::string WhereParsingStops(const BlockDetail& block);

// What the strict policy finds in an outcome; nothing when it passes. The
// newest file's unsigned tail may be as long as `maxUnsigned` lines, or
// with 0 as the longest signed block.
std::vector<StrictFinding> StrictFindings(const VerifyOutcome& outcome,
                                          std::uint32_t maxUnsigned = 0);

// The policy's findings about the record: history gone beyond rotation, a
// record that has not grown.
void StrictRecordFindings(const VerifyOutcome& outcome, const std::string& path,
                          std::vector<StrictFinding>& found);

// Whether a warning says that something which could hold evidence was not
// verified.
bool IsIncomplete(const VerifyOutcome& outcome);

// The first file or entry that could hold evidence and could not be read
// (or not to its end); empty when everything found was read.
std::string FirstUnread(const VerifyOutcome& outcome);

// Counts again, once the links are judged, leaving out of the bad files
// each whose one bad block is a chain break that follows from a file that
// cannot be read: what that file held is unknown, not tampered with.
void LeaveOutBreaksThatFollow(VerifyOutcome& outcome);

// Why a run does not pass, so that its record is not written; empty when it
// does: only a run whose status is 0, or 1 with nothing signed yet, vouches
// for its chain.
std::string FailingReason(const VerifyOutcome& outcome);

// A chain's status (ChainStatus): the first that applies of
// CheckpointLost, the report's ReportAllInvalid and ReportSomeInvalid
// (tampering), then StrictPolicyFailed, Incomplete, and ReportUnsigned or
// ReportOk, so that nothing less severe hides a more severe finding.
int ChainStatusOf(const VerifyOutcome& outcome);

// Fills an outcome's files, and warns about the bytes no signature covers,
// as the run goes; passes everything on to each of `next`.
class OutcomeBuilder final : public VerifyObserver {
 public:
  // A file that cannot be read is warned about, but for the paths in
  // `alreadyWarned`, which the caller warned about before the run.
  explicit OutcomeBuilder(VerifyOutcome& outcome, std::vector<VerifyObserver*> next = {},
                          std::set<std::wstring> alreadyWarned = {});
  void OnFileStart(const FileDetail& file) override;
  void OnBlock(const FileDetail& file, const BlockDetail& block) override;
  void OnFileEnd(const FileDetail& file) override;

 private:
  VerifyOutcome& outcome_;
  std::vector<VerifyObserver*> next_;
  std::set<std::wstring> alreadyWarned_;
  VerifiedFile current_;
};

}  // namespace qve
