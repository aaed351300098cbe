// The folder walk behind a report's folder scan: depth first, each entry
// handled before the folder below it is walked, entries of one folder in the
// order the file system lists them.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qve::platform {

// Calls `onRegularFile` with the full path and the name of every regular file
// below `folder`. Paths start with the folder text as given and join with one
// separator ('/' on Linux, '\' on Windows), none after a separator or a
// Windows drive's ':'. An entry's type is the one the listing reports (on
// Linux lstat only where the file system reports none); links are neither
// followed nor reported. A folder that cannot be opened, `folder` itself
// included, is skipped without a word, and so is a Linux entry whose name is
// not UTF-8.
void WalkRegularFiles(
    std::wstring_view folder,
    const std::function<void(const std::wstring& path, const std::wstring& name)>& onRegularFile);

// True when the path names a folder (following links, as opening it would).
bool IsFolder(std::wstring_view path);

}  // namespace qve::platform
