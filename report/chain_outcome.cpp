// SPDX-License-Identifier: Apache-2.0
#include "report/chain_outcome.h"

#include <algorithm>
#include <utility>

#include "format/stop_words.h"
#include "platform/file_status.h"
#include "platform/paths.h"
#include "report/verdicts.h"
#include "text/escape.h"

namespace qve {

namespace {

// Why the run could not read the file, or not to its end: the file did not
// pass, whatever its blocks say.
void WarnUnread(const VerifiedFile& file, std::vector<VerifyWarning>& out) {
  const FileDetail& detail = file.detail;
  if (detail.fault != platform::ReadFault::None &&
      detail.fault != platform::ReadFault::ReadFailed) {
    out.push_back(
        {file.path,
         std::string("cannot be read (") + ReadFaultText(detail.fault) + "); FileUnsigned", true});
    out.back().code = WarningKind::Unreadable;
    return;
  }
  if (detail.opened && !detail.readError) return;
  std::string why = platform::ErrorText(detail.readError);
  if (detail.readError == std::errc::operation_not_supported) {
    const platform::FileStatus status = platform::StatusOf(detail.path);
    if (status.kind == platform::FileKind::Other) why = status.what + ", not a regular file";
  }
  if (!detail.opened) {
    out.push_back({file.path, "cannot be read (" + why + "); FileUnsigned", true});
    out.back().code = WarningKind::Unreadable;
  } else {
    out.push_back({file.path,
                   "could not be read to its end (" + why +
                       "): " + text::Counted(detail.lines, "line") + " verified, the rest not",
                   true});
    out.back().code = WarningKind::Unreadable;
  }
}

void WarnUnseenBytes(const VerifiedFile& file, std::vector<VerifyWarning>& out) {
  const FileDetail& detail = file.detail;
  if (const auto& tail = detail.unsignedTail) {
    out.push_back({file.path, text::LinesText(tail->first, tail->last) +
                                  (tail->first == tail->last ? " is" : " are") + " not signed"});
    out.back().code = WarningKind::UnsignedLines;
  }
  if (const BytesAfterNul& nul = detail.afterNul; nul.lines > 0) {
    std::string message =
        "line " + std::to_string(nul.firstLine) + ": bytes after a NUL are not signed";
    if (nul.lines > 1) message += " (and on " + text::Counted(nul.lines - 1, "more line") + ")";
    out.push_back({file.path, message});
    out.back().code = WarningKind::AfterNul;
  }
  if (detail.changedWhileRead) {
    out.push_back({file.path, "changed while it was read " + text::Counted(detail.reading, "time") +
                                  "; the verdict is that of the last reading"});
    out.back().code = WarningKind::Changed;
  }
  if (const auto& end = detail.endOfInput) {
    out.push_back({file.path, "line " + std::to_string(end->line) +
                                  ": data after an end-of-input byte (0x1A) is not read"});
    out.back().code = WarningKind::AfterEnd;
  }
  // The verdicts stand as the format reads the bytes; these say why they may
  // not be what the writer signed.
  if (detail.byteOrderMark == ByteOrderMark::Utf8) {
    out.push_back({file.path,
                   "starts with a UTF-8 byte-order mark (EF BB BF), which is read as part of "
                   "line 1: an editor may have added it"});
    out.back().code = WarningKind::ByteOrderMark;
  } else if (detail.byteOrderMark != ByteOrderMark::None) {
    const bool little = detail.byteOrderMark == ByteOrderMark::Utf16LittleEndian;
    out.push_back({file.path,
                   std::string("is UTF-16 text (byte-order mark ") + (little ? "FF FE" : "FE FF") +
                       ", " + (little ? "little" : "big") +
                       "-endian), not the bytes of a signed log: it was not verified as written",
                   true});
    out.back().code = WarningKind::ByteOrderMark;
  }
}

}  // namespace

OutcomeBuilder::OutcomeBuilder(VerifyOutcome& outcome, std::vector<VerifyObserver*> next,
                               std::set<std::wstring> alreadyWarned)
    : outcome_(outcome), next_(std::move(next)), alreadyWarned_(std::move(alreadyWarned)) {}

void OutcomeBuilder::OnFileStart(const FileDetail& file) {
  current_ = VerifiedFile{};
  for (VerifyObserver* next : next_) next->OnFileStart(file);
}

void OutcomeBuilder::OnBlock(const FileDetail& file, const BlockDetail& block) {
  if (!block.isUnsignedTail() && !current_.firstSigned) current_.firstSigned = block.verdict;
  if ((block.verdict == BlockOk || block.verdict == BlockChainBreak) && !block.coversNoLine)
    outcome_.longestBlock = std::max(outcome_.longestBlock, block.lines.last - block.lines.first);
  if (block.verdict == BlockNoSignature && current_.emptySignatures++ == 0)
    current_.firstEmptySignature = block.lines.last;
  for (VerifyObserver* next : next_) next->OnBlock(file, block);
}

void OutcomeBuilder::OnFileEnd(const FileDetail& file) {
  VerifiedFile& verified = current_;
  verified.path = platform::ShownText(file.path);
  verified.name = platform::ShownText(file.name);
  verified.verdict = FileVerdictOf(file.counts);
  verified.detail = file;
  if (alreadyWarned_.count(file.path) == 0) WarnUnread(verified, outcome_.warnings);
  WarnUnseenBytes(verified, outcome_.warnings);
  outcome_.files.push_back(std::move(verified));
  for (VerifyObserver* next : next_) next->OnFileEnd(file);
}

const char* ReadFaultText(platform::ReadFault fault) {
  switch (fault) {
    case platform::ReadFault::GzipDamaged:
      return "damaged gzip data";
    case platform::ReadFault::GzipCutShort:
      return "the gzip data is cut short";
    case platform::ReadFault::ReadFailed:
      return "a read failed";
    case platform::ReadFault::None:
      break;
  }
  return "read whole";
}

std::vector<StrictFinding> StrictFindings(const VerifyOutcome& outcome, std::uint32_t maxUnsigned) {
  std::vector<StrictFinding> found;
  const bool anySigned = std::any_of(outcome.files.begin(), outcome.files.end(), [](const auto& f) {
    return f.verdict != QVE_Helper::FileUnsigned;
  });
  for (std::size_t i = 0; i < outcome.files.size(); ++i) {
    const VerifiedFile& file = outcome.files[i];
    const FileDetail& detail = file.detail;
    // A log still being written: the newest file's unsigned lines at its end.
    const bool newest = i + 1 == outcome.files.size();
    const bool onlyTail = detail.opened && detail.signatureLines == 0;
    if (anySigned && file.verdict == QVE_Helper::FileUnsigned && !(newest && onlyTail)) {
      found.push_back({StrictReason::FileUnsigned, file.path,
                       detail.opened
                           ? "FileUnsigned in a chain with signed files"
                           : "FileUnsigned in a chain with signed files: it cannot be read"});
    } else if (detail.unsignedTail && !newest) {
      found.push_back({StrictReason::UnsignedLines, file.path,
                       text::LinesText(detail.unsignedTail->first, detail.unsignedTail->last) +
                           " not signed, and not at the end of "
                           "the newest file"});
    } else if (const auto& tail = detail.unsignedTail; tail && anySigned) {
      // Longer than the writer signs: lines were added, or signatures stripped.
      const std::uint32_t limit = maxUnsigned != 0 ? maxUnsigned : outcome.longestBlock;
      if (tail->last - tail->first + 1 > limit) {
        found.push_back({StrictReason::UnsignedTail, file.path,
                         text::LinesText(tail->first, tail->last) + " not signed: more than " +
                             text::Counted(limit, "line") +
                             (maxUnsigned != 0 ? " (--max-unsigned)"
                                               : ", the longest signed block of the chain")});
      }
    }
    if (file.emptySignatures > 0) {
      std::string message =
          "line " + std::to_string(file.firstEmptySignature) + ": an empty signature line";
      if (file.emptySignatures > 1)
        message += " (and " + text::Counted(file.emptySignatures - 1, "more", "more") + ")";
      found.push_back({StrictReason::EmptySignatureLine, file.path, message});
    }
    if (detail.afterNul.lines > 0) {
      found.push_back(
          {StrictReason::BytesAfterNul, file.path,
           "line " + std::to_string(detail.afterNul.firstLine) + ": bytes after a NUL"});
    }
    if (detail.endOfInput) {
      found.push_back({StrictReason::BytesAfterEndOfInput, file.path,
                       "line " + std::to_string(detail.endOfInput->line) +
                           ": bytes after an end-of-input byte (0x1A)"});
    }
  }
  for (const VerifyWarning& warning : outcome.warnings) {
    if (!warning.unverified) continue;
    const bool caseOnly =
        std::any_of(outcome.caseOnly.begin(), outcome.caseOnly.end(),
                    [&](const VerifyWarning& entry) { return entry.path == warning.path; });
    // A file FileUnsigned because it cannot be read is a reason of its own already.
    const bool counted = std::any_of(found.begin(), found.end(), [&](const StrictFinding& f) {
      return f.reason == StrictReason::FileUnsigned && f.path == warning.path;
    });
    if (!counted)
      found.push_back({caseOnly ? StrictReason::NameCase : StrictReason::Unverified, warning.path,
                       warning.message});
  }
  return found;
}

void StrictRecordFindings(const VerifyOutcome& outcome, const std::string& path,
                          std::vector<StrictFinding>& found) {
  if (!outcome.checkpoint) return;
  const CheckpointOutcome& checkpoint = *outcome.checkpoint;
  if (checkpoint.shrunk) {
    found.push_back({StrictReason::HistoryShrunk, path,
                     text::Counted(checkpoint.left->files, "file") + " (" +
                         text::Counted(checkpoint.left->lines, "line") +
                         ") left the old end of the chain since the record, and " +
                         std::to_string(checkpoint.left->arrived) +
                         " arrived at its new end: more than a rotation takes"});
  }
  if (checkpoint.stale) {
    found.push_back(
        {StrictReason::Stale, path, "the chain has not grown since " + checkpoint.recorded->grew});
  }
}

bool IsIncomplete(const VerifyOutcome& outcome) {
  return std::any_of(outcome.warnings.begin(), outcome.warnings.end(),
                     [](const VerifyWarning& warning) { return warning.unverified; });
}

std::string FirstUnread(const VerifyOutcome& outcome) {
  for (const VerifyWarning& warning : outcome.warnings) {
    if (warning.code == WarningKind::Unreadable ||
        (warning.code == WarningKind::PassedOver && warning.unverified))
      return warning.path;
  }
  return "";
}

void LeaveOutBreaksThatFollow(VerifyOutcome& outcome) {
  std::uint32_t bad = 0, unsignedFiles = 0;
  for (const VerifiedFile& file : outcome.files) {
    if (IsBadFile(file.verdict) &&
        !(file.verdict == QVE_Helper::FileChainBreak && !file.breakFollows.empty()))
      ++bad;
    if (file.verdict == QVE_Helper::FileUnsigned) ++unsignedFiles;
  }
  if (bad == outcome.badFiles) return;
  outcome.badFiles = bad;
  outcome.result = ReportResultOf(outcome.totalFiles, bad, unsignedFiles);
}

std::string FailingReason(const VerifyOutcome& outcome) {
  if (outcome.badFiles > 0) return "the run has bad files";
  if (outcome.strict && !outcome.strict->empty()) return "the strict policy fails";
  if (IsIncomplete(outcome)) return "the run is incomplete";
  return "";
}

int ChainStatusOf(const VerifyOutcome& outcome) {
  using QVE_Helper::ReportAllInvalid;
  using QVE_Helper::ReportSomeInvalid;
  if (outcome.checkpoint && outcome.checkpoint->status == CheckpointStatus::Lost)
    return kStatusCheckpointLost;
  if (outcome.result == ReportAllInvalid || outcome.result == ReportSomeInvalid)
    return static_cast<int>(outcome.result);
  if (outcome.strict && !outcome.strict->empty()) return kStatusStrictFailed;
  if (IsIncomplete(outcome)) return kStatusIncomplete;
  return static_cast<int>(outcome.result);
}

std::string WhereParsingStops(const BlockDetail& block) {
  using F = BlockField;
  const BlockStop& stop = block.stop;
  if (block.parse == BlockParseResult::Parsed || block.parse == BlockParseResult::Empty) return "";
  if (stop.status == BlockParseResult::OneByte) return "1 byte, too short for the magic";
  const bool isTag = stop.field == F::Magic;
  return "at offset " + std::to_string(stop.offset) + ": " +
         Problem(stop, BlockFieldName(stop.field), isTag, kBlockMagic.size(),
                 stop.field == F::Text || stop.field == F::Link || stop.field == F::Signature,
                 isTag || stop.field == F::Version, "block");
}

}  // namespace qve
