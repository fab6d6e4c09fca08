// What the main sequence hands to every clean-up step that shows progress.
#pragma once

#include <windows.h>

#include <string>

struct InstallDirectoryFacts;  // files/install_directory_guard.h
class RunRecord;              // run/run_record.h

// Told of each registry key that a deletion had to leave: the key it was
// asked to delete ("HKLM\..."), the key below it that stayed ("" for that key
// itself) and the Win32 error; texts in UTF-8.
typedef void (*RegistryKeyLeftSink)(const std::string& item, const std::string& keyLeft, DWORD error,
                                    void* context);

struct CleanupContext {
  HWND progressWindow = nullptr;  // set once, right after the window is created
  // The facts the install-directory guard judges by, read once before the
  // clean-up steps; null makes the step read them itself.
  const InstallDirectoryFacts* installDirectoryFacts = nullptr;
  // The registry step also cleans the vendor's per-user keys of every user
  // profile (a managed run, or "allusers").
  bool everyProfile = false;
  // Where the steps note the children they start and the logon command they
  // write; null notes nothing.
  RunRecord* record = nullptr;
  // Where the registry step reports the keys it had to leave; may be null.
  RegistryKeyLeftSink registryKeyLeft = nullptr;
  void* registryKeyLeftContext = nullptr;
};

// Set to 1 when the full command line contains "msi": the installer-script
// clean-up tool then runs inside the install-directory step and at the end.
extern int MsiMode;
