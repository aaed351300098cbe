// SPDX-License-Identifier: Apache-2.0
// What a verification run finds, for callers that show more than the
// library's verdicts: every block with its verdict, its lines, its fields
// and the chain values around it (good blocks too), and per file its
// unsigned tail, the bytes the line rules ignore and which file it was. A
// run hands them to an observer as it goes, so what it holds does not grow
// with the files; the library's own results are one such observer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "format/bytes.h"
#include "format/signature_block.h"
#include "verify/text_reader.h"
#include "verify/verify_files.h"

namespace qve {

class BlockWindow;

struct LineRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;

  bool operator==(const LineRange&) const = default;
};

// A covered line, as far as a reader is shown it.
struct CoveredLine {
  std::uint32_t number = 0;
  // Its first bytes before any NUL, never cut inside a UTF-8 character.
  std::string shown;
  std::uint64_t coveredBytes = 0;  // before its first NUL: what the signature covers
  bool nul = false;                // the rest of the line, from a NUL on, is not covered

  bool operator==(const CoveredLine&) const = default;
};

struct BlockDetail {
  BlockVerdict verdict = BlockOk;
  // From its first covered line to its signature line (an unsigned tail: to
  // its last line); a block that covers no data line is at its signature
  // line alone.
  LineRange lines;
  bool coversNoLine = false;
  // Where its signature line starts in the file; an unsigned tail's first line.
  std::uint64_t offset = 0;
  // The block as far as it parses, and where and why parsing stopped:
  // Empty for an empty payload and for an unsigned tail. The fields read
  // before a stop keep their values.
  BlockParseResult parse = BlockParseResult::Empty;
  BlockStop stop;
  std::uint32_t id = 0;
  std::string text;
  Bytes link;
  std::uint64_t signatureLength = 0;
  Bytes expectedLink;  // the chain value it was checked against
  Bytes chainValue;    // after it: the digest of all its bytes (a tail leaves it)
  // Its first covered lines, when the run gathers them.
  std::vector<CoveredLine> excerpt;

  bool isUnsignedTail() const { return verdict == BlockUnsigned; }
  bool operator==(const BlockDetail&) const = default;
};

// Lines that hold bytes after a NUL, which no signature covers.
struct BytesAfterNul {
  std::uint32_t firstLine = 0;
  std::uint32_t lines = 0;
  std::uint64_t bytes = 0;  // after each NUL that ends a line's counted bytes

  bool operator==(const BytesAfterNul&) const = default;
};

// A 0x1A with bytes after it: the input ends there, and no reader sees them.
struct EndOfInput {
  std::uint32_t line = 0;  // the line it stands on, or the line after the last
  std::uint64_t offset = 0;
  std::uint64_t bytesAfter = 0;

  bool operator==(const EndOfInput&) const = default;
};

// A byte-order mark at the start of a file. The line rules read bytes as they
// are, so a UTF-8 mark is part of the first line, and UTF-16 text is not the
// text that was signed in the form the format reads.
enum class ByteOrderMark { None, Utf8, Utf16LittleEndian, Utf16BigEndian };

struct FileDetail {
  std::wstring path;  // as the run was given it
  std::wstring name;  // its last component
  // 1, then 2 or 3 when the file changed while it was read and is read again.
  int reading = 1;
  bool opened = false;
  // Why it did not open, or why a read failed before its end: the lines
  // read before stand, but the file was not verified whole.
  std::error_code readError;
  std::optional<platform::FileIdentity> identity;
  Bytes chainBefore;  // the chain value the file starts from
  // The link of its first signature line's block, when that block parses.
  std::optional<Bytes> firstLink;
  // After its last signature line, when it has one.
  std::optional<Bytes> lastChainValue;
  BlockCounts counts;
  std::uint32_t lines = 0;
  std::uint32_t signatureLines = 0;
  std::optional<LineRange> unsignedTail;
  BytesAfterNul afterNul;
  std::optional<EndOfInput> endOfInput;
  // A block read again from the file did not end where its signature line
  // starts: the file was cut or rewritten while it was read.
  bool changedWhileRead = false;
  // Why the file could not be read whole. A run that may read a file again
  // then judges it as a file that cannot be read: no lines, `opened` false.
  platform::ReadFault fault = platform::ReadFault::None;
  ByteOrderMark byteOrderMark = ByteOrderMark::None;

  bool operator==(const FileDetail&) const = default;
};

// Called on the run's thread, in file order; a file's details hold what is
// known when the call comes.
class VerifyObserver {
 public:
  virtual ~VerifyObserver() = default;
  // Before a file's first line; again, with `reading` above 1, when the file
  // changed while it was read and is read from its start once more: what
  // came for it before no longer holds.
  virtual void OnFileStart(const FileDetail& /*file*/) {}
  virtual void OnBlock(const FileDetail& /*file*/, const BlockDetail& /*block*/) {}
  virtual void OnFileEnd(const FileDetail& /*file*/) {}
};

struct RunOptions {
  VerifyLimits limits = {};
  // Covered lines gathered per block, and bytes of each: the run holds this
  // much of the current block at most.
  std::uint32_t excerptLines = 0;
  std::size_t excerptLineBytes = 4000;
  // Of a file that changes while it is read; 1 reports the change instead,
  // and leaves a file that cannot be read whole with the lines it gave.
  int readings = 3;
  // Files whose name ends in ".gz" are read as the content of their gzip
  // data; the library's own runs read every file as it is.
  bool gunzip = false;
  // Where blocks go to be checked by workers; none: the run checks them itself.
  BlockWindow* window = nullptr;
};

// Verifies `paths` as one chain in the order given. Throws as VerifyFiles.
void VerifyInOrder(const std::vector<std::wstring>& paths, VerifyObserver& observer,
                   const RunOptions& options = {});

// The library's results: one FileCheckResult per file, as VerifyFiles leaves them.
class FileRecorder : public VerifyObserver {
 public:
  explicit FileRecorder(FileVerifier& verifier) : verifier_(verifier) {}
  void OnFileStart(const FileDetail& file) override;
  void OnBlock(const FileDetail& file, const BlockDetail& block) override;
  void OnFileEnd(const FileDetail& file) override;

 private:
  FileVerifier& verifier_;
  FileCheckResult current_;
};

}  // namespace qve
