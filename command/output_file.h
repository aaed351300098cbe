// SPDX-License-Identifier: Apache-2.0
// The one way the commands write a named file (decrypt's OUTPUT, verify's
// --html page, qvehelper-dev's outputs): everything that can be wrong with
// the name is found before any work, the content goes into a temporary file
// in the destination's folder, and the destination is replaced only by a
// complete file, its mode and owner kept. On any failure it stays as it was.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "command/command_line.h"
#include "platform/file_status.h"
#include "platform/output_target.h"
#include "platform/temp_output.h"

namespace qve::command {

// A file the command reads, which its output must not be.
struct OutputInput {
  std::string shown;  // how a message names it: "INPUT c.qves"
  platform::FileStatus status;
};

// The commands' words and exit status for an output that cannot go where
// it is asked to: `called` names it ("OUTPUT out"), `path` is the name it
// was given, `inputs` what the fault's input refers to.
CommandError OutputError(const std::string& called, std::wstring_view path,
                         const platform::OutputFault& fault,
                         const std::vector<OutputInput>& inputs = {});

// Throws CommandError(kCannotCreate), naming `called` ("OUTPUT out"), when
// writing through `path` would follow a link that platform::LinkRefusal
// refuses: one in a sticky world-writable folder that another user may have
// planted there.
void RefuseForeignLink(const std::string& called, std::wstring_view path);

// The folder for scratch files (platform::ScratchFolder). Throws
// CommandError(kCannotCreate), naming it, when it is no folder or leads
// through such a link.
std::wstring UsableScratchFolder();

class OutputFile {
 public:
  // Throws CommandError: kUsageError for an empty name or one that names an
  // input; kCannotCreate for anything but a regular file, a folder that is
  // missing or takes no file, a name the system refuses (too long), a file
  // this user may not replace, or a name that leads through another user's
  // link in a sticky folder (RefuseForeignLink). `label` names the output in
  // messages ("OUTPUT", "--html"). With `standardOutputToo`, "-" and any name
  // of the command's standard output mean standard output. With `locked`
  // the caller holds the destination's lock: its temporary takes a name of
  // its own (one per destination), and one that a killed run left there is
  // removed now.
  OutputFile(std::string label, const std::string& name, const std::vector<OutputInput>& inputs,
             bool standardOutputToo = false, bool locked = false);

  // True when `name` means the command's standard output: "-", or any name
  // of the file or pipe it is.
  static bool NamesStandardOutput(const std::string& name);

  bool toStandardOutput() const { return toStandardOutput_; }
  // The temporary, for a writer that opens files by name (the library).
  const std::wstring& path() const { return temporary_->path(); }
  std::uint64_t Size() const { return temporary_->Size(); }

  // Runs `write` on a stream into the temporary. A stream that stopped
  // taking bytes throws CommandError (kOutputError), whatever `write` threw
  // then; anything else `write` throws is passed on.
  void Write(const std::function<void(std::ostream&)>& write);

  // Puts the file in place, or copies it to standard output; throws
  // CommandError (kCannotCreate, or kOutputError for standard output).
  void Commit(platform::Durability durability = platform::Durability::Buffered);
  // Puts the file in place only while the destination holds `expected`
  // (nothing: while it does not exist), on the disk when this returns;
  // false, with the destination as it was, when it does not. Throws as
  // Commit.
  bool CommitIfUnchanged(const std::optional<std::string>& expected);

 private:
  CommandError NotPublished(const std::error_code& error) const;

  std::string label_;
  std::string name_;     // as messages show it
  std::wstring target_;  // links followed
  bool toStandardOutput_ = false;
  std::unique_ptr<platform::TempOutput> temporary_;
};

}  // namespace qve::command
