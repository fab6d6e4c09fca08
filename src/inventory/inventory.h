// The inventory: every item of the vendor's that a run would act on and that
// is present now, in run order, read from the same tables and decisions as the
// steps. Taking it reads the machine and changes nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class ItemKind { Board, Service, Process, Folder, File, RegistryKey, RegistryValue, InstallerProduct };

// What became of an item between two looks at the machine.
enum class ItemStatus { Present, Removed, Remaining, PendingRestart, Unreadable };

// Every text of an item and of the inventory is UTF-8: a name read through the
// wide calls reaches the reports intact, and the inventory converts what it
// reads through the narrow calls where it reads it.
struct InventoryItem {
  ItemKind kind = ItemKind::File;
  std::string step;  // the clean-up step that removes it
  std::string path;  // file system path, "HKLM\..." key path, process image or service name
  std::string valueName;  // registry values: the value's name
  std::string package;    // the vendor's driver packages: the published INF name ("oem12.inf")
  std::vector<std::string> commands;  // boards: the exact command lines a run makes
  bool removesGigeService = false;    // boards: the run deletes the GigE service for it (sc delete)
  bool hasSize = false;               // folders: files and bytes below them
  unsigned long long files = 0;
  unsigned long long bytes = 0;
  DWORD error = 0;         // a Win32 error when the item could not be read
  std::string keptReason;  // a run leaves it by design, and why
  bool afterProcesses = false;  // removed only once the background processes are stopped
  // Keys of a user profile's hive (a run for every profile): the profile's
  // SID, its folder where readable, and whether the key lies in its classes hive.
  std::string profileSid;
  std::string profileFolder;
  bool classesHive = false;
  ItemStatus status = ItemStatus::Present;
  std::string reason;  // why a remaining item is still there, where known
};

struct Inventory {
  std::vector<InventoryItem> items;
  std::vector<std::string> commands;  // the driver tools' runs outside the board loop
  std::string logonCommandKey;        // the RunOnce value a run would write (empty: none)
  std::string logonCommand;
  // How the file walks run on this machine: "by handle", or "by path" and why
  // (ntdll lacks an entry point the walk by handle needs).
  std::string fileWalk;
  // The user profiles a run for every profile looked at: SID and folder (UTF-8, "" where unreadable).
  struct Profile {
    std::string sid;
    std::string folder;
  };
  std::vector<Profile> profiles;
};

// Reads the machine. revisionText is the library's "Revision" as the run reads
// it; everyProfile adds the vendor's keys in every user profile's hives.
Inventory TakeInventory(const char* revisionText, bool everyProfile = false);

// The library's "Revision" as the main sequence reads it (empty when absent).
std::string ReadRevision();

// Looks again at every item of start and sets its status and reason: removed,
// remaining (with the reason where known) or pending the logon command.
void CheckAfterRun(Inventory& start);

// The root of a registry item's path ("HKLM\\...") and the rest after it; null
// for a path that names no known root.
HKEY SplitRegistryItemPath(const std::string& path, std::string& rest);

const char* ItemKindName(ItemKind kind);
const char* ItemStatusName(ItemStatus status);
