// SPDX-License-Identifier: Apache-2.0
// qvehelper-dev sign-log: makes signed logs for tests, demos and QA.
#include <cstdint>
#include <memory>
#include <string>

#include "command/command_line.h"
#include "format/signed_log_format.h"
#include "tools/dev/default_key_dir.h"
#include "tools/dev/dev_command.h"
#include "tools/writer/keys.h"
#include "tools/writer/log_signer.h"
#include "verify/file_links.h"

namespace {

using qve::command::CommandError;

struct SignLogArguments {
  std::string input;
  std::string output;
  std::size_t every = 100;
  std::string key;  // the development key when empty
  std::uint32_t id = 0;
  std::string text;
  std::string chainFrom;
};

void SignLogFile(const SignLogArguments& args) {
  if (args.text.size() > qve::kMaxBlockTextLength)
    throw CommandError(qve::command::kUsageError,
                       "--text holds at most 2048 bytes, not " + std::to_string(args.text.size()));
  const std::string key =
      args.key.empty() ? qve::dev::DevKeyFile(qve::dev::DefaultKeyDir(), "verification-private.pem")
                       : args.key;
  std::vector<std::string> files = qve::dev::FileInputs(args.input);
  files.push_back(key);
  if (!args.chainFrom.empty()) files.push_back(args.chainFrom);
  qve::command::OutputFile output("output", args.output, qve::dev::Inputs(files), true);

  qve::writer::LogSignerOptions options;
  const qve::PkeyPtr signingKey = qve::writer::LoadPrivateKeyPem(key);
  options.key = signingKey.get();
  options.id = args.id;
  options.text = args.text;
  options.linesPerBlock = args.every;
  if (!args.chainFrom.empty()) {
    const qve::FileLinks from = qve::ReadFileLinks(args.chainFrom);
    if (!from.lastChainValue)
      throw CommandError(qve::command::kDataError,
                         "--chain-from " + args.chainFrom + " has no signature line");
    options.link = *from.lastChainValue;
  }
  const qve::dev::InputPath input(args.input);
  output.Write([&](std::ostream& out) { qve::writer::SignLog(input.path(), out, options); });
  output.Commit();
}

const bool kRegistered = qve::command::RegisterCommand(
    "sign-log",
    "Copies a text log, inserting signature lines signed with the verification key's private "
    "half; files signed one after another with --chain-from form one chain.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<SignLogArguments>();
      cmd.add_option("input", args->input, "text log to sign; - for standard input")->required();
      cmd.add_option("output", args->output, "signed copy to write; - for standard output")
          ->required();
      cmd.add_option("-n,--every", args->every,
                     "data lines per block; 0 signs everything with one line at the end")
          ->check(qve::dev::Digits())
          ->capture_default_str();
      cmd.add_option("--key", args->key,
                     "RSA private key (PEM; default: verification-private.pem of the "
                     "development keys beside the program)");
      cmd.add_option("--id", args->id, "id field of every block")
          ->check(qve::dev::Digits())
          ->capture_default_str();
      cmd.add_option("--text", args->text, "text field of every block (at most 2048 bytes)");
      cmd.add_option("--chain-from", args->chainFrom,
                     "signed log whose last block the first new block links to "
                     "(default: start a chain)");
      cmd.footer(qve::dev::WriterExitStatusHelp());
      return std::function<int()>(
          [args] { return qve::dev::RunWriter([&] { SignLogFile(*args); }); });
    });

}  // namespace
