// DLL search and the DLLs loaded at run time.
#include "system/system_library.h"

#include "system/system_facts.h"
#include "system/text.h"

// Not in every SDK's headers.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesProc)(DWORD directoryFlags);
  SetDefaultDllDirectoriesProc setDefault =
      FindExport<SetDefaultDllDirectoriesProc>(kernel, "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  // Windows before the call (Vista, and 7 without its update).
  typedef BOOL(WINAPI * SetDllDirectoryProc)(LPCSTR path);
  SetDllDirectoryProc setDirectory = FindExport<SetDllDirectoryProc>(kernel, "SetDllDirectoryA");
  if (setDirectory) setDirectory("");
}

HMODULE LoadSystemLibrary(const char* fileName) {
  char systemDirectory[MAX_PATH];
  char path[MAX_PATH];
  if (!fileName || !QuerySystemDirectory(systemDirectory)) return nullptr;
  if (!BuildText(path, systemDirectory, "\\", fileName)) return nullptr;
  return LoadLibraryA(path);
}
