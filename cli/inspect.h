// qvehelper inspect: what a container or a signed log holds, as the
// library's readers see it, with every fault named where it is. Each file
// becomes one JSON object or its text form. A container's object is built
// whole and printed from, so the two never say different things; a log's is
// printed as the file is read, since a log may hold any number of blocks.
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
  bool json = false;  // one JSON object per line instead of text
};

// Prints what the file holds to `out`; gives the kind found: "container",
// "log", "unknown" (neither magic nor a signature line) or "unreadable".
// Throws std::runtime_error where OpenSSL fails.
std::string InspectFile(const std::wstring& path, const std::string& shownPath,
                        const InspectOptions& options, std::ostream& out);

// The members of a container's object; `file` is positioned anywhere.
void InspectContainer(std::istream& file, std::uint64_t size, bool seal, Json& into);
// The text form of a container's object, after its first line.
void PrintContainer(std::ostream& out, const Json& file);

// Reads the file as a verification run of its own and prints it as it goes;
// `head` holds its "path" and "size". With `detect`, a file without a
// signature line is "unknown".
std::string InspectLog(const std::wstring& path, const Json& head, bool detect, bool json,
                       std::ostream& out);

std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace qve::cli
