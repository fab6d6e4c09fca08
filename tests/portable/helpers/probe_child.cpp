// A child program for the runner's tests: it records how it was started, then
// pauses and records its end.
//
//   probe_child ... <record file> <pause in ms>
//
// The record file (created anew) gets the lines "command line: ", "module: ",
// "working directory: ", "pid: " and, once the pause is over, "ended". The two
// arguments are taken from the end of the argument list, so the program path
// before them may hold blanks, quoted or not.
#include <windows.h>

#include <cstdlib>
#include <string>

static void Append(const char* path, const std::string& text) {
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* record = argv[argc - 2];
  DWORD pause = static_cast<DWORD>(std::strtoul(argv[argc - 1], nullptr, 10));
  DeleteFileA(record);
  char directory[1024] = "";
  GetCurrentDirectoryA(sizeof directory, directory);
  char module[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, module, sizeof module);
  Append(record, std::string("command line: ") + GetCommandLineA() + "\r\nmodule: " + module +
                     "\r\nworking directory: " +
                     directory + "\r\npid: " + std::to_string(GetCurrentProcessId()) + "\r\n");
  if (pause) Sleep(pause);
  Append(record, "ended\r\n");
  return 0;
}
