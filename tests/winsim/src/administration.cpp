// The time zone, the thread's id, the account and its elevation, and the
// System Restore and COM calls that programs look up at run time.
#include <cstring>

#include "internal.h"

using winsim::M;

namespace {

#pragma pack(push, 1)
struct RestorePointInfo {
  DWORD eventType;
  DWORD restorePointType;
  INT64 sequenceNumber;
  WCHAR description[256];
};
struct RestoreStatus {
  DWORD status;
  INT64 sequenceNumber;
};
#pragma pack(pop)

BOOL WINAPI SimSetRestorePoint(RestorePointInfo* info, RestoreStatus* status) {
  if (!info || !status) return winsim::Fail(ERROR_INVALID_PARAMETER, FALSE);
  auto& a = M().administration;
  winsim::RestorePointCall call;
  call.eventType = info->eventType;
  call.restorePointType = info->restorePointType;
  call.sequenceNumber = info->sequenceNumber;
  for (size_t i = 0; i < 256 && info->description[i]; ++i) call.description += static_cast<char>(info->description[i]);
  a.restoreCalls.push_back(call);
  winsim::Trace("restore-point: " + std::to_string(call.eventType) + " " + std::to_string(call.restorePointType) +
                " " + call.description);
  status->status = a.restoreStatus;
  if (a.restoreStatus != ERROR_SUCCESS) {
    status->sequenceNumber = 0;
    return FALSE;
  }
  status->sequenceNumber = info->eventType == 100 ? a.nextSequenceNumber++ : info->sequenceNumber;
  return TRUE;
}

HRESULT WINAPI SimCoInitializeEx(void*, DWORD) {
  M().administration.comCalls.push_back("CoInitializeEx");
  return S_OK;
}

HRESULT WINAPI SimCoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) {
  M().administration.comCalls.push_back("CoInitializeSecurity");
  return S_OK;
}

void WINAPI SimCoUninitialize() { M().administration.comCalls.push_back("CoUninitialize"); }

template <typename Function>
FARPROC Export(Function function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

namespace winsim {

FARPROC AdministrationExport(bool restoreClient, bool ole32, const char* name) {
  if (!name || M().loader.missingExports.count(name)) return nullptr;
  if (restoreClient && std::strcmp(name, "SRSetRestorePointW") == 0)
    return Export(&SimSetRestorePoint);
  if (ole32 && std::strcmp(name, "CoInitializeEx") == 0) return Export(&SimCoInitializeEx);
  if (ole32 && std::strcmp(name, "CoInitializeSecurity") == 0) return Export(&SimCoInitializeSecurity);
  if (ole32 && std::strcmp(name, "CoUninitialize") == 0) return Export(&SimCoUninitialize);
  return nullptr;
}

}  // namespace winsim

DWORD GetTimeZoneInformation(LPTIME_ZONE_INFORMATION information) {
  if (!information) return winsim::Fail(ERROR_INVALID_PARAMETER, TIME_ZONE_ID_INVALID);
  std::memset(information, 0, sizeof *information);
  const auto& a = M().administration;
  information->Bias = a.timeZoneBias;
  information->StandardBias = 0;
  information->DaylightBias = a.daylightBias;
  return a.timeZoneId;
}

DWORD GetCurrentThreadId() { return M().administration.threadId; }

BOOL GetUserNameA(LPSTR buffer, LPDWORD size) {
  if (!size) return winsim::Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::string& name = M().tokens.user;
  if (!buffer || *size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    return winsim::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size() + 1);
  return TRUE;
}

namespace winsim {

BOOL TokenElevationInformation(LPVOID information, DWORD length, PDWORD needed) {
  if (M().administration.elevationUnknown) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *needed = sizeof(TOKEN_ELEVATION);
  if (!information || length < sizeof(TOKEN_ELEVATION)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = M().administration.elevated ? 1 : 0;
  return TRUE;
}

}  // namespace winsim
