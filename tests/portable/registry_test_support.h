// Registry and file helpers for the registry tests, written only against the
// Win32 API so that they run on the simulation and on Wine alike.
#pragma once

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace regtest {

inline bool CreateKey(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Stores exactly these bytes (no terminator is added).
inline bool SetBytes(HKEY root, const std::string& path, const std::string& name, DWORD type,
                     const std::string& bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

// Text stored as the wide calls store it, exactly these characters (no
// terminator is added): the code page's text widened.
inline bool SetWideBytes(HKEY root, const std::string& path, const std::string& name, DWORD type,
                         const std::string& text) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<WCHAR> wide;
  for (char c : text) wide.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
  std::vector<WCHAR> wideName(name.begin(), name.end());
  wideName.push_back(0);
  LONG rc = RegSetValueExW(key, wideName.data(), 0, type, reinterpret_cast<const BYTE*>(wide.data()),
                           static_cast<DWORD>(wide.size() * sizeof(WCHAR)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

// A string value with its terminating zero, as installers write them.
inline bool SetText(HKEY root, const std::string& path, const std::string& name,
                    const std::string& text) {
  return SetBytes(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

inline bool KeyExists(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline bool ValueExists(HKEY root, const std::string& path, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  LONG rc = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

inline void DumpInto(HKEY key, const std::string& prefix, std::vector<std::string>& out) {
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD nameLength = sizeof name;
    BYTE data[4096];
    DWORD dataLength = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) !=
        ERROR_SUCCESS)
      break;
    std::string hex;
    for (DWORD i = 0; i < dataLength; ++i) {
      char byte[3];
      std::snprintf(byte, sizeof byte, "%02x", data[i]);
      hex += byte;
    }
    out.push_back(prefix + ":" + name + "=" + std::to_string(type) + ":" + hex);
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    std::string child = prefix + "\\" + name;
    out.push_back(child);
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      DumpInto(sub, child, out);
      RegCloseKey(sub);
    }
  }
}

// Every key and value below root\path, sorted: "\sub" lines for keys,
// "\sub:name=type:hexdata" for values. Empty when the key is missing.
inline std::vector<std::string> Dump(HKEY root, const std::string& path) {
  std::vector<std::string> out;
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return out;
  out.push_back("(exists)");
  DumpInto(key, "", out);
  RegCloseKey(key);
  std::sort(out.begin(), out.end());
  return out;
}

inline void RemoveKey(HKEY root, const std::string& path) { SHDeleteKeyA(root, path.c_str()); }

// A fixture that owns one private key below HKEY_CURRENT_USER (a path from
// it), made empty before each test and removed after it.
class PrivateKeyTest : public ::testing::Test {
 protected:
  explicit PrivateKeyTest(const char* root) : root_(root) {}
  void SetUp() override {
    RemoveKey(HKEY_CURRENT_USER, root_);
    ASSERT_TRUE(CreateKey(HKEY_CURRENT_USER, root_));
  }
  void TearDown() override { RemoveKey(HKEY_CURRENT_USER, root_); }

  std::string At(const std::string& relative) const { return root_ + "\\" + relative; }

 private:
  std::string root_;
};

inline std::string WindowsDirectory() {
  char buffer[MAX_PATH];
  UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

inline bool WriteFileText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

inline bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace regtest
