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

std::string YesNo(const Json& flag, const char* yes, const char* no) {
  return flag.get<bool>() ? yes : no;
}

}  // namespace

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

namespace {

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

std::string InspectFile(const std::wstring& path, const std::string& shownPath,
                        const InspectOptions& options, std::ostream& out) {
  Json file = {{"path", Escaped(shownPath)}};
  platform::FileStream stream;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(path, error);
  if (error || !platform::OpenForReading(stream, path)) {
    file["kind"] = "unreadable";
    if (options.json) {
      out << file.dump() << '\n';
    } else {
      out << file["path"].get<std::string>() << ": cannot be read\n";
    }
    return "unreadable";
  }
  Bytes start(4);
  stream.read(reinterpret_cast<char*>(start.data()), 4);
  start.resize(static_cast<std::size_t>(stream.gcount()));
  FileKind kind = options.as;
  if (kind == FileKind::Detect && IsContainerStart(start)) kind = FileKind::Container;
  if (kind != FileKind::Container) {
    stream.close();
    file["size"] = size;
    return InspectLog(path, file, kind == FileKind::Detect, options.json, out);
  }
  file["kind"] = "container";
  file["size"] = size;
  InspectContainer(stream, size, options.seal, file);
  if (options.json) {
    out << file.dump() << '\n';
  } else {
    out << file["path"].get<std::string>() << ": container, " << size << " bytes\n";
    PrintContainer(out, file);
  }
  return "container";
}

}  // namespace qve::cli
