// A fresh folder per test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

#include "crypto/bytes.h"

namespace qve::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const Bytes& content);
void WriteFile(const std::filesystem::path& path, const std::string& content);
Bytes ReadFile(const std::filesystem::path& path);

// A path as the library takes it: the platform's wide text for the name.
std::wstring WidePath(const std::filesystem::path& path);

}  // namespace qve::testing
