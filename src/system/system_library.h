// Where the program's DLLs come from. Every DLL it imports is one that
// Windows maps from System32 for every process (a "known DLL"); anything
// loaded later, by the program or by Windows on its behalf, is looked for in
// System32 only, never beside the program or in the working directory, where
// a standard user may have put a file of that name.
#pragma once

#include <windows.h>

// Limits the DLL search of the whole process to System32
// (SetDefaultDllDirectories) where Windows has it; elsewhere at least takes
// the working directory out of it (SetDllDirectoryA with an empty text).
// Called first thing in WinMain, before any DLL is loaded at run time.
void RestrictDllSearch();

// Loads fileName (a bare name such as "comctl32.dll") from the system
// directory, by full path; null when it is not there or cannot be loaded.
// The module stays loaded for the life of the process.
HMODULE LoadSystemLibrary(const char* fileName);

// The export name of module as a function of type Function, or null. The
// caller names the true type: the cast goes through a plain function pointer.
template <typename Function>
Function FindExport(HMODULE module, const char* name) {
  if (!module) return nullptr;
  FARPROC entry = GetProcAddress(module, name);
  return entry ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry)) : nullptr;
}
