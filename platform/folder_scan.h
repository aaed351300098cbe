// The commands' folder scan. It finds what the report's folder walk finds,
// but names everything it passes over, and each folder is read whole and
// closed before the folders below it are opened, so any depth works under
// any open-file limit. The order of the files is not the report's: a run
// sorts them by name anyway.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qve::platform {

enum class Skipped { NotUtf8, FolderUnreadable, Link, NotRegular };

// `shown` is the path as far as it can be shown (the raw bytes on Linux).
void ScanFolder(
    std::wstring_view folder,
    const std::function<void(const std::wstring& path, const std::wstring& name)>& onRegularFile,
    const std::function<void(const std::string& shown, const std::wstring& name, Skipped why,
                             const std::string& reason)>& onSkipped);

}  // namespace qve::platform
