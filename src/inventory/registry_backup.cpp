// The registry backup of a real run.
#include "inventory/registry_backup.h"

#include "inventory/report.h"
#include "registry/registry_export.h"

RegistryBackup BackUpRegistry(const Inventory& inventory, const std::string& folder, const SYSTEMTIME& time) {
  RegistryBackup backup;
  RegistryExport file;
  BeginRegistryExport(file);
  for (const InventoryItem& item : inventory.items) {
    std::string rest;
    HKEY root = nullptr;
    switch (item.kind) {
      case ItemKind::Board:
      case ItemKind::RegistryKey:
      case ItemKind::InstallerProduct:
        root = SplitRegistryItemPath(item.path, rest);
        if (root) ExportRegistryTree(file, root, rest.c_str());
        break;
      case ItemKind::RegistryValue: {
        root = SplitRegistryItemPath(item.path, rest);
        const char* names[] = {item.valueName.c_str()};
        if (root) ExportRegistryValues(file, root, rest.c_str(), names, 1);
        break;
      }
      default:
        break;
    }
  }
  backup.keys = file.keyCount;
  backup.values = file.valueCount;
  backup.missing = file.missing;
  if (folder.empty() || !CreateReportFolder(folder)) {
    backup.missing.insert(backup.missing.begin(), "the whole backup: the report folder cannot be created");
    return backup;
  }
  std::string path = folder;
  if (path.back() != '\\' && path.back() != '/') path += "\\";
  path += "CleanLum-registry-backup-" + FileTimestamp(time) + ".reg";
  backup.path = path;
  // Never a shortened name: it could be another file.
  backup.written = path.size() < MAX_PATH && WriteRegistryExport(file, path.c_str());
  if (!backup.written)
    backup.missing.insert(backup.missing.begin(), "the whole backup: " + backup.path + " cannot be written");
  return backup;
}
