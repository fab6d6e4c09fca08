// Loaded into the program under test by a thread hook (WH_CALLWNDPROC) that
// answer_boxes.exe sets on the program's main thread before it starts. Records
// what happens to the program's progress bar window, in order, to the record
// file named by the environment variable CLEANLUM_E2E_RECORD:
//
//   progress created: <title> | style 0x80C80000 | 200,200 340x50
//   progress range: 0-160      progress step size: 10      progress step
//   progress visible           progress caption: <text>    progress destroyed
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "record_file.h"

namespace {

bool IsProgressBar(HWND window) {
  char name[64] = "";
  return GetClassNameA(window, name, sizeof name) && lstrcmpiA(name, "msctls_progress32") == 0;
}

void Record(const std::string& line) {
  char path[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA("CLEANLUM_E2E_RECORD", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  AppendRecord(path, line + "\r\n");
}

void Describe(const CWPSTRUCT& call) {
  char text[512];
  switch (call.message) {
    case WM_CREATE: {
      // Wine hands this hook the creation record in its wide form, so the
      // title is read from the window, which holds it by now.
      const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(call.lParam);
      char title[256] = "";
      GetWindowTextA(call.hwnd, title, sizeof title);
      std::snprintf(text, sizeof text, "progress created: %s | style 0x%08lX | %d,%d %dx%d", title,
                    static_cast<unsigned long>(static_cast<DWORD>(create->style)), create->x,
                    create->y, create->cx, create->cy);
      Record(text);
      break;
    }
    case WM_SETTEXT:
      Record(std::string("progress caption: ") +
             (call.lParam ? reinterpret_cast<const char*>(call.lParam) : ""));
      break;
    case WM_SHOWWINDOW:
      Record(call.wParam ? "progress visible" : "progress hidden");
      break;
    case PBM_SETRANGE:
      std::snprintf(text, sizeof text, "progress range: %u-%u", LOWORD(call.lParam), HIWORD(call.lParam));
      Record(text);
      break;
    case PBM_SETSTEP:
      Record("progress step size: " + std::to_string(static_cast<long long>(call.wParam)));
      break;
    case PBM_STEPIT:
      Record("progress step");
      break;
    case WM_DESTROY:
      Record("progress destroyed");
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK CallWndProcHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (IsProgressBar(call->hwnd)) Describe(*call);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
