// The system facts that the steps read for themselves.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// GetVersionExA as a program without a compatibility manifest sees it
// (Vista and later report major version 6). Zeroed on failure.
OSVERSIONINFOA QueryVersion();

// wProcessorArchitecture of GetSystemInfo (9 is AMD64).
WORD QueryProcessorArchitecture();

// These copy the directory into buffer; false, with buffer emptied, when the
// call fails or the directory does not fit (it is never used cut short).
bool QueryWindowsDirectory(char* buffer, size_t size);
bool QuerySystemDirectory(char* buffer, size_t size);
bool QueryCurrentDirectory(char* buffer, size_t size);
// The 32-bit system folder of 64-bit Windows (SysWOW64); false where there is none.
bool QuerySystemWow64Directory(char* buffer, size_t size);

template <size_t N>
bool QueryWindowsDirectory(char (&buffer)[N]) {
  return QueryWindowsDirectory(buffer, N);
}
template <size_t N>
bool QuerySystemDirectory(char (&buffer)[N]) {
  return QuerySystemDirectory(buffer, N);
}
template <size_t N>
bool QueryCurrentDirectory(char (&buffer)[N]) {
  return QueryCurrentDirectory(buffer, N);
}
template <size_t N>
bool QuerySystemWow64Directory(char (&buffer)[N]) {
  return QuerySystemWow64Directory(buffer, N);
}

// False when the process's window station has no visible display surfaces (a
// service, session 0, a remote shell): a message box there can never be
// answered. True when the station cannot be asked.
bool HasInteractiveWindowStation();

// The name of the account the program runs as ("SYSTEM" under deployment
// engines); "" when it cannot be read.
std::string QueryAccountName();

// 1 when the process token is elevated, 0 when it is not, -1 when Windows
// cannot say (before Vista there is no elevation).
int QueryElevation();

// True while another Windows Installer transaction runs: its "_MSIExecute"
// mutex exists (also when it exists but cannot be opened).
bool IsInstallerTransactionRunning();
