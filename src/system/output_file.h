// Writing to a file or handle the program has open (the administrator's log,
// the starter's output).
#pragma once

#include <windows.h>

#include <cstddef>

// Writes all of data at the file's position; false when not all of it was written.
bool WriteAll(HANDLE file, const char* data, size_t length);
