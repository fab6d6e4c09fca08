// Shared by the benchmark programs: a clock, and timing or counting the
// Win32 calls this program makes by replacing entries of its own import table
// (the product is linked in statically, so its calls go through that table).
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace bench {

// Runs a command line hidden and waits for it to end.
inline void RunHidden(char* commandLine) {
  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process))
    return;
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

inline double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// CPU time (user and system) in ms of a Linux process, read from its
// /proc/<pid>/stat through Wine's Z: drive; -1 when it cannot be read.
inline double ProcCpuMs(const char* statPath) {
  FILE* file = std::fopen(statPath, "rb");
  if (!file) return -1;
  char text[1024];
  size_t got = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[got] = '\0';
  // The fields after the command name's closing parenthesis: state is the
  // third field of the line, user and system time the 14th and 15th.
  const char* p = std::strrchr(text, ')');
  if (!p) return -1;
  unsigned long long user = 0, system = 0;
  if (std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2) return -1;
  return static_cast<double>(user + system) * 10.0;  // clock ticks of 10 ms
}

// CPU time of this program, and of the Wine server that does the work of most
// calls (the harness names its stat file in CLEANLUM_BENCH_SERVER_STAT).
struct Cpu {
  double own = -1;
  double server = -1;
};

inline Cpu CpuNow() {
  Cpu cpu;
  // Not through /proc/self: the Wine server, not this program, opens files.
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    auto ms = [](const FILETIME& t) {
      return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    cpu.own = ms(kernel) + ms(user);
  }
  char path[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("CLEANLUM_BENCH_SERVER_STAT", path, MAX_PATH);
  if (length && length < MAX_PATH) cpu.server = ProcCpuMs(path);
  return cpu;
}

// "cpu <own ms> <server ms>" spent since start; -1 for what is not known.
inline void PrintCpuSince(const Cpu& start) {
  Cpu now = CpuNow();
  std::printf("cpu %.0f %.0f\n", start.own < 0 || now.own < 0 ? -1.0 : now.own - start.own,
              start.server < 0 || now.server < 0 ? -1.0 : now.server - start.server);
}

// Points every import of dll!function in this program at replacement and
// returns the original, or nullptr when the program does not import it.
inline void* HookImport(const char* dll, const char* function, void* replacement) {
  HMODULE library = GetModuleHandleA(dll);
  void* original = library ? reinterpret_cast<void*>(GetProcAddress(library, function)) : nullptr;
  if (!original) return nullptr;
  BYTE* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!imports.VirtualAddress) return nullptr;
  bool found = false;
  // Matched by address, whatever DLL name the import table gives it.
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
       ++entry) {
    for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); thunk->u1.Function;
         ++thunk) {
      if (reinterpret_cast<void*>(thunk->u1.Function) != original) continue;
      DWORD protection;
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, PAGE_READWRITE, &protection);
      thunk->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, protection, &protection);
      found = true;
    }
  }
  return found ? original : nullptr;
}

// Points this program's imports of dll!name at replacement; original gets the
// function itself (also when the program did not import it).
template <typename F>
void Hook(F& original, const char* dll, const char* name, F replacement) {
  void* found = HookImport(dll, name, reinterpret_cast<void*>(replacement));
  if (!found) found = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), name));
  original = reinterpret_cast<F>(found);
}

// Calls and time of one hooked function.
struct CallCount {
  const char* name;
  long calls = 0;
  long failures = 0;
  double ms = 0;
};

// A failed call by its result: FALSE, no handle, a registry error, 0 characters.
inline bool IsFailure(int result) { return result == 0; }
inline bool IsFailure(long result) { return result != 0; }
inline bool IsFailure(unsigned long result) { return result == 0; }
inline bool IsFailure(HANDLE result) { return !result || result == INVALID_HANDLE_VALUE; }

// Counts and times every call of one imported function (Id tells apart
// functions of the same type): Counted<Id, decltype(&F)>::Install(count, dll, "F").
template <int Id, typename F>
struct Counted;

template <int Id, typename R, typename... A>
struct Counted<Id, R(WINAPI*)(A...)> {
  static R(WINAPI* original)(A...);
  static CallCount* count;

  static R WINAPI Call(A... arguments) {
    double start = NowMs();
    R result = original(arguments...);
    count->ms += NowMs() - start;
    ++count->calls;
    if (IsFailure(result)) ++count->failures;
    return result;
  }

  static void Install(CallCount& counter, const char* dll, const char* name) {
    count = &counter;
    Hook(original, dll, name, &Call);
  }
};

template <int Id, typename R, typename... A>
R(WINAPI* Counted<Id, R(WINAPI*)(A...)>::original)(A...) = nullptr;
template <int Id, typename R, typename... A>
CallCount* Counted<Id, R(WINAPI*)(A...)>::count = nullptr;

inline void PrintCounts(const CallCount* counts, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (counts[i].calls)
      std::printf("calls %s %ld %ld %.1f\n", counts[i].name, counts[i].calls, counts[i].failures, counts[i].ms);
}

}  // namespace bench
