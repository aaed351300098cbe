// SPDX-License-Identifier: Apache-2.0
// The line rules and the text reader over a real file. The reader must give
// back the file's text up to the first 0x1A with only the line ends removed,
// whatever the buffer size; the classifier must keep its views inside the line.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "verify/log_line.h"
#include "verify/text_reader.h"

namespace {

std::string TempPath() { return "/tmp/qve-fuzz-log-line-" + std::to_string(::getpid()); }

void CheckClassification(std::string_view raw) {
  const qve::LogLine line = qve::ClassifyLine(raw);
  // A NUL ends the line for every rule, the signature markers' included.
  const std::string_view text = raw.substr(0, raw.find('\0'));
  if (line.isSignature) {
    if (text.size() < 2 || text.front() != qve::kSignatureMarker ||
        text.back() != qve::kSignatureMarker)
      std::abort();
    if (line.payload.data() != text.data() + 1 || line.payload.size() != text.size() - 2)
      std::abort();
  } else {
    if (line.text.data() != raw.data() || line.text.size() > raw.size() ||
        line.text.find('\0') != std::string_view::npos)
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t bufferSize = 1 + data[0] % 64;
  CheckClassification(input);

  static const std::string path = TempPath();
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(input.data(), 1, input.size(), file);
    std::fclose(file);
  } else {
    std::abort();
  }
  std::string rebuilt;
  {
    qve::TextLineReader reader(path, bufferSize);
    std::string_view piece;
    bool lineEnds = false;
    std::string line;
    while (reader.NextPiece(&piece, &lineEnds)) {
      if (piece.find('\n') != std::string_view::npos ||
          piece.size() > std::max<std::size_t>(bufferSize, 2))
        std::abort();
      line.append(piece);
      if (!lineEnds) continue;
      CheckClassification(line);
      rebuilt.append(line);
      rebuilt.push_back('\n');
      line.clear();
    }
  }
  std::remove(path.c_str());

  // The same text with every line end made a plain LF.
  std::string expected(input.substr(0, input.find('\x1A')));
  std::string normal;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == '\r' && i + 1 < expected.size() && expected[i + 1] == '\n') continue;
    normal.push_back(expected[i]);
  }
  if (!normal.empty() && normal.back() != '\n') normal.push_back('\n');
  if (rebuilt != normal) std::abort();
  return 0;
}
