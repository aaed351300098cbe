// The parts of inspect that do not depend on the command line: telling the
// kind of a file, and the text form of an inspection.
#include <algorithm>
#include <fstream>
#include <ostream>
#include <string>

#include "cli/inspect.h"
#include "crypto/bytes.h"
#include "format/container_format.h"
#include "platform/file_status.h"
#include "platform/files.h"

namespace qve::cli {

std::string TagHex(std::uint64_t value, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = size; i-- > 0; value >>= 8) bytes[i] = static_cast<std::uint8_t>(value);
  return Hex(bytes);
}

std::string InspectFile(const std::wstring& path, const std::string& shownPath,
                        const InspectOptions& options, std::ostream& out) {
  Json file = {{"path", Escaped(shownPath)}};
  platform::FileStream stream;
  std::error_code error;
  const std::uint64_t size = platform::FileSize(path, error);
  if (error || !platform::OpenForReading(stream, path)) {
    if (!error) error = platform::ReadError(path);
    file["kind"] = "unreadable";
    file["reason"] = error ? platform::ErrorText(error) : "it does not open";
    if (options.json) {
      out << file.dump() << '\n';
    } else {
      out << file["path"].get<std::string>()
          << ": cannot be read: " << file["reason"].get<std::string>() << '\n';
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
