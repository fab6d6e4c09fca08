// System utilities shared by the clean-up steps: running external commands,
// terminating processes by name, adjusting token privileges.
#pragma once

#include <windows.h>

// What became of a run, for the records: the clean-up never acts on it.
enum class RunResult { Finished, TimedOut, NotStarted };

struct ChildFacts {
  RunResult result = RunResult::NotStarted;
  DWORD startError = 0;    // NotStarted: the Win32 error of the start
  DWORD exitCode = 0;      // Finished: the child's exit code
  DWORD milliseconds = 0;  // from just before the start to the end of the wait
};

// Runs commandLine (a writable buffer the caller owns; the platform resolves
// the unquoted program path) with no inherited handles, the given creation
// flags (0 or CREATE_NO_WINDOW), and waits up to timeoutMs (or INFINITE).
// A child that outlives the wait is left running.
ChildFacts RunAndWait(char* commandLine, DWORD creationFlags, DWORD timeoutMs);

// Enables or disables one named privilege in an open token (opened with
// TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY). Failures are printed to standard output.
bool SetPrivilege(HANDLE token, const char* privilegeName, bool enable);

// Enables SeDebugPrivilege in the thread's token, impersonating the process
// first when the thread has no token of its own.
bool EnableDebugPrivilege();

// Identifiers of the processes that open with query and read rights, in the
// platform's order; with no array, only counts. 0 when the privilege step fails.
DWORD ListAccessibleProcesses(DWORD* processIds, DWORD capacity);

// Copies the base name of the process's executable; -1 when it cannot be read,
// else the characters copied plus one. Without a buffer it only measures.
int GetProcessBaseName(DWORD processId, char* buffer, DWORD size);

// Terminates the first process whose executable base name equals name (ASCII
// case-insensitive). True when none runs or the first one found was terminated.
bool TerminateProcessByName(const char* name);
