// Files the program writes for the administrator: the reports, the registry
// backup and the administrator's log all go through here, so that how such a
// file is created is decided in one place.
#pragma once

#include <windows.h>

#include <cstddef>

// Creates the file at path for writing (no sharing while it is written);
// INVALID_HANDLE_VALUE, with the last error set, when it cannot be had.
HANDLE CreateOutputFile(const char* path);

// Writes all of data at the file's position; false when not all of it was written.
bool WriteAll(HANDLE file, const char* data, size_t length);
