// The run log.
#include "run/run_log.h"

#include <windows.h>

#include <cstdlib>

#include "system/text.h"

bool BuildRunLogPath(const char* temp, char* path, size_t size) {
  // An undefined TEMP leaves the directory part empty: the root of the current drive.
  const char* parts[] = {temp ? temp : "", "\\LUMInstall.log"};
  return JoinText(path, size, parts, 2);
}

RunLog::~RunLog() { Close(); }

void RunLog::Open() {
  Close();
  char path[MAX_PATH];
  if (!BuildRunLogPath(std::getenv("TEMP"), path, sizeof path)) return;  // never a shortened path
  file_ = std::fopen(path, "a");
}

RunLog& RunLog::operator<<(const char* text) {
  if (file_ && text) std::fputs(text, file_);
  return *this;
}

RunLog& RunLog::operator<<(unsigned short number) {
  if (file_) std::fprintf(file_, "%u", static_cast<unsigned>(number));
  return *this;
}

void RunLog::Flush() {
  if (file_) std::fflush(file_);
}

void RunLog::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}
