// kernel32 DLL search and the exports that programs look up at run time
// (GetProcAddress in system.cpp asks here for any it does not know itself).
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

template <typename Function>
FARPROC Entry(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

bool Is(HMODULE module, const char* moduleName) { return module && module == GetModuleHandleA(moduleName); }

BOOL WINAPI SimSetDefaultDllDirectories(DWORD flags) {
  // Only the documented search flags are accepted.
  const DWORD known = 0x00000100 | 0x00000200 | 0x00000400 | 0x00000800 | 0x00001000;
  if (flags == 0 || (flags & ~known)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  M().loader.defaultDllDirectories = flags;
  Trace("dll-directories: " + std::to_string(flags));
  return TRUE;
}

BOOL WINAPI SimSetDllDirectoryA(LPCSTR path) {
  M().loader.dllDirectories.push_back(path ? path : "(null)");
  return TRUE;
}

}  // namespace

bool ModuleLoadable(const std::string& name) {
  M().loader.loads.push_back(name);
  Trace("load-library: " + name);
  size_t slash = name.find_last_of("\\/");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.find('.') == std::string::npos) base += ".dll";
  return M().loader.missingModules.count(base) == 0;
}

FARPROC FindRuntimeExport(HMODULE module, const char* name) {
  if (!name || M().loader.missingExports.count(name)) return nullptr;
  std::string export_ = name;
  if (Is(module, "kernel32.dll")) {
    if (export_ == "SetDefaultDllDirectories") return Entry(&SimSetDefaultDllDirectories);
    if (export_ == "SetDllDirectoryA") return Entry(&SimSetDllDirectoryA);
    return FindFileHandleExport(export_);
  }
  if (Is(module, "bcrypt.dll")) return FindCngExport(export_);
  if (Is(module, "comctl32.dll") && export_ == "InitCommonControls") return Entry(&InitCommonControls);
  return nullptr;
}

}  // namespace winsim
