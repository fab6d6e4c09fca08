// Stands in for the library's background processes in the end-to-end tests,
// and lists the processes running in the prefix:
//
//   background.exe           (copied as VlxGigeService.exe, pyxMon.exe, ...)
//                            waits up to five minutes, then ends by itself
//   background.exe running   prints the base name of every process whose
//                            executable it can read, one per line
//   background.exe hold PATH MARK
//                            holds PATH open without delete sharing, writes
//                            the file MARK once it does, and waits as above
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>

namespace {

void PrintRunningProcesses() {
  DWORD ids[4096];
  DWORD bytes = 0;
  if (!EnumProcesses(ids, sizeof ids, &bytes)) return;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
    if (!process) continue;
    HMODULE module = nullptr;
    DWORD needed = 0;
    char name[MAX_PATH];
    if (EnumProcessModules(process, &module, sizeof module, &needed)) {
      DWORD length = GetModuleBaseNameA(process, module, name, sizeof name);
      if (length > 0 && length < sizeof name) std::printf("%s\n", name);
    }
    CloseHandle(process);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && !std::strcmp(argv[1], "running")) {
    PrintRunningProcesses();
    return 0;
  }
  if (argc == 4 && !std::strcmp(argv[1], "hold")) {
    HANDLE held = CreateFileA(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 2;
    HANDLE mark = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  }
  Sleep(300000);
  return 3;
}
