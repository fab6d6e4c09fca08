// advapi32 tokens, privileges and impersonation over winsim::M().tokens.
#include <cstddef>
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

using PrivilegeMap = std::map<std::string, bool, NoCaseLess>;

// The privileges Windows knows, with the locally unique identifiers it gives them.
struct KnownPrivilege {
  const char* name;
  DWORD luid;
};
const KnownPrivilege kKnownPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},          {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},           {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},       {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},             {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},          {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},          {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},     {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},             {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},               {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22},   {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},      {"SeUndockPrivilege", 25},
    {"SeSyncAgentPrivilege", 26},           {"SeEnableDelegationPrivilege", 27},
    {"SeManageVolumePrivilege", 28},        {"SeImpersonatePrivilege", 29},
    {"SeCreateGlobalPrivilege", 30},        {"SeTrustedCredManAccessPrivilege", 31},
    {"SeRelabelPrivilege", 32},             {"SeIncreaseWorkingSetPrivilege", 33},
    {"SeTimeZonePrivilege", 34},            {"SeCreateSymbolicLinkPrivilege", 35},
    {"SeDelegateSessionUserImpersonatePrivilege", 36},
};

const char* PrivilegeName(const LUID& luid) {
  if (luid.HighPart != 0) return nullptr;
  for (const KnownPrivilege& p : kKnownPrivileges)
    if (p.luid == luid.LowPart) return p.name;
  return nullptr;
}

// What a token handle refers to. A handle on the thread token that outlives
// the impersonation (RevertToSelf, or a new ImpersonateSelf) keeps a detached
// copy of that token's privileges.
struct TokenObject {
  bool isThreadToken = false;
  unsigned generation = 0;
  DWORD access = 0;
  bool detached = false;
  PrivilegeMap detachedPrivileges;
};

// Each impersonation gets a new generation; open handles of the old one detach.
unsigned& ThreadTokenGeneration() {
  static unsigned generation = 1;
  return generation;
}

std::vector<std::weak_ptr<TokenObject>>& ThreadTokenHandles() {
  static std::vector<std::weak_ptr<TokenObject>> handles;
  return handles;
}

void DetachThreadTokenHandles() {
  for (auto& weak : ThreadTokenHandles()) {
    std::shared_ptr<TokenObject> token = weak.lock();
    if (token && !token->detached && token->generation == ThreadTokenGeneration()) {
      token->detached = true;
      token->detachedPrivileges = M().tokens.threadPrivileges;
    }
  }
  ThreadTokenHandles().clear();
  ++ThreadTokenGeneration();
}

PrivilegeMap& PrivilegesOf(TokenObject& token) {
  if (!token.isThreadToken) return M().tokens.processPrivileges;
  if (!token.detached && M().tokens.threadImpersonating &&
      token.generation == ThreadTokenGeneration())
    return M().tokens.threadPrivileges;
  token.detached = true;
  return token.detachedPrivileges;
}

bool IsCurrentThread(HANDLE thread) { return thread == GetCurrentThread(); }
bool IsCurrentProcess(HANDLE process) { return process == GetCurrentProcess(); }

}  // namespace

// The privileges in force for the thread: its impersonation token's, else the process token's.
bool EffectivePrivilegeEnabled(const std::string& name) {
  const TokenState& t = M().tokens;
  const PrivilegeMap& privileges = t.threadImpersonating ? t.threadPrivileges : t.processPrivileges;
  auto it = privileges.find(name);
  return it != privileges.end() && it->second;
}

}  // namespace winsim

using namespace winsim;

// Only the current process's token is modelled; the handle of another process
// is refused as if its token's security denied the caller.
BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (!token) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!IsCurrentProcess(process)) {
    if (LookupHandle(process, HandleKind::OpenedProcess) || LookupHandle(process, HandleKind::Process))
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  }
  if (M().tokens.failOpenProcessToken) return Fail(ERROR_ACCESS_DENIED, FALSE);
  auto object = std::make_shared<TokenObject>();
  object->access = access;
  *token = AllocHandle(HandleKind::Token, object);
  return TRUE;
}

// ERROR_NO_TOKEN when the thread is not impersonating. An anonymous-level token
// cannot be opened, and an identification-level one only with openAsSelf.
BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token) {
  if (!token) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!IsCurrentThread(thread)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  const TokenState& t = M().tokens;
  if (t.openThreadTokenError != 0) return Fail(t.openThreadTokenError, FALSE);
  if (!t.threadImpersonating) return Fail(ERROR_NO_TOKEN, FALSE);
  if (t.failOpenThreadTokenAfterImpersonation) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (t.threadLevel == SecurityAnonymous) return Fail(ERROR_CANT_OPEN_ANONYMOUS, FALSE);
  if (t.threadLevel == SecurityIdentification && !openAsSelf)
    return Fail(ERROR_BAD_IMPERSONATION_LEVEL, FALSE);
  auto object = std::make_shared<TokenObject>();
  object->isThreadToken = true;
  object->generation = ThreadTokenGeneration();
  object->access = access;
  ThreadTokenHandles().push_back(object);
  *token = AllocHandle(HandleKind::Token, object);
  return TRUE;
}

