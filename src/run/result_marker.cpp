// The result marker of a managed run.
#include "run/result_marker.h"

#include <cstdio>
#include <cstring>

#ifndef CLEANLUM_VERSION
#define CLEANLUM_VERSION "0.0.0"
#endif

namespace {

const char kMarkerKey[] = "SOFTWARE\\CleanLum";

LONG SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(std::strlen(text) + 1));
}

LONG SetNumber(HKEY key, const char* name, DWORD number) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
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

bool WriteResultMarker(DWORD exitCode, DWORD remaining, const char* reportPath, const char* backupPath,
                       const char* backupSha256) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  char time[32];
  FormatIsoTime(now, time, sizeof time);

  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool written = SetNumber(key, "LastResult", exitCode) == ERROR_SUCCESS &&
                 SetNumber(key, "Remaining", remaining) == ERROR_SUCCESS &&
                 SetText(key, "Version", CLEANLUM_VERSION) == ERROR_SUCCESS &&
                 SetText(key, "Time", time) == ERROR_SUCCESS &&
                 SetText(key, "Report", reportPath ? reportPath : "") == ERROR_SUCCESS &&
                 SetText(key, "Backup", backupPath ? backupPath : "") == ERROR_SUCCESS &&
                 SetText(key, "BackupSha256", backupSha256 ? backupSha256 : "") == ERROR_SUCCESS;
  RegCloseKey(key);
  return written;
}
