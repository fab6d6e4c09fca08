// kernel32 child processes: CreateProcessA with the platform's search for the
// program, waits, and the process list; control functions for tests.
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsProgramFile(const std::string& path) {
  FsNode* node = FindNode(FullPath(path));
  return node && !node->IsDirectory();
}

// The folders of the PATH variable, in order; empty entries are skipped.
std::vector<std::string> PathFolders() {
  std::vector<std::string> folders;
  const auto& environment = M().system.environment;
  auto path = environment.find("PATH");
  if (path == environment.end()) return folders;
  const std::string& rest = path->second;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(';', start);
    if (end == std::string::npos) end = rest.size();
    if (end > start) folders.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

bool HasDirectoryPart(const std::string& name) {
  return name.find_first_of("\\/") != std::string::npos || (name.size() > 1 && name[1] == ':');
}

// The folders searched for a program named without a directory, in order:
// the program's own folder, the current directory, the system directory, the
// 16-bit system directory ("System"), the Windows directory, then PATH.
std::vector<std::string> ProgramSearchFolders() {
  const SystemState& s = M().system;
  std::vector<std::string> folders;
  std::string self = s.commandLine;
  if (!self.empty() && self[0] == '"') {
    self = self.substr(1, self.find('"', 1) - 1);
  } else {
    self = self.substr(0, self.find_first_of(" \t"));
  }
  size_t slash = self.find_last_of('\\');
  if (slash != std::string::npos) folders.push_back(self.substr(0, slash));
  folders.push_back(s.currentDirectory);
  folders.push_back(s.systemDirectory);
  folders.push_back(s.windowsDirectory + "\\System");
  folders.push_back(s.windowsDirectory);
  for (const std::string& folder : PathFolders()) folders.push_back(folder);
  return folders;
}

// One candidate program name as CreateProcessA takes it: ".exe" is appended
// when the file name has no extension (also after a directory path, as the
// documented "c:\program files\sub dir\program name" example shows); a
// name ending in a period gets no extension. A name without a directory is
// looked for in the program search folders.
std::string LocateProgram(std::string name) {
  if (name.empty()) return "";
  std::string base = BaseName(name);
  if (!base.empty() && base.back() == '.') {
    while (!name.empty() && name.back() == '.') name.pop_back();
  } else if (base.find('.') == std::string::npos) {
    name += ".exe";
  }
  if (BaseName(name).empty()) return "";
  if (HasDirectoryPart(name)) return IsProgramFile(name) ? FullPath(name) : "";
  for (const std::string& folder : ProgramSearchFolders())
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

// The runtime's spawn: the name as given (against the current directory),
// then, for a name without a directory part, each PATH folder in order. A name
// without an extension is tried with .com, .exe, .bat and .cmd; one ending in
// a period is tried without extension.
std::string LocateSpawnedProgram(const std::string& name) {
  std::vector<std::string> names;
  std::string base = BaseName(name);
  if (!base.empty() && base.back() == '.') {
    names.push_back(name.substr(0, name.size() - 1));
  } else if (base.find('.') == std::string::npos) {
    for (const char* extension : {".com", ".exe", ".bat", ".cmd"}) names.push_back(name + extension);
  } else {
    names.push_back(name);
  }
  std::vector<std::string> folders = {""};
  if (!HasDirectoryPart(name))
    for (const std::string& folder : PathFolders()) folders.push_back(folder);
  for (const std::string& folder : folders)
    for (const std::string& candidate : names) {
      std::string path = folder.empty() ? candidate : folder + "\\" + candidate;
      if (IsProgramFile(path)) return FullPath(path);
    }
  return "";
}

// Starts the process of a found program: it joins the process list, running.
std::shared_ptr<ProcessObject> StartChild(ChildRun& run) {
  auto child = std::make_shared<ProcessObject>();
  child->commandLine = run.commandLine;
  child->pid = AddProcess(BaseName(run.program));
  run.pid = child->pid;
  return child;
}

// The child's test behaviour (if any) acts now, on a copy of its record: it
// may start further children itself.
void RunBehaviour(ProcessObject& child, const ChildRun& run) {
  auto behaviour = M().processes.behaviours.find(BaseName(run.program));
  if (behaviour == M().processes.behaviours.end()) return;
  // What the child does is its own process's work: the program's calls are
  // counted, the child's are not (it would finish them were the program ended).
  ++M().faults.inChild;
  try {
    child.outcome = behaviour->second(run);
  } catch (...) {
    --M().faults.inChild;
    throw;
  }
  --M().faults.inChild;
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
  if (!startupInfo || !processInformation || (!applicationName && !commandLine))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ChildRun run;
  run.commandLine = commandLine ? commandLine : applicationName;
  run.applicationName = applicationName ? applicationName : "(null)";
  run.creationFlags = creationFlags;
  run.inheritHandles = inheritHandles != FALSE;
  run.currentDirectory = currentDirectory ? FullPath(currentDirectory) : M().system.currentDirectory;
  // An application name is taken as it is: no search, no default extension.
  run.program = applicationName ? (IsProgramFile(applicationName) ? FullPath(applicationName) : "")
                                : ResolveCommandLine(run.commandLine);
  run.started = !run.program.empty();
  if (!run.started) {
    M().processes.runs.push_back(run);
    Trace("run-failed: " + run.commandLine);
    return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  }
  if (DWORD fault = MachineChange("CreateProcess", run.program, ERROR_ACCESS_DENIED)) {
    run.started = false;
    M().processes.runs.push_back(run);
    Trace("run-failed: " + run.commandLine);
    return Fail(fault, FALSE);
  }
  Trace("run: " + run.commandLine);
  std::shared_ptr<ProcessObject> child = StartChild(run);
  M().processes.runs.push_back(run);
  child->hasRun = true;
  child->runIndex = M().processes.runs.size() - 1;
  RunBehaviour(*child, run);
  processInformation->hProcess = AllocHandle(HandleKind::Process, child);
  processInformation->hThread = AllocHandle(HandleKind::Thread, child);
  processInformation->dwProcessId = child->pid;
  processInformation->dwThreadId = child->pid + 1;
  return TRUE;
}

// A child ends within the wait (it leaves the running processes) unless its
// behaviour keeps it running: then a finite wait times out and it stays in the
// list as running; an INFINITE wait sees it end.
// Trace: "wait-timeout: <command line>".
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Process);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  auto object = std::static_pointer_cast<ProcessObject>(entry->object);
  if (object->hasRun) {
    ChildRun& run = M().processes.runs[object->runIndex];
    run.waited = true;
    run.timeoutMs = milliseconds;
  }
  SimProcess* process = FindProcess(object->pid);
  if (!process || !process->running) return WAIT_OBJECT_0;
  if (object->outcome.keepsRunning && milliseconds != INFINITE) {
    Trace("wait-timeout: " + object->commandLine);
    return WAIT_TIMEOUT;
  }
  process->running = false;
  process->exitCode = object->outcome.exitCode;
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Process);
  if (!entry || !exitCode) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto object = std::static_pointer_cast<ProcessObject>(entry->object);
  SimProcess* process = FindProcess(object->pid);
  *exitCode = process ? process->exitCode : 0;
  return TRUE;
}

