// Deletes one directory tree and says how long it took, in milliseconds:
//
//   tree_bench.exe product|bare|rd|calls PATH
//
// product: the product's DeleteDirectoryTree; bare: the least a Win32 tree
// delete does (FindFirstFileA/FindNextFileA, DeleteFileA, RemoveDirectoryA,
// SetFileAttributesA only on read-only files); rd: "cmd.exe /c rd /s /q",
// started and awaited from here; calls: the product again, with each Win32
// call it makes counted and timed. Prints "ms <time>", "gone <0|1>" and, for
// calls, "calls <function> <count> <failures> <ms>" lines.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_support.h"
#include "files/files.h"

namespace {

bool BareDelete(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const char* name = found.cFileName;
      if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
      std::string entry = path + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        BareDelete(entry);
      } else {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(entry.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(entry.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  return RemoveDirectoryA(path.c_str()) != FALSE;
}

void RunRd(const char* path) {
  std::string line = std::string("cmd.exe /c rd /s /q \"") + path + "\"";
  bench::RunHidden(&line[0]);
}

// The counted calls of the product's walk.
enum { kFindFirst, kFindNext, kFindClose, kSetAttributes, kDeleteFile, kRemoveDirectory, kGetAttributes, kCount };
bench::CallCount g_counts[kCount] = {{"FindFirstFileA"},     {"FindNextFileA"}, {"FindClose"},
                                     {"SetFileAttributesA"}, {"DeleteFileA"},   {"RemoveDirectoryA"},
                                     {"GetFileAttributesA"}};
decltype(&FindFirstFileA) g_findFirst;
decltype(&FindNextFileA) g_findNext;
decltype(&FindClose) g_findClose;
decltype(&SetFileAttributesA) g_setAttributes;
decltype(&DeleteFileA) g_deleteFile;
decltype(&RemoveDirectoryA) g_removeDirectory;
decltype(&GetFileAttributesA) g_getAttributes;

template <typename Result, typename Call>
Result Counted(int which, bool (*failed)(Result), Call call) {
  double start = bench::NowMs();
  Result result = call();
  g_counts[which].ms += bench::NowMs() - start;
  ++g_counts[which].calls;
  if (failed(result)) ++g_counts[which].failures;
  return result;
}

bool FailedBool(BOOL ok) { return !ok; }
bool FailedHandle(HANDLE h) { return h == INVALID_HANDLE_VALUE; }
bool FailedAttributes(DWORD a) { return a == INVALID_FILE_ATTRIBUTES; }

HANDLE WINAPI CountFindFirst(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  return Counted(kFindFirst, FailedHandle, [&] { return g_findFirst(pattern, found); });
}
BOOL WINAPI CountFindNext(HANDLE search, LPWIN32_FIND_DATAA found) {
  return Counted(kFindNext, FailedBool, [&] { return g_findNext(search, found); });
}
BOOL WINAPI CountFindClose(HANDLE search) {
  return Counted(kFindClose, FailedBool, [&] { return g_findClose(search); });
}
BOOL WINAPI CountSetAttributes(LPCSTR path, DWORD attributes) {
  return Counted(kSetAttributes, FailedBool, [&] { return g_setAttributes(path, attributes); });
}
BOOL WINAPI CountDeleteFile(LPCSTR path) {
  return Counted(kDeleteFile, FailedBool, [&] { return g_deleteFile(path); });
}
BOOL WINAPI CountRemoveDirectory(LPCSTR path) {
  return Counted(kRemoveDirectory, FailedBool, [&] { return g_removeDirectory(path); });
}
DWORD WINAPI CountGetAttributes(LPCSTR path) {
  return Counted(kGetAttributes, FailedAttributes, [&] { return g_getAttributes(path); });
}


void HookWalk() {
  bench::Hook(g_findFirst, "kernel32.dll", "FindFirstFileA", &CountFindFirst);
  bench::Hook(g_findNext, "kernel32.dll", "FindNextFileA", &CountFindNext);
  bench::Hook(g_findClose, "kernel32.dll", "FindClose", &CountFindClose);
  bench::Hook(g_setAttributes, "kernel32.dll", "SetFileAttributesA", &CountSetAttributes);
  bench::Hook(g_deleteFile, "kernel32.dll", "DeleteFileA", &CountDeleteFile);
  bench::Hook(g_removeDirectory, "kernel32.dll", "RemoveDirectoryA", &CountRemoveDirectory);
  bench::Hook(g_getAttributes, "kernel32.dll", "GetFileAttributesA", &CountGetAttributes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tree_bench.exe product|bare|rd|calls PATH\n");
    return 2;
  }
  const char* method = argv[1];
  const char* path = argv[2];
  bool calls = !std::strcmp(method, "calls");
  if (calls) HookWalk();
  bench::Cpu cpu = bench::CpuNow();
  double start = bench::NowMs();
  if (!std::strcmp(method, "product") || calls) {
    DeleteDirectoryTree(path);
  } else if (!std::strcmp(method, "bare")) {
    BareDelete(path);
  } else if (!std::strcmp(method, "rd")) {
    RunRd(path);
  } else {
    std::fprintf(stderr, "unknown method %s\n", method);
    return 2;
  }
  double elapsed = bench::NowMs() - start;
  std::printf("ms %.1f\n", elapsed);
  bench::PrintCpuSince(cpu);
  if (calls) bench::PrintCounts(g_counts, kCount);
  std::printf("gone %d\n", GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? 1 : 0);
  return 0;
}
