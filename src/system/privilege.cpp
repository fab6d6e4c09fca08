// Turning one named privilege of an open token on or off.
#include <cstdio>

#include "system/system.h"

bool NoMessageBoxes = false;

// The three diagnostics go to standard output; the program has no console, so
// they are seen only when its output is redirected.
bool SetPrivilege(HANDLE token, const char* privilegeName, bool enable) {
  LUID luid;
  if (!LookupPrivilegeValueA(nullptr, privilegeName, &luid)) {
    std::printf("LookupPrivilegeValue error: %u\n", static_cast<unsigned>(GetLastError()));
    return false;
  }

  TOKEN_PRIVILEGES request;
  request.PrivilegeCount = 1;
  request.Privileges[0].Luid = luid;
  request.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!AdjustTokenPrivileges(token, FALSE, &request, sizeof(TOKEN_PRIVILEGES), nullptr, nullptr)) {
    std::printf("AdjustTokenPrivileges error: %u\n", static_cast<unsigned>(GetLastError()));
    return false;
  }

  // The adjustment succeeds even when the token does not hold the privilege.
  if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) {
    std::printf("The token does not have the specified privilege. \n");
    return false;
  }
  return true;
}
