// The administrator's log.
#include "run/admin_log.h"

#include <cstdio>
#include <exception>

#include "system/output_file.h"

namespace {

const char kEndOfMessage[] = "]LOG]!>";

// One line per message, and never the marker that ends a message.
std::string Clean(const std::string& message) {
  std::string clean;
  for (char c : message) clean += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
  size_t at = 0;
  while ((at = clean.find(kEndOfMessage, at)) != std::string::npos) clean[at] = ')';
  return clean;
}

// Component names are ours, but a quote would end the attribute.
std::string Attribute(const char* text) {
  std::string clean;
  for (const char* p = text ? text : ""; *p; ++p)
    clean += (*p == '"' || static_cast<unsigned char>(*p) < 0x20) ? '_' : *p;
  return clean;
}

}  // namespace

std::string CmTraceLine(LogType type, const char* component, const std::string& message, const SYSTEMTIME& time,
                        long biasMinutes, DWORD thread) {
  char stamp[96];
  long magnitude = biasMinutes < 0 ? -biasMinutes : biasMinutes;
  std::snprintf(stamp, sizeof stamp, "time=\"%02u:%02u:%02u.%03u%c%03ld\" date=\"%u-%u-%04u\"",
                static_cast<unsigned>(time.wHour % 24), static_cast<unsigned>(time.wMinute % 60),
                static_cast<unsigned>(time.wSecond % 60), static_cast<unsigned>(time.wMilliseconds % 1000),
                biasMinutes < 0 ? '-' : '+', magnitude % 10000, static_cast<unsigned>(time.wMonth),
                static_cast<unsigned>(time.wDay), static_cast<unsigned>(time.wYear % 10000));
  return "<![LOG[" + Clean(message) + "]LOG]!><" + stamp + " component=\"" + Attribute(component) +
         "\" context=\"\" type=\"" + std::to_string(static_cast<int>(type)) + "\" thread=\"" +
         std::to_string(thread) + "\" file=\"\">";
}

long CurrentTimeBias() {
  TIME_ZONE_INFORMATION zone;
  DWORD which = GetTimeZoneInformation(&zone);
  if (which == TIME_ZONE_ID_INVALID) return 0;
  long bias = zone.Bias;
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return bias;
}

std::string Seconds(DWORD milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lu.%03lu s", static_cast<unsigned long>(milliseconds / 1000),
                static_cast<unsigned long>(milliseconds % 1000));
  return text;
}

AdminLog::~AdminLog() { Close(); }

bool AdminLog::Open(const OutputFolder& folder, const std::string& baseName) {
  Close();
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string path;
  if (!OpenNewFile(folder, baseName, ".log", file, path)) return false;
  file_ = file;
  path_ = path;
  if (!WriteAll(file_, "\xEF\xBB\xBF", 3)) Close();
  return IsOpen();
}

void AdminLog::Write(LogType type, const char* component, const std::string& message) {
  if (!IsOpen()) return;
  try {
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string line = CmTraceLine(type, component, message, now, CurrentTimeBias(), GetCurrentThreadId()) + "\r\n";
    WriteAll(file_, line.data(), line.size());
  } catch (const std::exception&) {
    // A line that cannot be built is left out; the run goes on.
  }
}

void AdminLog::Close() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
}
