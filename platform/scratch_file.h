// An unnamed temporary file for plaintext that nobody may keep: the library
// writes and reads it back by path(), and it is gone once the object is.
//   Linux: O_TMPFILE in the temporary folder, reached as /proc/self/fd/N; where
//          the file system refuses O_TMPFILE, a named file unlinked at once.
//   Windows: a file in the temporary folder, deleted by the destructor (the
//          library opens it again by name, which delete-on-close would refuse).
#pragma once

#include <string>

namespace qve::platform {

class ScratchFile {
 public:
  // An empty file; path() is empty when the temporary folder takes none.
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  int fd_ = -1;  // Linux: the only thing that keeps the file in existence
};

}  // namespace qve::platform
