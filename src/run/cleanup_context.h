// What the main sequence hands to every clean-up step that shows progress.
#pragma once

#include <windows.h>

struct InstallDirectoryFacts;  // files/install_directory_guard.h
class RunRecord;              // run/run_record.h

struct CleanupContext {
  HWND progressWindow = nullptr;  // set once, right after the window is created
  // The facts the install-directory guard judges by, read once before the
  // clean-up steps; null makes the step read them itself.
  const InstallDirectoryFacts* installDirectoryFacts = nullptr;
  // Where the steps note the children they start and the logon command they
  // write; null notes nothing.
  RunRecord* record = nullptr;
};

// Set to 1 when the full command line contains "msi": the installer-script
// clean-up tool then runs inside the install-directory step and at the end.
extern int MsiMode;
