// The pop-up progress bar.
#include "run/progress_window.h"

#include <commctrl.h>

namespace ProgressWindow {

HWND Create(HINSTANCE instance) {
  InitCommonControls();
  // WS_POPUPWINDOW with WS_DLGFRAME: a caption bar with a system menu, no frame window.
  HWND window = CreateWindowExA(0, "msctls_progress32", "Velmora Imaging Uninstall", 0x80C80000,
                                200, 200, 340, 50, nullptr, nullptr, instance, nullptr);
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
