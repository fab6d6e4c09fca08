// A stand-in for every vendor tool (drvmanage.exe, lumdrv.exe, pyxmon.exe...),
// copied under each tool's name. Each run appends to C:\e2e\tool-record.txt:
//
//   tool: drvmanage.exe
//   module: C:\Riruv\drvmanage.exe
//   command line: C:\Riruv\drvmanage.exe uninstall -log -quiet
//   working directory: C:\Riruv
//   progress title: Uninstall Dma
//   (blank line)
//
// A monitor's own events follow as blocks of "tool: pyxmon.exe" and
// "monitor: command 32776", "monitor: closed" or "monitor: timed out".
// "progress title" is the caption of the top-level "msctls_progress32" window,
// or "(none)". C:\e2e\tools.ini may give a tool, in a section named after its
// lower-case file name, "sleep" (milliseconds before ending) and "exit" (its
// exit code). Under the name pyxmon.exe it also acts as the board monitor: a
// top-level "PyxMonWnd" window that records each WM_COMMAND and its closing.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "record_file.h"

namespace {

const char kRecord[] = "C:\\e2e\\tool-record.txt";
const char kSettings[] = "C:\\e2e\\tools.ini";

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

LRESULT CALLBACK MonitorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      AppendRecord(kRecord, "tool: pyxmon.exe\r\nmonitor: command " +
                                std::to_string(static_cast<unsigned>(wParam)) + "\r\n\r\n");
      return 0;
    case WM_CLOSE:
      AppendRecord(kRecord, "tool: pyxmon.exe\r\nmonitor: closed\r\n\r\n");
      DestroyWindow(window);
      return 0;
    case WM_TIMER:  // nobody closed it: end on our own rather than linger
      AppendRecord(kRecord, "tool: pyxmon.exe\r\nmonitor: timed out\r\n\r\n");
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void RunMonitor(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MonitorProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "PyxMonWnd";
  if (!RegisterClassA(&windowClass)) return;
  HWND window = CreateWindowExA(0, "PyxMonWnd", "pyxMon", WS_OVERLAPPED, 0, 0, 100, 50, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return;
  SetTimer(window, 1, 120000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

int main() {
  char module[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, module, sizeof module);
  std::string modulePath(module);
  std::string name = LowerCase(modulePath.substr(modulePath.find_last_of('\\') + 1));

  char directory[1024] = "";
  GetCurrentDirectoryA(sizeof directory, directory);
  HWND progress = FindWindowA("msctls_progress32", nullptr);

  std::string record = "tool: " + name + "\r\nmodule: " + modulePath +
                       "\r\ncommand line: " + GetCommandLineA() +
                       "\r\nworking directory: " + directory +
                       "\r\nprogress title: " + (progress ? WindowTitle(progress) : "(none)") +
                       "\r\n\r\n";
  AppendRecord(kRecord, record);

  if (name == "pyxmon.exe") RunMonitor(GetModuleHandleA(nullptr));

  UINT pause = GetPrivateProfileIntA(name.c_str(), "sleep", 0, kSettings);
  if (pause) Sleep(pause);
  char exitCode[32] = "";
  GetPrivateProfileStringA(name.c_str(), "exit", "0", exitCode, sizeof exitCode, kSettings);
  return static_cast<int>(std::strtol(exitCode, nullptr, 10));
}
