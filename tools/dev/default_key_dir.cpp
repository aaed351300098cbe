#include "tools/dev/default_key_dir.h"

#include <filesystem>
#include <system_error>

namespace qve::dev {

std::string DefaultKeyDir() {
#ifdef __linux__
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const auto installed = exe.parent_path().parent_path() / "share/qvehelper/keys/dev";
    if (std::filesystem::is_regular_file(installed / "verification-private.pem", error))
      return installed.string();
  }
#endif
  return QVE_DEV_KEY_DIR;
}

}  // namespace qve::dev
