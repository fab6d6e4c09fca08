// The probe child's seam between Windows (or Wine) and the simulated machine.
#include "probe_child.h"

#include <cstdlib>
#include <vector>

#include "test_folders.h"

#ifndef _WIN32
#include "winsim/machine.h"
#endif

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ReadWholeFile(const std::string& path, bool* exists) {
  *exists = false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  *exists = true;
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  return text;
}

#ifndef _WIN32
// The probe's arguments are the last two blank-separated tokens.
std::vector<std::string> LastTokens(const std::string& commandLine, size_t count) {
  std::vector<std::string> tokens;
  size_t end = commandLine.size();
  while (tokens.size() < count && end > 0) {
    size_t blank = commandLine.find_last_of(' ', end - 1);
    size_t start = blank == std::string::npos ? 0 : blank + 1;
    tokens.insert(tokens.begin(), commandLine.substr(start, end - start));
    if (blank == std::string::npos) break;
    end = blank;
  }
  return tokens;
}
#endif

}  // namespace

#ifdef _WIN32

bool InstallProbeChild(const std::string& path) {
  char module[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
  if (length == 0 || length >= sizeof module) return false;
  std::string source = FolderOf(module) + "\\probe_child.exe";
  test_folders::MakeFolders(FolderOf(path));
  return CopyFileA(source.c_str(), path.c_str(), FALSE) != FALSE;
}

bool ProbeIsRunning(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

void EndProbe(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (!process) return;
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 20000);
  CloseHandle(process);
}

#else

// The stand-in does at once what the real probe does: a pause of any length
// outlives the tests' short time-outs, so such a probe keeps running and
// never records its end.
bool InstallProbeChild(const std::string& path) {
  test_folders::MakeFolders(FolderOf(path));
  winsim::MakeFile(path, "MZ");
  std::string name = path.substr(path.find_last_of('\\') + 1);
  winsim::SetProgramBehaviour(name, [](const winsim::ChildRun& run) {
    std::vector<std::string> arguments = LastTokens(run.commandLine, 2);
    if (arguments.size() < 2) return winsim::ChildOutcome{false, 2};
    unsigned long pause = std::strtoul(arguments[1].c_str(), nullptr, 10);
    std::string text = "command line: " + run.commandLine + "\r\nmodule: " + run.program +
                       "\r\nworking directory: " +
                       run.currentDirectory + "\r\npid: " + std::to_string(run.pid) + "\r\n";
    if (pause == 0) text += "ended\r\n";
    winsim::MakeFile(arguments[0], text);
    return winsim::ChildOutcome{pause != 0, 0};
  });
  return true;
}

bool ProbeIsRunning(DWORD pid) {
  winsim::SimProcess* process = winsim::FindProcess(pid);
  return process && process->running;
}

void EndProbe(DWORD pid) {
  if (winsim::SimProcess* process = winsim::FindProcess(pid)) process->running = false;
}

#endif

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
    if (x != y) return false;
  }
  return true;
}

ProbeRecord ReadProbeRecord(const std::string& recordPath) {
  ProbeRecord record;
  std::string text = ReadWholeFile(recordPath, &record.exists);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    auto take = [&line](const char* label, std::string* value) {
      std::string prefix = std::string(label) + ": ";
      if (line.compare(0, prefix.size(), prefix) != 0) return false;
      *value = line.substr(prefix.size());
      return true;
    };
    std::string pid;
    if (take("command line", &record.commandLine) || take("module", &record.module) ||
        take("working directory", &record.workingDirectory)) {
    } else if (take("pid", &pid)) {
      record.pid = static_cast<DWORD>(std::strtoul(pid.c_str(), nullptr, 10));
    } else if (line == "ended") {
      record.ended = true;
    }
    start = end + 2;
  }
  return record;
}

ProbeRecord AwaitProbeRecord(const std::string& recordPath) {
  ProbeRecord record = ReadProbeRecord(recordPath);
  for (int attempt = 0; attempt < 400 && record.pid == 0; ++attempt) {
    Sleep(50);
    record = ReadProbeRecord(recordPath);
  }
  return record;
}
