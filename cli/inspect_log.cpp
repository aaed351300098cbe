// The log half of inspect: one row per signature line with the fields of its
// block and the verdict the verification gives it, as if the file were a run
// of its own; then the unsigned tail and the bytes the line rules ignore.
#include <fstream>
#include <optional>
#include <string>

#include "cli/inspect.h"
#include "crypto/byte_cursor.h"
#include "crypto/signature_block.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text_reader.h"
#include "verify/chain_checker.h"
#include "verify/log_line.h"

namespace qve::cli {

namespace {

constexpr std::size_t kShortLink = 4;  // bytes of a link shown

// Which field stops the parser, where it stands and why. The fields parsed
// before the failure give the offsets of those after them.
std::string WhereParsingStops(BlockParseResult result, std::span<const std::uint8_t> bytes,
                              const SignatureBlock& parsed) {
  struct Field {
    const char* name;
    std::size_t offset;
    std::uint32_t limit;  // 0: an integer with no limit of its own
  };
  const std::size_t textEnd = 18 + parsed.text.size();
  const Field fields[] = {
      {"version", 2, 0},
      {"id", 6, 0},
      {"text length", 10, kMaxBlockTextLength},
      {"link length", textEnd - 4, kMaxBlockLinkLength},
      {"signature length", textEnd + parsed.link.size(), kMaxBlockSignatureLength}};
  const auto code = static_cast<int>(result);
  if (result == BlockParseResult::OneByte) return "1 byte, too short for the magic";
  if (result == BlockParseResult::BadMagic)
    return "magic " + Hex(bytes.first(2)) + " at offset 0, expected 5156 (\"QV\")";
  // Codes 4 to 12 run through the fields in pairs: cut short, then out of range.
  const Field& field = fields[code <= 6 ? (code - 4) / 2 : (code - 7) / 2 + 2];
  const std::string at = field.name + std::string(" at offset ") + std::to_string(field.offset);
  std::uint32_t value = 0;
  ByteCursor cursor(bytes);
  if (!cursor.Skip(field.offset) || !cursor.ReadU32LE(&value))
    return at + " cut short by the end of the block";
  if (result == BlockParseResult::VersionUnsupported)
    return at + " is " + std::to_string(value) + ", expected " +
           std::to_string(kSignatureBlockVersion);
  if (value > field.limit)
    return at + " is " + std::to_string(value) + ", at most " + std::to_string(field.limit);
  return at + " is " + std::to_string(value) + ", " + std::to_string(cursor.remaining()) +
         " bytes left";
}

Json BlockRow(std::string_view payload, std::uint32_t line, std::optional<std::uint32_t> first,
              const Bytes& chainValue, bool firstBlock) {
  Json row = {{"line", line}};
  if (first) {
    row["covers"] = {*first, line - 1};
  } else {
    row["covers"] = nullptr;
  }
  const Bytes bytes = BlockBytesOf(payload);
  if (bytes.empty()) {
    row["empty"] = true;
    return row;
  }
  SignatureBlock block;
  const BlockParseResult parsed = ParseSignatureBlock(bytes, block);
  if (parsed != BlockParseResult::Parsed) {
    row["malformed"] = WhereParsingStops(parsed, bytes, block);
    return row;
  }
  row["id"] = block.id;
  row["text"] = Escaped(block.text);
  row["link"] = Hex(std::span(block.link).first(std::min(block.link.size(), kShortLink)));
  row["linkLength"] = block.link.size();
  row["chain"] = firstBlock ? "first block" : block.link == chainValue ? "matches" : "differs";
  row["signatureLength"] = block.signature.size();
  return row;
}

// Where the first 0x1A stands, which ends the input of the text reader.
std::optional<std::uint64_t> EndOfInputByte(const std::wstring& path, std::uint64_t* size) {
  platform::FileStream file;
  if (!platform::OpenForReading(file, path)) return std::nullopt;
  std::optional<std::uint64_t> found;
  std::uint64_t offset = 0;
  char chunk[1 << 16];
  while (file.read(chunk, sizeof chunk), file.gcount() > 0) {
    const std::string_view part(chunk, static_cast<std::size_t>(file.gcount()));
    if (const std::size_t at = part.find(kEndOfInput); !found && at != std::string_view::npos)
      found = offset + at;
    offset += part.size();
  }
  *size = offset;
  return found;
}

}  // namespace

bool InspectLog(const std::wstring& path, Json& into) {
  ChainChecker checker;
  platform::TextLineReader reader(platform::NarrowPath(path));
  checker.BeginFile(platform::FileNameOf(path), &reader);
  Json blocks = Json::array();
  Json ignored = Json::array();
  std::uint32_t lineNumber = 1;
  std::optional<std::uint32_t> pendingFirst;
  std::string_view raw;
  for (; reader.NextLine(&raw); ++lineNumber) {
    const LogLine line = ClassifyLine(raw);
    if (line.text.size() < raw.size())
      ignored.push_back(
          {{"line", lineNumber}, {"bytes", raw.size() - line.text.size()}, {"after", "NUL"}});
    if (!line.isSignature) {
      if (!pendingFirst) pendingFirst = lineNumber;
      checker.OnPiece(raw, true);
      continue;
    }
    Json row =
        BlockRow(line.payload, lineNumber, pendingFirst, checker.chainValue(), blocks.empty());
    // The checker lists every block that is not BlockOk.
    const std::size_t listed = checker.current().blocks.size();
    checker.OnPiece(raw, true);
    row["verdict"] = checker.current().blocks.size() > listed
                         ? BlockVerdictName(checker.current().blocks.back().verdict)
                         : BlockVerdictName(BlockOk);
    blocks.push_back(std::move(row));
    pendingFirst.reset();
  }
  std::uint64_t size = 0;
  if (const auto at = EndOfInputByte(path, &size))
    ignored.push_back({{"offset", *at}, {"bytes", size - *at - 1}, {"after", "0x1A"}});
  into["lines"] = lineNumber - 1;
  into["blocks"] = blocks;
  if (pendingFirst) {
    into["unsignedTail"] = {*pendingFirst, lineNumber - 1};
  } else {
    into["unsignedTail"] = nullptr;
  }
  into["ignored"] = ignored;
  return !blocks.empty();
}

}  // namespace qve::cli
