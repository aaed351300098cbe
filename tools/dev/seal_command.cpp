// SPDX-License-Identifier: Apache-2.0
// qvehelper-dev seal: turns a plaintext file into a container the library
// accepts, streaming, so the plaintext can be of any size.
#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "command/command_line.h"
#include "decrypt/container_header.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "tools/dev/default_key_dir.h"
#include "tools/dev/dev_command.h"
#include "tools/writer/container_writer.h"
#include "tools/writer/keys.h"

namespace {

using qve::command::CommandError;

struct SealOptions {
  std::string input;
  std::string output;
  std::string keyDir = qve::dev::DefaultKeyDir();
  std::vector<std::string> extraRecipients;  // PEM:NUMBER
  bool noDefaultRecipient = false;
  std::string signingKey;
  std::uint32_t sealKeyNumber = qve::kVerificationKeyNumber;
};

struct LoadedRecipient {
  qve::PkeyPtr key;
  qve::Bytes keyId;
};

// PUBLIC_PEM:KEY_NUMBER, the number a decimal 32-bit value.
std::pair<std::string, std::uint32_t> ParseRecipient(const std::string& argument) {
  const auto colon = argument.rfind(':');
  const std::string number = colon == std::string::npos ? "" : argument.substr(colon + 1);
  const bool isNumber = !number.empty() && number.size() <= 10 &&
                        number.find_first_not_of("0123456789") == std::string::npos &&
                        std::stoull(number) <= 0xFFFFFFFFull;
  if (colon == 0 || !isNumber)
    throw CommandError(qve::command::kUsageError,
                       "--recipient takes PUBLIC_PEM:KEY_NUMBER, not '" + argument + "'");
  return {argument.substr(0, colon), static_cast<std::uint32_t>(std::stoull(number))};
}

void Seal(const SealOptions& options) {
  // Everything that can be wrong with the arguments, before any key is read.
  std::vector<std::pair<std::string, std::uint32_t>> wanted;
  if (!options.noDefaultRecipient)
    wanted.emplace_back(qve::dev::DevKeyFile(options.keyDir, "decryption-public.pem"),
                        qve::kDecryptionKeyNumber);
  for (const auto& argument : options.extraRecipients) wanted.push_back(ParseRecipient(argument));
  if (wanted.empty() || wanted.size() > qve::kMaxRecipients)
    throw CommandError(qve::command::kUsageError,
                       "a container holds 1 to " + std::to_string(qve::kMaxRecipients) +
                           " recipients, not " + std::to_string(wanted.size()));
  const std::string signingKeyFile =
      options.signingKey.empty() ? qve::dev::DevKeyFile(options.keyDir, "verification-private.pem")
                                 : options.signingKey;
  std::vector<std::string> files = qve::dev::FileInputs(options.input);
  files.push_back(signingKeyFile);
  for (const auto& [pem, number] : wanted) files.push_back(pem);
  qve::command::OutputFile output("OUTPUT", options.output, qve::dev::Inputs(files), true);
  const qve::dev::InputPath input(options.input);

  std::vector<LoadedRecipient> loaded;
  for (const auto& [pem, number] : wanted)
    loaded.push_back({qve::writer::LoadPublicKeyPem(pem), qve::KeyIdOf(number)});
  std::vector<qve::writer::Recipient> recipients;
  for (const auto& r : loaded) recipients.push_back({r.keyId, r.key.get()});
  const qve::PkeyPtr signingKey = qve::writer::LoadPrivateKeyPem(signingKeyFile);
  qve::platform::FileStream in;
  if (!qve::platform::OpenForReading(in, qve::platform::ArgumentPath(input.path())))
    throw CommandError(qve::command::kNoInput, "cannot open " + options.input);

  output.Write([&](std::ostream& out) {
    qve::writer::ContainerWriter writer(out, recipients, signingKey.get(),
                                        qve::KeyIdOf(options.sealKeyNumber));
    std::vector<char> chunk(1 << 16);
    while (in) {
      in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      writer.Write(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                             static_cast<std::size_t>(in.gcount())));
    }
    if (in.bad()) throw CommandError(qve::command::kNoInput, "cannot read " + options.input);
    writer.Finish();
  });
  output.Commit();
}

const bool kRegistered = qve::command::RegisterCommand(
    "seal", "Seal a plaintext file into a container the library decrypts.", [](CLI::App& cmd) {
      auto options = std::make_shared<SealOptions>();
      cmd.add_option("INPUT", options->input, "Plaintext file; - for standard input")->required();
      cmd.add_option("OUTPUT", options->output, "Container to write; - for standard output")
          ->required();
      cmd.add_option("--key-dir", options->keyDir,
                     "Folder of decryption-public.pem and verification-private.pem (default: "
                     "the development keys beside the program)")
          ->capture_default_str();
      cmd.add_option("--recipient", options->extraRecipients,
                     "Another record, for PUBLIC_PEM:KEY_NUMBER (repeatable, after key 10's; "
                     "at most 32 records in all)");
      cmd.add_flag("--no-default-recipient", options->noDefaultRecipient,
                   "Leave out the record for key 10");
      cmd.add_option("--signing-key", options->signingKey,
                     "Private PEM that signs the seal (default: KEY_DIR/verification-private.pem)");
      cmd.add_option("--seal-key-id", options->sealKeyNumber,
                     "Key number the seal names as its signer")
          ->check(qve::dev::Digits())
          ->capture_default_str();
      cmd.footer(qve::dev::WriterExitStatusHelp());
      return std::function<int()>(
          [options] { return qve::dev::RunWriter([&] { Seal(*options); }); });
    });

}  // namespace
