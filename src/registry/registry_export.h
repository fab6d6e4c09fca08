// A backup of registry keys and values in the format that "reg export" writes
// and that "reg import" and regedit read back: "Windows Registry Editor Version
// 5.00", UTF-16LE with a byte-order mark. Names and data are read with the
// wide calls and written as Windows stores them, so a key restored from the
// backup is the key that was there, whatever its name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "system/wide_text.h"

struct RegistryExport {
  std::vector<unsigned char> bytes;  // the file's content, UTF-16LE after its byte-order mark
  // Keys and values (UTF-8 text, for the result report) that exist but are not
  // in the file: unreadable ones with their Win32 error ("HKEY_LOCAL_MACHINE\...:
  // error 5"), and those a .reg file cannot hold, with why.
  std::vector<std::string> missing;
  size_t keyCount = 0;    // key sections written
  size_t valueCount = 0;  // value lines written
  // Subtrees already written ("ROOT\PATH", ASCII letters upper-cased), so that
  // a key below one of them is not written twice.
  std::vector<WideString> subtrees;
};

// Starts an empty export: the byte-order mark and the header line.
void BeginRegistryExport(RegistryExport& backup);

// Adds the key root\path with every value and subkey below it. A key that does
// not exist adds nothing; one that cannot be opened or enumerated is named in
// missing (what could be read of it is written). Registry links are neither
// followed nor written (a .reg file cannot hold one), nor is a key or value
// whose name a .reg file cannot carry (see UnwritableKeyName): each is named
// in missing, with its subtree.
void ExportRegistryTree(RegistryExport& backup, HKEY root, const WideString& path);
// The same below an open key that the file names rootName ("HKEY_USERS\\<SID>"
// for a user's hive, whatever name it is loaded under).
void ExportRegistryTree(RegistryExport& backup, HKEY root, const WideString& rootName, const WideString& path);

// Adds, under the header of the key root\keyPath, those of the named values
// that exist (names compared without regard to ASCII case); nothing when none does.
void ExportRegistryValues(RegistryExport& backup, HKEY root, const WideString& keyPath,
                          const std::vector<WideString>& names);

// Why a key's name cannot stand in a "[...]" section header ("" when it can):
// a line break or another control character would end the header and let the
// rest of the name write sections and values of its own; "]" would end it early.
std::string UnwritableKeyName(const WideString& name);
// The same for a value's name, which stands between quotes on one line.
std::string UnwritableValueName(const WideString& name);

// "HKEY_LOCAL_MACHINE" and the others for the four roots the program uses; null
// for any other handle.
const char* RegistryRootName(HKEY root);
