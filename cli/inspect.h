// SPDX-License-Identifier: Apache-2.0
// qvehelper inspect: what a container or a signed log holds, as the
// library's readers see it, with every fault named where it is, each file
// as one JSON object or as text.
#pragma once

#include <iosfwd>
#include <string>

#include "cli/frame.h"

namespace qve::cli {

// What inspect reads a file as.
enum class ReadAs { Detect, Container, Log };

struct InspectOptions {
  ReadAs as = ReadAs::Detect;
  bool seal = false;  // decrypt in memory to look at the seal trailer
  bool json = false;  // one JSON object per line instead of text
};

// Prints what the file holds to `out`; gives the kind found: "container",
// "log", "unknown" (neither magic nor a signature line), "special" (a FIFO,
// socket or device, never opened) or "unreadable" (a path that is not UTF-8
// too), with the system's reason. `reads`, when given, is the file read
// under the name `path` (standard input's copy for "-"). Throws
// std::runtime_error where OpenSSL fails.
std::string InspectFile(const std::string& path, const InspectOptions& options, std::ostream& out,
                        const std::wstring* reads = nullptr);

}  // namespace qve::cli
