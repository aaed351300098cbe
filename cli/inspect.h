// qvehelper inspect: what a container or a signed log holds, as the
// library's readers see it, with every fault named where it is. Each file
// becomes one JSON object; the text form is printed from that object, so
// the two never say different things.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>

#include "cli/escape.h"

namespace qve::cli {

using Json = nlohmann::ordered_json;

enum class FileKind { Detect, Container, Log };

struct InspectOptions {
  FileKind as = FileKind::Detect;
  bool seal = false;  // decrypt in memory to look at the seal trailer
};

// "kind" is "container", "log", "unknown" (neither magic nor a signature
// line) or "unreadable". Throws std::runtime_error where OpenSSL fails.
Json InspectFile(const std::wstring& path, const std::string& shownPath,
                 const InspectOptions& options);

// The members of a container's object; `file` is positioned anywhere.
void InspectContainer(std::istream& file, std::uint64_t size, bool seal, Json& into);
// The members of a log's object; false when it holds no signature line.
bool InspectLog(const std::wstring& path, Json& into);

void PrintInspection(std::ostream& out, const Json& file);

std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace qve::cli
