// The result marker that deployment engines' detection rules read after a
// managed run: HKLM\SOFTWARE\CleanLum.
#pragma once

#include <windows.h>

// Writes LastResult (the exit code) and Remaining (count) as REG_DWORD, and
// Version, Time (UTC, ISO 8601), Report (the result report's path), Backup
// (the registry backup's path) and BackupSha256 (its SHA-256 in hexadecimal,
// to compare before importing it) as REG_SZ; a path or digest not had is
// written empty. False when the key cannot be written.
bool WriteResultMarker(DWORD exitCode, DWORD remaining, const char* reportPath, const char* backupPath = "",
                       const char* backupSha256 = "");

// "YYYY-MM-DDTHH:MM:SSZ" for a UTC time, in a buffer of at least 21 characters.
bool FormatIsoTime(const SYSTEMTIME& time, char* text, size_t size);
