// The inventory: every item of the vendor's that a run would act on and that
// is present now, in run order, read from the same tables and decisions as the
// steps. Taking it reads the machine and changes nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Driver: the DMA driver, which its tool removes (path: its name, "vlxdma").
enum class ItemKind { Board, Driver, Service, Process, Folder, File, RegistryKey, RegistryValue, InstallerProduct };

// What an item is now (the preview), or what became of it (a run's result).
enum class ItemStatus { Present, Removed, Remaining, PendingRestart, Unreadable, KeptByDesign };

// What a board's or the DMA driver's tool is to remove, where it was there
// at the start: its verdict looks for it after the run.
struct EvidenceItem {
  ItemKind kind = ItemKind::RegistryKey;  // RegistryKey, Service or File
  std::string path;                       // UTF-8, as an item's path
};

// Every text of an item and of the inventory is UTF-8: a name read through the
// wide calls reaches the reports intact, and the inventory converts what it
// reads through the narrow calls where it reads it.
struct InventoryItem {
  ItemKind kind = ItemKind::File;
  std::string step;  // the clean-up step that removes it
  std::string path;  // file system path, "HKLM\..." key path, process image or service name
  std::string valueName;  // registry values: the value's name
  std::string package;    // the vendor's driver packages: the published INF name ("oem12.inf")
  std::vector<std::string> commands;  // boards, the DMA driver: the exact command lines a run makes
  // Of those, the ones of its driver tools (the board's driver and filter
  // driver, the DMA tool): it counts as removed only when each of them ran
  // and exited with success.
  std::vector<std::string> toolCommands;
  bool removesGigeService = false;    // boards: the run deletes the GigE service for it (sc delete)
  std::vector<EvidenceItem> evidence;  // boards, the DMA driver
  bool hasSize = false;               // folders: files and bytes below them
  unsigned long long files = 0;
  unsigned long long bytes = 0;
  DWORD error = 0;         // a Win32 error when the item could not be read
  std::string keptReason;  // a run leaves it by design, and why
  // The vendor's, but the run cannot act on it, and why (a board whose name
  // no command line may carry): it stays, and counts as remaining.
  std::string skipReason;
  bool afterProcesses = false;  // removed only once the background processes are stopped
  // Keys of a user profile's hive (a run for every profile): the profile's
  // SID, its folder where readable, and whether the key lies in its classes hive.
  std::string profileSid;
  std::string profileFolder;
  bool classesHive = false;
  ItemStatus status = ItemStatus::Present;
  std::string reason;  // why a remaining item is still there, or how an item left
};

// A command line a run makes outside the board loop, and the step that makes it.
struct PlannedCommand {
  std::string step;
  std::string commandLine;
};

struct Inventory {
  std::vector<InventoryItem> items;
  std::vector<PlannedCommand> commands;  // the driver tools' runs outside the board loop
  std::string logonCommandKey;           // the RunOnce key and value a run would write (empty: none)
  std::string logonCommandValue;
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

// Lists each thing once, parents before children: an item that lies inside a
// folder or key listed for removal goes with it (its place in the list is
// the first of theirs), and a key listed both as a key and as an installer
// product is listed as the product. Items a run keeps by design take nothing
// in, and boards and the DMA driver, which have verdicts of their own, are
// never folded.
void FoldItems(std::vector<InventoryItem>& items);

// The root of a registry item's path ("HKLM\\...") and the rest after it; null
// for a path that names no known root.
HKEY SplitRegistryItemPath(const std::string& path, std::string& rest);

// camelCase names, as the JSON report writes them.
const char* ItemKindName(ItemKind kind);
const char* ItemStatusName(ItemStatus status);
// The same in words, as the text report writes them.
const char* ItemKindWords(ItemKind kind);
const char* ItemStatusWords(ItemStatus status);
// A stable identifier of an item: the same thing has it on every machine and
// in every run ("i" and 16 hexadecimal digits).
std::string ItemId(const InventoryItem& item);
