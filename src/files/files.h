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
// attribute change unless clearReadOnly); a deletion that fails is noted in
// record, when given, for step.
void DeleteFilesByPattern(const char* directory, const char* pattern, RunRecord* record = nullptr,
                          const char* step = "", bool clearReadOnly = false);

// Deletes one file as DeleteFileA does (a read-only file stays, a link goes
// as itself), by handle relative to its folder where the walk by handle runs,
// so that no link on the way leads it elsewhere. 0 when it is gone or was not
// there, else why it stays.
DWORD DeleteSingleFile(const char* path);

// Deletes one protected file: the ordinary way when that suffices, else
// through cmd.exe (takeown, cacls, attrib, del), each run noted in record
// (when given). A missing file starts nothing.
void ForceDeleteFile(const char* path, RunRecord* record = nullptr);

// The deletions above and DeleteFileA, with a failure noted in record (when
// given) for step; a file that is not there is no failure. The read-only
// variant clears that attribute first (never on a folder or link).
DWORD DeleteTreeNoted(RunRecord* record, const char* step, const char* path);
bool DeleteFileNoted(RunRecord* record, const char* step, const char* path);
bool DeleteSingleFileNoted(RunRecord* record, const char* step, const char* path);
bool DeleteReadOnlyFileNoted(RunRecord* record, const char* step, const char* path);

// Third clean-up step: start-menu groups and desktop shortcuts.
void RemoveShortcuts(CleanupContext& context);

// Fourth clean-up step: background processes, installation, documents and
// installer folders, and the deferred removal at next logon.
void RemoveInstallDirectory(CleanupContext& context, const char* revisionText);

// Sixth clean-up step: library and driver files in System32.
void RemoveLibraryFiles(CleanupContext& context);
