// qvehelper-dev sign-log: makes signed logs for tests, demos and QA.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "cli/command_line.h"
#include "tools/dev/default_key_dir.h"
#include "tools/writer/keys.h"
#include "tools/writer/log_signer.h"

namespace {

struct SignLogArguments {
  std::string input;
  std::string output;
  std::size_t every = 100;
  std::string key = qve::dev::DefaultKeyDir() + "/verification-private.pem";
  std::uint32_t id = 0;
  std::string text;
  std::string chainFrom;
};

int SignLogFile(const SignLogArguments& args) {
  qve::writer::LogSignerOptions options;
  const qve::PkeyPtr key = qve::writer::LoadPrivateKeyPem(args.key);
  options.key = key.get();
  options.id = args.id;
  options.text = args.text;
  options.linesPerBlock = args.every;
  if (!args.chainFrom.empty()) {
    std::ifstream previous(args.chainFrom, std::ios::binary);
    if (!previous) throw std::runtime_error("cannot open " + args.chainFrom);
    options.link = qve::writer::ChainValueAfter(previous);
  }
  std::ifstream in(args.input, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + args.input);
  std::ofstream out(args.output, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + args.output);
  qve::writer::SignLog(in, out, options);
  out.close();
  if (!out) throw std::runtime_error("cannot write " + args.output);
  return 0;
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
          ->capture_default_str();
      cmd.add_option("--key", args->key, "RSA private key (PEM)")->capture_default_str();
      cmd.add_option("--id", args->id, "id field of every block")->capture_default_str();
      cmd.add_option("--text", args->text, "text field of every block (at most 2048 bytes)");
      cmd.add_option("--chain-from", args->chainFrom,
                     "signed log whose last block the first new block links to "
                     "(default: start a chain)");
      return std::function<int()>([args] {
        if (args->input == args->output) {
          std::cerr << "qvehelper-dev sign-log: input and output must differ\n";
          return qve::cli::kUsageError;
        }
        try {
          return SignLogFile(*args);
        } catch (const std::exception& e) {
          std::cerr << "qvehelper-dev sign-log: " << e.what() << "\n";
          return 1;
        }
      });
    });

}  // namespace
