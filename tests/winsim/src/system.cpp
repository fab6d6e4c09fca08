// kernel32 system facts, errors, environment, Sleep and modules; shell32's IsUserAnAdmin.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "internal.h"

using winsim::M;

DWORD GetLastError() { return M().system.lastError; }
void SetLastError(DWORD error) { M().system.lastError = error; }

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA))
    return winsim::Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  const auto& s = M().system;
  info->dwMajorVersion = s.majorVersion;
  info->dwMinorVersion = s.minorVersion;
  info->dwBuildNumber = s.buildNumber;
  info->dwPlatformId = s.platformId;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  return TRUE;
}

void GetSystemInfo(LPSYSTEM_INFO info) {
  std::memset(info, 0, sizeof(*info));
  info->wProcessorArchitecture = M().system.processorArchitecture;
  info->dwPageSize = 4096;
  info->dwNumberOfProcessors = 2;
  info->dwAllocationGranularity = 65536;
}

void GetNativeSystemInfo(LPSYSTEM_INFO info) { GetSystemInfo(info); }

// The shared contract of GetWindowsDirectoryA and friends: the length without
// the terminator when the text fits, else the size needed with the terminator.
static UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
  if (text.size() + 1 > size) return static_cast<UINT>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<UINT>(text.size());
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return CopyOut(M().system.windowsDirectory, buffer, size);
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return CopyOut(M().system.systemDirectory, buffer, size);
}

UINT GetSystemWow64DirectoryA(LPSTR buffer, UINT size) {
  return CopyOut(M().system.windowsDirectory + "\\SysWOW64", buffer, size);
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  return CopyOut(M().system.currentDirectory, buffer, size);
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
  std::string full = winsim::FullPath(path ? path : "");
  winsim::FsNode* node = winsim::FindNode(full);
  if (!node || !node->IsDirectory()) return winsim::Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (full.size() > 3 && full.back() == '\\') full.pop_back();
  M().system.currentDirectory = full;
  return TRUE;
}

void GetLocalTime(LPSYSTEMTIME time) { *time = M().system.localTime; }

LPSTR GetCommandLineA() { return M().system.commandLine.data(); }

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  auto& env = M().system.environment;
  auto it = env.find(name ? name : "");
  if (it == env.end()) return winsim::Fail(203u /* ERROR_ENVVAR_NOT_FOUND */, 0u);
  return CopyOut(it->second, buffer, size);
}

BOOL SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (!name || !*name) return winsim::Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (value)
    M().system.environment[name] = value;
  else
    M().system.environment.erase(name);
  return TRUE;
}

// %NAME% references replaced by the environment's values (names compared
// without regard to case); an unknown name or a lone '%' stays as written.
// The size needed, terminator included; the text is written only when it fits.
namespace {

std::string ExpandedText(const std::string& text) {
  const auto& env = M().system.environment;
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
    if (close == std::string::npos) {
      out += text[i++];
      continue;
    }
    auto it = env.find(text.substr(i + 1, close - i - 1));
    if (close > i + 1 && it != env.end()) {
      out += it->second;
      i = close + 1;
    } else {
      out += text.substr(i, close - i);  // the closing '%' may open the next name
      i = close;
    }
  }
  return out;
}

}  // namespace

DWORD ExpandEnvironmentStringsA(LPCSTR source, LPSTR destination, DWORD size) {
  if (!source) return winsim::Fail(ERROR_INVALID_PARAMETER, 0u);
  std::string out = ExpandedText(source);
  DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (destination && needed <= size) std::memcpy(destination, out.c_str(), needed);
  return needed;
}

// The same in UTF-16: sizes count characters.
DWORD ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
  if (!source) return winsim::Fail(ERROR_INVALID_PARAMETER, 0u);
  std::u16string out = winsim::WideFromUtf8(ExpandedText(winsim::Utf8FromWide(std::u16string(source))));
  DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (destination && needed <= size) std::copy(out.c_str(), out.c_str() + needed, destination);
  return needed;
}

// Nothing sleeps in the simulation: the pause is recorded.
void Sleep(DWORD milliseconds) {
  M().system.sleeps.push_back(milliseconds);
  winsim::Trace("sleep: " + std::to_string(milliseconds));
}

DWORD GetTickCount() {
  DWORD total = 0;
  for (DWORD s : M().system.sleeps) total += s;
  return total;
}

