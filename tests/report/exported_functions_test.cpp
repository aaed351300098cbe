// Hosts bind to the shared library by name: load it as a host would and drive
// a verification through the exported C functions alone.
#include <QVEHelper.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#else
#include <dlfcn.h>
#endif

#include <string>

#include "platform/paths.h"
#include "tests/support/log_builder.h"
#include "tests/support/temp_dir.h"

namespace qve {
namespace {

using testing::LogBuilder;
using testing::LogChain;
using testing::TempDir;

#ifdef _WIN32

class SharedLibrary {
 public:
  SharedLibrary() {
    // The build names the DLL with '/'; the loader wants '\'.
    std::string file = QVE_LIBRARY_FILE;
    std::replace(file.begin(), file.end(), '/', '\\');
    handle_ = ::LoadLibraryA(file.c_str());
  }
  ~SharedLibrary() {
    if (handle_ != nullptr) ::FreeLibrary(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  static unsigned long error() { return ::GetLastError(); }

  template <typename Function>
  Function* Get(const char* name) const {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(handle_, name)));
  }

 private:
  HMODULE handle_ = nullptr;
};

#else

class SharedLibrary {
 public:
  SharedLibrary() : handle_(::dlopen(QVE_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL)) {}
  ~SharedLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
  }
  bool loaded() const { return handle_ != nullptr; }
  static const char* error() { return ::dlerror(); }

  template <typename Function>
  Function* Get(const char* name) const {
    return reinterpret_cast<Function*>(::dlsym(handle_, name));
  }

 private:
  void* handle_;
};

#endif

TEST(ExportedFunctions, VerifyAFolderThroughTheSharedLibrary) {
  SharedLibrary library;
  ASSERT_TRUE(library.loaded()) << library.error();
  auto create = library.Get<decltype(CreateVerificationReport)>("CreateVerificationReport");
  auto destroy = library.Get<decltype(DeleteVerificationReport)>("DeleteVerificationReport");
  auto clear = library.Get<decltype(ClearVerificationReport)>("ClearVerificationReport");
  auto addFile = library.Get<decltype(AddFileToVerificationReport)>("AddFileToVerificationReport");
  auto addFolder = library.Get<decltype(AddFileInFolderToVerificationReport)>(
      "AddFileInFolderToVerificationReport");
  auto verify = library.Get<decltype(VerifyReport)>("VerifyReport");
  auto total =
      library.Get<decltype(TotalFilesInVerificationReport)>("TotalFilesInVerificationReport");
  auto bad = library.Get<decltype(NumberOfBadFilesInVerificationReport)>(
      "NumberOfBadFilesInVerificationReport");
  auto count = library.Get<decltype(GetFileReportCountInVerificationReport)>(
      "GetFileReportCountInVerificationReport");
  auto name = library.Get<decltype(GetFileReportNameInVerificationReport)>(
      "GetFileReportNameInVerificationReport");
  auto verdict = library.Get<decltype(GetFileReportVerditInVerificationReport)>(
      "GetFileReportVerditInVerificationReport");
  for (void* f :
       {(void*)create, (void*)destroy, (void*)clear, (void*)addFile, (void*)addFolder,
        (void*)verify, (void*)total, (void*)bad, (void*)count, (void*)name, (void*)verdict})
    ASSERT_NE(f, nullptr);
  EXPECT_NE(create, &CreateVerificationReport) << "resolved in the test, not the library";

  TempDir dir;
  LogChain chain;
  LogBuilder(chain).DataLines(3).Sign().WriteTo(dir / "System_1.log");
  LogBuilder(chain).Data("a").Sign([](auto& b) { b.SignOver({"b"}); }).WriteTo(dir / "system.log");
  const std::wstring folder = *platform::ToWide(dir.path().string());

  QVE_VerificationReport* report = create();
  addFolder(report, folder.c_str());
  addFile(report, (folder + L"/absent.log").c_str());
  EXPECT_EQ(verify(report, false), QVE_REPORT_SOME_INVALID);
  EXPECT_EQ(total(report), 3u);
  EXPECT_EQ(bad(report), 1u);
  ASSERT_EQ(count(report), 2u);
  EXPECT_STREQ(name(report, 0), L"absent.log");
  EXPECT_EQ(verdict(report, 0), QVE_FILE_UNSIGNED);
  EXPECT_STREQ(name(report, 1), L"system.log");
  EXPECT_EQ(verdict(report, 1), QVE_FILE_INVALID);
  clear(report);
  EXPECT_EQ(total(report), 0u);
  EXPECT_EQ(verify(report, true), QVE_REPORT_UNSIGNED);
  destroy(report);
  destroy(nullptr);
}

}  // namespace
}  // namespace qve
