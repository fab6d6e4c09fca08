// Running an external command and waiting for it. What became of the child is
// read only for the records; the run goes on the same way whatever it was.
#include <cstring>

#include "system/system.h"

ChildFacts RunAndWait(char* commandLine, DWORD creationFlags, DWORD timeoutMs) {
  ChildFacts facts;
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  std::memset(&startup, 0, sizeof startup);
  std::memset(&process, 0, sizeof process);
  startup.cb = sizeof startup;
  if (!commandLine || !commandLine[0]) {
    facts.startError = ERROR_INVALID_PARAMETER;
    return facts;
  }
  DWORD started = GetTickCount();
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr,
                      nullptr, &startup, &process)) {
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