// ---- Modules ------------------------------------------------------------------
// The program's own module and the system DLLs whose functions the simulation
// provides, each always loaded. GetProcAddress knows the exports that programs
// look up at run time.
namespace {

const char* const kModules[] = {"kernel32.dll", "ntdll.dll", "advapi32.dll", "user32.dll", "shell32.dll",
                                "shlwapi.dll",  "comctl32.dll", "psapi.dll", "setupapi.dll",
                                "bcrypt.dll",   "ole32.dll",    "srclient.dll"};
const uintptr_t kProgramModule = 0x400000;
const uintptr_t kFirstSystemModule = 0x70000000;
const uintptr_t kModuleSpacing = 0x100000;

HMODULE ModuleHandle(uintptr_t value) { return reinterpret_cast<HMODULE>(value); }

// The module of a name as LoadLibraryA takes it: any folder is dropped, and
// ".dll" is added to a name without an extension. Null when it is not one.
HMODULE FindModule(const std::string& name) {
  size_t slash = name.find_last_of("\\/");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.find('.') == std::string::npos) base += ".dll";
  for (size_t i = 0; i < sizeof kModules / sizeof kModules[0]; ++i)
    if (winsim::EqualsNoCase(base, kModules[i])) return ModuleHandle(kFirstSystemModule + i * kModuleSpacing);
  return nullptr;
}

bool IsModule(HMODULE module, const char* name) { return module && module == FindModule(name); }

bool UninstallEntryPresent() {
  const auto& s = M().system;
  bool beforeXp = s.majorVersion < 5 || (s.majorVersion == 5 && s.minorVersion == 0);
  return !beforeXp && !M().driverStore.uninstallEntryMissing;
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR name) {
  if (!name) return ModuleHandle(kProgramModule);
  HMODULE module = FindModule(name);
  return module ? module : winsim::Fail(ERROR_MOD_NOT_FOUND, static_cast<HMODULE>(nullptr));
}

HMODULE LoadLibraryA(LPCSTR name) {
  if (!name || !*name) return winsim::Fail(ERROR_INVALID_PARAMETER, static_cast<HMODULE>(nullptr));
  if (!winsim::ModuleLoadable(name)) return winsim::Fail(ERROR_MOD_NOT_FOUND, static_cast<HMODULE>(nullptr));
  return GetModuleHandleA(name);
}

BOOL FreeLibrary(HMODULE module) {
  uintptr_t value = reinterpret_cast<uintptr_t>(module);
  bool known = value == kProgramModule ||
               (value >= kFirstSystemModule && (value - kFirstSystemModule) % kModuleSpacing == 0 &&
                (value - kFirstSystemModule) / kModuleSpacing < sizeof kModules / sizeof kModules[0]);
  return known ? TRUE : winsim::Fail(ERROR_INVALID_HANDLE, FALSE);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (!module) return winsim::Fail(ERROR_INVALID_HANDLE, static_cast<FARPROC>(nullptr));
  if (name && IsModule(module, "setupapi.dll") && std::strcmp(name, "SetupUninstallOEMInfA") == 0 &&
      UninstallEntryPresent())
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetupUninstallOEMInfA));
  // The store lookup comes with the store: where the removal call is missing, so is it.
  if (name && IsModule(module, "setupapi.dll") && std::strcmp(name, "SetupGetInfDriverStoreLocationA") == 0 &&
      UninstallEntryPresent())
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SetupGetInfDriverStoreLocationA));
  for (const char* area : {"ntdll.dll", "kernel32.dll"})
    if (IsModule(module, area))
      if (FARPROC entry = winsim::FindFileExport(area, name)) return entry;
  if (name && IsModule(module, "ntdll.dll") && std::strcmp(name, "NtDeleteKey") == 0 &&
      !M().registry.ntDeleteKeyMissing)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&NtDeleteKey));
  if (FARPROC entry = winsim::FindRuntimeExport(module, name)) return entry;
  if (FARPROC entry = winsim::AdministrationExport(IsModule(module, "srclient.dll"), IsModule(module, "ole32.dll"),
                                                   name))
    return entry;
  return winsim::Fail(ERROR_PROC_NOT_FOUND, static_cast<FARPROC>(nullptr));
}

BOOL IsUserAnAdmin() { return M().system.isAdmin ? TRUE : FALSE; }

// The C runtime's getenv reads the simulated environment for the names a
// Windows process has (TEMP, PATH, ...) and for any name a test set; other
// names (the test runner's own settings) come from the real environment.
extern "C" char* __real_getenv(const char* name);
extern "C" char* __wrap_getenv(const char* name) {
  static const std::set<std::string, winsim::NoCaseLess> owned = {
      "TEMP", "TMP", "PATH", "ComSpec", "SystemRoot", "windir", "USERPROFILE"};
  if (!name) return nullptr;
  auto& env = M().system.environment;
  auto it = env.find(name);
  if (it != env.end()) return it->second.data();
  if (owned.count(name)) return nullptr;
  return __real_getenv(name);
}

namespace winsim {
void ForgetOpenFile(HANDLE handle);
}

BOOL CloseHandle(HANDLE handle) {
  winsim::HandleEntry* entry = winsim::LookupAnyHandle(handle);
  if (!entry) return winsim::Fail(ERROR_INVALID_HANDLE, FALSE);
  if (entry->kind == winsim::HandleKind::File) winsim::ForgetOpenFile(handle);
  winsim::ReleaseHandle(handle);
  return TRUE;
}
