// qvehelper-dev sign-log: makes signed logs for tests, demos and QA.
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "cli/command_line.h"
#include "format/signed_log_format.h"
#include "tools/dev/default_key_dir.h"
#include "tools/dev/dev_command.h"
#include "tools/writer/keys.h"
#include "tools/writer/log_signer.h"

namespace {

using qve::cli::CommandError;

struct SignLogArguments {
  std::string input;
  std::string output;
  std::size_t every = 100;
  std::string key = qve::dev::DefaultKeyDir() + "/verification-private.pem";
  std::uint32_t id = 0;
  std::string text;
  std::string chainFrom;
};

void SignLogFile(const SignLogArguments& args) {
  if (args.text.size() > qve::kMaxBlockTextLength)
    throw CommandError(qve::cli::kUsageError,
                       "--text holds at most 2048 bytes, not " + std::to_string(args.text.size()));
  std::vector<std::string> inputs{args.input, args.key};
  if (!args.chainFrom.empty()) inputs.push_back(args.chainFrom);
  qve::cli::OutputFile output("output", args.output, qve::dev::Inputs(inputs));

  qve::writer::LogSignerOptions options;
  const qve::PkeyPtr key = qve::writer::LoadPrivateKeyPem(args.key);
  options.key = key.get();
  options.id = args.id;
  options.text = args.text;
  options.linesPerBlock = args.every;
  if (!args.chainFrom.empty()) {
    if (!std::ifstream(args.chainFrom, std::ios::binary))
      throw CommandError(qve::dev::kCannotUse, "cannot open " + args.chainFrom);
    options.link = qve::writer::ChainValueAfter(args.chainFrom);
    // Only a log without a signature line leaves the chain where it starts.
    if (options.link == qve::ChainStart())
      throw CommandError(qve::dev::kCannotUse,
                         "--chain-from " + args.chainFrom + " has no signature line");
  }
  if (!std::ifstream(args.input, std::ios::binary))
    throw CommandError(qve::dev::kCannotUse, "cannot open " + args.input);
  output.Write([&](std::ostream& out) { qve::writer::SignLog(args.input, out, options); });
  output.Commit();
}

const bool kRegistered = qve::cli::RegisterCommand(
    "sign-log",
    "Copies a text log, inserting signature lines signed with the verification key's private "
    "half; files signed one after another with --chain-from form one chain.",
    [](CLI::App& cmd) {
      auto args = std::make_shared<SignLogArguments>();
      cmd.add_option("input", args->input, "text log to sign")->required();
      cmd.add_option("output", args->output, "signed copy to write")->required();
      cmd.add_option("-n,--every", args->every,
                     "data lines per block; 0 signs everything with one line at the end")
          ->check(qve::dev::Digits())
          ->capture_default_str();
      cmd.add_option("--key", args->key, "RSA private key (PEM)")->capture_default_str();
      cmd.add_option("--id", args->id, "id field of every block")
          ->check(qve::dev::Digits())
          ->capture_default_str();
      cmd.add_option("--text", args->text, "text field of every block (at most 2048 bytes)");
      cmd.add_option("--chain-from", args->chainFrom,
                     "signed log whose last block the first new block links to "
                     "(default: start a chain)");
      cmd.footer(qve::cli::ExitStatusHelp(
          "  0   output holds the signed log\n"
          "  1   the key, the input or --chain-from cannot be opened or used (a line that\n"
          "      would read as a signature line or holds 0x1A; a --chain-from log with no\n"
          "      signature line)\n"
          "  64  a usage error: a malformed option, --text too long, output the same file as\n"
          "      an input\n"
          "  73  output cannot be created or replaced\n"
          "  74  writing output or standard output failed\n"
          "output is replaced only by a complete signed log; on any failure it stays as it "
          "was.\n"));
      return std::function<int()>(
          [args] { return qve::dev::RunWriter([&] { SignLogFile(*args); }); });
    });

}  // namespace
