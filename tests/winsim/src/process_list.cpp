// kernel32 and psapi over the process list M().processes.processes: opening,
// terminating, listing processes and reading their module names.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

struct OpenedProcess {
  DWORD pid = 0;
  DWORD access = 0;
};

// Every process has three modules: its executable first, then two system
// libraries; module handles are their load addresses.
const uintptr_t kImageBase = 0x00400000;
const char* const kSystemModules[] = {"ntdll.dll", "KERNEL32.DLL"};
const uintptr_t kSystemModuleBases[] = {0x77000000, 0x76000000};
const DWORD kModuleCount = 3;

HMODULE ModuleHandle(uintptr_t base) { return reinterpret_cast<HMODULE>(base); }

// The process behind an opened handle, checked for the rights a call needs.
// ERROR_INVALID_HANDLE for a wrong handle, ERROR_ACCESS_DENIED for missing rights.
// A child's handle from CreateProcessA carries every right.
SimProcess* ProcessOf(HANDLE handle, DWORD rightsNeeded, DWORD* error) {
  DWORD pid = 0;
  if (HandleEntry* child = LookupHandle(handle, HandleKind::Process)) {
    pid = std::static_pointer_cast<ProcessObject>(child->object)->pid;
  } else if (HandleEntry* entry = LookupHandle(handle, HandleKind::OpenedProcess)) {
    auto opened = std::static_pointer_cast<OpenedProcess>(entry->object);
    if ((opened->access & rightsNeeded) != rightsNeeded) {
      *error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    pid = opened->pid;
  } else {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  SimProcess* process = FindProcess(pid);
  if (!process) *error = ERROR_INVALID_HANDLE;
  return process;
}

}  // namespace
}  // namespace winsim

using namespace winsim;

// A process that is not running (or never was) gives ERROR_INVALID_PARAMETER,
// as on Windows; a protected one, or one of another user without the debug
// privilege in force, ERROR_ACCESS_DENIED.
HANDLE OpenProcess(DWORD access, BOOL, DWORD processId) {
  SimProcess* process = processId == 0 ? nullptr : FindProcess(processId);
  if (!process || !process->running) return Fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
  if (process->isProtected) return Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
  bool foreign = !EqualsNoCase(process->owner, M().tokens.user) || process->needsDebugPrivilege;
  if (foreign && !EffectivePrivilegeEnabled("SeDebugPrivilege"))
    return Fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
  auto opened = std::make_shared<OpenedProcess>();
  opened->pid = processId;
  opened->access = access;
  return AllocHandle(HandleKind::OpenedProcess, opened);
}

// Needs PROCESS_TERMINATE. The process ends at once with the exit code given;
// one that has already ended, or that refuses, gives ERROR_ACCESS_DENIED.
// Trace: "terminate: <image name>".
BOOL TerminateProcess(HANDLE handle, UINT exitCode) {
  DWORD error = 0;
  SimProcess* process = ProcessOf(handle, PROCESS_TERMINATE, &error);
  if (!process) return Fail(error, FALSE);
  if (!process->running || process->refuseTerminate) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (DWORD fault = MachineChange("TerminateProcess", process->imageName, ERROR_ACCESS_DENIED))
    return Fail(fault, FALSE);
  process->running = false;
  process->exitCode = exitCode;
  Trace("terminate: " + process->imageName);
  return TRUE;
}

// The running processes in list order, as many as fit; the byte count says how
// many were delivered (a full buffer may mean there are more).
BOOL EnumProcesses(DWORD* processIds, DWORD byteCount, LPDWORD bytesReturned) {
  if (!processIds || !bytesReturned) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  DWORD capacity = byteCount / sizeof(DWORD);
  DWORD delivered = 0;
  for (const SimProcess& p : M().processes.processes) {
    if (!p.running) continue;
    if (delivered == capacity) break;
    processIds[delivered++] = p.pid;
  }
  *bytesReturned = delivered * static_cast<DWORD>(sizeof(DWORD));
  if (M().processes.afterEnumProcesses) M().processes.afterEnumProcesses();
  return TRUE;
}

// Needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ. Fills as many module
// handles as fit, executable first, and reports the bytes the whole list needs.
// A process that has ended has no module list left: ERROR_PARTIAL_COPY.
BOOL EnumProcessModules(HANDLE handle, HMODULE* modules, DWORD byteCount, LPDWORD bytesNeeded) {
  DWORD error = 0;
  SimProcess* process = ProcessOf(handle, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, &error);
  if (!process) return Fail(error, FALSE);
  if (!bytesNeeded) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!process->running) return Fail(ERROR_PARTIAL_COPY, FALSE);
  const uintptr_t bases[kModuleCount] = {kImageBase, kSystemModuleBases[0], kSystemModuleBases[1]};
  DWORD fit = std::min<DWORD>(byteCount / static_cast<DWORD>(sizeof(HMODULE)), kModuleCount);
  if (fit > 0 && !modules) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  for (DWORD i = 0; i < fit; ++i) modules[i] = ModuleHandle(bases[i]);
  *bytesNeeded = kModuleCount * static_cast<DWORD>(sizeof(HMODULE));
  return TRUE;
}

// Needs PROCESS_QUERY_INFORMATION and PROCESS_VM_READ; a null module means the
// executable. Copies at most size characters: a name that does not fit is cut
// to size characters without a terminator and size is returned.
DWORD GetModuleBaseNameA(HANDLE handle, HMODULE module, LPSTR name, DWORD size) {
  DWORD error = 0;
  SimProcess* process = ProcessOf(handle, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, &error);
  if (!process) return Fail(error, 0u);
  if (!process->running) return Fail(ERROR_PARTIAL_COPY, 0u);
  std::string baseName;
  if (!module || module == ModuleHandle(kImageBase)) {
    baseName = process->imageName;
  } else {
    for (size_t i = 0; i < 2; ++i)
      if (module == ModuleHandle(kSystemModuleBases[i])) baseName = kSystemModules[i];
    if (baseName.empty()) return Fail(ERROR_INVALID_HANDLE, 0u);
  }
  if (!name || size == 0) return Fail(ERROR_INSUFFICIENT_BUFFER, 0u);
  DWORD length = std::min<DWORD>(static_cast<DWORD>(baseName.size()), size);
  std::memcpy(name, baseName.data(), length);
  if (length < size) name[length] = '\0';
  return length;
}

// A snapshot lists every running process by its executable's name, without
// opening any: protected processes and those of other users included.
namespace {

struct ProcessSnapshot {
  std::vector<std::pair<DWORD, std::string>> processes;
  size_t next = 0;
};

BOOL NextEntry(HANDLE snapshot, LPPROCESSENTRY32 entry, bool first) {
  HandleEntry* handle = LookupHandle(snapshot, HandleKind::Snapshot);
  if (!handle) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!entry || entry->dwSize != sizeof(PROCESSENTRY32)) return Fail(ERROR_BAD_LENGTH, FALSE);
  auto list = std::static_pointer_cast<ProcessSnapshot>(handle->object);
  if (first) list->next = 0;
  if (list->next >= list->processes.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  const auto& process = list->processes[list->next++];
  DWORD size = entry->dwSize;
  std::memset(entry, 0, sizeof *entry);
  entry->dwSize = size;
  entry->th32ProcessID = process.first;
  entry->cntThreads = 1;
  std::snprintf(entry->szExeFile, sizeof entry->szExeFile, "%s", process.second.c_str());
  return TRUE;
}

}  // namespace

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD) {
  if (!(flags & TH32CS_SNAPPROCESS)) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  auto list = std::make_shared<ProcessSnapshot>();
  for (const SimProcess& process : M().processes.processes)
    if (process.running) list->processes.emplace_back(process.pid, process.imageName);
  return AllocHandle(HandleKind::Snapshot, list);
}

BOOL Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry) { return NextEntry(snapshot, entry, true); }
BOOL Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry) { return NextEntry(snapshot, entry, false); }
