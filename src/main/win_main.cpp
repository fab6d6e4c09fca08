// CleanLum.exe: a thin shell over the main sequence.
#include <windows.h>

#include "main/main_sequence.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
  return RunCleanLum(instance, arguments);
}
