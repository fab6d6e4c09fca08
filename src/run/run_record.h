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

struct CleanupContext;

// One child process: what was asked for and what became of it.
struct ChildRecord {
  std::string step;         // the step that started it: "boards", "dma", "install directory", ...
  std::string program;      // the program the command line names (its first token, or the spawned name)
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

// Runs commandLine as RunAndWait does and notes the run in the context's
// record (no record: nothing is noted). Returns what became of the child.
ChildFacts RunRecorded(const CleanupContext& context, const char* step, char* commandLine, DWORD creationFlags,
                       DWORD timeoutMs);
ChildFacts RunRecorded(RunRecord* record, const char* step, char* commandLine, DWORD creationFlags,
                       DWORD timeoutMs);

// The program a command line names: its first token, as the platform would
// take it (up to the first blank, or the quoted text).
std::string ProgramOf(const char* commandLine);
