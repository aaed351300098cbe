// inspect on a hostile file, read both as a container (with the in-memory
// seal pass) and as a log: nothing may crash or leak, and the text printed
// stays printable ASCII lines whatever the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "cli/inspect.h"
#include "platform/paths.h"

namespace {

void Inspect(const std::wstring& path, qve::cli::FileKind kind) {
  const qve::cli::Json file = qve::cli::InspectFile(path, "fuzz", {kind, true});
  std::ostringstream text;
  qve::cli::PrintInspection(text, file);
  for (const char c : text.str()) {
    if (c != '\n' && (c < 0x20 || c > 0x7E)) std::abort();
  }
  (void)file.dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/qve-fuzz-inspect-" + std::to_string(::getpid());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  const std::wstring wide = *qve::platform::ToWide(path);
  Inspect(wide, qve::cli::FileKind::Container);
  Inspect(wide, qve::cli::FileKind::Log);
  std::remove(path.c_str());
  return 0;
}
