// Starts a command line, answers its message boxes from a script and follows
// its progress window (through window_hook.dll); or, without a command line,
// answers boxes of any process. Everything seen is appended to a record file
// as "key: value" lines.
//
//   answer_boxes.exe RECORD [--cwd DIR] [--timeout MS] [--answer CAPTION=BUTTON]... [-- COMMANDLINE]
//
// BUTTON is ok, cancel, yes or no. Scripted answers are used in order: a box
// whose caption is the next scripted one gets that answer; any other box is
// recorded as not scripted and answered with Cancel (OK when it has none), so
// a run never hangs on a box nobody expected. Lines written:
//
//   temp: <TEMP as the child inherits it>
//   progress ...: <value>            the child's progress bar (see window_hook.cpp)
//   box: <caption> / text: <text> / answer: <button>[ (not scripted)]
//                                    (the text's \\, \r and \n escaped: see OneLine)
//   exit code: <signed decimal>      or "exit code: timeout" (child ended by us)
//   missing box: <caption>           a scripted box that never came
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "record_file.h"

namespace {

struct Answer {
  std::string caption;
  std::string button;
};

struct Watch {
  const char* record = nullptr;
  DWORD processId = 0;  // 0: boxes of any process
  std::vector<Answer> answers;
  size_t nextAnswer = 0;
};

Watch watch;

void Record(const std::string& key, const std::string& value) {
  AppendRecord(watch.record, key + ": " + value + "\r\n");
}

// A box text on one record line: backslash, carriage return and line feed
// written as \\, \r and \n.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool OwnedByChild(HWND window) {
  if (!watch.processId) return true;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  return owner == watch.processId;
}

int ButtonId(const std::string& button) {
  if (button == "ok") return IDOK;
  if (button == "cancel") return IDCANCEL;
  if (button == "yes") return IDYES;
  if (button == "no") return IDNO;
  return 0;
}

BOOL CALLBACK CollectText(HWND child, LPARAM found) {
  std::string* text = reinterpret_cast<std::string*>(found);
  if (ClassOf(child) == "Static") {
    std::string candidate = WindowTitle(child);
    if (candidate.size() > text->size()) *text = candidate;
  }
  return TRUE;
}

void AnswerBox(HWND box) {
  std::string caption = WindowTitle(box);
  std::string text;
  EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&text));

  std::string button;
  std::string note;
  if (watch.nextAnswer < watch.answers.size() && watch.answers[watch.nextAnswer].caption == caption) {
    button = watch.answers[watch.nextAnswer++].button;
  } else {
    button = GetDlgItem(box, IDCANCEL) ? "cancel" : "ok";
    note = " (not scripted)";
  }
  int id = ButtonId(button);
  Record("box", caption);
  Record("text", OneLine(text));
  Record("answer", button + note);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
  for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(10);
}

// The first visible box of the child (of any process without a child).
BOOL CALLBACK FindBox(HWND window, LPARAM found) {
  if (OwnedByChild(window) && ClassOf(window) == "#32770" && IsWindowVisible(window)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// window_hook.dll lies next to this program.
std::string HookPath() {
  char module[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, module, sizeof module);
  std::string path(module);
  return path.substr(0, path.find_last_of('\\') + 1) + "window_hook.dll";
}

void LookAround() {
  HWND box = nullptr;
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&box));
  if (box) AnswerBox(box);
}

void PumpFor(DWORD milliseconds, HANDLE process) {
  DWORD count = process ? 1 : 0;
  MsgWaitForMultipleObjects(count, &process, FALSE, milliseconds, QS_ALLINPUT);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  watch.record = argv[1];
  const char* directory = nullptr;
  DWORD timeout = 60000;
  std::string commandLine;
  for (int i = 2; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--cwd") && i + 1 < argc) {
      directory = argv[++i];
    } else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) {
      timeout = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
    } else if (!std::strcmp(argv[i], "--answer") && i + 1 < argc) {
      std::string pair = argv[++i];
      size_t equals = pair.rfind('=');
      if (equals == std::string::npos || !ButtonId(pair.substr(equals + 1))) return 2;
      watch.answers.push_back({pair.substr(0, equals), pair.substr(equals + 1)});
    } else if (!std::strcmp(argv[i], "--") && i + 1 < argc) {
      commandLine = argv[++i];
    } else {
      return 2;
    }
  }

  char temp[1024] = "";
  GetEnvironmentVariableA("TEMP", temp, sizeof temp);
  Record("temp", temp);

  HANDLE process = nullptr;
  if (!commandLine.empty()) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    // The child's progress bar is followed from inside it by window_hook.dll,
    // hooked onto its main thread before that thread runs.
    SetEnvironmentVariableA("CLEANLUM_E2E_RECORD", watch.record);
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        directory, &startup, &started)) {
      Record("start failed", std::to_string(GetLastError()));
      return 1;
    }
    HMODULE hookModule = LoadLibraryA(HookPath().c_str());
    HOOKPROC hook = hookModule ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(
                                     GetProcAddress(hookModule, "CallWndProcHook")))
                               : nullptr;
    if (!hook || !SetWindowsHookExA(WH_CALLWNDPROC, hook, hookModule, started.dwThreadId))
      Record("hook failed", std::to_string(GetLastError()));
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    process = started.hProcess;
    watch.processId = started.dwProcessId;
  }

  DWORD start = GetTickCount();
  bool done = false;
  while (!done) {
    LookAround();
    if (process) {
      done = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    } else {
      done = watch.nextAnswer == watch.answers.size();
    }
    if (done) break;
    if (GetTickCount() - start > timeout) {
      if (process) {
        TerminateProcess(process, 0xDEAD);
        WaitForSingleObject(process, 5000);
        Record("exit code", "timeout");
        CloseHandle(process);
        process = nullptr;
      }
      break;
    }
    PumpFor(10, process);
  }

  for (size_t i = watch.nextAnswer; i < watch.answers.size(); ++i)
    Record("missing box", watch.answers[i].caption);
  if (process) {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    Record("exit code", std::to_string(static_cast<long>(static_cast<LONG>(code))));
    CloseHandle(process);
  }
  return done ? 0 : 1;
}
