// The record of what the run did.
#include "run/run_record.h"

#include <exception>

#include "run/cleanup_context.h"

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

std::string ProgramOf(const char* commandLine) {
  if (!commandLine) return "";
  const char* p = commandLine;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '"') {
    const char* end = p + 1;
    while (*end && *end != '"') ++end;
    return std::string(p + 1, end);
  }
  const char* end = p;
  while (*end && *end != ' ' && *end != '\t') ++end;
  return std::string(p, end);
}

ChildFacts RunRecorded(RunRecord* record, const char* step, char* commandLine, DWORD creationFlags,
                       DWORD timeoutMs) {
  // Taken before the run: the child is handed the buffer itself.
  std::string asked = commandLine ? commandLine : "";
  ChildFacts facts = RunAndWait(commandLine, creationFlags, timeoutMs);
  if (record) {
    try {
      ChildRecord child;
      child.step = step ? step : "";
      child.program = ProgramOf(asked.c_str());
      child.commandLine = asked;
      child.timeoutMs = timeoutMs;
      child.facts = facts;
      record->NoteChild(child);
    } catch (const std::exception&) {
    }
  }
  return facts;
}

ChildFacts RunRecorded(const CleanupContext& context, const char* step, char* commandLine, DWORD creationFlags,
                       DWORD timeoutMs) {
  return RunRecorded(context.record, step, commandLine, creationFlags, timeoutMs);
}
