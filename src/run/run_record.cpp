// The record of what the run did.
#include "run/run_record.h"

#include <exception>

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

ChildFacts RunRecorded(RunRecord* record, const char* step, const char* program, char* commandLine,
                       DWORD creationFlags, DWORD timeoutMs) {
  // Taken before the run: the child is handed the buffer itself.
  std::string asked = commandLine ? commandLine : "";
  ChildFacts facts = RunAndWait(program, commandLine, creationFlags, timeoutMs);
  // A command that could not be built started nothing and is no child of the run.
  bool built = program && program[0] && !asked.empty();
  if (record && built) {
    try {
      ChildRecord child;
      child.step = step ? step : "";
      child.program = program ? program : "";
      child.commandLine = asked;
      child.timeoutMs = timeoutMs;
      child.facts = facts;
      record->NoteChild(child);
    } catch (const std::exception&) {
    }
  }
  return facts;
}
