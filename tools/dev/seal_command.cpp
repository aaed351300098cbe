// qvehelper-dev seal: turns a plaintext file into a container the library
// accepts, streaming, so the plaintext can be of any size.
#include <CLI/CLI.hpp>

#include <array>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "tools/dev/default_key_dir.h"
#include "tools/writer/container_writer.h"
#include "tools/writer/keys.h"

namespace {

struct SealOptions {
  std::string input;
  std::string output;
  std::string keyDir = qve::dev::DefaultKeyDir();
  std::vector<std::string> extraRecipients;  // PEM:NUMBER
  bool noDefaultRecipient = false;
  std::string signingKey;
  std::uint32_t sealKeyNumber = 11;
};

struct LoadedRecipient {
  qve::PkeyPtr key;
  qve::Bytes keyId;
};

LoadedRecipient LoadRecipient(const std::string& argument) {
  const auto colon = argument.rfind(':');
  const std::string number = colon == std::string::npos ? "" : argument.substr(colon + 1);
  const bool isNumber = !number.empty() && number.size() <= 10 &&
                        number.find_first_not_of("0123456789") == std::string::npos &&
                        std::stoull(number) <= 0xFFFFFFFFull;
  if (colon == 0 || !isNumber)
    throw std::runtime_error("--recipient takes PUBLIC_PEM:KEY_NUMBER, not " + argument);
  return {qve::writer::LoadPublicKeyPem(argument.substr(0, colon)),
          qve::writer::KeyIdOf(static_cast<std::uint32_t>(std::stoull(number)))};
}

void Seal(const SealOptions& options) {
  std::vector<LoadedRecipient> loaded;
  if (!options.noDefaultRecipient)
    loaded.push_back({qve::writer::LoadPublicKeyPem(options.keyDir + "/decryption-public.pem"),
                      qve::writer::KeyIdOf(10)});
  for (const auto& argument : options.extraRecipients) loaded.push_back(LoadRecipient(argument));
  std::vector<qve::writer::Recipient> recipients;
  for (const auto& r : loaded) recipients.push_back({r.keyId, r.key.get()});

  const qve::PkeyPtr signingKey = qve::writer::LoadPrivateKeyPem(
      options.signingKey.empty() ? options.keyDir + "/verification-private.pem"
                                 : options.signingKey);

  std::ifstream in(options.input, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + options.input);
  std::ofstream out(options.output, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + options.output);

  qve::writer::ContainerWriter writer(out, recipients, signingKey.get(),
                                      qve::writer::KeyIdOf(options.sealKeyNumber));
  std::vector<char> chunk(1 << 16);
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    writer.Write(std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()),
                           static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) throw std::runtime_error("cannot read " + options.input);
  writer.Finish();
  out.close();
  if (!out) throw std::runtime_error("cannot write " + options.output);
}

const bool kRegistered = qve::cli::RegisterCommand(
    "seal", "Seal a plaintext file into a container the library decrypts.", [](CLI::App& cmd) {
      auto options = std::make_shared<SealOptions>();
      cmd.add_option("INPUT", options->input, "Plaintext file")->required();
      cmd.add_option("OUTPUT", options->output, "Container to write")->required();
      cmd.add_option("--key-dir", options->keyDir,
                     "Folder of decryption-public.pem and verification-private.pem")
          ->capture_default_str();
      cmd.add_option("--recipient", options->extraRecipients,
                     "Another record, for PUBLIC_PEM:KEY_NUMBER (repeatable, after key 10's)");
      cmd.add_flag("--no-default-recipient", options->noDefaultRecipient,
                   "Leave out the record for key 10");
      cmd.add_option("--signing-key", options->signingKey,
                     "Private PEM that signs the seal (default: KEY_DIR/verification-private.pem)");
      cmd.add_option("--seal-key-id", options->sealKeyNumber,
                     "Key number the seal names as its signer")
          ->capture_default_str();
      return std::function<int()>([options] {
        try {
          Seal(*options);
          return 0;
        } catch (const std::exception& e) {
          std::cerr << "qvehelper-dev seal: " << e.what() << "\n";
          return 1;
        }
      });
    });

}  // namespace
