// A test's private folder, made and removed through the Win32 API only, so
// that the same tests run on the simulation and under Wine. Links found inside
// are removed as links: whatever they point at is never walked into.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

namespace test_folders {

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// True when the tests run under Wine, which differs from Windows in a few
// places (each marked where it matters).
inline bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

#ifdef _WIN32
// Runs a program of the host under Wine (a Unix path) and waits for it; false
// when it cannot be started.
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

// The host's path of a Windows path under Wine; "" when Wine cannot say.
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

// Removes a test's private folder with everything in it, links as links. Wide
// calls throughout: a name the code page spells by a best fit ("x/../y" for
// fullwidth forms) would lead the narrow ones elsewhere.
typedef std::basic_string<WCHAR> FolderText;
inline void RemoveTestTree(const FolderText& path) {
  const FolderText separator(1, WCHAR('\\'));
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + separator + FolderText(1, WCHAR('*'))).c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      FolderText name = found.cFileName;
      if (name == FolderText(1, WCHAR('.')) || name == FolderText(2, WCHAR('.'))) continue;
      FolderText entry = path + separator + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveDirectoryLink(std::string(entry.begin(), entry.end()));  // the tests' links have plain names
      } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTestTree(entry);
      } else {
        SetFileAttributesW(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(entry.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(path.c_str());
}
inline void RemoveTestTree(const std::string& path) { RemoveTestTree(FolderText(path.begin(), path.end())); }

// Creates a folder and every folder above it that is missing (a full path
// with its drive: "C:\a\b").
inline void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('\\', 3);; slash = path.find('\\', slash + 1)) {
    CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    if (slash == std::string::npos) break;
  }
}

// A fixture that owns one private folder (a full path), made empty before
// each test and removed after it.
class PrivateFolderTest : public ::testing::Test {
 protected:
  explicit PrivateFolderTest(std::string root) : root_(std::move(root)) {}
  void SetUp() override {
    RemoveTestTree(root_);
    MakeFolders(root_);
    ASSERT_TRUE(Exists(root_)) << root_;
  }
  void TearDown() override { RemoveTestTree(root_); }
  std::string Path(const std::string& relative) const { return root_ + "\\" + relative; }
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace test_folders
