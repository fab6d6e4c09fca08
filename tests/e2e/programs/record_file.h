// Appending a block of text to a shared record file that several helper
// processes write one after another.
#pragma once

#include <windows.h>

#include <string>

// Appends text to the file at path, creating it (and its folder) when needed.
// Retries while another process holds the file. False when it never could.
inline bool AppendRecord(const char* path, const std::string& text) {
  std::string folder(path);
  size_t slash = folder.find_last_of('\\');
  if (slash != std::string::npos) CreateDirectoryA(folder.substr(0, slash).c_str(), nullptr);
  for (int attempt = 0; attempt < 100; ++attempt) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
      CloseHandle(file);
      return ok && written == text.size();
    }
    Sleep(20);
  }
  return false;
}

// The text of a window of another process, read without sending it a message
// (its thread may be blocked waiting for us).
inline std::string WindowTitle(HWND window) {
  char title[1024] = "";
  if (window) GetWindowTextA(window, title, sizeof title);
  return title;
}
