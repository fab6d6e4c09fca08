// A file the program writes as it goes (the administrator's log, written line
// by line; the reports and the backup are written whole through new_file.h).
#pragma once

#include <windows.h>

#include <cstddef>

// Creates the file at path for writing, never one that is there already and
// never through a link (others may read it meanwhile); INVALID_HANDLE_VALUE,
// with the last error set, when it cannot be had.
HANDLE CreateOutputFile(const char* path);

// Writes all of data at the file's position; false when not all of it was written.
bool WriteAll(HANDLE file, const char* data, size_t length);
