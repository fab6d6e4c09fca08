// The record of what the run did.
#include "run/run_record.h"

#include <exception>

#include "system/wide_text.h"

namespace {

// Exit codes by which a tool says it did its work: success, and success that
// a restart completes (ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS_REBOOT_INITIATED).
const DWORD kRestartRequired = 3010;
const DWORD kRestartInitiated = 1641;

bool IsMissingProgram(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

void RunRecord::NoteChild(const ChildRecord& child) {
  try {
    children_.push_back(child);
    if (onChild) onChild(children_.back());
  } catch (const std::exception&) {
    // A record that cannot grow never stops the run.
  }
}

void RunRecord::NoteLogonCommand(const LogonCommandRecord& command) {
  try {
    logonCommands_.push_back(command);
    if (onLogonCommand) onLogonCommand(logonCommands_.back());
  } catch (const std::exception&) {
  }
}

void RunRecord::NoteFailure(const FailureRecord& failure) {
  try {
    failures_.push_back(failure);
    if (onFailure) onFailure(failures_.back());
  } catch (const std::exception&) {
  }
}

void RunRecord::NotePackage(const PackageRecord& package) {
  try {
    packages_.push_back(package);
  } catch (const std::exception&) {
  }
}

void NoteFailure(RunRecord* record, const char* step, FailureKind kind, const char* action, const char* item,
                 DWORD error, const char* value) {
  if (!record) return;
  try {
    FailureRecord failure;
    failure.step = step ? step : "";
    failure.kind = kind;
    failure.action = action ? action : "";
    failure.item = Utf8FromAnsi(item ? item : "");
    failure.value = Utf8FromAnsi(value ? value : "");
    failure.error = error;
    record->NoteFailure(failure);
  } catch (const std::exception&) {
  }
}

ChildFacts RunRecorded(RunRecord* record, const char* step, ChildOwner owner, const std::string& subject,
                       const char* program, char* commandLine, DWORD creationFlags, DWORD timeoutMs) {
  // Taken before the run: the child is handed the buffer itself.
  std::string asked = commandLine ? commandLine : "";
  bool limited = record && record->childWaitLimitMs != 0;
  DWORD wait = limited ? record->childWaitLimitMs : timeoutMs;
  ChildFacts facts = RunAndWait(program, commandLine, creationFlags, wait, limited);
  // A command that could not be built started nothing and is no child of the run.
  bool built = program && program[0] && !asked.empty();
  if (record && built) {
    try {
      ChildRecord child;
      child.step = step ? step : "";
      child.subject = subject;
      child.owner = owner;
      child.program = program ? program : "";
      child.commandLine = asked;
      child.timeoutMs = wait;
      child.facts = facts;
      record->NoteChild(child);
    } catch (const std::exception&) {
    }
  }
  return facts;
}

bool ChildFailed(const ChildRecord& child) {
  const ChildFacts& facts = child.facts;
  if (facts.result == RunResult::TimedOut && facts.ended) return true;
  if (child.owner != ChildOwner::Vendor || !child.awaited) return false;
  switch (facts.result) {
    case RunResult::NotStarted:
      return !IsMissingProgram(facts.startError);
    case RunResult::TimedOut:
      return true;
    case RunResult::Finished:
      return facts.exitCode != 0 && facts.exitCode != kRestartRequired && facts.exitCode != kRestartInitiated;
  }
  return false;
}

bool ChildAskedForRestart(const ChildRecord& child) {
  return child.facts.result == RunResult::Finished &&
         (child.facts.exitCode == kRestartRequired || child.facts.exitCode == kRestartInitiated);
}
