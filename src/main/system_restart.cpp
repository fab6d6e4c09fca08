// System restart: the two warnings, the shutdown privilege on the NT platform
// and the forced reboot request. Only the entry point's argument string counts
// for "noreboot" and "silent" here, not the program's own path.
#include "main/system_restart.h"

namespace {

const char kSetupCaption[] = "Velmora Imaging Setup";

void ShowFailure(const char* text) { MessageBoxA(nullptr, text, "Error!", MB_OK); }

// Enables SeShutdownPrivilege in the process token; false after showing why not.
bool EnableShutdownPrivilege() {
  SetLastError(0);
  HANDLE process = GetCurrentProcess();
  if (GetLastError() != 0) {
    ShowFailure("couldn't get process handle");
    return false;
  }
  HANDLE token = nullptr;
  BOOL opened = OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
  if (!opened || GetLastError() != 0) {
    if (opened) CloseHandle(token);
    ShowFailure("Couldn't open current access control token");
    return false;
  }
  // Zeroed first: when the lookup fails the adjustment names no real
  // privilege, and it is the adjustment that decides.
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  bool assigned = GetLastError() != ERROR_NOT_ALL_ASSIGNED;
  CloseHandle(token);  // the privilege stays enabled in the process token
  if (!assigned) {
    ShowFailure("Couldn't adjust privilege");
    return false;
  }
  return true;
}

}  // namespace

bool RestartSystem(const Options& options, const OSVERSIONINFOA& version, RunLog& log) {
  if (options.noReboot) return true;
  if (!options.restartSilent) {
    MessageBoxA(nullptr, "You must reboot your system.", kSetupCaption, MB_OK | MB_ICONINFORMATION);
    MessageBoxA(nullptr,
                "Riruv Lum will now restart your computer.\n"
                "Please save your work and close all open programs,\n"
                "or you risk losing data.",
                kSetupCaption, MB_OK | MB_ICONWARNING);
  }
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && !EnableShutdownPrivilege()) return false;
  // A forced restart may end this process before the log is closed: what has
  // been written so far goes to the file now.
  log.Flush();
  ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0);
  return true;
}
