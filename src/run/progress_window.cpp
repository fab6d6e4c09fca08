// The pop-up progress bar. comctl32, which provides its class, is not among
// the program's imports: it is not a DLL that Windows maps from System32 for
// every process, so an import would be looked for beside the program first.
// It is loaded from the system directory by full path instead. Without it the
// window is a plain one of the same frame and place: the captions still show,
// only the bar is missing.
#include "run/progress_window.h"

#include <commctrl.h>

#include "system/system_library.h"

namespace ProgressWindow {

namespace {

const DWORD kStyle = 0x80C80000;  // WS_POPUPWINDOW with WS_DLGFRAME: a caption bar with a system menu

bool LoadProgressClass() {
  typedef void(WINAPI * InitCommonControlsProc)();
  InitCommonControlsProc init =
      FindExport<InitCommonControlsProc>(LoadSystemLibrary("comctl32.dll"), "InitCommonControls");
  if (!init) return false;
  init();
  return true;
}

}  // namespace

HWND Create(HINSTANCE instance) {
  const char* windowClass = LoadProgressClass() ? "msctls_progress32" : "STATIC";
  HWND window = CreateWindowExA(0, windowClass, "Velmora Imaging Uninstall", kStyle, 200, 200, 340, 50, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return nullptr;
  SendMessageA(window, PBM_SETRANGE, 0, MAKELPARAM(0, 160));
  SendMessageA(window, PBM_SETSTEP, 10, 10);
  ShowWindow(window, SW_SHOWNORMAL);
  Step(window);
  return window;
}

void Step(HWND window) {
  if (window) SendMessageA(window, PBM_STEPIT, 0, 0);
}

void SetCaption(HWND window, const char* text) {
  if (window) SetWindowTextA(window, text);
}

void Destroy(HWND window) {
  if (window) DestroyWindow(window);
}

}  // namespace ProgressWindow
