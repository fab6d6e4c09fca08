// Test INF files written and removed through the Win32 API only, so that the
// same tests run on the simulation and under Wine.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "test_folders.h"

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << path << " error " << GetLastError();
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_TRUE(ok && written == bytes.size()) << path;
}

using test_folders::Exists;

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

// A private folder, emptied before and after each test.
class InfFolderTest : public test_folders::PrivateFolderTest {
 protected:
  explicit InfFolderTest(std::string folder) : PrivateFolderTest(std::move(folder)) {}

  void Put(const std::string& name, const std::string& bytes) const { WriteBytes(Path(name), bytes); }
  bool Has(const std::string& name) const { return Exists(Path(name)); }
};
