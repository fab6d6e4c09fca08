// kernel32 child processes: CreateProcessA with the platform's search for the
// program, waits, and the process list; control functions for tests.
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

struct ChildProcess {
  DWORD pid = 0;
  size_t runIndex = 0;
  ChildOutcome outcome;
};

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsProgramFile(const std::string& path) {
  FsNode* node = FindNode(path);
  return node && !node->IsDirectory();
}

// One candidate program name: ".exe" is added when the name has no extension;
// a bare name is looked for in the program's folder, the current directory,
// the system and Windows directories and the PATH, in that order.
std::string LocateProgram(std::string name) {
  if (name.empty()) return "";
  std::string base = BaseName(name);
  if (base.find('.') == std::string::npos) name += ".exe";
  if (name.find_first_of("\\/") != std::string::npos || (name.size() > 1 && name[1] == ':'))
    return IsProgramFile(name) ? FullPath(name) : "";
  const SystemState& s = M().system;
  std::vector<std::string> folders;
  std::string self = s.commandLine;
  if (!self.empty() && self[0] == '"') self = self.substr(1, self.find('"', 1) - 1);
  size_t slash = self.find_last_of('\\');
  if (slash != std::string::npos) folders.push_back(self.substr(0, slash));
  folders.push_back(s.currentDirectory);
  folders.push_back(s.systemDirectory);
  folders.push_back(s.windowsDirectory);
  auto path = s.environment.find("PATH");
  if (path != s.environment.end()) {
    std::string rest = path->second;
    size_t start = 0;
    while (start <= rest.size()) {
      size_t end = rest.find(';', start);
      if (end == std::string::npos) end = rest.size();
      if (end > start) folders.push_back(rest.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const std::string& folder : folders)
    if (IsProgramFile(folder + "\\" + name)) return FullPath(folder + "\\" + name);
  return "";
}

// The platform's rule for an unquoted first token: ever longer blank-separated
// prefixes of the command line are tried until one names a program.
std::string ResolveCommandLine(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    size_t end = commandLine.find('"', 1);
    return LocateProgram(commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1));
  }
  size_t pos = 0;
  while (true) {
    size_t blank = commandLine.find_first_of(" \t", pos);
    std::string candidate = commandLine.substr(0, blank);
    std::string found = LocateProgram(candidate);
    if (!found.empty()) return found;
    if (blank == std::string::npos) return "";
    pos = blank + 1;
  }
}

}  // namespace

void SetProgramBehaviour(const std::string& baseName, ProgramBehaviour behaviour) {
  M().processes.behaviours[baseName] = std::move(behaviour);
}

DWORD AddProcess(const std::string& imageName, const std::string& owner) {
  SimProcess p;
  p.pid = M().processes.nextPid;
  M().processes.nextPid += 4;
  p.imageName = imageName;
  p.owner = owner;
  M().processes.processes.push_back(p);
  return p.pid;
}

SimProcess* FindProcess(DWORD pid) {
  for (SimProcess& p : M().processes.processes)
    if (p.pid == pid) return &p;
  return nullptr;
}

std::vector<std::string> RunningImageNames() {
  std::vector<std::string> names;
  for (const SimProcess& p : M().processes.processes)
    if (p.running) names.push_back(p.imageName);
  return names;
}

}  // namespace winsim

using namespace winsim;

// Trace: "run: <command line>" for a started child, "run-failed: <command line>"
// for one whose program was not found.
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL inheritHandles, DWORD creationFlags, LPVOID,
                    LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation) {
  if (!startupInfo || !processInformation) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ChildRun run;
  run.commandLine = commandLine ? commandLine : "";
  run.applicationName = applicationName ? applicationName : "(null)";
  run.creationFlags = creationFlags;
  run.inheritHandles = inheritHandles != FALSE;
  run.currentDirectory = currentDirectory ? FullPath(currentDirectory) : M().system.currentDirectory;
  run.program = applicationName ? (IsProgramFile(applicationName) ? FullPath(applicationName) : "")
                                : ResolveCommandLine(run.commandLine);
  run.started = !run.program.empty();
  M().processes.runs.push_back(run);
  if (!run.started) {
    Trace("run-failed: " + run.commandLine);
    return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  }
  Trace("run: " + run.commandLine);
  auto child = std::make_shared<ChildProcess>();
  child->runIndex = M().processes.runs.size() - 1;
  child->pid = AddProcess(BaseName(run.program));
  auto behaviour = M().processes.behaviours.find(BaseName(run.program));
  if (behaviour != M().processes.behaviours.end()) child->outcome = behaviour->second(run);
  processInformation->hProcess = AllocHandle(HandleKind::Process, child);
  processInformation->hThread = AllocHandle(HandleKind::Thread, child);
  processInformation->dwProcessId = child->pid;
  processInformation->dwThreadId = child->pid + 1;
  // A child that ends at once leaves the process list when it is waited for.
  return TRUE;
}

// A child that keeps running outlives a finite wait (WAIT_TIMEOUT) and stays in
// the process list; every other child ends within the wait.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Process);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  auto child = std::static_pointer_cast<ChildProcess>(entry->object);
  ChildRun& run = M().processes.runs[child->runIndex];
  run.waited = true;
  run.timeoutMs = milliseconds;
  SimProcess* process = FindProcess(child->pid);
  if (!process || !process->running) return WAIT_OBJECT_0;
  if (child->outcome.keepsRunning && milliseconds != INFINITE) {
    Trace("wait-timeout: " + run.commandLine);
    return WAIT_TIMEOUT;
  }
  process->running = false;
  process->exitCode = child->outcome.exitCode;
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Process);
  if (!entry || !exitCode) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto child = std::static_pointer_cast<ChildProcess>(entry->object);
  SimProcess* process = FindProcess(child->pid);
  *exitCode = process ? process->exitCode : 0;
  return TRUE;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }
DWORD GetCurrentProcessId() { return 4; }
