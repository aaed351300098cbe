// Binary files named by wide path. On Linux the path reaches the file system
// as UTF-8; a path that cannot be converted simply fails like a missing file.
// Nothing here throws for a file that cannot be used: streams are left
// closed and the size and truncation report through std::error_code.
#pragma once

#include <cstdint>
#include <fstream>
#include <string_view>
#include <system_error>

namespace qve::platform {

// Opens for binary reading; false, with the stream closed, on failure.
bool OpenForReading(std::ifstream& stream, std::wstring_view path);

// Creates or truncates the file and opens it for binary writing.
bool OpenForWriting(std::ofstream& stream, std::wstring_view path);

// Fails for anything but a regular file.
std::uint64_t FileSize(std::wstring_view path, std::error_code& error);

void TruncateFile(std::wstring_view path, std::uint64_t size, std::error_code& error);

}  // namespace qve::platform
