// Folders and files for the file clean-up tests, made and inspected through
// the Win32 API only, so that the same tests run on the simulation and on Wine.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "test_folders.h"

namespace files_test {

using test_folders::Exists;
using test_folders::RemoveDirectoryLink;
using test_folders::RemoveTestTree;
using test_folders::RunningUnderWine;

inline DWORD AttributesOf(const std::string& path) { return GetFileAttributesA(path.c_str()); }

inline void MakeDir(const std::string& path) {
  if (!CreateDirectoryA(path.c_str(), nullptr)) {
    ASSERT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError()) << path;
  }
}

// A file with some content and, when given, these attributes.
inline void MakeFile(const std::string& path, DWORD attributes = 0) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path << " error " << GetLastError();
  DWORD written = 0;
  WriteFile(file, "data", 4, &written, nullptr);
  CloseHandle(file);
  if (attributes) {
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
  }
}

// Makes a directory link at link pointing at target; false when this
// platform cannot make one.
inline bool MakeDirectoryLink(const std::string& link, const std::string& target) {
#ifdef _WIN32
  if (RunningUnderWine()) {
    std::string from = test_folders::UnixPathOf(target);
    std::string to = test_folders::UnixPathOf(link);
    if (from.empty() || to.empty() ||
        !test_folders::RunUnixTool("/bin/ln", "-s \"" + from + "\" \"" + to + "\""))
      return false;
    // Wine does not wait for a host process: give it time to finish.
    for (int i = 0; i < 100 && !Exists(link); ++i) Sleep(50);
    return Exists(link);
  }
#endif
  return CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && Exists(link);
}

// A fixture that owns one private folder below C:\CleanLumTest, removed
// before and after each test.
class PrivateFolderTest : public test_folders::PrivateFolderTest {
 protected:
  explicit PrivateFolderTest(const char* name)
      : test_folders::PrivateFolderTest(std::string("C:\\CleanLumTest\\") + name) {}
};

}  // namespace files_test
