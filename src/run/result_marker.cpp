// The result marker of a managed run.
#include "run/result_marker.h"

#include <cstdio>
#include <cstring>

#include "system/system_facts.h"

#ifndef CLEANLUM_VERSION
#define CLEANLUM_VERSION "0.0.0"
#endif

namespace {

const char kMarkerKey[] = "SOFTWARE\\CleanLum";
// Two starts of Windows closer than this are taken for the same one: the
// boot time is computed as now less the time since the start, both read
// with some jitter.
const ULONGLONG kSameBootTolerance = 60ULL * 1000 * 10000;

LONG SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

LONG SetNumber(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

std::string ReadText(HKEY key, const char* name) {
  char text[64] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return "";
  text[size < sizeof text ? size : sizeof text - 1] = '\0';
  return text;
}

DWORD ReadNumber(HKEY key, const char* name) {
  DWORD number = 0;
  DWORD size = sizeof number;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&number), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof number)
    return 0;
  return number;
}

}  // namespace

bool FormatIsoTime(const SYSTEMTIME& time, char* text, size_t size) {
  if (!text || size == 0) return false;
  int written = std::snprintf(text, size, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth,
                              time.wDay, time.wHour, time.wMinute, time.wSecond);
  if (written < 0 || static_cast<size_t>(written) >= size) {
    text[0] = '\0';
    return false;
  }
  return true;
}

std::string IsoTimeOf(ULONGLONG fileTime) {
  FILETIME value;
  value.dwLowDateTime = static_cast<DWORD>(fileTime);
  value.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
  SYSTEMTIME time;
  char text[32];
  if (!FileTimeToSystemTime(&value, &time) || !FormatIsoTime(time, text, sizeof text)) return "";
  return text;
}

bool ParseIsoTime(const std::string& text, ULONGLONG& fileTime) {
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char zone = 0;
  if (text.size() != 20 ||
      std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c", &year, &month, &day, &hour, &minute, &second, &zone) !=
          7 ||
      zone != 'Z')
    return false;
  SYSTEMTIME time;
  std::memset(&time, 0, sizeof time);
  time.wYear = static_cast<WORD>(year);
  time.wMonth = static_cast<WORD>(month);
  time.wDay = static_cast<WORD>(day);
  time.wHour = static_cast<WORD>(hour);
  time.wMinute = static_cast<WORD>(minute);
  time.wSecond = static_cast<WORD>(second);
  FILETIME value;
  if (!SystemTimeToFileTime(&time, &value)) return false;
  fileTime = FileTimeValue(value);
  return true;
}

RestartState ReadRestartState() {
  RestartState state;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return state;
  state.pending = ReadNumber(key, "RestartPending") == 1;
  state.since = ReadText(key, "RestartSince");
  state.bootTime = ReadText(key, "RestartBootTime");
  RegCloseKey(key);
  if (!state.pending) return state;
  ULONGLONG bootNow = QueryBootTime();
  ULONGLONG keptBoot = 0, since = 0;
  bool sameBoot = ParseIsoTime(state.bootTime, keptBoot) &&
                  (keptBoot > bootNow ? keptBoot - bootNow : bootNow - keptBoot) <= kSameBootTolerance;
  bool askedSinceStart = ParseIsoTime(state.since, since) && since >= bootNow;
  state.thisBoot = sameBoot || askedSinceStart;
  return state;
}

RestartState RestartAskedNow() {
  RestartState state;
  state.pending = true;
  state.thisBoot = true;
  state.since = IsoTimeOf(QueryUtcNow());
  state.bootTime = IsoTimeOf(QueryBootTime());
  return state;
}

bool NoteProductInRemoval(const std::string& packedCode) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG status = packedCode.empty() ? RegDeleteValueA(key, "ProductInRemoval")
                                   : SetText(key, "ProductInRemoval", packedCode.c_str());
  RegCloseKey(key);
  return status == ERROR_SUCCESS || (packedCode.empty() && status == ERROR_FILE_NOT_FOUND);
}

std::string ProductInRemoval() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return "";
  std::string code = ReadText(key, "ProductInRemoval");
  RegCloseKey(key);
  if (code.size() != 32) return "";
  for (char c : code)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return "";
  return code;
}

bool WriteRestartState(const RestartState& restart) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool pending = restart.pending && restart.thisBoot;
  bool written = SetNumber(key, "RestartPending", pending ? 1 : 0) == ERROR_SUCCESS &&
                 SetText(key, "RestartSince", pending ? restart.since.c_str() : "") == ERROR_SUCCESS &&
                 SetText(key, "RestartBootTime", pending ? restart.bootTime.c_str() : "") == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}

bool WriteResultMarker(DWORD exitCode, DWORD remaining, const char* reportPath, const char* backupPath,
                       const char* backupSha256, const RestartState& restart) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  char time[32];
  FormatIsoTime(now, time, sizeof time);

  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool pending = restart.pending && restart.thisBoot;
  bool written = SetNumber(key, "LastResult", exitCode) == ERROR_SUCCESS &&
                 SetNumber(key, "Remaining", remaining) == ERROR_SUCCESS &&
                 SetText(key, "Version", CLEANLUM_VERSION) == ERROR_SUCCESS &&
                 SetText(key, "Time", time) == ERROR_SUCCESS &&
                 SetText(key, "Report", reportPath ? reportPath : "") == ERROR_SUCCESS &&
                 SetText(key, "Backup", backupPath ? backupPath : "") == ERROR_SUCCESS &&
                 SetText(key, "BackupSha256", backupSha256 ? backupSha256 : "") == ERROR_SUCCESS &&
                 SetNumber(key, "RestartPending", pending ? 1 : 0) == ERROR_SUCCESS &&
                 SetText(key, "RestartSince", pending ? restart.since.c_str() : "") == ERROR_SUCCESS &&
                 SetText(key, "RestartBootTime", pending ? restart.bootTime.c_str() : "") == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}
