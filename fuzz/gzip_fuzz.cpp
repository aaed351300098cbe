// SPDX-License-Identifier: Apache-2.0
// The text reader on gzip content, against zlib decompressing the whole
// input in memory: the reader must find a fault exactly when that does not
// end cleanly after its last member, and otherwise give the content's text
// up to the first 0x1A with only the line ends removed; a second reader
// from any line start must give the same lines on.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "verify/text_reader.h"

namespace {

std::string TempPath() { return "/tmp/qve-fuzz-gzip-" + std::to_string(::getpid()) + ".gz"; }

constexpr std::size_t kLargestContent = 16 << 20;

// Every member in turn, or nothing when any is damaged or cut; content past
// kLargestContent is cut off.
std::optional<std::string> Gunzip(std::string_view input) {
  std::string out;
  auto* next = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  std::size_t left = input.size();
  if (left == 0) return std::nullopt;
  while (left > 0) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) std::abort();
    stream.next_in = next;
    stream.avail_in = static_cast<uInt>(left);
    int status = Z_OK;
    char chunk[4096];
    while (status == Z_OK && out.size() <= kLargestContent) {
      stream.next_out = reinterpret_cast<Bytef*>(chunk);
      stream.avail_out = sizeof chunk;
      status = inflate(&stream, Z_NO_FLUSH);
      out.append(chunk, sizeof chunk - stream.avail_out);
    }
    next = stream.next_in;
    left = stream.avail_in;
    inflateEnd(&stream);
    if (status != Z_STREAM_END)
      return out.size() > kLargestContent ? out : std::optional<std::string>();
  }
  return out;
}

// The lines a reader gives, each followed by LF.
std::string Text(qve::TextLineReader& reader, std::vector<std::uint64_t>* starts) {
  std::string text;
  std::string_view line;
  while (reader.NextLine(&line)) {
    text.append(line).push_back('\n');
    if (starts != nullptr) starts->push_back(reader.offset());
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > (1 << 20)) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t bufferSize = 1 + data[0] % 64;
  const std::optional<std::string> content = Gunzip(input);
  // A bomb's content would only slow the search down.
  if (content && content->size() > kLargestContent) return 0;

  static const std::string path = TempPath();
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(input.data(), 1, input.size(), file);
    std::fclose(file);
  } else {
    std::abort();
  }
  {
    using qve::Compression;
    qve::TextLineReader reader(path, bufferSize, Compression::Gzip);
    std::vector<std::uint64_t> starts = {0};
    const std::string text = Text(reader, &starts);
    if ((reader.fault() == qve::platform::ReadFault::None) != content.has_value()) std::abort();
    if (content) {
      std::string expected;
      const std::string_view shown = std::string_view(*content).substr(0, content->find('\x1A'));
      for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n') continue;
        expected.push_back(shown[i]);
      }
      if (!expected.empty() && expected.back() != '\n') expected.push_back('\n');
      if (text != expected) std::abort();
      // From a line start in the middle, as a large block is read again.
      const std::size_t from = starts.size() / 2;
      reader.KeepFrom(starts[from]);
      qve::TextLineReader again(reader, starts[from]);
      std::size_t skip = 0;
      for (std::size_t i = 0; i < from; ++i) skip = text.find('\n', skip) + 1;
      if (Text(again, nullptr) != text.substr(skip)) std::abort();
    }
  }
  std::remove(path.c_str());
  return 0;
}