// The thread gets a copy of the process token, its privileges as they stand now.
BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL level) {
  if (level < SecurityAnonymous || level > SecurityDelegation)
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  TokenState& t = M().tokens;
  if (t.failImpersonateSelf) return Fail(ERROR_ACCESS_DENIED, FALSE);
  DetachThreadTokenHandles();
  t.threadImpersonating = true;
  t.threadLevel = level;
  t.threadPrivileges = t.processPrivileges;
  Trace("impersonate-self");
  return TRUE;
}

// Succeeds also when the thread is not impersonating.
BOOL RevertToSelf() {
  TokenState& t = M().tokens;
  if (t.failRevertToSelf) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (t.threadImpersonating) DetachThreadTokenHandles();
  t.threadImpersonating = false;
  t.threadPrivileges.clear();
  Trace("revert-to-self");
  return TRUE;
}

// Names are matched without regard to case; only the local system is known.
BOOL LookupPrivilegeValueA(LPCSTR, LPCSTR name, PLUID luid) {
  if (!name || !luid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  for (const KnownPrivilege& p : kKnownPrivileges) {
    if (EqualsNoCase(p.name, name)) {
      luid->LowPart = p.luid;
      luid->HighPart = 0;
      return TRUE;
    }
  }
  return Fail(ERROR_NO_SUCH_PRIVILEGE, FALSE);
}

// Windows' contract: TOKEN_ADJUST_PRIVILEGES is required (and TOKEN_QUERY when
// the former state is asked for); privileges the token does not hold are passed
// over and the call still succeeds, with ERROR_NOT_ALL_ASSIGNED as last error;
// a former-state buffer too small fails the call with nothing changed.
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                           DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                           PDWORD returnLength) {
  HandleEntry* entry = LookupHandle(token, HandleKind::Token);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto object = std::static_pointer_cast<TokenObject>(entry->object);
  if (!(object->access & TOKEN_ADJUST_PRIVILEGES)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (previousState && !(object->access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (!disableAll && !newState) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (previousState && !returnLength) return Fail(ERROR_INVALID_PARAMETER, FALSE);

  PrivilegeMap& held = PrivilegesOf(*object);
  struct Change {
    std::string name;
    bool enable;
    bool remove;
  };
  std::vector<Change> changes;
  bool allAssigned = true;
  if (disableAll) {
    for (const auto& p : held) changes.push_back({p.first, false, false});
  } else {
    const unsigned char* entries =
        reinterpret_cast<const unsigned char*>(newState) + offsetof(TOKEN_PRIVILEGES, Privileges);
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
      LUID_AND_ATTRIBUTES request;
      std::memcpy(&request, entries + i * sizeof(LUID_AND_ATTRIBUTES), sizeof request);
      const char* name = PrivilegeName(request.Luid);
      if (!name || held.find(name) == held.end()) {
        allAssigned = false;
        continue;
      }
      changes.push_back({name, (request.Attributes & SE_PRIVILEGE_ENABLED) != 0,
                         (request.Attributes & SE_PRIVILEGE_REMOVED) != 0});
    }
  }

  // The former state lists the privileges whose state changes.
  std::vector<LUID_AND_ATTRIBUTES> former;
  for (const Change& c : changes) {
    bool wasEnabled = held[c.name];
    if (c.remove || wasEnabled == c.enable) continue;
    LUID_AND_ATTRIBUTES item;
    LookupPrivilegeValueA(nullptr, c.name.c_str(), &item.Luid);
    item.Attributes = wasEnabled ? SE_PRIVILEGE_ENABLED : 0;
    former.push_back(item);
  }
  if (previousState) {
    DWORD needed = static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                                      former.size() * sizeof(LUID_AND_ATTRIBUTES));
    *returnLength = needed;
    if (bufferLength < needed) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    previousState->PrivilegeCount = static_cast<DWORD>(former.size());
    unsigned char* out =
        reinterpret_cast<unsigned char*>(previousState) + offsetof(TOKEN_PRIVILEGES, Privileges);
    if (!former.empty()) std::memcpy(out, former.data(), former.size() * sizeof(LUID_AND_ATTRIBUTES));
  }

  for (const Change& c : changes) {
    if (c.remove)
      held.erase(c.name);
    else
      held[c.name] = c.enable;
  }
  M().system.lastError = allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED;
  return TRUE;
}
