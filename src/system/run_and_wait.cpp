// Running an external command and waiting for it. The program is always named
// in full (lpApplicationName): Windows then runs exactly that file, and never
// one that a search of the application's folder, the working directory or
// PATH would find first for the command line's first token. The command line
// still reaches the child as it is. What became of the child is read only for
// the records; the run goes on the same way whatever it was.
#include <cstring>

#include "system/system.h"
#include "system/text.h"

namespace {

bool Start(const char* program, char* commandLine, DWORD creationFlags, PROCESS_INFORMATION& process) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  std::memset(&process, 0, sizeof process);
  startup.cb = sizeof startup;
  if (!program || !program[0] || !commandLine || !commandLine[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                        &startup, &process) != FALSE;
}

}  // namespace

bool BuildChildCommand(ChildCommand& command, const char* folder, const char* programTail,
                       const char* arguments) {
  command.program[0] = command.line[0] = '\0';
  if (folder && folder[0] && BuildText(command.program, folder, programTail) &&
      BuildText(command.line, command.program, arguments))
    return true;
  command.program[0] = command.line[0] = '\0';
  return false;
}

ChildFacts RunAndWait(const char* program, char* commandLine, DWORD creationFlags, DWORD timeoutMs) {
  ChildFacts facts;
  PROCESS_INFORMATION process;
  DWORD started = GetTickCount();
  if (!Start(program, commandLine, creationFlags, process)) {
    facts.startError = GetLastError();
    return facts;
  }
  DWORD wait = WaitForSingleObject(process.hProcess, timeoutMs);
  facts.milliseconds = GetTickCount() - started;  // unsigned: right across the tick count's wrap
  if (wait == WAIT_TIMEOUT) {
    facts.result = RunResult::TimedOut;
  } else {
    facts.result = RunResult::Finished;
    if (!GetExitCodeProcess(process.hProcess, &facts.exitCode)) facts.exitCode = 0;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return facts;
}

ChildFacts RunAndWait(ChildCommand& command, DWORD creationFlags, DWORD timeoutMs) {
  return RunAndWait(command.program, command.line, creationFlags, timeoutMs);
}

bool StartWithoutWaiting(const char* program, char* commandLine) {
  PROCESS_INFORMATION process;
  if (!Start(program, commandLine, 0, process)) return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}
