#include "platform/scratch_file.h"

#include <windows.h>

namespace qve::platform {

ScratchFile::ScratchFile() {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return;
  if (GetTempFileNameW(folder, L"qve", 0, name) == 0) return;
  // Kept in the cache where it can be; it is read back at once and deleted.
  SetFileAttributesW(name, FILE_ATTRIBUTE_TEMPORARY);
  path_ = name;
}

ScratchFile::~ScratchFile() {
  if (!path_.empty()) DeleteFileW(path_.c_str());
}

}  // namespace qve::platform
