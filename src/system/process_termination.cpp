// Finding a running process by the base name of its executable and ending it.
// The thread enables SeDebugPrivilege in an impersonation token of its own so
// that processes of other users and of services can be opened; it keeps that
// impersonation until the install-directory step reverts it.
#include <windows.h>
#include <psapi.h>

#include <vector>

#include "system/system.h"

namespace {

const DWORD kListRights = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
const DWORD kTerminateRights = PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION;
const DWORD kTokenRights = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
const DWORD kMaxProcesses = 1024;  // a larger system is seen through its first 1024

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whole names, ASCII letters compared without regard to case; nothing trimmed.
bool SameNameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
  return *a == *b;
}

}  // namespace

bool EnableDebugPrivilege() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), kTokenRights, FALSE, &token)) {
    if (GetLastError() != ERROR_NO_TOKEN) return false;
    if (!ImpersonateSelf(SecurityImpersonation)) return false;
    if (!OpenThreadToken(GetCurrentThread(), kTokenRights, FALSE, &token)) {
      if (!NoMessageBoxes) MessageBoxA(nullptr, "OpenThreadToken failed !", "Error!", MB_OK);
      return false;
    }
  }
  bool enabled = SetPrivilege(token, "SeDebugPrivilege", true);
  if (!enabled && !NoMessageBoxes) MessageBoxA(nullptr, "SetPrivilege", "Error!", MB_OK);
  CloseHandle(token);
  return enabled;
}

DWORD ListAccessibleProcesses(DWORD* processIds, DWORD capacity) {
  DWORD all[kMaxProcesses];
  DWORD bytes = 0;
  if (!EnumProcesses(all, sizeof all, &bytes)) bytes = 0;
  DWORD total = bytes / sizeof(DWORD);
  if (total > kMaxProcesses) total = kMaxProcesses;

  if (!EnableDebugPrivilege()) return 0;

  DWORD count = 0;
  DWORD stored = 0;
  for (DWORD i = 0; i < total; ++i) {
    HANDLE process = OpenProcess(kListRights, FALSE, all[i]);
    if (!process) continue;  // the idle and system processes, protected ones, ...
    if (processIds && stored < capacity) processIds[stored++] = all[i];
    CloseHandle(process);
    ++count;
  }
  return count;
}

int GetProcessBaseName(DWORD processId, char* buffer, DWORD size) {
  char scratch[1024];
  char* target = buffer ? buffer : scratch;
  DWORD targetSize = buffer ? size : static_cast<DWORD>(sizeof scratch);
  if (targetSize == 0) return -1;

  HANDLE process = OpenProcess(kListRights, FALSE, processId);
  if (!process) return -1;
  int result = -1;
  HMODULE module = nullptr;
  DWORD needed = 0;
  if (EnumProcessModules(process, &module, sizeof module, &needed)) {
    DWORD copied = GetModuleBaseNameA(process, module, target, targetSize);
    // A name cut to the buffer (no room for its terminator) is never compared.
    if (copied < targetSize) {
      target[copied] = '\0';
      result = static_cast<int>(copied) + 1;
    }
  }
  CloseHandle(process);
  return result;
}

bool TerminateProcessByName(const char* name, DWORD* error) {
  if (!name) return true;  // no process bears no name

  // Counting pass, then a filling pass into an array of that size: only the
  // identifiers the second pass stored are examined.
  DWORD count = ListAccessibleProcesses(nullptr, 0);
  std::vector<DWORD> processIds(count > 0 ? count : 1);
  DWORD stored = ListAccessibleProcesses(processIds.data(), count);
  if (stored > count) stored = count;

  bool found = false;
  bool terminated = false;
  for (DWORD i = 0; i < stored && !found; ++i) {
    int size = GetProcessBaseName(processIds[i], nullptr, 0);
    if (size <= 1) continue;
    std::vector<char> processName(static_cast<size_t>(size));
    if (GetProcessBaseName(processIds[i], processName.data(), static_cast<DWORD>(size)) <= 1) continue;
    if (!SameNameIgnoringCase(processName.data(), name)) continue;

    // First match in the platform's order; others of that name keep running.
    found = true;
    HANDLE process = OpenProcess(kTerminateRights, FALSE, processIds[i]);
    DWORD why = 0;
    if (process) {
      terminated = TerminateProcess(process, 0) != FALSE;
      if (!terminated) why = GetLastError();
      CloseHandle(process);
    } else {
      why = GetLastError();
    }
    if (!terminated && error) *error = why;
  }
  return found == terminated;
}
