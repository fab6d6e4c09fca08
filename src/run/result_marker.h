// The result marker that deployment engines' detection rules read after a
// managed run: HKLM\SOFTWARE\CleanLum.
#pragma once

#include <windows.h>

// Writes LastResult (the exit code) and Remaining (count) as REG_DWORD, and
// Version, Time (UTC, ISO 8601) and Report (the result report's path, empty
// when none was written) as REG_SZ. False when the key cannot be written.
bool WriteResultMarker(DWORD exitCode, DWORD remaining, const char* reportPath);

// "YYYY-MM-DDTHH:MM:SSZ" for a UTC time, in a buffer of at least 21 characters.
bool FormatIsoTime(const SYSTEMTIME& time, char* text, size_t size);
