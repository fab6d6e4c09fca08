// advapi32: the process token and its privileges, as far as the restart
// needs them (open the process token, look a privilege up, enable it).
// Privileges live in M().tokens.processPrivileges: a name missing there is a
// privilege the token does not hold.
//
// Trace: "token: open process <access in hex>", "privilege: <name> enabled"
// (or "disabled") for every privilege an adjustment changed.
#include <cstdio>

#include "internal.h"

namespace winsim {
namespace {

struct ProcessToken {
  DWORD access = 0;
};

// The locally unique identifiers Windows gives the well-known privileges.
struct PrivilegeId {
  const char* name;
  DWORD luid;
};
const PrivilegeId kPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},       {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},        {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},    {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},          {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},       {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},       {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},  {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},          {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},            {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22}, {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},   {"SeUndockPrivilege", 25},
};

const char* PrivilegeName(const LUID& luid) {
  if (luid.HighPart != 0) return nullptr;
  for (const PrivilegeId& p : kPrivileges)
    if (p.luid == luid.LowPart) return p.name;
  return nullptr;
}

bool IsCurrentProcess(HANDLE process) {
  return process == GetCurrentProcess();
}

}  // namespace
}  // namespace winsim

using namespace winsim;

BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (!token) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!IsCurrentProcess(process) && !LookupHandle(process, HandleKind::Process))
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (M().tokens.failOpenProcessToken) return Fail(ERROR_ACCESS_DENIED, FALSE);
  auto object = std::make_shared<ProcessToken>();
  object->access = access;
  *token = AllocHandle(HandleKind::Token, object);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(access));
  Trace(std::string("token: open process ") + hex);
  return TRUE;
}

BOOL LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid) {
  if (systemName && *systemName) return Fail(ERROR_INVALID_PARAMETER, FALSE);  // local system only
  if (!name || !luid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  for (const PrivilegeId& p : kPrivileges) {
    if (EqualsNoCase(p.name, name)) {
      luid->LowPart = p.luid;
      luid->HighPart = 0;
      return TRUE;
    }
  }
  return Fail(ERROR_NO_SUCH_PRIVILEGE, FALSE);
}

// Succeeds with ERROR_NOT_ALL_ASSIGNED when some privilege is not held; the
// held ones are changed all the same.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD,
                           PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
  HandleEntry* entry = LookupHandle(token, HandleKind::Token);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto object = std::static_pointer_cast<ProcessToken>(entry->object);
  if (!(object->access & TOKEN_ADJUST_PRIVILEGES)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (previousState || returnLength) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
  auto& held = M().tokens.processPrivileges;
  if (disableAll) {
    for (auto& [name, enabled] : held) enabled = false;
    return Fail(ERROR_SUCCESS, TRUE);
  }
  if (!newState) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  bool allAssigned = true;
  for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& wanted = newState->Privileges[i];
    const char* name = PrivilegeName(wanted.Luid);
    auto it = name ? held.find(name) : held.end();
    if (it == held.end()) {
      allAssigned = false;
      continue;
    }
    if (wanted.Attributes & SE_PRIVILEGE_REMOVED) {
      held.erase(it);
      continue;
    }
    it->second = (wanted.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    Trace(std::string("privilege: ") + name + (it->second ? " enabled" : " disabled"));
  }
  return Fail(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED, TRUE);
}
