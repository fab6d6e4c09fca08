// A system restore point around the run.
#include "system/restore_point.h"

#include <cstring>

#include "system/system_facts.h"
#include "system/text.h"

namespace {

// System Restore's own layout: packed, the description 256 UTF-16 units.
#pragma pack(push, 1)
struct RestorePointInfo {
  DWORD eventType;
  DWORD restorePointType;
  int64_t sequenceNumber;
  WCHAR description[256];
};
struct RestoreStatus {
  DWORD status;
  int64_t sequenceNumber;
};
#pragma pack(pop)

const DWORD kBeginSystemChange = 100;
const DWORD kEndSystemChange = 101;
const DWORD kApplicationUninstall = 1;
const DWORD kServiceDisabled = 1058;  // ERROR_SERVICE_DISABLED

typedef BOOL(WINAPI* SetRestorePointFunction)(RestorePointInfo*, RestoreStatus*);
typedef HRESULT(WINAPI* CoInitializeExFunction)(void*, DWORD);
typedef HRESULT(WINAPI* CoInitializeSecurityFunction)(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*);

// A system DLL by its full path: never one planted beside the program.
HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  char directory[MAX_PATH];
  if (!QuerySystemDirectory(directory) || !BuildText(path, directory, "\\", name)) return nullptr;
  return LoadLibraryA(path);
}

template <typename Function>
Function Find(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

// System Restore calls back into the process as SYSTEM, LocalService and
// NetworkService: COM must let them (the program offers no COM object of its own).
void InitialiseCom() {
  HMODULE ole32 = LoadSystemLibrary("ole32.dll");
  CoInitializeExFunction initialise = Find<CoInitializeExFunction>(ole32, "CoInitializeEx");
  CoInitializeSecurityFunction security = Find<CoInitializeSecurityFunction>(ole32, "CoInitializeSecurity");
  if (!initialise || !security) return;
  const DWORD kMultithreaded = 0, kAuthenticationDefault = 0, kImpersonationIdentify = 2, kNoCapabilities = 0;
  if (FAILED(initialise(nullptr, kMultithreaded))) return;
  security(nullptr, -1, nullptr, nullptr, kAuthenticationDefault, kImpersonationIdentify, nullptr, kNoCapabilities,
           nullptr);
}

SetRestorePointFunction FindSetRestorePoint(DWORD& error) {
  HMODULE client = LoadSystemLibrary("srclient.dll");
  if (!client) {
    error = GetLastError();
    return nullptr;
  }
  SetRestorePointFunction set = Find<SetRestorePointFunction>(client, "SRSetRestorePointW");
  if (!set) error = GetLastError();
  return set;
}

}  // namespace

RestorePoint BeginRestorePoint(const char* description) {
  RestorePoint point;
  SetRestorePointFunction set = FindSetRestorePoint(point.status);
  if (!set) {
    point.outcome = RestorePointOutcome::NotAvailable;
    return point;
  }
  InitialiseCom();
  RestorePointInfo info;
  std::memset(&info, 0, sizeof info);
  info.eventType = kBeginSystemChange;
  info.restorePointType = kApplicationUninstall;
  // ASCII only, and shorter than the ANSI limit of 64 that older clients keep.
  for (size_t i = 0; description && description[i] && i < 63; ++i)
    info.description[i] = static_cast<WCHAR>(static_cast<unsigned char>(description[i]) & 0x7F);
  RestoreStatus status;
  std::memset(&status, 0, sizeof status);
  BOOL made = set(&info, &status);
  point.status = status.status;
  if (made) {
    point.outcome = RestorePointOutcome::Created;
    point.sequenceNumber = status.sequenceNumber;
  } else {
    point.outcome = status.status == kServiceDisabled ? RestorePointOutcome::Disabled : RestorePointOutcome::Failed;
  }
  return point;
}

void EndRestorePoint(RestorePoint& point) {
  if (point.outcome != RestorePointOutcome::Created || point.ended) return;
  DWORD error = 0;
  SetRestorePointFunction set = FindSetRestorePoint(error);
  if (!set) return;
  RestorePointInfo info;
  std::memset(&info, 0, sizeof info);
  info.eventType = kEndSystemChange;
  info.restorePointType = kApplicationUninstall;
  info.sequenceNumber = point.sequenceNumber;
  RestoreStatus status;
  std::memset(&status, 0, sizeof status);
  set(&info, &status);
  point.endStatus = status.status;
  point.ended = true;
}

std::string DescribeRestorePoint(const RestorePoint& point) {
  std::string status = std::to_string(point.status);
  switch (point.outcome) {
    case RestorePointOutcome::NotAsked:
      return "not asked for";
    case RestorePointOutcome::Created:
      return "created (sequence number " + std::to_string(point.sequenceNumber) + ")";
    case RestorePointOutcome::Disabled:
      return "not made: System Restore is turned off on this machine, by policy or by hand (status " + status + ")";
    case RestorePointOutcome::NotAvailable:
      return "not made: this Windows has no System Restore (Win32 error " + status + ")";
    case RestorePointOutcome::Failed:
      break;
  }
  if (point.status == 0) return "not made: System Restore answered that it made none, and gave no reason (status 0)";
  return "not made: System Restore refused it (status " + status + ")";
}
