// The system facts that the steps read for themselves.
#include "system/system_facts.h"

#include <cstring>

OSVERSIONINFOA QueryVersion() {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;  // 148
  if (!GetVersionExA(&version)) {
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
  }
  return version;
}

WORD QueryProcessorArchitecture() {
  SYSTEM_INFO info;
  std::memset(&info, 0, sizeof info);
  GetSystemInfo(&info);
  return info.wProcessorArchitecture;
}

// The Get*DirectoryA calls return the length without the terminator when the
// text fits, and the size needed (terminator included) when it does not.
static bool Accept(UINT length, char* buffer, size_t size) {
  if (length == 0 || length >= size) {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

bool QueryWindowsDirectory(char* buffer, size_t size) {
  if (!buffer || size == 0) return false;
  buffer[0] = '\0';
  return Accept(GetWindowsDirectoryA(buffer, static_cast<UINT>(size)), buffer, size);
}

bool QuerySystemDirectory(char* buffer, size_t size) {
  if (!buffer || size == 0) return false;
  buffer[0] = '\0';
  return Accept(GetSystemDirectoryA(buffer, static_cast<UINT>(size)), buffer, size);
}

bool QueryCurrentDirectory(char* buffer, size_t size) {
  if (!buffer || size == 0) return false;
  buffer[0] = '\0';
  return Accept(GetCurrentDirectoryA(static_cast<DWORD>(size), buffer), buffer, size);
}

bool QuerySystemWow64Directory(char* buffer, size_t size) {
  if (!buffer || size == 0) return false;
  buffer[0] = '\0';
  return Accept(GetSystemWow64DirectoryA(buffer, static_cast<UINT>(size)), buffer, size);
}

bool HasInteractiveWindowStation() {
  HWINSTA station = GetProcessWindowStation();
  if (!station) return true;
  USEROBJECTFLAGS flags;
  std::memset(&flags, 0, sizeof flags);
  DWORD needed = 0;
  if (!GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool IsInstallerTransactionRunning() {
  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\_MSIExecute");
  if (mutex) {
    CloseHandle(mutex);
    return true;
  }
  return GetLastError() == ERROR_ACCESS_DENIED;
}

std::string QueryAccountName() {
  char name[257];  // UNLEN + 1
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size)) return "";
  name[sizeof name - 1] = '\0';
  return name;
}

int QueryElevation() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
  TOKEN_ELEVATION elevation;
  std::memset(&elevation, 0, sizeof elevation);
  DWORD length = 0;
  BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &length);
  CloseHandle(token);
  if (!known) return -1;
  return elevation.TokenIsElevated ? 1 : 0;
}
