// SPDX-License-Identifier: Apache-2.0
#include "cli/output_file.h"

#include <cerrno>

#include "cli/command_line.h"
#include "cli/escape.h"
#include "cli/standard_input.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::cli {

using platform::FileKind;

void RefuseForeignLink(const std::string& called, std::wstring_view path) {
  std::wstring link;
  if (!platform::LinkRefusal(path, &link)) return;
  const std::string what =
      "a symbolic link, owned by neither this user nor the folder's owner, in a sticky "
      "world-writable folder; it is not followed (the rule of fs.protected_symlinks)";
  throw CommandError(kCannotCreate, link == path ? called + " is " + what
                                                 : called + " leads through " +
                                                       Escaped(Narrow(link)) + ", " + what);
}

std::wstring UsableScratchFolder() {
  std::error_code error;
  const std::wstring folder = platform::ScratchFolder(error);
  const std::string called = "the scratch folder " + Escaped(Narrow(folder));
  if (error) throw CommandError(kCannotCreate, called + ": " + platform::ErrorText(error));
  RefuseForeignLink(called, folder);
  return folder;
}

OutputFile::OutputFile(std::string label, const std::string& name,
                       const std::vector<OutputInput>& inputs, bool standardOutputToo)
    : label_(std::move(label)), name_(Escaped(name)) {
  const std::string called = label_ + " " + name_;
  if (name.empty()) throw CommandError(kUsageError, label_ + " must not be empty");
  const std::wstring wide = platform::ArgumentPath(name);
  const platform::FileStatus standardOutput = platform::StatusOfStandardOutput();
  platform::FileStatus status;
  // By identity before any link is followed: /dev/stdout leads to a pipe's
  // name in /proc, which is no path at all.
  toStandardOutput_ = standardOutputToo && (name == kStandardStream ||
                                            platform::StatusOf(wide).SameFileAs(standardOutput));
  if (!standardOutputToo) RefuseStandardStream(name, label_);
  if (!toStandardOutput_) {
    RefuseForeignLink(called, wide);
    target_ = platform::FinalPath(wide);
    status = platform::StatusOf(target_);
  }
  const platform::FileStatus& destination = toStandardOutput_ ? standardOutput : status;
  for (const OutputInput& input : inputs) {
    if (input.status.SameFileAs(destination))
      throw CommandError(kUsageError, called + " is the same file as " + input.shown);
  }
  std::wstring folder;
  if (toStandardOutput_) {
    folder = UsableScratchFolder();
  } else {
    if (status.kind == FileKind::Folder || status.kind == FileKind::Other)
      throw CommandError(kCannotCreate,
                         called + " is " + status.what + "; only a regular file is replaced");
    folder = platform::FolderOf(target_);
    const platform::FileStatus folderStatus = platform::StatusOf(folder);
    if (folderStatus.kind != FileKind::Folder) {
      throw CommandError(kCannotCreate,
                         "the folder " + Escaped(Narrow(folder)) + " of " + called + " " +
                             (folderStatus.kind == FileKind::Missing ? "does not exist"
                                                                     : "is " + folderStatus.what));
    }
    // A name too long, say; a name not there yet is what a new file has.
    if (status.kind == FileKind::Missing && !platform::IsNotFound(status.error))
      throw CommandError(kCannotCreate, called + ": " + platform::ErrorText(status.error));
    if (status.kind == FileKind::Regular) {
      if (const std::error_code error = platform::ReplaceError(target_))
        throw CommandError(kCannotCreate,
                           called + " cannot be replaced: " + platform::ErrorText(error));
    }
  }
  std::error_code error;
  temporary_ = platform::TempOutput::Create(folder, error);
  if (!temporary_)
    throw CommandError(kCannotCreate, "cannot create a file in " + Escaped(Narrow(folder)) + ": " +
                                          platform::ErrorText(error));
}

void OutputFile::Write(const std::function<void(std::ostream&)>& write) {
  platform::FileStream out;
  if (!platform::OpenForWriting(out, temporary_->path()))
    throw CommandError(kCannotCreate, "cannot open the temporary file for " + label_ + " " + name_);
  // The cause as the file shows it now, else the last failed call's.
  const auto cannotWrite = [&](int lastError) {
    std::error_code error = platform::WriteError(temporary_->path());
    if (!error && lastError != 0) error = {lastError, std::generic_category()};
    return CommandError(kOutputError, "cannot write " + label_ + " " + name_ +
                                          (error ? ": " + platform::ErrorText(error) : ""));
  };
  try {
    errno = 0;
    write(out);
    out.flush();
  } catch (const std::exception&) {
    if (!out) throw cannotWrite(errno);
    throw;
  }
  if (!out) throw cannotWrite(errno);
  out.close();
  if (!out) throw cannotWrite(errno);
}

bool OutputFile::CommitIfUnchanged(const std::optional<std::string>& expected) {
  std::error_code error;
  const bool published =
      temporary_->PublishIfUnchanged(target_, expected, error, platform::Durability::Synced);
  if (error)
    throw CommandError(kCannotCreate, "cannot put " + label_ + " " + name_ +
                                          " in place: " + platform::ErrorText(error));
  return published;
}

void OutputFile::Commit(platform::Durability durability) {
  std::error_code error;
  if (toStandardOutput_) {
    temporary_->CopyToStandardOutput(error);
    if (error)
      throw CommandError(kOutputError,
                         "cannot write standard output: " + platform::ErrorText(error));
    return;
  }
  temporary_->Publish(target_, error, durability);
  if (error)
    throw CommandError(kCannotCreate, "cannot put " + label_ + " " + name_ +
                                          " in place: " + platform::ErrorText(error));
}

}  // namespace qve::cli
