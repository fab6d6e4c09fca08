// CleanLum.exe's whole run with what it waits for timed: the same main
// sequence (RunCleanLum), with this program's imports of Sleep, CreateProcessA
// and WaitForSingleObject replaced by timing wrappers. Installed in place of
// CleanLum.exe and run as it would be; the report goes to run-bench.txt
// beside the program:
//
//   total <ms>                     RunCleanLum from call to return
//   pause <requested ms> <ms>      each Sleep
//   child <program> <ms>           each child: its start and the wait for it
//   wait <ms>                      waits for anything else (processes ended by name)
//   calls <function> <count> <failures> <ms>   calls of the whole run
//   phase <own ms> <ms> <caption>  between two captions of the progress window:
//                                  all of it, and what is left without pauses,
//                                  children and waits
//   cpu <own ms> <server ms>       CPU time of the program and of the Wine server
//   exit <code>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <psapi.h>

#include "bench_support.h"
#include "main/main_sequence.h"

namespace {

struct Child {
  HANDLE process;
  std::string program;
  double ms;
};

std::vector<Child> g_children;
std::vector<std::pair<DWORD, double>> g_pauses;
double g_otherWaits = 0;
double g_excluded = 0;  // pauses, children and waits so far

struct Phase {
  std::string caption;
  double start;
  double excludedAtStart;
  double ms = 0;
  double own = 0;
};
std::vector<Phase> g_phases;

void EndPhase() {
  if (g_phases.empty()) return;
  Phase& phase = g_phases.back();
  phase.ms = bench::NowMs() - phase.start;
  phase.own = phase.ms - (g_excluded - phase.excludedAtStart);
}

void StartPhase(const char* caption) {
  EndPhase();
  g_phases.push_back({caption ? caption : "", bench::NowMs(), g_excluded});
}

// The calls the run's own work is made of, counted and timed.
bench::CallCount g_counts[] = {{"RegDeleteKeyA"},    {"RegOpenKeyExA"},      {"RegEnumKeyExA"},
                               {"RegQueryValueExA"}, {"EnumProcesses"},      {"OpenProcess"},
                               {"EnumProcessModules"}, {"GetModuleBaseNameA"}, {"FindFirstFileA"},
                               {"DeleteFileA"},      {"RemoveDirectoryA"},   {"GetFileAttributesA"},
                               {"TerminateProcess"}, {"RegSetValueExA"},     {"MoveFileExA"}};

void CountCalls() {
  using bench::Counted;
  Counted<0, decltype(&RegDeleteKeyA)>::Install(g_counts[0], "advapi32.dll", "RegDeleteKeyA");
  Counted<1, decltype(&RegOpenKeyExA)>::Install(g_counts[1], "advapi32.dll", "RegOpenKeyExA");
  Counted<2, decltype(&RegEnumKeyExA)>::Install(g_counts[2], "advapi32.dll", "RegEnumKeyExA");
  Counted<3, decltype(&RegQueryValueExA)>::Install(g_counts[3], "advapi32.dll", "RegQueryValueExA");
  // psapi.h of mingw-w64 maps the process functions to kernel32's K32 names.
  Counted<4, decltype(&EnumProcesses)>::Install(g_counts[4], "kernel32.dll", "K32EnumProcesses");
  Counted<5, decltype(&OpenProcess)>::Install(g_counts[5], "kernel32.dll", "OpenProcess");
  Counted<6, decltype(&EnumProcessModules)>::Install(g_counts[6], "kernel32.dll", "K32EnumProcessModules");
  Counted<7, decltype(&GetModuleBaseNameA)>::Install(g_counts[7], "kernel32.dll", "K32GetModuleBaseNameA");
  Counted<8, decltype(&FindFirstFileA)>::Install(g_counts[8], "kernel32.dll", "FindFirstFileA");
  Counted<9, decltype(&DeleteFileA)>::Install(g_counts[9], "kernel32.dll", "DeleteFileA");
  Counted<10, decltype(&RemoveDirectoryA)>::Install(g_counts[10], "kernel32.dll", "RemoveDirectoryA");
  Counted<11, decltype(&GetFileAttributesA)>::Install(g_counts[11], "kernel32.dll", "GetFileAttributesA");
  Counted<12, decltype(&TerminateProcess)>::Install(g_counts[12], "kernel32.dll", "TerminateProcess");
  Counted<13, decltype(&RegSetValueExA)>::Install(g_counts[13], "advapi32.dll", "RegSetValueExA");
  Counted<14, decltype(&MoveFileExA)>::Install(g_counts[14], "kernel32.dll", "MoveFileExA");
}

decltype(&SetWindowTextA) g_setWindowText;

BOOL WINAPI TimedSetWindowText(HWND window, LPCSTR text) {
  StartPhase(text);
  return g_setWindowText(window, text);
}

decltype(&Sleep) g_sleep;
decltype(&CreateProcessA) g_createProcess;
decltype(&WaitForSingleObject) g_wait;

// The program a command line starts, without folder, in small letters: the
// quoted first word, or an unquoted path up to its ".exe".
std::string ProgramOf(const char* commandLine) {
  std::string line = commandLine ? commandLine : "";
  for (char& c : line) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  std::string program;
  if (!line.empty() && line[0] == '"') {
    program = line.substr(1, line.find('"', 1) - 1);
  } else {
    size_t exe = line.find(".exe");
    program = line.substr(0, exe == std::string::npos ? line.find(' ') : exe + 4);
  }
  size_t slash = program.find_last_of("\\/");
  if (slash != std::string::npos) program = program.substr(slash + 1);
  return program.empty() ? "?" : program;
}

void WINAPI TimedSleep(DWORD ms) {
  double start = bench::NowMs();
  g_sleep(ms);
  double spent = bench::NowMs() - start;
  g_pauses.emplace_back(ms, spent);
  g_excluded += spent;
}

BOOL WINAPI TimedCreateProcess(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                               LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information) {
  double start = bench::NowMs();
  std::string program = ProgramOf(application ? application : commandLine);
  BOOL created = g_createProcess(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                 environment, directory, startup, information);
  double spent = bench::NowMs() - start;
  g_children.push_back({created ? information->hProcess : nullptr, program, spent});
  g_excluded += spent;
  return created;
}

DWORD WINAPI TimedWait(HANDLE handle, DWORD ms) {
  double start = bench::NowMs();
  DWORD result = g_wait(handle, ms);
  double spent = bench::NowMs() - start;
  g_excluded += spent;
  for (Child& child : g_children)
    if (child.process == handle) {
      child.ms += spent;
      return result;
    }
  g_otherWaits += spent;
  return result;
}


}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
  bench::Hook(g_sleep, "kernel32.dll", "Sleep", &TimedSleep);
  bench::Hook(g_createProcess, "kernel32.dll", "CreateProcessA", &TimedCreateProcess);
  bench::Hook(g_wait, "kernel32.dll", "WaitForSingleObject", &TimedWait);
  CountCalls();

  bench::Hook(g_setWindowText, "user32.dll", "SetWindowTextA", &TimedSetWindowText);

  bench::Cpu cpu = bench::CpuNow();
  double start = bench::NowMs();
  StartPhase("(start)");
  int exitCode = RunCleanLum(instance, arguments);
  EndPhase();
  double total = bench::NowMs() - start;
  bench::Cpu cpuEnd = bench::CpuNow();

  char report[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, report, MAX_PATH);
  char* slash = std::strrchr(report, '\\');
  if (!length || length >= MAX_PATH || !slash || slash + sizeof "run-bench.txt" > report + MAX_PATH) return exitCode;
  std::strcpy(slash + 1, "run-bench.txt");
  FILE* out = std::fopen(report, "w");
  if (!out) return exitCode;
  std::fprintf(out, "total %.1f\n", total);
  for (const auto& pause : g_pauses) std::fprintf(out, "pause %lu %.1f\n", pause.first, pause.second);
  for (const Child& child : g_children) std::fprintf(out, "child %s %.1f\n", child.program.c_str(), child.ms);
  std::fprintf(out, "wait %.1f\n", g_otherWaits);
  for (const bench::CallCount& count : g_counts)
    if (count.calls) std::fprintf(out, "calls %s %ld %ld %.1f\n", count.name, count.calls, count.failures, count.ms);
  for (const Phase& phase : g_phases) std::fprintf(out, "phase %.1f %.1f %s\n", phase.own, phase.ms, phase.caption.c_str());
  std::fprintf(out, "cpu %.0f %.0f\n", cpu.own < 0 || cpuEnd.own < 0 ? -1.0 : cpuEnd.own - cpu.own,
               cpu.server < 0 || cpuEnd.server < 0 ? -1.0 : cpuEnd.server - cpu.server);
  std::fprintf(out, "exit %d\n", exitCode);
  std::fclose(out);
  return exitCode;
}
