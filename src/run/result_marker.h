// The result marker that deployment engines' detection rules read after a
// managed run: HKLM\SOFTWARE\CleanLum.
#pragma once

#include <windows.h>

#include <string>

// A restart that a managed run asked for (exit code 3010) and that has not
// happened yet: kept in the marker as RestartPending (1), RestartSince (when
// it was asked for) and RestartBootTime (the start of Windows it was asked in),
// UTC times in ISO 8601.
struct RestartState {
  bool pending = false;
  std::string since;
  std::string bootTime;
  // Asked for since Windows last started: the restart has not happened yet.
  bool thisBoot = false;
};

// The marker's restart state, judged against the current start of Windows:
// the restart is still to come when the boot time kept is within a minute of
// the current one, or the restart was asked for after Windows last started.
RestartState ReadRestartState();

// A restart asked for now, in the current start of Windows.
RestartState RestartAskedNow();

// The vendor's installer product whose registration a managed run is
// deleting (its packed code): noted before its key's tree goes and cleared
// once it is gone, so that a run ended in between (the product's
// InstallProperties, which marks it the vendor's, already gone) lets the next
// run know what is left of it. An empty code clears it; false when the key
// cannot be written.
bool NoteProductInRemoval(const std::string& packedCode);
// The code noted, or "" (none, or not a packed code of 32 hexadecimal digits).
std::string ProductInRemoval();

// Writes the restart state alone: a managed run does so before its first
// change, so that a run that is ended half-way still leaves the restart its
// changes need on record. False when the key cannot be written.
bool WriteRestartState(const RestartState& restart);

// Writes LastResult (the exit code) and Remaining (count) as REG_DWORD, and
// Version, Time (UTC, ISO 8601), Report (the result report's path), Backup
// (the registry backup's path) and BackupSha256 (its SHA-256 in hexadecimal,
// to compare before importing it) as REG_SZ; a path or digest not had is
// written empty; and the restart state (cleared when none is pending). False
// when the key cannot be written.
bool WriteResultMarker(DWORD exitCode, DWORD remaining, const char* reportPath, const char* backupPath = "",
                       const char* backupSha256 = "", const RestartState& restart = RestartState());

// "YYYY-MM-DDTHH:MM:SSZ" for a UTC time, in a buffer of at least 21 characters.
bool FormatIsoTime(const SYSTEMTIME& time, char* text, size_t size);
// The same for a FILETIME count, and back ("" / false when not one).
std::string IsoTimeOf(ULONGLONG fileTime);
bool ParseIsoTime(const std::string& text, ULONGLONG& fileTime);
