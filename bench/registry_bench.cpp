// Builds or deletes the benchmark's registry tree (HKEY_LOCAL_MACHINE,
// SOFTWARE\CleanLumBench\Tree) and says how long the deletion took:
//
//   registry_bench.exe make N
//   registry_bench.exe product|deletetree|reg|calls
//
// make: N keys in all, the tree key included, each with one string value;
// key i holds keys 20i+1 to 20i+20 (names "K<i>"), so 20,000 keys lie four
// levels deep. product: the product's DeleteRegistryTree; deletetree:
// RegDeleteTreeA; reg: "reg.exe delete ... /f", started and awaited from
// here; calls: the product again, with each registry call it makes counted
// and timed. Prints "ms <time>", "gone <0|1>", the wall-clock interval of the
// deletion as "window <start> <end>" in seconds since 1970 (to line up with
// the registry's saves to disk) and, for calls, "calls <function> <count>
// <failures> <ms>" lines.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "registry/registry.h"

namespace {

const char kParent[] = "SOFTWARE\\CleanLumBench";
const char kTree[] = "SOFTWARE\\CleanLumBench\\Tree";
const size_t kFanOut = 20;

double WallSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

int Make(size_t keys) {
  std::vector<std::string> paths(keys);
  static const char kValue[] = "Velmora benchmark key";
  for (size_t i = 0; i < keys; ++i) {
    paths[i] = i == 0 ? kTree : paths[(i - 1) / kFanOut] + "\\K" + std::to_string(i);
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, paths[i].c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
      std::fprintf(stderr, "cannot create %s\n", paths[i].c_str());
      return 1;
    }
    RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(kValue), sizeof kValue);
    RegCloseKey(key);
  }
  std::printf("made %zu\n", keys);
  return 0;
}

void RunReg() {
  std::string line = std::string("reg.exe delete \"HKEY_LOCAL_MACHINE\\") + kTree + "\" /f";
  bench::RunHidden(&line[0]);
}

// The counted calls of the product's walk. NtDeleteKey is found through
// GetProcAddress, which hands out the counting one.
enum { kDeleteKey, kOpenKey, kEnumKey, kCloseKey, kCount };
bench::CallCount g_counts[kCount] = {{"NtDeleteKey"}, {"RegOpenKeyExW"}, {"RegEnumKeyExW"}, {"RegCloseKey"}};
typedef LONG(WINAPI* NtDeleteKeyCall)(HANDLE key);
NtDeleteKeyCall g_deleteKey;
decltype(&GetProcAddress) g_getProcAddress;
decltype(&RegOpenKeyExW) g_openKey;
decltype(&RegEnumKeyExW) g_enumKey;
decltype(&RegCloseKey) g_closeKey;

LONG Count(int which, double start, LONG result) {
  g_counts[which].ms += bench::NowMs() - start;
  ++g_counts[which].calls;
  if (result != ERROR_SUCCESS) ++g_counts[which].failures;
  return result;
}

LONG WINAPI CountDeleteKey(HANDLE key) {
  double start = bench::NowMs();
  return Count(kDeleteKey, start, g_deleteKey(key));
}
FARPROC WINAPI CountingGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC found = g_getProcAddress(module, name);
  if (!found || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF || std::strcmp(name, "NtDeleteKey") != 0) return found;
  g_deleteKey = reinterpret_cast<NtDeleteKeyCall>(reinterpret_cast<void (*)()>(found));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&CountDeleteKey));
}
LONG WINAPI CountOpenKey(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
  double start = bench::NowMs();
  return Count(kOpenKey, start, g_openKey(root, path, options, access, key));
}
LONG WINAPI CountEnumKey(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPWSTR className,
                         LPDWORD classLength, PFILETIME written) {
  double start = bench::NowMs();
  return Count(kEnumKey, start, g_enumKey(key, index, name, nameLength, reserved, className, classLength, written));
}
LONG WINAPI CountCloseKey(HKEY key) {
  double start = bench::NowMs();
  return Count(kCloseKey, start, g_closeKey(key));
}


}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && !std::strcmp(argv[1], "make")) return Make(std::strtoul(argv[2], nullptr, 10));
  if (argc != 2) {
    std::fprintf(stderr, "usage: registry_bench.exe make N | product|deletetree|reg|calls\n");
    return 2;
  }
  const char* method = argv[1];
  bool calls = !std::strcmp(method, "calls");
  if (calls) {
    bench::Hook(g_getProcAddress, "kernel32.dll", "GetProcAddress", &CountingGetProcAddress);
    bench::Hook(g_openKey, "advapi32.dll", "RegOpenKeyExW", &CountOpenKey);
    bench::Hook(g_enumKey, "advapi32.dll", "RegEnumKeyExW", &CountEnumKey);
    bench::Hook(g_closeKey, "advapi32.dll", "RegCloseKey", &CountCloseKey);
  }
  double wallStart = WallSeconds();
  bench::Cpu cpu = bench::CpuNow();
  double start = bench::NowMs();
  if (!std::strcmp(method, "product") || calls) {
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kTree);
  } else if (!std::strcmp(method, "deletetree")) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTree);
  } else if (!std::strcmp(method, "reg")) {
    RunReg();
  } else {
    std::fprintf(stderr, "unknown method %s\n", method);
    return 2;
  }
  double elapsed = bench::NowMs() - start;
  double wallEnd = WallSeconds();
  std::printf("ms %.1f\n", elapsed);
  bench::PrintCpuSince(cpu);
  std::printf("window %.3f %.3f\n", wallStart, wallEnd);
  if (calls) bench::PrintCounts(g_counts, kCount);
  HKEY key = nullptr;
  LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTree, 0, KEY_READ, &key);
  if (opened == ERROR_SUCCESS) RegCloseKey(key);
  bool gone = opened == ERROR_FILE_NOT_FOUND;
  // The parent goes too, so that the next tree starts from the same registry.
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParent);
  std::printf("gone %d\n", gone ? 1 : 0);
  return 0;
}
