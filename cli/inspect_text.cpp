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
  Bytes start(kContainerMagic.size());
  stream.read(reinterpret_cast<char*>(start.data()), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<std::size_t>(stream.gcount()));
  FileKind kind = options.as;
  if (kind == FileKind::Detect && StartsWithContainerMagic(start)) kind = FileKind::Container;
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
