// Placeholder until this file step is built.
#include "files/files.h"

DWORD DeleteDirectoryTree(const char*) { return 0; }
void DeleteFilesByPattern(const char*, const char*) {}
