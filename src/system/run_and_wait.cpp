// Running an external command and waiting for it.
#include <cstring>

#include "system/system.h"

RunResult RunAndWait(char* commandLine, DWORD creationFlags, DWORD timeoutMs) {
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  std::memset(&startup, 0, sizeof startup);
  std::memset(&process, 0, sizeof process);
  startup.cb = sizeof startup;
  if (!commandLine || !commandLine[0]) return RunResult::NotStarted;
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr,
                      nullptr, &startup, &process))
    return RunResult::NotStarted;
  DWORD wait = WaitForSingleObject(process.hProcess, timeoutMs);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return wait == WAIT_TIMEOUT ? RunResult::TimedOut : RunResult::Finished;
}
