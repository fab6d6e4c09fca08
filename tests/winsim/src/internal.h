// Shared plumbing of the simulated Windows: the handle table and path helpers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/machine.h"

namespace winsim {

// Process: a child's handle from CreateProcessA; OpenedProcess: a handle from
// OpenProcess (no SYNCHRONIZE right, so it cannot be waited on).
enum class HandleKind {
  Process, Thread, Search, File, Token, Inf, Service, ServiceManager, OpenedProcess, Snapshot, EventSource, Mutex, Console
};

struct HandleEntry {
  HandleKind kind;
  std::shared_ptr<void> object;
};

// Handles are small non-null, non-pseudo values; each kind's object is what
// its area stores (a search's remaining names, a token's owner, ...).
HANDLE AllocHandle(HandleKind kind, std::shared_ptr<void> object);
HandleEntry* LookupHandle(HANDLE handle, HandleKind kind);
HandleEntry* LookupAnyHandle(HANDLE handle);
bool ReleaseHandle(HANDLE handle);
void ResetHandles();
// Forgets every open registry handle (registry.cpp).
void ResetRegistryHandles();

// True when the privilege is enabled in the thread's effective token: its
// impersonation token while it impersonates, else the process token (security.cpp).
bool EffectivePrivilegeEnabled(const std::string& name);

// The object behind the process and thread handles of a child that this
// program started (HandleKind::Process; OpenProcess handles are
// HandleKind::OpenedProcess): its process, what its test behaviour decided
// and, for CreateProcessA, the index of its record in ProcessState::runs.
struct ProcessObject {
  DWORD pid = 0;
  bool hasRun = false;
  size_t runIndex = 0;
  std::string commandLine;
  ChildOutcome outcome;
};

// The run-time exports of loader.cpp that GetProcAddress hands out for module
// (null when none), and whether LoadLibraryA may load the module of that name.
FARPROC FindRuntimeExport(HMODULE module, const char* name);
bool ModuleLoadable(const std::string& name);
// The exports of file_handles.cpp (kernel32) and crypto.cpp (bcrypt.dll).
FARPROC FindFileHandleExport(const std::string& name);
FARPROC FindCngExport(const std::string& name);

// The full path a file handle of CreateFileA was opened with; "" for any other handle (files.cpp).
std::string OpenFilePath(HANDLE handle);
// Security (file_security.cpp): a node's effective security, the one a
// creation descriptor gives a new node, and Windows' own for its folder.
SimSecurity EffectiveSecurity(const std::string& path);
void ApplyCreationSecurity(FsNode& node, const void* descriptor);
void SetWindowsFolderSecurity(const std::string& windowsDirectory);

// The code point of one Windows-1252 byte, and the byte of a code point (-1
// when 1252 has none; with bestFit, Windows' best-fit table is tried too).
unsigned WideOfAnsiByte(unsigned char byte);
int AnsiByteOfCodePoint(unsigned codePoint, bool bestFit);
unsigned UpperCodePoint(unsigned codePoint);

// Sets the thread's last error and returns the value given (for one-line failures).
template <typename T>
T Fail(DWORD error, T result) {
  M().system.lastError = error;
  return result;
}

// The components of a path between any of the separator characters; empty
// components are dropped.
std::vector<std::string> SplitOn(const std::string& path, const char* separators);
// Splits "C:\\a\\b\\" into {"C:", "a", "b"}; empty components are dropped.
std::vector<std::string> SplitPath(const std::string& path);
// "C:\\a\\..\\b" style paths made absolute against the current directory.
std::string FullPath(const std::string& path);

// The System Restore and COM exports that programs look up at run time, or
// null (administration.cpp).
FARPROC AdministrationExport(bool restoreClient, bool ole32, const char* name);
// GetTokenInformation(TokenElevation) of the process token (administration.cpp).
BOOL TokenElevationInformation(LPVOID information, DWORD length, PDWORD needed);

}  // namespace winsim
