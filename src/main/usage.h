// The usage text and the version line, and how they reach the administrator.
#pragma once

#include <string>

// "CleanLum X.Y.Z".
std::string VersionLine();

// Every word, what it does, the exit codes of each mode and where the
// reports go.
std::string UsageText();

// Prints text to the standard output the starter redirected, else to the
// parent's console, else shows it in a message box when the window station
// is visible; nowhere else. Returns the exit code 0.
int ShowToStarter(const std::string& text);
