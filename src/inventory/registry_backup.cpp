// The registry backup of a real run.
#include "inventory/registry_backup.h"

#include "inventory/report.h"
#include "registry/registry_export.h"
#include "system/wide_text.h"

RegistryBackup BackUpRegistry(const Inventory& inventory, const std::string& folder, const SYSTEMTIME& time) {
  RegistryBackup backup;
  RegistryExport file;
  BeginRegistryExport(file);
  for (const InventoryItem& item : inventory.items) {
    bool registry = item.kind == ItemKind::Board || item.kind == ItemKind::RegistryKey ||
                    item.kind == ItemKind::InstallerProduct || item.kind == ItemKind::RegistryValue;
    if (!registry) continue;  // files, folders, services and processes are not the backup's
    // The export reads through the narrow calls: item texts in the code page.
    std::string path, valueName;
    if (!AnsiFromUtf8Exactly(item.path, path) || !AnsiFromUtf8Exactly(item.valueName, valueName)) {
      backup.missing.push_back(item.path + ": its name is outside the ANSI code page");
      continue;
    }
    std::string rest;
    HKEY root = nullptr;
    switch (item.kind) {
      case ItemKind::Board:
      case ItemKind::RegistryKey:
      case ItemKind::InstallerProduct:
        root = SplitRegistryItemPath(path, rest);
        if (root) ExportRegistryTree(file, root, rest.c_str());
        break;
      case ItemKind::RegistryValue: {
        root = SplitRegistryItemPath(path, rest);
        const char* names[] = {valueName.c_str()};
        if (root) ExportRegistryValues(file, root, rest.c_str(), names, 1);
        break;
      }
      default:
        break;
    }
  }
  backup.keys = file.keyCount;
  backup.values = file.valueCount;
  for (const std::string& missing : file.missing) backup.missing.push_back(Utf8FromAnsi(missing));
  if (folder.empty() || !CreateReportFolder(folder)) {
    backup.missing.insert(backup.missing.begin(), "the whole backup: the report folder cannot be created");
    return backup;
  }
  std::string path = folder;
  if (path.back() != '\\' && path.back() != '/') path += "\\";
  path += "CleanLum-registry-backup-" + FileTimestamp(time) + ".reg";
  backup.path = Utf8FromAnsi(path);
  // Never a shortened name: it could be another file.
  backup.written = path.size() < MAX_PATH && WriteRegistryExport(file, path.c_str());
  if (!backup.written)
    backup.missing.insert(backup.missing.begin(), "the whole backup: " + backup.path + " cannot be written");
  return backup;
}
