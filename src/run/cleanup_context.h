// What the main sequence hands to every clean-up step that shows progress.
#pragma once

#include <windows.h>

struct InstallDirectoryFacts;  // files/install_directory_guard.h

struct CleanupContext {
  HWND progressWindow = nullptr;  // set once, right after the window is created
  // The facts the install-directory guard judges by, read once before the
  // clean-up steps; null makes the step read them itself.
  const InstallDirectoryFacts* installDirectoryFacts = nullptr;
};

// Set to 1 when the full command line contains "msi": the installer-script
// clean-up tool then runs inside the install-directory step and at the end.
extern int MsiMode;
