// CleanLum.exe: a thin shell over the main sequence.
#include <windows.h>

#include "main/main_sequence.h"
#include "system/system_library.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
  // Before anything loads a DLL at run time: System32 only.
  RestrictDllSearch();
  return RunCleanLum(instance, arguments);
}
