// The registry backup of a real run.
#include "inventory/registry_backup.h"

#include "inventory/report.h"
#include "registry/registry_export.h"
#include "system/file_digest.h"
#include "system/wide_text.h"

RegistryBackup BackUpRegistry(const Inventory& inventory, const OutputFolder& folder, const SYSTEMTIME& time,
                              const std::string& unavailable) {
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
  if (folder.path.empty()) {
    backup.missing.insert(backup.missing.begin(),
                          "the whole backup: " + (unavailable.empty() ? std::string("no folder to hold it")
                                                                      : Utf8FromAnsi(unavailable)));
    return backup;
  }
  std::string content(file.bytes.begin(), file.bytes.end());
  std::string path;
  backup.written = WriteNewFile(folder, "CleanLum-registry-backup-" + FileTimestamp(time), ".reg", content, path);
  if (!backup.written) {
    backup.missing.insert(backup.missing.begin(),
                          "the whole backup: no new file could be written in " + Utf8FromAnsi(folder.path));
    return backup;
  }
  backup.ansiPath = path;
  backup.path = Utf8FromAnsi(path);
  // The digest of the bytes just written whole into a file nobody else can have opened.
  if (!ComputeSha256(content.data(), content.size(), backup.sha256))
    backup.digestNote = "this Windows offers neither CNG nor CryptoAPI's AES provider";
  return backup;
}
