// The registry backup a real run takes before it deletes anything: every key
// and value of the start inventory that the run may delete, in one file that
// "reg import" restores.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "inventory/inventory.h"

// Texts are UTF-8, as the reports take them.
struct RegistryBackup {
  std::string path;     // CleanLum-registry-backup-YYYYMMDD-HHMMSS.reg in the report folder
  bool written = false;
  size_t keys = 0;      // key sections in the file
  size_t values = 0;    // value lines in the file
  // What the file lacks: keys and values that could not be read (with their
  // Win32 error), or everything when the file could not be written.
  std::vector<std::string> missing;
};

// Exports the registry items of inventory (board keys, catalogue keys with
// their subtrees, vendor installer products, environment values) as they are
// now, and writes the file into folder. Nothing is deleted or changed.
RegistryBackup BackUpRegistry(const Inventory& inventory, const std::string& folder, const SYSTEMTIME& time);
