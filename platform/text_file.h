// SPDX-License-Identifier: Apache-2.0
// A file opened for reading text, as raw bytes at offsets: without any lock,
// so that a writer may keep appending while it is read, and shared, so that
// two readers can read one open file. Where its lines end is no business of
// this layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "platform/files.h"

namespace qve::platform {

// Why a reader gave no more bytes before the end of what it reads.
enum class ReadFault : std::uint8_t {
  None,
  GzipDamaged,   // not gzip data, a check failed, or bytes after the last member
  GzipCutShort,  // the file ends inside a member
  ReadFailed,    // the system could not read the file
};

// -1 and why for a path that does not open or names no regular file.
int OpenText(const std::string& path, std::error_code* error);
// Reads at a file offset: 0 at the end, and less, with why, on an error.
long ReadAt(int fd, std::uint64_t offset, char* into, std::size_t size, std::error_code* error);
void CloseText(int fd);
// False when the system does not tell.
bool Describe(int fd, FileIdentity* identity, std::uint64_t* size);

}  // namespace qve::platform
