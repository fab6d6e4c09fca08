// The command line, read once into one value that every other module takes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Options {
  // The installer's words, matched as case-sensitive substrings, also inside a
  // longer word. In the full command line, the program's own path included:
  bool silent = false;  // "silent": no confirmation
  bool msi = false;     // "msi": MsiMode, the installer-script clean-up tool
  // In the argument string only, for the restart:
  bool restartSilent = false;  // "silent": no restart warnings
  bool noReboot = false;       // "noreboot": no restart

  // Whole arguments in any capitals (double quotes group and are dropped).
  bool help = false;  // "help", "/?", "-?", "/h", "-h", "--help": print the usage
  bool version = false;
  bool preview = false;
  bool managed = false;
  bool restorePoint = false;
  bool allUsers = false;
  std::string reportDir;      // the first non-empty "reportdir=" value; "" when none
  DWORD toolWaitMinutes = 0;  // "toolwait=MINUTES", 1 to kMaxToolWaitMinutes; 0 when not given

  // The argument string as the entry point received it, and the arguments
  // that asked for nothing (a malformed value among them), for the records.
  std::string arguments;
  std::vector<std::string> ignored;
};

const DWORD kMaxToolWaitMinutes = 1440;

// A run that also cleans the vendor's per-user keys in every user profile:
// a managed run, or one given "allusers".
inline bool CleansEveryProfile(const Options& options) { return options.managed || options.allUsers; }

// Reads the full command line (GetCommandLineA) and the entry point's
// argument string; null counts as empty.
Options ReadOptions(const char* commandLine, const char* arguments);

// The arguments one by one: blanks and tabs separate, double quotes group and
// are dropped.
std::vector<std::string> SplitArguments(const char* arguments);
