// The parts of inspect that do not depend on the command line: telling the
// kind of a file, and the text form of an inspection.
#include <algorithm>
#include <fstream>
#include <ostream>
#include <string>

#include "cli/inspect.h"
#include "crypto/bytes.h"
#include "format/container_format.h"
#include "platform/files.h"

namespace qve::cli {

namespace {

std::string Range(const Json& pair) {
  if (pair.is_null()) return "none";
  const auto first = pair[0].get<std::uint32_t>(), last = pair[1].get<std::uint32_t>();
  return first == last ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last);
}

std::string Count(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Lines(const Json& pair) {
  return (pair[0] == pair[1] ? "line " : "lines ") + Range(pair);
}

void PrintLog(std::ostream& out, const Json& file) {
  for (const Json& row : file["blocks"]) {
    out << "  line " << row["line"] << ": covers " << Range(row["covers"]) << ", ";
    if (row.contains("empty")) {
      out << "empty payload";
    } else if (row.contains("malformed")) {
      out << "malformed: " << row["malformed"].get<std::string>();
    } else {
      out << "id " << row["id"] << ", text \"" << row["text"].get<std::string>() << "\", link "
          << row["link"].get<std::string>() << (row["linkLength"] > 4 ? ".." : "") << " ("
          << row["linkLength"] << " bytes) " << row["chain"].get<std::string>() << ", signature "
          << row["signatureLength"] << " bytes";
    }
    out << ": " << row["verdict"].get<std::string>() << '\n';
  }
  if (!file["unsignedTail"].is_null())
    out << "  unsigned tail: " << Lines(file["unsignedTail"]) << '\n';
  for (const Json& skip : file["ignored"]) {
    if (skip["after"] == "NUL") {
      out << "  ignored: " << skip["bytes"] << " bytes from the NUL on line " << skip["line"]
          << '\n';
    } else {
      out << "  ignored: " << skip["bytes"] << " bytes after the end-of-input byte 0x1A at offset "
          << skip["offset"] << '\n';
    }
  }
}

}  // namespace

std::string Escaped(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 15]};
    }
  }
  return out;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t byte : bytes) out += {kDigits[byte >> 4], kDigits[byte & 15]};
  return out;
}

Json InspectFile(const std::wstring& path, const std::string& shownPath,
                 const InspectOptions& options) {
  Json file = {{"path", Escaped(shownPath)}};
  platform::FileStream stream;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(path, error);
  if (error || !platform::OpenForReading(stream, path)) {
    file["kind"] = "unreadable";
    return file;
  }
  Bytes start(kContainerMagic.size());
  stream.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(stream.gcount()));
  FileKind kind = options.as;
  if (kind == FileKind::Detect && StartsWithContainerMagic(start)) kind = FileKind::Container;
  file["size"] = size;
  if (kind == FileKind::Container) {
    file["kind"] = "container";
    InspectContainer(stream, size, options.seal, file);
    return file;
  }
  stream.close();
  file["kind"] = "log";
  if (!InspectLog(path, file) && kind == FileKind::Detect) file["kind"] = "unknown";
  return file;
}

void PrintInspection(std::ostream& out, const Json& file) {
  const std::string kind = file["kind"];
  out << file["path"].get<std::string>() << ": ";
  if (kind == "unreadable") {
    out << "cannot be read\n";
    return;
  }
  out << kind << ", " << file["size"] << " bytes";
  if (kind == "container") {
    out << '\n';
    PrintContainer(out, file);
    return;
  }
  out << ", " << Count(file["lines"], "line");
  if (kind == "unknown") {
    out << ": no \"QVES\" magic and no signature line\n";
    return;
  }
  out << ", " << Count(file["blocks"].size(), "signature line") << '\n';
  PrintLog(out, file);
}

}  // namespace qve::cli
