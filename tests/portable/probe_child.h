// The probe child of the runner's tests (tests/portable/helpers/probe_child.cpp):
// installing it where a test wants it, reading what it recorded, and ending it.
// On Windows and Wine the real program is copied; on the simulated machine a
// program file with the same behaviour stands in.
#pragma once

#include <windows.h>

#include <string>

// Puts the probe at path (an .exe name of the test's choosing), creating the
// folders on the way. False when it cannot be done.
bool InstallProbeChild(const std::string& path);

// What the probe wrote to its record file: the text after "<label>: " on the
// line that starts with it ("" when there is none), or whether an "ended" line
// is there.
struct ProbeRecord {
  bool exists = false;
  std::string commandLine;
  std::string module;  // the program file that ran
  std::string workingDirectory;
  DWORD pid = 0;
  bool ended = false;
};
ProbeRecord ReadProbeRecord(const std::string& recordPath);

// Waits (up to 20 s) until the record has been written, for a probe that was
// left running after a short time-out.
ProbeRecord AwaitProbeRecord(const std::string& recordPath);

bool ProbeIsRunning(DWORD pid);
// Ends a probe that was left running and waits for it to be gone.
void EndProbe(DWORD pid);

// Windows file names compare without regard to (ASCII) case.
bool EqualsIgnoringCase(const std::string& a, const std::string& b);
