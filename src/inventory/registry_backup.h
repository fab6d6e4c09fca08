// The registry backup a real run takes before it deletes anything: every key
// and value of the start inventory that the run may delete, in one file that
// "reg import" restores.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "system/new_file.h"

// Texts are UTF-8, as the reports take them.
struct RegistryBackup {
  std::string path;     // CleanLum-registry-backup-YYYYMMDD-HHMMSS.reg (or -2, -3, ...) in its folder
  std::string ansiPath; // the same in the ANSI code page, as the result marker stores it
  bool written = false;
  // The SHA-256 of the file as written, by Windows' own cryptography; "" when
  // this Windows offers none, and digestNote says so.
  std::string sha256;
  std::string digestNote;
  size_t keys = 0;      // key sections in the file
  size_t values = 0;    // value lines in the file
  // What the file lacks: keys and values that could not be read (with their
  // Win32 error), or everything when the file could not be written.
  std::vector<std::string> missing;
  // Users' hives that were not loaded and were read from their files: each
  // key the file names ("HKEY_USERS\\<SID>") and the hive file. Their keys are
  // restored only with the hive loaded under that name.
  struct LoadedHive {
    std::string key;
    std::string file;
  };
  std::vector<LoadedHive> loadedHives;
};

// Exports the registry items of inventory (board keys, catalogue keys with
// their subtrees, vendor installer products, environment values) as they are
// now, and writes the file into folder as a new file. Nothing is deleted or
// changed. An empty folder path writes nothing: why is unavailable.
RegistryBackup BackUpRegistry(const Inventory& inventory, const OutputFolder& folder, const SYSTEMTIME& time,
                              const std::string& unavailable = "");
