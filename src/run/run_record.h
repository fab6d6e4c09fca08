// What the run did, as the steps report it: every child process started,
// every logon command written and every deletion that failed, with the
// Win32 error it failed with. The steps report through the clean-up
// context, so that none of them reaches up to the reports or the logs; the
// main sequence reads the record and may watch it as it grows. The result
// report is built from the start inventory, this record and a look at the
// machine after the run: a run that did nothing has nothing here.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "system/system.h"

// Whose program a child is: the vendor's tools are judged by their exit
// codes; Windows' own sc.exe and cmd.exe by what they leave.
enum class ChildOwner { Vendor, Windows };

// One child process: what was asked for and what became of it.
struct ChildRecord {
  std::string step;         // the step that started it: "boards", "dma", "install directory", ...
  std::string subject;      // UTF-8: the inventory item it acts on ("" for none)
  ChildOwner owner = ChildOwner::Vendor;
  std::string program;      // the program file started, by its full path
  std::string commandLine;  // as the child was given it
  bool awaited = true;      // false for a start that is never waited for
  DWORD timeoutMs = INFINITE;  // the wait it was given
  ChildFacts facts;
};

// One logon command: the value written (or not) under RunOnce.
struct LogonCommandRecord {
  std::string key;    // "HKLM\\...\\RunOnce"
  std::string value;  // the value's name
  std::string data;   // the command
  DWORD error = 0;    // ERROR_SUCCESS when it was written, else why not
};

// What a failed action was done to.
enum class FailureKind { File, Folder, RegistryKey, RegistryValue, Process, Service };

// One action of a step that failed: a deletion, a process or service that
// would not stop. Texts are UTF-8.
struct FailureRecord {
  std::string step;
  FailureKind kind = FailureKind::File;
  std::string item;   // the path, key ("HKLM\\..."), process image or service name
  std::string value;  // registry values: the value's name
  std::string left;   // what stayed below the item ("" for the item itself)
  std::string action; // what it could not be, for people: "deleted", "stopped", "ended", ...
  DWORD error = 0;
};

// One of the vendor's driver packages and how it left (see drivers.h).
struct PackageRecord {
  std::string publishedName;  // "oem12.inf"
  std::string how;            // for people: through the driver store, or as files after a refusal
  DWORD error = 0;            // the refusal's Win32 error, 0 when none
};

class RunRecord {
 public:
  void NoteChild(const ChildRecord& child);
  void NoteLogonCommand(const LogonCommandRecord& command);
  void NoteFailure(const FailureRecord& failure);
  void NotePackage(const PackageRecord& package);

  const std::vector<ChildRecord>& Children() const { return children_; }
  const std::vector<LogonCommandRecord>& LogonCommands() const { return logonCommands_; }
  const std::vector<FailureRecord>& Failures() const { return failures_; }
  const std::vector<PackageRecord>& Packages() const { return packages_; }

  // A managed run's limit on every wait for a child, in milliseconds; a child
  // still running then is ended. 0: the waits each step asks for, and a
  // child that outlives a finite one is left running.
  DWORD childWaitLimitMs = 0;

  // Told of each entry as it is noted (the administrator's log writes it at once).
  std::function<void(const ChildRecord&)> onChild;
  std::function<void(const LogonCommandRecord&)> onLogonCommand;
  std::function<void(const FailureRecord&)> onFailure;

 private:
  std::vector<ChildRecord> children_;
  std::vector<LogonCommandRecord> logonCommands_;
  std::vector<FailureRecord> failures_;
  std::vector<PackageRecord> packages_;
};

// Notes a failure in the record, when there is one; never throws. item and
// value are ANSI code page text, as the narrow calls take them.
void NoteFailure(RunRecord* record, const char* step, FailureKind kind, const char* action, const char* item,
                 DWORD error, const char* value = "");

// Runs program with commandLine as RunAndWait does and notes the run in the
// record (none: nothing is noted; an empty, unbuilt command is no run). The
// wait is the record's limit where it sets one. subject is UTF-8. Returns
// what became of the child.
ChildFacts RunRecorded(RunRecord* record, const char* step, ChildOwner owner, const std::string& subject,
                       const char* program, char* commandLine, DWORD creationFlags, DWORD timeoutMs);
inline ChildFacts RunRecorded(RunRecord* record, const char* step, ChildOwner owner, const std::string& subject,
                              ChildCommand& command, DWORD creationFlags, DWORD timeoutMs) {
  return RunRecorded(record, step, owner, subject, command.program, command.line, creationFlags, timeoutMs);
}

// True when a child tells that the work it was started for was not done: a
// vendor tool that exited with an error code (0, 3010 and 1641 are success,
// the last two asking for a restart), that was ended or left running at its
// time limit, or that could not start although its program is there; and any
// child ended at a managed run's limit.
bool ChildFailed(const ChildRecord& child);
// True when a child asked for a restart to complete its work (3010, 1641).
bool ChildAskedForRestart(const ChildRecord& child);
