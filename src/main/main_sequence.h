// The whole run, from the administrator test to the end of the log.
#pragma once

#include <windows.h>

#include <string>

// Runs CleanLum with the entry point's argument string (the command line
// without the program's path); returns the process exit code: 0, 1 or -1, a
// managed run the codes deployment engines read, help and version 0.
int RunCleanLum(HINSTANCE instance, const char* arguments);

// 0 when every driver tool this system needs is in the working directory,
// 1 after showing the message for the first one missing (its name, for the
// records, in missingName when given).
int CheckPrerequisiteTools(std::string* missingName = nullptr);
