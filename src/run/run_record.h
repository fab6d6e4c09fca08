// What the run did, as the steps report it: every child process started and
// every logon command written. The steps report through the clean-up
// context, so that none of them reaches up to the reports or the logs; the
// main sequence reads the record and may watch it as it grows.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "system/system.h"


// One child process: what was asked for and what became of it.
struct ChildRecord {
  std::string step;         // the step that started it: "boards", "dma", "install directory", ...
  std::string program;      // the program file started, by its full path
  std::string commandLine;  // as the child was given it
  bool awaited = true;      // false for a start that is never waited for
  DWORD timeoutMs = INFINITE;
  ChildFacts facts;
};

// One logon command: the value written (or not) under RunOnce.
struct LogonCommandRecord {
  std::string key;    // "HKLM\\...\\RunOnce"
  std::string value;  // the value's name
  std::string data;   // the command
  DWORD error = 0;    // ERROR_SUCCESS when it was written, else why not
};

class RunRecord {
 public:
  void NoteChild(const ChildRecord& child);
  void NoteLogonCommand(const LogonCommandRecord& command);

  const std::vector<ChildRecord>& Children() const { return children_; }
  const std::vector<LogonCommandRecord>& LogonCommands() const { return logonCommands_; }

  // Told of each entry as it is noted (the administrator's log writes it at once).
  std::function<void(const ChildRecord&)> onChild;
  std::function<void(const LogonCommandRecord&)> onLogonCommand;

 private:
  std::vector<ChildRecord> children_;
  std::vector<LogonCommandRecord> logonCommands_;
};

// Runs program with commandLine as RunAndWait does and notes the run in the
// record (none: nothing is noted; an empty, unbuilt command is no run).
// Returns what became of the child.
ChildFacts RunRecorded(RunRecord* record, const char* step, const char* program, char* commandLine,
                       DWORD creationFlags, DWORD timeoutMs);
inline ChildFacts RunRecorded(RunRecord* record, const char* step, ChildCommand& command, DWORD creationFlags,
                              DWORD timeoutMs) {
  return RunRecorded(record, step, command.program, command.line, creationFlags, timeoutMs);
}
