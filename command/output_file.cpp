// SPDX-License-Identifier: Apache-2.0
#include "command/output_file.h"

#include <cerrno>
#include <filesystem>

#include "command/escape.h"
#include "command/standard_input.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qve::command {

using platform::OutputProblem;

CommandError OutputError(const std::string& called, std::wstring_view path,
                         const platform::OutputFault& fault,
                         const std::vector<OutputInput>& inputs) {
  const std::string input = fault.input < inputs.size() ? inputs[fault.input].shown : "an input";
  const std::string text = platform::OutputFaultText(
      called, path, fault, input,
      [](std::wstring_view shown) { return Escaped(ShownText(std::wstring(shown))); });
  const bool usage = fault.problem == OutputProblem::SameFile;
  return {usage ? kUsageError : kCannotCreate, text};
}

void RefuseForeignLink(const std::string& called, std::wstring_view path) {
  platform::OutputFault fault;
  if (!platform::AcceptsLinks(path, fault)) throw OutputError(called, path, fault);
}

std::wstring UsableScratchFolder() {
  std::error_code error;
  const std::wstring folder = platform::ScratchFolder(error);
  const std::string called = "the scratch folder " + Escaped(ShownText(folder));
  if (error) throw CommandError(kCannotCreate, called + ": " + platform::ErrorText(error));
  RefuseForeignLink(called, folder);
  return folder;
}

bool OutputFile::NamesStandardOutput(const std::string& name) {
  // By identity before any link is followed: /dev/stdout leads to a pipe's
  // name in /proc, which is no path at all.
  return name == kStandardStream || platform::StatusOf(platform::ArgumentPath(name))
                                        .SameFileAs(platform::StatusOfStandardOutput());
}

namespace {

// The temporary's name for `target` in `folder`: ".qve-" and ten characters
// of a hash of the target's name, so that it is found again by the next run.
std::wstring ClaimedTemporary(const std::wstring& folder, const std::wstring& target) {
  std::uint64_t hash = 14695981039346656037u;  // FNV-1a
  for (const wchar_t c : platform::FileNameOf(target)) {
    hash ^= static_cast<std::uint64_t>(c);
    hash *= 1099511628211u;
  }
  static constexpr wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
  std::wstring name = folder + L"/.qve-";
  for (int i = 0; i < 10; ++i, hash /= 36) name += kDigits[hash % 36];
  return name;
}

}  // namespace

OutputFile::OutputFile(std::string label, const std::string& name,
                       const std::vector<OutputInput>& inputs, bool standardOutputToo, bool locked)
    : label_(std::move(label)), name_(Escaped(name)) {
  const std::string called = label_ + " " + name_;
  if (name.empty()) throw CommandError(kUsageError, label_ + " must not be empty");
  const std::wstring wide = platform::ArgumentPath(name);
  if (!standardOutputToo) RefuseStandardStream(name, label_);
  toStandardOutput_ = standardOutputToo && NamesStandardOutput(name);
  std::vector<platform::FileStatus> statuses;
  for (const OutputInput& input : inputs) statuses.push_back(input.status);
  platform::OutputFault fault;
  std::wstring folder;
  if (toStandardOutput_) {
    const platform::FileStatus standardOutput = platform::StatusOfStandardOutput();
    for (std::size_t i = 0; i < statuses.size(); ++i) {
      if (statuses[i].SameFileAs(standardOutput))
        throw OutputError(called, wide, {OutputProblem::SameFile, {}, {}, i}, inputs);
    }
    folder = UsableScratchFolder();
  } else if (const auto place = platform::CheckOutputPlace(wide, statuses, fault)) {
    target_ = place->target;
    folder = place->folder;
  } else {
    throw OutputError(called, wide, fault, inputs);
  }
  std::error_code error;
  std::wstring claimed;
  if (locked && !toStandardOutput_) {
    claimed = ClaimedTemporary(folder, target_);
    std::error_code stale;
    std::filesystem::remove(platform::NativePath(claimed), stale);
  }
  temporary_ = platform::TempOutput::Create(folder, error, platform::TempNaming::Unnamed,
                                            platform::TempAccess::ByPath, claimed);
  if (!temporary_)
    throw OutputError(called, wide,
                      {OutputProblem::NoTemporary, folder, platform::ErrorText(error), 0});
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
  if (error) throw NotPublished(error);
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
  if (error) throw NotPublished(error);
}

CommandError OutputFile::NotPublished(const std::error_code& error) const {
  return OutputError(label_ + " " + name_, target_,
                     {OutputProblem::NotPublished, {}, platform::ErrorText(error), 0});
}

}  // namespace qve::command
