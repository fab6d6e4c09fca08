// A backup of registry keys and values in the format that "reg export" writes
// and that "reg import" and regedit read back: "Windows Registry Editor Version
// 5.00", UTF-16LE with a byte-order mark, names and strings converted from the
// ANSI code page.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RegistryExport {
  std::vector<unsigned char> bytes;  // the file's content, UTF-16LE after its byte-order mark
  // Keys and values that exist but could not be read, each with its Win32 error
  // ("HKEY_LOCAL_MACHINE\...: error 5"), for the result report.
  std::vector<std::string> missing;
  size_t keyCount = 0;    // key sections written
  size_t valueCount = 0;  // value lines written
  // Subtrees already written ("ROOT\PATH", upper case), so that a key below
  // one of them is not written twice.
  std::vector<std::string> subtrees;
};

// Starts an empty export: the byte-order mark and the header line.
void BeginRegistryExport(RegistryExport& backup);

// Adds the key root\path with every value and subkey below it. A key that does
// not exist adds nothing; one that cannot be opened or enumerated is named in
// missing (what could be read of it is written).
void ExportRegistryTree(RegistryExport& backup, HKEY root, const char* path);

// Adds, under the header of the key root\keyPath, those of the named values
// that exist; nothing when none does.
void ExportRegistryValues(RegistryExport& backup, HKEY root, const char* keyPath,
                          const char* const* names, size_t count);

// "HKEY_LOCAL_MACHINE" and the others for the four roots the program uses; null
// for any other handle.
const char* RegistryRootName(HKEY root);
