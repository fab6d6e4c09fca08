// System restart: the two warnings, the shutdown privilege on the NT platform
// and the forced reboot request. Only the entry point's argument string counts
// for "noreboot" and "silent" here, not the program's own path.
#include "main/system_restart.h"

#include <string>

#include "system/system_facts.h"

namespace {

const char kSetupCaption[] = "Velmora Imaging Setup";

// A failure's box, where somebody can see it; the administrator's log always
// says what failed.
void ShowFailure(AdminLog& adminLog, const char* text, DWORD error, bool visible) {
  adminLog.Error("restart", std::string("No restart: ") + text + " (Win32 error " + std::to_string(error) + ")");
  if (visible) MessageBoxA(nullptr, text, "Error!", MB_OK);
}

// Enables SeShutdownPrivilege in the process token; false after showing why not.
bool EnableShutdownPrivilege(AdminLog& adminLog, bool visible) {
  SetLastError(0);
  HANDLE process = GetCurrentProcess();
  if (GetLastError() != 0) {
    ShowFailure(adminLog, "couldn't get process handle", GetLastError(), visible);
    return false;
  }
  HANDLE token = nullptr;
  BOOL opened = OpenProcessToken(process, TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
  if (!opened || GetLastError() != 0) {
    DWORD error = GetLastError();
    if (opened) CloseHandle(token);
    ShowFailure(adminLog, "Couldn't open current access control token", error, visible);
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
    ShowFailure(adminLog, "Couldn't adjust privilege", ERROR_NOT_ALL_ASSIGNED, visible);
    return false;
  }
  return true;
}

}  // namespace

bool RestartSystem(const Options& options, const OSVERSIONINFOA& version, RunLog& log, AdminLog& adminLog) {
  if (options.noReboot) {
    adminLog.Info("restart", "No restart: the arguments say noreboot");
    return true;
  }
  // A box nobody can see would hold the restart for ever.
  const bool visible = HasInteractiveWindowStation();
  if (!options.restartSilent && visible) {
    MessageBoxA(nullptr, "You must reboot your system.", kSetupCaption, MB_OK | MB_ICONINFORMATION);
    MessageBoxA(nullptr,
                "Riruv Lum will now restart your computer.\n"
                "Please save your work and close all open programs,\n"
                "or you risk losing data.",
                kSetupCaption, MB_OK | MB_ICONWARNING);
  } else if (!options.restartSilent) {
    adminLog.Warning("restart", "The restart warnings were not shown: no window can be seen on this window station");
  }
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && !EnableShutdownPrivilege(adminLog, visible)) return false;
  // A forced restart may end this process before the log is closed: what has
  // been written so far goes to the file now.
  log.Flush();
  // The last line a forced restart may leave time for.
  adminLog.Info("restart", "Requesting a forced restart of Windows; the run ends with exit code 0");
  if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0))
    adminLog.Error("restart", "Windows refused the restart (Win32 error " + std::to_string(GetLastError()) + ")");
  return true;
}
