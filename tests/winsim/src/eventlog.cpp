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

namespace {

// Days since 1601-01-01 of a date of the Gregorian calendar, and back.
int64_t DaysOf(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  int64_t era = (year >= 0 ? year : year - 399) / 400;
  int64_t yearOfEra = year - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 584694;  // 1601-01-01 is day 584694 after 0000-03-01
}

void DateOf(int64_t days, WORD& year, WORD& month, WORD& day) {
  days += 584694;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<WORD>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<WORD>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<WORD>(yearOfEra + era * 400 + (month <= 2));
}

const uint64_t kTicksPerMillisecond = 10000;
const uint64_t kTicksPerDay = 864000000000ULL;

}  // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME* s, LPFILETIME fileTime) {
  if (!s || !fileTime || s->wMonth < 1 || s->wMonth > 12 || s->wDay < 1 || s->wDay > 31 || s->wHour > 23 ||
      s->wMinute > 59 || s->wSecond > 59 || s->wMilliseconds > 999 || s->wYear < 1601)
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  uint64_t ticks = static_cast<uint64_t>(DaysOf(s->wYear, s->wMonth, s->wDay)) * kTicksPerDay +
                   ((s->wHour * 60ULL + s->wMinute) * 60ULL + s->wSecond) * 1000ULL * kTicksPerMillisecond +
                   s->wMilliseconds * kTicksPerMillisecond;
  fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
  fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME s) {
  if (!fileTime || !s || (fileTime->dwHighDateTime & 0x80000000u)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  uint64_t ticks = (static_cast<uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  int64_t days = static_cast<int64_t>(ticks / kTicksPerDay);
  uint64_t milliseconds = (ticks % kTicksPerDay) / kTicksPerMillisecond;
  DateOf(days, s->wYear, s->wMonth, s->wDay);
  s->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  s->wHour = static_cast<WORD>(milliseconds / 3600000);
  s->wMinute = static_cast<WORD>(milliseconds / 60000 % 60);
  s->wSecond = static_cast<WORD>(milliseconds / 1000 % 60);
  s->wMilliseconds = static_cast<WORD>(milliseconds % 1000);
  return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME time) {
  if (!SystemTimeToFileTime(&M().system.localTime, time)) *time = FILETIME{0, 0};
}
