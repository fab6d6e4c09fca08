// The inventory's items: their names, identifiers, registry paths, and the
// folding that lists each thing once.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "inventory/inventory.h"
#include "registry/registry_catalogue.h"
#include "system/text.h"

namespace {

bool IsKeyKind(ItemKind kind) { return kind == ItemKind::RegistryKey || kind == ItemKind::InstallerProduct; }
bool IsFileKind(ItemKind kind) { return kind == ItemKind::Folder || kind == ItemKind::File; }

// An item a run acts on that others can lie in.
bool IsContainer(const InventoryItem& item) {
  if (!item.keptReason.empty() || !item.skipReason.empty()) return false;
  return item.kind == ItemKind::Folder || IsKeyKind(item.kind);
}

// True when path lies strictly below folder (both upper-cased).
bool Below(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '\\';
}

// Whether item goes with container (their paths in capitals): it lies inside
// it, or it is the same key listed as a key where the container is the product.
bool GoesWith(const InventoryItem& item, const std::string& path, const InventoryItem& container,
              const std::string& holder) {
  if (&item == &container) return false;
  if (container.kind == ItemKind::Folder) return IsFileKind(item.kind) && Below(path, holder);
  if (item.kind == ItemKind::RegistryValue) return path == holder || Below(path, holder);
  if (!IsKeyKind(item.kind)) return false;
  if (Below(path, holder)) return true;
  return path == holder && item.kind == ItemKind::RegistryKey && container.kind == ItemKind::InstallerProduct;
}

}  // namespace

void FoldItems(std::vector<InventoryItem>& items) {
  const size_t none = items.size();
  std::vector<std::string> paths;
  std::vector<size_t> containers;
  for (size_t i = 0; i < items.size(); ++i) {
    paths.push_back(UpperAscii(items[i].path));
    if (IsContainer(items[i])) containers.push_back(i);
  }
  // The outermost container each item goes with, and where each container is listed.
  std::vector<size_t> holder(items.size(), none);
  std::vector<size_t> place(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    place[i] = i;
    if (items[i].kind == ItemKind::Board || items[i].kind == ItemKind::Driver) continue;
    for (size_t c : containers) {
      if (!GoesWith(items[i], paths[i], items[c], paths[c])) continue;
      if (holder[i] == none || GoesWith(items[holder[i]], paths[holder[i]], items[c], paths[c])) holder[i] = c;
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    size_t c = holder[i];
    if (c == none) continue;
    // A container that is itself folded passes its members on.
    for (size_t hops = 0; holder[c] != none && hops < items.size(); ++hops) c = holder[c];
    holder[i] = c;
    if (i < place[c]) place[c] = i;
    items[c].afterProcesses = items[c].afterProcesses || items[i].afterProcesses;
  }
  std::vector<size_t> order;
  for (size_t i = 0; i < items.size(); ++i)
    if (holder[i] == none) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&place](size_t a, size_t b) { return place[a] < place[b]; });
  std::vector<InventoryItem> folded;
  folded.reserve(order.size());
  for (size_t i : order) folded.push_back(std::move(items[i]));
  items.swap(folded);
}

HKEY SplitRegistryItemPath(const std::string& path, std::string& rest) {
  struct Known {
    const char* name;
    RegistryCatalogue::Root root;
  };
  const Known known[] = {{"HKCR\\", RegistryCatalogue::HKCR}, {"HKCU\\", RegistryCatalogue::HKCU},
                         {"HKLM\\", RegistryCatalogue::HKLM}, {"HKU\\", RegistryCatalogue::HKU}};
  for (const Known& k : known) {
    size_t length = std::strlen(k.name);
    if (path.compare(0, length, k.name) == 0) {
      rest = path.substr(length);
      return RegistryCatalogue::RootKey(k.root);
    }
  }
  return nullptr;
}

const char* ItemKindName(ItemKind kind) {
  switch (kind) {
    case ItemKind::Board: return "board";
    case ItemKind::Driver: return "driver";
    case ItemKind::Service: return "service";
    case ItemKind::Process: return "process";
    case ItemKind::Folder: return "folder";
    case ItemKind::File: return "file";
    case ItemKind::RegistryKey: return "registryKey";
    case ItemKind::RegistryValue: return "registryValue";
    case ItemKind::InstallerProduct: return "installerProduct";
  }
  return "";
}

const char* ItemKindWords(ItemKind kind) {
  switch (kind) {
    case ItemKind::RegistryKey: return "registry key";
    case ItemKind::RegistryValue: return "registry value";
    case ItemKind::InstallerProduct: return "installer product";
    default: return ItemKindName(kind);
  }
}

const char* ItemStatusName(ItemStatus status) {
  switch (status) {
    case ItemStatus::Present: return "present";
    case ItemStatus::Removed: return "removed";
    case ItemStatus::Remaining: return "remaining";
    case ItemStatus::PendingRestart: return "pendingRestart";
    case ItemStatus::Unreadable: return "unreadable";
    case ItemStatus::KeptByDesign: return "keptByDesign";
  }
  return "";
}

const char* ItemStatusWords(ItemStatus status) {
  switch (status) {
    case ItemStatus::PendingRestart: return "pending restart";
    case ItemStatus::KeptByDesign: return "kept by design";
    default: return ItemStatusName(status);
  }
}

std::string ItemId(const InventoryItem& item) {
  // FNV-1a, 64 bits, over the kind and the path and value name in capitals
  // (ASCII letters): Windows does not tell names apart by case.
  unsigned long long hash = 0xcbf29ce484222325ULL;
  std::string text = std::string(ItemKindName(item.kind)) + "\n" + UpperAscii(item.path) + "\n" + UpperAscii(item.valueName);
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  char id[24];
  std::snprintf(id, sizeof id, "i%016llx", hash);
  return id;
}
