// File clean-up: tree and pattern deletion, forced deletion, and the three
// file steps (shortcuts, library and driver files, installation directory).
#pragma once

#include <windows.h>

#include "run/cleanup_context.h"

// Removes the directory at path with everything below it, clearing the
// read-only attribute where it stands in the way. 0 when it is gone or was not
// there, else the first failure's code.
DWORD DeleteDirectoryTree(const char* path);

// Deletes the files of directory whose names match pattern (no descent, no
// attribute change).
void DeleteFilesByPattern(const char* directory, const char* pattern);

// Deletes one file as DeleteFileA does (a read-only file stays, a link goes
// as itself), by handle relative to its folder where the walk by handle runs,
// so that no link on the way leads it elsewhere.
void DeleteSingleFile(const char* path);

// Deletes one protected file: the ordinary way when that suffices, else
// through cmd.exe (takeown, cacls, attrib, del), each run noted in record
// (when given). A missing file starts nothing.
void ForceDeleteFile(const char* path, RunRecord* record = nullptr);

// Third clean-up step: start-menu groups and desktop shortcuts.
void RemoveShortcuts(CleanupContext& context);

// Fourth clean-up step: background processes, installation, documents and
// installer folders, and the deferred removal at next logon.
void RemoveInstallDirectory(CleanupContext& context, const char* revisionText);

// Sixth clean-up step: library and driver files in System32.
void RemoveLibraryFiles(CleanupContext& context);
