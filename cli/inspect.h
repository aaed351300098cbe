// SPDX-License-Identifier: Apache-2.0
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
#include "decrypt/container_header.h"

namespace qve::cli {

using Json = nlohmann::ordered_json;

enum class FileKind { Detect, Container, Log };

struct InspectOptions {
  FileKind as = FileKind::Detect;
  bool seal = false;  // decrypt in memory to look at the seal trailer
  bool json = false;  // one JSON object per line instead of text
};

// Prints what the file holds to `out`; gives the kind found: "container",
// "log", "unknown" (neither magic nor a signature line), "special" (a FIFO,
// socket or device, never opened) or "unreadable" (a path that is not UTF-8
// too), with the system's reason. `reads`, when given,
// is the file read under the name `path` (standard input's copy for "-").
// Throws std::runtime_error where OpenSSL fails.
std::string InspectFile(const std::string& path, const InspectOptions& options, std::ostream& out,
                        const std::wstring* reads = nullptr);

// Reads the file as a verification run of its own and prints it as it goes;
// `head` holds its "path", "kind" ("log") and "size". With `detect`, a file
// without a signature line is "unknown".
std::string InspectLog(const std::wstring& path, Json head, bool detect, bool json,
                       std::ostream& out);

// Where the header reader stopped, in words: "version 2, expected 1".
std::string HeaderProblem(const HeaderStop& stop);

// A seal that names another key than the one the library checks it with,
// by its key identifier in hex.
std::string OtherKey(const std::string& keyId);

// A tag's bytes, read big-endian, as hex digits.
std::string TagHex(std::uint64_t value, std::size_t size);

// Where a parser stopped, in words: the field, then what was wrong with it.
// `within` is what ended inside the field ("file", "block").
template <typename Stop>
std::string Problem(const Stop& stop, const std::string& field, bool isTag, std::size_t tagSize,
                    bool isContent, bool isExact, const char* within = "file") {
  if (stop.cut) {
    if (isContent)
      return field + ": " + std::to_string(stop.value) + " bytes, " + std::to_string(stop.left) +
             " left";
    return field + " cut short by the end of the " + within;
  }
  if (isTag)
    return field + " " + TagHex(stop.value, tagSize) + ", expected " + TagHex(stop.limit, tagSize);
  return field + " " + std::to_string(stop.value) + (isExact ? ", expected " : ", at most ") +
         std::to_string(stop.limit);
}

}  // namespace qve::cli
