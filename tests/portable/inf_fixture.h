// Test INF files written and removed through the Win32 API only, so that the
// same tests run on the simulation and under Wine.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path << " error " << GetLastError();
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(ok && written == bytes.size()) << path;
}

inline bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The same text as UTF-16LE with its byte-order mark (ASCII text only).
inline std::string Utf16(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

// A Windows-4 style INF: the [Version] header (five lines), then the given text.
inline std::string Win4Inf(const std::string& body) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Image\r\nProvider=%Mfg%\r\n\r\n" + body;
}

inline void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('\\', 3);; slash = path.find('\\', slash + 1)) {
    CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    if (slash == std::string::npos) break;
  }
}

// Files and folders below path, then path itself.
inline void RemoveFolder(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveFolder(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryA(path.c_str());
}

// A private folder, emptied before and after each test.
class InfFolderTest : public ::testing::Test {
 protected:
  explicit InfFolderTest(std::string folder) : folder_(std::move(folder)) {}

  void SetUp() override {
    RemoveFolder(folder_);
    MakeFolders(folder_);
  }
  void TearDown() override { RemoveFolder(folder_); }

  std::string PathOf(const std::string& name) const { return folder_ + "\\" + name; }
  void Put(const std::string& name, const std::string& bytes) const { WriteBytes(PathOf(name), bytes); }
  bool Has(const std::string& name) const { return Exists(PathOf(name)); }

  std::string folder_;
};
