// Looks at one item of the machine, for the inventory and for the verdicts
// after a run: whether it is there, what it holds, and what keeps it there.
// Only read access is asked for, and nothing is followed through a link.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "files/tree_walk.h"
#include "inventory/inventory.h"
#include "registry/user_profiles.h"
#include "system/wide_text.h"

// Not there: the file, key or value, or the folder on its way, is missing.
bool IsMissingError(DWORD error);

// 0 when the key opens as the tree deletion reaches it, else the error.
DWORD ProbeKey(HKEY root, const WideString& path, REGSAM access = KEY_READ);
// 0 when the value can be read (path in the ANSI code page), else the error.
DWORD ProbeValue(HKEY root, const char* path, const char* name);
// 0 when the service opens, else the error (ERROR_SERVICE_DOES_NOT_EXIST: none).
DWORD ProbeService(const char* name);

// Whether a process of that executable name (any case) runs.
bool IsProcessRunning(const char* image);

// Files and bytes below folder (ANSI); links are counted as entries, never
// followed. By handle, or by path where Windows has no walk by handle.
void CountFolder(const char* folder, unsigned long long& files, unsigned long long& bytes);

// What is at a path (UTF-8): looked at as itself by handle, or by path where
// Windows has no walk by handle (a path the code page cannot spell is then
// unreadable).
PathLook LookAt(const std::string& utf8Path);

// Whether an item (or an evidence entry: kind and UTF-8 path) is there now;
// error is why it could not be looked at (then it counts as there).
bool IsItemPresent(const InventoryItem& item, DWORD& error);
bool IsPresentAt(ItemKind kind, const std::string& path, const std::string& valueName, DWORD& error);

// Why a file (ANSI path) that is still there could not be deleted, where
// that can be seen: "read-only", "in use", "access denied" or "".
std::string FileReason(const char* path);
// The first entry left below folder (ANSI) that shows why the tree deletion
// (which clears attributes) stopped: a file in use or denied, or a path too
// long; path receives it (ANSI).
bool FindBlockedFile(const char* folder, std::string& path, std::string& reason);

// The items of users' profiles, hive by hive: each hive opened once (loaded
// from its file and unloaded after, where it is not loaded) and handed to
// visit with its name ("HKU\<SID>" or "HKU\<SID>_Classes") and the indices
// of its items in items.
void ForEachProfileHive(const std::vector<InventoryItem>& items,
                        const std::function<void(const ProfileHive& hive, const std::string& hiveName,
                                                 const std::vector<size_t>& indices)>& visit);