// The runtime's spawn with path search (see LocateSpawnedProgram). _P_NOWAIT
// returns the child's process handle and leaves it running; _P_WAIT waits for
// it and returns its exit code. -1 with errno ENOENT when no file is found,
// EINVAL for a missing name or first argument or another mode.
// Trace: "spawn: <resolved path>" or "spawn-failed: <name as given>".
intptr_t _spawnlp(int mode, const char* file, const char* arg0, ...) {
  if (!file || !*file || !arg0 || !*arg0 || (mode != _P_WAIT && mode != _P_NOWAIT)) {
    errno = EINVAL;
    return -1;
  }
  ChildRun run;
  run.commandLine = arg0;
  va_list arguments;
  va_start(arguments, arg0);
  for (const char* argument = va_arg(arguments, const char*); argument;
       argument = va_arg(arguments, const char*))
    run.commandLine += std::string(" ") + argument;
  va_end(arguments);
  run.program = LocateSpawnedProgram(file);
  run.applicationName = run.program;
  run.currentDirectory = M().system.currentDirectory;
  run.started = !run.program.empty();
  M().processes.spawns.push_back(run.started ? run.program : file);
  if (!run.started) {
    Trace(std::string("spawn-failed: ") + file);
    errno = ENOENT;
    return -1;
  }
  Trace("spawn: " + run.program);
  std::shared_ptr<ProcessObject> child = StartChild(run);
  RunBehaviour(*child, run);
  if (mode == _P_WAIT) {
    if (SimProcess* process = FindProcess(child->pid)) {
      process->running = false;
      process->exitCode = child->outcome.exitCode;
    }
    return static_cast<intptr_t>(child->outcome.exitCode);
  }
  return reinterpret_cast<intptr_t>(AllocHandle(HandleKind::Process, child));
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
HANDLE GetCurrentThread() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }
DWORD GetCurrentProcessId() { return 4; }
