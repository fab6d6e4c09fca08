// user32/comctl32: windows (the progress bar among them), messages, message
// boxes and the restart request.
#include <cstring>

#include <commctrl.h>

#include "internal.h"

namespace winsim {

SimWindow* FindSimWindow(HWND window) {
  for (SimWindow& w : M().ui.windows)
    if (w.handle == window && !w.destroyed) return &w;
  return nullptr;
}

SimWindow* ProgressWindow() {
  for (SimWindow& w : M().ui.windows)
    if (EqualsNoCase(w.className, PROGRESS_CLASSA) && !w.onMessage) return &w;
  return nullptr;
}

static HWND NewWindowHandle() {
  static uintptr_t next = 0x20000;
  next += 0x10;
  return reinterpret_cast<HWND>(next);
}

HWND AddForeignWindow(const std::string& className, const std::string& title,
                      std::function<LRESULT(UINT, WPARAM, LPARAM)> onMessage) {
  SimWindow w;
  w.handle = NewWindowHandle();
  w.className = className;
  w.title = title;
  w.visible = true;
  w.onMessage = onMessage ? std::move(onMessage) : [](UINT, WPARAM, LPARAM) -> LRESULT { return 0; };
  M().ui.windows.push_back(w);
  return w.handle;
}

}  // namespace winsim

using namespace winsim;

void InitCommonControls() { M().ui.commonControlsInitialised = true; }

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU, HINSTANCE instance,
                     LPVOID) {
  if (M().ui.failCreateWindow || !className) return Fail(ERROR_CANNOT_FIND_WND_CLASS, (HWND) nullptr);
  // comctl32 registers the progress bar's class once it is initialised.
  if (EqualsNoCase(className, "msctls_progress32") && !M().ui.commonControlsInitialised)
    return Fail(ERROR_CANNOT_FIND_WND_CLASS, (HWND) nullptr);
  SimWindow w;
  w.handle = NewWindowHandle();
  w.className = className;
  w.title = windowName ? windowName : "";
  w.style = style;
  w.exStyle = exStyle;
  w.x = x;
  w.y = y;
  w.width = width;
  w.height = height;
  w.parent = parent;
  w.instance = instance;
  w.visible = (style & WS_VISIBLE) != 0;
  M().ui.windows.push_back(w);
  Trace("window: " + w.className + " \"" + w.title + "\"");
  return w.handle;
}

BOOL DestroyWindow(HWND window) {
  SimWindow* w = FindSimWindow(window);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  w->destroyed = true;
  w->visible = false;
  Trace("destroy: " + w->className);
  return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
  SimWindow* w = FindSimWindow(window);
  if (!w) return FALSE;
  BOOL wasVisible = w->visible;
  w->visible = command != SW_HIDE;
  return wasVisible;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
  SimWindow* w = FindSimWindow(window);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  w->title = text ? text : "";
  Trace("caption: " + w->title);
  return TRUE;
}

int GetWindowTextA(HWND window, LPSTR text, int size) {
  SimWindow* w = FindSimWindow(window);
  if (!w || !text || size <= 0) return 0;
  size_t n = std::min<size_t>(w->title.size(), static_cast<size_t>(size - 1));
  std::memcpy(text, w->title.data(), n);
  text[n] = '\0';
  return static_cast<int>(n);
}

BOOL IsWindow(HWND window) { return FindSimWindow(window) != nullptr; }

