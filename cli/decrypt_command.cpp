// qvehelper decrypt: decrypts a container and checks its seal. Unless asked
// otherwise, OUTPUT only ever receives plaintext whose signature verified.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "QVEHelper.h"
#include "cli/command_line.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;
using QVE_Helper::DecryptResult;

// Exit status when a verified result cannot be put in place.
constexpr int kCannotCreateOutput = 73;

const char* NameOf(DecryptResult result) {
  switch (result) {
    case QVE_Helper::Success:
      return "Success";
    case QVE_Helper::NoSeal:
      return "NoSeal";
    case QVE_Helper::InputOpenFailed:
      return "InputOpenFailed";
    case QVE_Helper::OutputOpenFailed:
      return "OutputOpenFailed";
    case QVE_Helper::OutputWriteFailed:
      return "OutputWriteFailed";
    case QVE_Helper::HeaderInvalid:
      return "HeaderInvalid";
    case QVE_Helper::SessionKeyUnavailable:
      return "SessionKeyUnavailable";
    case QVE_Helper::OutputSizeFailed:
      return "OutputSizeFailed";
    case QVE_Helper::OutputTruncateFailed:
      return "OutputTruncateFailed";
    case QVE_Helper::OutputReopenFailed:
      return "OutputReopenFailed";
    case QVE_Helper::VerifyInitFailed:
      return "VerifyInitFailed";
    case QVE_Helper::VerifyUpdateFailed:
      return "VerifyUpdateFailed";
    case QVE_Helper::BadSignature:
      return "BadSignature";
  }
  return "Unknown";
}

int Report(DecryptResult result) {
  std::cout << NameOf(result) << " (" << static_cast<int>(result) << ")\n";
  return static_cast<int>(result);
}

// A new file next to `output`, readable by its owner only while it holds
// unverified plaintext; nothing when the folder does not take one.
std::optional<std::string> CreateTemporaryNextTo(const std::string& output) {
  const fs::path target(output);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string pattern = (folder / ("." + target.filename().string() + ".qve-XXXXXX")).string();
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return std::nullopt;
  close(fd);
  return pattern;
}

// What a file created the ordinary way would have been given.
void GiveUsualPermissions(const std::string& path) {
  const mode_t mask = umask(0);
  umask(mask);
  chmod(path.c_str(), 0666 & ~mask);
}

int DecryptSafely(const std::wstring& input, const std::string& output) {
  const auto temporary = CreateTemporaryNextTo(output);
  if (!temporary) {
    // Report what the library would have, without touching OUTPUT: the input
    // is opened the library's way (a folder does not open).
    std::ifstream probe;
    if (!qve::platform::OpenForReading(probe, input)) return Report(QVE_Helper::InputOpenFailed);
    std::cerr << "qvehelper decrypt: cannot create a temporary file next to " << output
              << " (--keep-unverified writes OUTPUT directly)\n";
    return Report(QVE_Helper::OutputOpenFailed);
  }
  std::error_code error;
  DecryptResult result;
  try {
    result = QVE_Helper::Decrypt(input, *qve::platform::ToWide(*temporary));
  } catch (...) {
    // Unverified plaintext must not stay behind, whatever went wrong.
    fs::remove(*temporary, error);
    throw;
  }
  if (result == QVE_Helper::Success) {
    GiveUsualPermissions(*temporary);
    fs::rename(*temporary, output, error);
    if (error) {
      fs::remove(*temporary, error);
      std::cerr << "qvehelper decrypt: cannot replace " << output << "\n";
      return kCannotCreateOutput;
    }
    return Report(result);
  }
  fs::remove(*temporary, error);
  return Report(result);
}

struct DecryptOptions {
  std::string input;
  std::string output;
  bool keepUnverified = false;
};

int Run(const DecryptOptions& options) {
  const auto input = qve::platform::ToWide(options.input);
  const auto output = qve::platform::ToWide(options.output);
  if (!input || !output) {
    std::cerr << "qvehelper decrypt: paths must be valid UTF-8\n";
    return qve::cli::kUsageError;
  }
  if (options.keepUnverified) return Report(QVE_Helper::Decrypt(*input, *output));
  return DecryptSafely(*input, options.output);
}

const bool kRegistered = qve::cli::RegisterCommand(
    "decrypt", "Decrypt a sealed container and check its seal signature.", [](CLI::App& cmd) {
      auto options = std::make_shared<DecryptOptions>();
      cmd.add_option("INPUT", options->input, "Container to decrypt")->required();
      cmd.add_option("OUTPUT", options->output, "Where the verified plaintext goes")->required();
      cmd.add_flag("--keep-unverified", options->keepUnverified,
                   "Decrypt straight to OUTPUT and leave whatever the library wrote there, "
                   "even when the seal is missing or does not verify");
      return std::function<int()>([options] { return Run(*options); });
    });

}  // namespace
