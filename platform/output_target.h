// SPDX-License-Identifier: Apache-2.0
// Where an output may go, checked before any work: the one set of rules
// for every file written by name (a decryption's OUTPUT, a page, a record).
// The content then goes into a TempOutput in the folder found here and is
// published over the target only when complete.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_status.h"

namespace qve::platform {

// Why an output cannot go where it is asked to; the numbers are those the C
// interface publishes for the same cases.
enum class OutputProblem {
  None = 0,
  ForeignLink = 2,     // `path`: the link another user may have planted
  NotRegular = 3,      // `reason`: what it is ("a FIFO")
  NoFolder = 4,        // `path`: the folder; `reason`: "does not exist", "is a regular file"
  NameRefused = 5,     // `reason`: the system's ("file name too long")
  NotReplaceable = 6,  // `reason`: the system's
  SameFile = 7,        // `input`: which input it is
  NoTemporary = 8,     // `path`: the folder; `reason`: the system's
  NotPublished = 9,    // `reason`: the system's
};

struct OutputFault {
  OutputProblem problem = OutputProblem::None;
  std::wstring path;
  std::string reason;
  std::size_t input = 0;

  explicit operator bool() const { return problem != OutputProblem::None; }
};

// The file to replace (links followed) and the folder its temporary goes in.
struct OutputPlace {
  std::wstring target;
  std::wstring folder;
};

// Refuses, as ForeignLink, a path that leads through a link LinkRefusal
// refuses. False with `fault` set then.
bool AcceptsLinks(std::wstring_view path, OutputFault& fault);

// Checks `name` as a destination: no link refused on its way, none of
// `inputs`, a regular file or nothing yet, in a folder that exists, with a
// name the system takes, and replaceable by this user. Nothing, with
// `fault` set, where it may not be written.
std::optional<OutputPlace> CheckOutputPlace(std::wstring_view name,
                                            std::span<const FileStatus> inputs, OutputFault& fault);

// The fault in words: `called` names the output ("OUTPUT out.bin"), `name`
// is the name it was given, `input` names the input of a SameFile fault
// ("INPUT c.qves"), `shown` turns a path into text.
std::string OutputFaultText(const std::string& called, std::wstring_view name,
                            const OutputFault& fault, const std::string& input,
                            const std::function<std::string(std::wstring_view)>& shown);

}  // namespace qve::platform
