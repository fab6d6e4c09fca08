// Folders and files for the file clean-up tests, made and inspected through
// the Win32 API only, so that the same tests run on the simulation and on Wine.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace files_test {

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

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

// True when the tests run under Wine, whose file system differs from
// Windows' in a few places (each marked where it matters).
inline bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#ifdef _WIN32
// Wine cannot make links through the Win32 API (CreateSymbolicLinkA reports
// success and makes nothing); a Unix symbolic link made by the host's own tool
// is what Wine shows as a directory link.
inline bool RunUnixTool(const std::string& program, const std::string& arguments) {
  std::string commandLine = program + " " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string image = "Z:" + program;
  for (char& c : image)
    if (c == '/') c = '\\';
  if (!CreateProcessA(image.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

inline std::string UnixPathOf(const std::string& path) {
  typedef char*(__cdecl * ToUnixPath)(const WCHAR*);
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  auto toUnix = reinterpret_cast<ToUnixPath>(
      reinterpret_cast<void*>(GetProcAddress(kernel32, "wine_get_unix_file_name")));
  if (!toUnix) return "";
  std::wstring wide;  // the test paths are plain ASCII
  for (char c : path) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  char* unixPath = toUnix(wide.c_str());
  if (!unixPath) return "";
  std::string out = unixPath;
  HeapFree(GetProcessHeap(), 0, unixPath);
  return out;
}
#endif

// Makes a directory link at link pointing at target; false when this
// platform cannot make one.
inline bool MakeDirectoryLink(const std::string& link, const std::string& target) {
#ifdef _WIN32
  if (RunningUnderWine()) {
    std::string from = UnixPathOf(target);
    std::string to = UnixPathOf(link);
    if (from.empty() || to.empty() || !RunUnixTool("/bin/ln", "-s \"" + from + "\" \"" + to + "\""))
      return false;
    // Wine does not wait for a host process: give it time to finish.
    for (int i = 0; i < 100 && !Exists(link); ++i) Sleep(50);
    return Exists(link);
  }
#endif
  return CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && Exists(link);
}

// Removes a directory link as itself (under Wine the Win32 calls would act on
// its target).
inline void RemoveDirectoryLink(const std::string& link) {
#ifdef _WIN32
  if (RunningUnderWine()) {
    std::string path = UnixPathOf(link);
    if (!path.empty() && RunUnixTool("/bin/rm", "-f \"" + path + "\""))
      for (int i = 0; i < 100 && Exists(link); ++i) Sleep(50);
    return;
  }
#endif
  RemoveDirectoryA(link.c_str());
}

// Removes a test's private folder with everything in it, links as links.
inline void RemoveTestTree(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string entry = path + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveDirectoryLink(entry);
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTestTree(entry);
      } else {
        SetFileAttributesA(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(entry.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryA(path.c_str());
}

// A fixture that owns one private folder below C:\CleanLumTest, removed
// before and after each test.
class PrivateFolderTest : public ::testing::Test {
 protected:
  explicit PrivateFolderTest(const char* name) : root_(std::string("C:\\CleanLumTest\\") + name) {}
  void SetUp() override {
    MakeDir("C:\\CleanLumTest");
    RemoveTestTree(root_);
    MakeDir(root_);
  }
  void TearDown() override { RemoveTestTree(root_); }
  std::string Path(const std::string& relative) const { return root_ + "\\" + relative; }
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace files_test
