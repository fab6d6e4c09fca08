// The pop-up progress bar whose title names the step under way: range 0-160,
// steps of 10. Calls on a null or destroyed window have no effect.
#pragma once

#include <windows.h>

namespace ProgressWindow {

// Creates, sets up, shows and steps the window once (position 10); null when
// it cannot be created.
HWND Create(HINSTANCE instance);
void Step(HWND window);
void SetCaption(HWND window, const char* text);
void Destroy(HWND window);

}  // namespace ProgressWindow
