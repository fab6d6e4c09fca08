// The administrator's log: CleanLum-YYYYMMDD-HHMMSS.log beside the reports,
// one file per run, each line in the format that Configuration Manager's and
// Intune's log viewers (CMTrace) read:
//   <![LOG[message]LOG]!><time="HH:MM:SS.mmm+bias" date="M-D-YYYY" component="..." context="" type="1" thread="N" file="">
// Lines go to the file as they are written, so a forced restart loses none.
#pragma once

#include <windows.h>

#include <string>

#include "system/new_file.h"

enum class LogType { Info = 1, Warning = 2, Error = 3 };

class AdminLog {
 public:
  AdminLog() = default;
  AdminLog(const AdminLog&) = delete;
  AdminLog& operator=(const AdminLog&) = delete;
  ~AdminLog();

  // Creates baseName.log in folder as a new file (never one that is there
  // already: system/new_file.h), UTF-8 with its byte order mark. False, and
  // every later write ignored, when it cannot be had.
  bool Open(const OutputFolder& folder, const std::string& baseName);
  bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
  const std::string& Path() const { return path_; }

  // Writes one line: message (UTF-8, as the reports' texts; text of the
  // machine read through the narrow calls is converted by the caller) from component.
  void Write(LogType type, const char* component, const std::string& message);
  void Info(const char* component, const std::string& message) { Write(LogType::Info, component, message); }
  void Warning(const char* component, const std::string& message) { Write(LogType::Warning, component, message); }
  void Error(const char* component, const std::string& message) { Write(LogType::Error, component, message); }

  void Close();

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string path_;
};

// One line, without its line end, for a local time, the time zone's bias in
// minutes (UTC = local time + bias, Windows' sign) and a thread id. Control
// characters in the message become blanks, and a "]LOG]!>" in it cannot end
// the message early.
std::string CmTraceLine(LogType type, const char* component, const std::string& message, const SYSTEMTIME& time,
                        long biasMinutes, DWORD thread);

// The bias in force now, daylight saving included; 0 when it cannot be read.
long CurrentTimeBias();

// "1.234 s" for a duration in milliseconds.
std::string Seconds(DWORD milliseconds);
