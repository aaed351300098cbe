// SPDX-License-Identifier: Apache-2.0
#include "platform/output_target.h"

namespace qve::platform {

namespace {

bool Refuse(OutputFault& fault, OutputProblem problem, std::wstring path, std::string reason) {
  fault = {problem, std::move(path), std::move(reason), 0};
  return false;
}

}  // namespace

bool AcceptsLinks(std::wstring_view path, OutputFault& fault) {
  std::wstring link;
  if (!LinkRefusal(path, &link)) return true;
  return Refuse(fault, OutputProblem::ForeignLink, link, {});
}

std::optional<OutputPlace> CheckOutputPlace(std::wstring_view name,
                                            std::span<const FileStatus> inputs,
                                            OutputFault& fault) {
  if (name.empty()) {
    Refuse(fault, OutputProblem::NameRefused, {},
           ErrorText(std::make_error_code(std::errc::no_such_file_or_directory)));
    return std::nullopt;
  }
  if (!AcceptsLinks(name, fault)) return std::nullopt;
  OutputPlace place{FinalPath(name), {}};
  const FileStatus status = StatusOf(place.target);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].SameFileAs(status)) {
      fault = {OutputProblem::SameFile, {}, {}, i};
      return std::nullopt;
    }
  }
  if (status.kind == FileKind::Folder || status.kind == FileKind::Other) {
    Refuse(fault, OutputProblem::NotRegular, {}, status.what);
    return std::nullopt;
  }
  place.folder = FolderOf(place.target);
  const FileStatus folder = StatusOf(place.folder);
  if (folder.kind != FileKind::Folder) {
    Refuse(fault, OutputProblem::NoFolder, place.folder,
           folder.kind == FileKind::Missing ? "does not exist" : "is " + folder.what);
    return std::nullopt;
  }
  // A name too long, say; a name not there yet is what a new file has.
  if (status.kind == FileKind::Missing && !IsNotFound(status.error)) {
    Refuse(fault, OutputProblem::NameRefused, {}, ErrorText(status.error));
    return std::nullopt;
  }
  if (status.kind == FileKind::Regular) {
    if (const std::error_code error = ReplaceError(place.target)) {
      Refuse(fault, OutputProblem::NotReplaceable, {}, ErrorText(error));
      return std::nullopt;
    }
  }
  return place;
}

std::string OutputFaultText(const std::string& called, std::wstring_view name,
                            const OutputFault& fault, const std::string& input,
                            const std::function<std::string(std::wstring_view)>& shown) {
  switch (fault.problem) {
    case OutputProblem::ForeignLink: {
      const std::string what =
          "a symbolic link, owned by neither this user nor the folder's owner, in a sticky "
          "world-writable folder; it is not followed (the rule of fs.protected_symlinks)";
      return fault.path == name ? called + " is " + what
                                : called + " leads through " + shown(fault.path) + ", " + what;
    }
    case OutputProblem::NotRegular:
      return called + " is " + fault.reason + "; only a regular file is replaced";
    case OutputProblem::NoFolder:
      return "the folder " + shown(fault.path) + " of " + called + " " + fault.reason;
    case OutputProblem::NameRefused:
      return called + ": " + fault.reason;
    case OutputProblem::NotReplaceable:
      return called + " cannot be replaced: " + fault.reason;
    case OutputProblem::SameFile:
      return called + " is the same file as " + input;
    case OutputProblem::NoTemporary:
      return "cannot create a file in " + shown(fault.path) + ": " + fault.reason;
    case OutputProblem::NotPublished:
      return "cannot put " + called + " in place: " + fault.reason;
    case OutputProblem::None:
      break;
  }
  return called + ": " + fault.reason;
}

}  // namespace qve::platform
