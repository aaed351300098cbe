// SPDX-License-Identifier: Apache-2.0
#include "tools/dev/default_key_dir.h"

#include <filesystem>
#include <system_error>

#include "command/command_line.h"
#include "platform/file_status.h"
#include "platform/paths.h"

namespace qve::dev {

namespace {

namespace fs = std::filesystem;

constexpr const char* kMarker = "verification-private.pem";

}  // namespace

std::vector<std::string> KeyDirCandidates() {
  const auto program = platform::ToNarrow(platform::ExecutablePath());
  if (!program || program->empty()) return {};
  const fs::path folder = fs::path(*program).parent_path();
  return {(folder / "keys" / "dev").string(),
          (folder.parent_path() / "share" / "qvehelper" / "keys" / "dev").string()};
}

std::string DefaultKeyDir() {
  for (const std::string& candidate : KeyDirCandidates()) {
    std::error_code error;
    if (fs::is_regular_file(fs::path(candidate) / kMarker, error)) return candidate;
  }
  return {};
}

std::string DevKeyFile(const std::string& keyDir, const std::string& name) {
  if (!keyDir.empty()) return (fs::path(keyDir) / name).string();
  std::string looked;
  for (const std::string& candidate : KeyDirCandidates())
    looked += (looked.empty() ? "" : " and ") + candidate;
  throw command::CommandError(command::kNoInput,
                              "no development keys beside the program (looked in " +
                                  (looked.empty() ? std::string("no folder: the program's own path "
                                                                "is unknown")
                                                  : looked) +
                                  "); give the key files or --key-dir");
}

}  // namespace qve::dev
