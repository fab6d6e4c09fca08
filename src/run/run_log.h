// The run log: one block appended per run to TEMP\LUMInstall.log, written
// through the C runtime's buffered text stream ("\n" becomes CRLF on Windows).
#pragma once

#include <cstdio>

class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog();  // closes the file if it is still open

  // Opens TEMP + "\LUMInstall.log" for appending. When the path cannot be
  // built in full (a very long TEMP) or the file cannot be opened, the log
  // stays closed and every later write is ignored.
  void Open();
  bool IsOpen() const { return file_ != nullptr; }

  RunLog& operator<<(const char* text);
  RunLog& operator<<(unsigned short number);

  // Puts what is buffered into the file now (before a forced restart can end the process).
  void Flush();
  void Close();

 private:
  std::FILE* file_ = nullptr;
};

// The log's path for a TEMP value (null: not defined). False when the path
// would not fit its MAX_PATH buffer.
bool BuildRunLogPath(const char* temp, char* path, size_t size);
