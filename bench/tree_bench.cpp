// Deletes one directory tree and says how long it took, in milliseconds:
//
//   tree_bench.exe product|bare|rd|calls PATH
//
// product: the product's DeleteDirectoryTree (the walk by handle); bare: the
// least a Win32 tree delete does (FindFirstFileA/FindNextFileA, DeleteFileA,
// RemoveDirectoryA, SetFileAttributesA only on read-only files); rd:
// "cmd.exe /c rd /s /q", started and awaited from here; calls: the product
// again, with each Win32 and native call it makes counted and timed (the
// native ones through the GetProcAddress that finds them). Prints
// "ms <time>", "gone <0|1>" and, for calls, "calls <function> <count>
// <failures> <ms>" lines.
#include <windows.h>
#include <aclapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

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

// The counted calls of the product's walk: by path (where it falls back to
// it) and by handle.
enum {
  kFindFirst, kFindNext, kFindClose, kSetAttributes, kDeleteFile, kRemoveDirectory, kGetAttributes,
  kCreateFileW, kCloseHandle, kGetSecurityInfo, kNtCreateFile, kNtQueryDirectoryFile, kNtQueryInformationFile,
  kNtSetInformationFile, kFinalPath, kCount
};
bench::CallCount g_counts[kCount] = {
    {"FindFirstFileA"},         {"FindNextFileA"},        {"FindClose"},
    {"SetFileAttributesA"},     {"DeleteFileA"},          {"RemoveDirectoryA"},
    {"GetFileAttributesA"},     {"CreateFileW"},          {"CloseHandle"},
    {"GetSecurityInfo"},        {"NtCreateFile"},         {"NtQueryDirectoryFile"},
    {"NtQueryInformationFile"}, {"NtSetInformationFile"}, {"GetFinalPathNameByHandleW"}};
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

typedef NTSTATUS(NTAPI* NtCreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* NtQueryDirectoryFileCall)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                                  ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI* NtInformationFileCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
typedef DWORD(WINAPI* FinalPathCall)(HANDLE, LPWSTR, DWORD, DWORD);
decltype(&CreateFileW) g_createFileW;
decltype(&CloseHandle) g_closeHandle;
decltype(&GetSecurityInfo) g_getSecurityInfo;
decltype(&GetProcAddress) g_getProcAddress;
NtCreateFileCall g_ntCreateFile;
NtQueryDirectoryFileCall g_ntQueryDirectoryFile;
NtInformationFileCall g_ntQueryInformationFile;
NtInformationFileCall g_ntSetInformationFile;
FinalPathCall g_finalPath;

bool FailedBool(BOOL ok) { return !ok; }
bool FailedStatus(NTSTATUS status) { return status < 0; }
bool FailedError(DWORD error) { return error != ERROR_SUCCESS; }
bool FailedLength(DWORD length) { return length == 0; }
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

HANDLE WINAPI CountCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE model) {
  return Counted(kCreateFileW, FailedHandle,
                 [&] { return g_createFileW(path, access, share, security, disposition, flags, model); });
}
BOOL WINAPI CountCloseHandle(HANDLE handle) {
  return Counted(kCloseHandle, FailedBool, [&] { return g_closeHandle(handle); });
}
DWORD WINAPI CountGetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                                  PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  return Counted(kGetSecurityInfo, FailedError, [&] {
    return g_getSecurityInfo(handle, type, information, owner, group, dacl, sacl, descriptor);
  });
}
NTSTATUS NTAPI CountNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                 PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG fileAttributes, ULONG share,
                                 ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
  return Counted(kNtCreateFile, FailedStatus, [&] {
    return g_ntCreateFile(handle, access, attributes, io, size, fileAttributes, share, disposition, options, ea,
                          eaLength);
  });
}
NTSTATUS NTAPI CountNtQueryDirectoryFile(HANDLE handle, HANDLE event, PIO_APC_ROUTINE apc, PVOID context,
                                         PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                         FILE_INFORMATION_CLASS infoClass, BOOLEAN single, PUNICODE_STRING mask,
                                         BOOLEAN restart) {
  return Counted(kNtQueryDirectoryFile, FailedStatus, [&] {
    return g_ntQueryDirectoryFile(handle, event, apc, context, io, buffer, length, infoClass, single, mask, restart);
  });
}
NTSTATUS NTAPI CountNtQueryInformationFile(HANDLE handle, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                           FILE_INFORMATION_CLASS infoClass) {
  return Counted(kNtQueryInformationFile, FailedStatus,
                 [&] { return g_ntQueryInformationFile(handle, io, buffer, length, infoClass); });
}
NTSTATUS NTAPI CountNtSetInformationFile(HANDLE handle, PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                         FILE_INFORMATION_CLASS infoClass) {
  return Counted(kNtSetInformationFile, FailedStatus,
                 [&] { return g_ntSetInformationFile(handle, io, buffer, length, infoClass); });
}
DWORD WINAPI CountFinalPath(HANDLE handle, LPWSTR path, DWORD size, DWORD flags) {
  return Counted(kFinalPath, FailedLength, [&] { return g_finalPath(handle, path, size, flags); });
}

// The walk finds the native calls at run time: it gets the counting ones.
FARPROC WINAPI CountingGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC entry = g_getProcAddress(module, name);
  if (!entry || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF) return entry;
  auto swap = [&](auto& original, auto counting) {
    original = reinterpret_cast<std::remove_reference_t<decltype(original)>>(reinterpret_cast<void (*)()>(entry));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(counting));
  };
  if (!std::strcmp(name, "NtCreateFile")) return swap(g_ntCreateFile, &CountNtCreateFile);
  if (!std::strcmp(name, "NtQueryDirectoryFile")) return swap(g_ntQueryDirectoryFile, &CountNtQueryDirectoryFile);
  if (!std::strcmp(name, "NtQueryInformationFile"))
    return swap(g_ntQueryInformationFile, &CountNtQueryInformationFile);
  if (!std::strcmp(name, "NtSetInformationFile")) return swap(g_ntSetInformationFile, &CountNtSetInformationFile);
  if (!std::strcmp(name, "GetFinalPathNameByHandleW")) return swap(g_finalPath, &CountFinalPath);
  return entry;
}

void HookWalk() {
  bench::Hook(g_findFirst, "kernel32.dll", "FindFirstFileA", &CountFindFirst);
  bench::Hook(g_findNext, "kernel32.dll", "FindNextFileA", &CountFindNext);
  bench::Hook(g_findClose, "kernel32.dll", "FindClose", &CountFindClose);
  bench::Hook(g_setAttributes, "kernel32.dll", "SetFileAttributesA", &CountSetAttributes);
  bench::Hook(g_deleteFile, "kernel32.dll", "DeleteFileA", &CountDeleteFile);
  bench::Hook(g_removeDirectory, "kernel32.dll", "RemoveDirectoryA", &CountRemoveDirectory);
  bench::Hook(g_getAttributes, "kernel32.dll", "GetFileAttributesA", &CountGetAttributes);
  bench::Hook(g_createFileW, "kernel32.dll", "CreateFileW", &CountCreateFileW);
  bench::Hook(g_closeHandle, "kernel32.dll", "CloseHandle", &CountCloseHandle);
  bench::Hook(g_getSecurityInfo, "advapi32.dll", "GetSecurityInfo", &CountGetSecurityInfo);
  bench::Hook(g_getProcAddress, "kernel32.dll", "GetProcAddress", &CountingGetProcAddress);
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
