// advapi32's event log, kernel32's named mutexes, the program's own file name
// and the system time.
#include <cstring>

#include "internal.h"

using winsim::Fail;
using winsim::M;

HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
  if (serverName && *serverName) return Fail(RPC_S_SERVER_UNAVAILABLE, static_cast<HANDLE>(nullptr));
  if (!sourceName || !*sourceName) return Fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
  if (M().eventLog.failRegister) return Fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
  return winsim::AllocHandle(winsim::HandleKind::EventSource,
                             std::make_shared<std::string>(sourceName));
}

BOOL ReportEventA(HANDLE eventLog, WORD type, WORD, DWORD eventId, PSID, WORD stringCount, DWORD,
                  LPCSTR* strings, LPVOID) {
  winsim::HandleEntry* entry = winsim::LookupHandle(eventLog, winsim::HandleKind::EventSource);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (stringCount > 0 && !strings) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  winsim::SimEvent event;
  event.source = *static_cast<std::string*>(entry->object.get());
  event.type = type;
  event.eventId = eventId;
  for (WORD i = 0; i < stringCount; ++i) event.strings.push_back(strings[i] ? strings[i] : "");
  M().eventLog.events.push_back(event);
  winsim::Trace("event: " + event.source + " " + std::to_string(type) + " " + std::to_string(eventId));
  return TRUE;
}

BOOL DeregisterEventSource(HANDLE eventLog) {
  if (!winsim::LookupHandle(eventLog, winsim::HandleKind::EventSource))
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  winsim::ReleaseHandle(eventLog);
  return TRUE;
}

HANDLE OpenMutexA(DWORD, BOOL, LPCSTR name) {
  if (!name) return Fail(ERROR_INVALID_PARAMETER, static_cast<HANDLE>(nullptr));
  const auto& log = M().eventLog;
  if (!log.mutexes.count(name)) return Fail(ERROR_FILE_NOT_FOUND, static_cast<HANDLE>(nullptr));
  if (log.refusedMutexes.count(name)) return Fail(ERROR_ACCESS_DENIED, static_cast<HANDLE>(nullptr));
  return winsim::AllocHandle(winsim::HandleKind::Mutex, std::make_shared<std::string>(name));
}

// As on Windows: a name that does not fit is cut to size - 1 characters and
// terminated, the result is size, and the last error ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size) {
  const std::string& path = M().eventLog.programPath;
  if (!fileName || size == 0) return Fail(ERROR_INSUFFICIENT_BUFFER, 0u);
  if (path.size() + 1 > size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    return Fail(ERROR_INSUFFICIENT_BUFFER, size);
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

// The simulated clock has no time zone: system time and local time agree.
void GetSystemTime(LPSYSTEMTIME time) { *time = M().system.localTime; }