// The progress bar's messages behave as comctl32's: a step past the maximum
// starts over from the minimum.
static LRESULT ProgressMessage(SimWindow& w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case PBM_SETRANGE: {
      LRESULT old = MAKELONG(w.rangeMin, w.rangeMax);
      w.rangeMin = LOWORD(lParam);
      w.rangeMax = HIWORD(lParam);
      return old;
    }
    case PBM_SETSTEP: {
      LRESULT old = w.stepSize;
      w.stepSize = static_cast<int>(wParam);
      return old;
    }
    case PBM_SETPOS: {
      LRESULT old = w.position;
      w.position = static_cast<int>(wParam);
      return old;
    }
    case PBM_STEPIT: {
      LRESULT old = w.position;
      w.position += w.stepSize;
      if (w.position > w.rangeMax && w.rangeMax > w.rangeMin)
        w.position = (w.position - w.rangeMin) % (w.rangeMax - w.rangeMin) + w.rangeMin;
      Trace("step: " + std::to_string(w.position));
      return old;
    }
    case PBM_GETPOS:
      return w.position;
    default:
      return 0;
  }
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  SimWindow* w = FindSimWindow(window);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE, static_cast<LRESULT>(0));
  w->messages.push_back(std::to_string(message) + " " + std::to_string(wParam) + " " +
                        std::to_string(lParam));
  if (w->onMessage) {
    Trace("message: " + w->className + " " + w->messages.back());
    auto handler = w->onMessage;  // may destroy the window
    LRESULT result = handler(message, wParam, lParam);
    if (message == WM_CLOSE) {
      if (SimWindow* again = FindSimWindow(window)) again->destroyed = true;
    }
    return result;
  }
  if (EqualsNoCase(w->className, PROGRESS_CLASSA)) return ProgressMessage(*w, message, wParam, lParam);
  return 0;
}

// Top-level windows only; class names and titles compare without regard to
// case. A class given as an atom (a value below 0x10000) matches no class here.
HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  if (className && reinterpret_cast<uintptr_t>(className) < 0x10000)
    return Fail(ERROR_CLASS_DOES_NOT_EXIST, static_cast<HWND>(nullptr));
  for (SimWindow& w : M().ui.windows) {
    if (w.destroyed || w.parent) continue;
    if (className && !EqualsNoCase(w.className, className)) continue;
    if (windowName && !EqualsNoCase(w.title, windowName)) continue;
    return w.handle;
  }
  return Fail(ERROR_SUCCESS, static_cast<HWND>(nullptr));
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  MessageBoxCall call;
  call.owner = owner;
  call.text = text ? text : "";
  call.caption = caption ? caption : "Error";
  call.type = type;
  auto& answers = M().ui.messageBoxAnswers;
  if (!answers.empty()) {
    call.answer = answers.front();
    answers.pop_front();
  }
  M().ui.messageBoxes.push_back(call);
  Trace("msgbox: " + call.caption + ": " + call.text);
  return call.answer;
}

// Trace: "exitwindows: <flags> <reason>" for every request, granted or not.
BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  M().ui.exitWindowsCalls.emplace_back(flags, reason);
  Trace("exitwindows: " + std::to_string(flags) + " " + std::to_string(reason));
  if (M().ui.failExitWindows) return Fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
  // On the NT platform a shutdown or restart needs SeShutdownPrivilege enabled
  // in the caller's effective token (its impersonation token, if any).
  const UINT shutdownFlags = EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF;
  if (M().system.platformId == VER_PLATFORM_WIN32_NT && (flags & shutdownFlags) &&
      !EffectivePrivilegeEnabled(SE_SHUTDOWN_NAME))
    return Fail(ERROR_PRIVILEGE_NOT_HELD, FALSE);
  if (M().ui.onExitWindows) M().ui.onExitWindows();
  return TRUE;
}

// The process's one window station; its handle is not to be closed.
static HWINSTA const kWindowStation = reinterpret_cast<HWINSTA>(static_cast<uintptr_t>(0x7A10));

HWINSTA GetProcessWindowStation() { return kWindowStation; }

BOOL GetUserObjectInformationA(HANDLE object, int index, PVOID info, DWORD length,
                               LPDWORD lengthNeeded) {
  if (object != static_cast<HANDLE>(kWindowStation)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (index != UOI_FLAGS) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (lengthNeeded) *lengthNeeded = sizeof(USEROBJECTFLAGS);
  if (!info || length < sizeof(USEROBJECTFLAGS)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  USEROBJECTFLAGS flags = {FALSE, FALSE, M().ui.visibleWindowStation ? DWORD{WSF_VISIBLE} : DWORD{0}};
  std::memcpy(info, &flags, sizeof flags);
  return TRUE;
}
