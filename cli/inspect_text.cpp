// The parts of inspect that do not depend on the command line: telling the
// kind of a file, and the text form of an inspection.
#include <algorithm>
#include <fstream>
#include <ostream>
#include <string>

#include "cli/inspect.h"
#include "crypto/bytes.h"
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

std::string YesNo(const Json& flag, const char* yes, const char* no) {
  return flag.get<bool>() ? yes : no;
}

void PrintContainer(std::ostream& out, const Json& file) {
  const Json& header = file["header"];
  if (file.contains("version")) out << "  version " << file["version"] << '\n';
  if (file.contains("recipientCount"))
    out << "  recipient count " << file["recipientCount"] << '\n';
  int number = 0;
  for (const Json& record : file["recipients"]) {
    out << "  record " << ++number << " at offset " << record["offset"] << ": tag "
        << record["tag"].get<std::string>() << ", key " << record["keyId"].get<std::string>()
        << ", wrapped key " << record["wrappedKeyLength"] << " bytes"
        << (record["used"].get<bool>() ? " (used)" : "") << '\n';
  }
  if (header["code"] != 0) {
    out << "  header malformed at offset " << header["offset"] << ": "
        << header["problem"].get<std::string>() << " (reader code " << header["code"] << ", "
        << header["status"].get<std::string>() << ")\n";
    return;
  }
  out << "  iv " << file["iv"].get<std::string>() << '\n'
      << "  payload " << file["payloadLength"] << " bytes, "
      << YesNo(file["wholeBlocks"], "a whole number of ", "not a whole number of ")
      << file["blockSize"] << "-byte blocks\n";
  const Json& key = file["sessionKey"];
  out << "  session key: ";
  if (key["record"].is_null()) {
    out << key["problem"].get<std::string>() << '\n';
  } else if (!key["unwraps"].get<bool>()) {
    out << "record " << key["record"] << " does not unwrap\n";
  } else {
    out << "record " << key["record"] << " unwraps, CRC "
        << YesNo(key["crcMatches"], "matches", "does not match") << ", key material "
        << key["keyMaterialLength"] << " bytes\n";
  }
  if (!file.contains("seal")) return;
  const Json& seal = file["seal"];
  out << "  seal: ";
  if (!seal["decrypts"].get<bool>()) {
    out << "not reached, the payload does not decrypt\n";
  } else if (!seal["found"].get<bool>()) {
    out << "no trailer in " << seal["plaintextLength"] << " bytes of plaintext\n";
  } else {
    out << seal["length"] << " bytes, key " << seal["keyId"].get<std::string>() << ", signature "
        << seal["signatureLength"] << " bytes, "
        << YesNo(seal["verifies"], "verifies", "does not verify") << '\n';
  }
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

bool IsContainerStart(const Bytes& start) {
  const std::string magic = "QVES";
  return !start.empty() && std::equal(start.begin(), start.end(), magic.begin());
}

}  // namespace

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
  Bytes start(4);
  stream.read(reinterpret_cast<char*>(start.data()), 4);
  start.resize(static_cast<std::size_t>(stream.gcount()));
  FileKind kind = options.as;
  if (kind == FileKind::Detect && IsContainerStart(start)) kind = FileKind::Container;
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
