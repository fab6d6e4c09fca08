// The registry backup of a real run.
#include "inventory/registry_backup.h"

#include "drivers/driver_commands.h"
#include "inventory/machine_look.h"
#include "inventory/report.h"
#include "registry/registry_export.h"
#include "registry/user_profiles.h"
#include "system/file_digest.h"
#include "system/wide_text.h"

namespace {

// Where the service manager keeps a service: the run deletes the key with the service.
const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";

// The keys of the users' profiles, written under HKEY_USERS\<SID>: each hive
// opened once, and loaded from its file (then unloaded) where it is not loaded.
void BackUpProfileKeys(const Inventory& inventory, RegistryExport& file, RegistryBackup& backup) {
  const std::vector<InventoryItem>& items = inventory.items;
  ForEachProfileHive(items, [&](const ProfileHive& hive, const std::string& hiveName,
                                const std::vector<size_t>& indices) {
    std::string rootName = "HKEY_USERS" + hiveName.substr(3);
    for (size_t j : indices) {
      const InventoryItem& item = items[j];
      if (item.path == hiveName) continue;  // the hive itself, which could not be read
      if (hive.Root())
        ExportRegistryTree(file, hive.Root(), WideFromUtf8(rootName), WideFromUtf8(item.path.substr(hiveName.size() + 1)));
      else
        file.missing.push_back(item.path + ": its hive cannot be opened: error " + std::to_string(hive.Error()));
    }
    if (!hive.LoadedFile().empty()) backup.loadedHives.push_back({rootName, Utf8FromWide(hive.LoadedFile())});
  });
}

}  // namespace

RegistryBackup BackUpRegistry(const Inventory& inventory, const OutputFolder& folder, const SYSTEMTIME& time,
                              const std::string& unavailable) {
  RegistryBackup backup;
  RegistryExport file;
  BeginRegistryExport(file);
  bool gigeService = false;
  BackUpProfileKeys(inventory, file, backup);
  for (const InventoryItem& item : inventory.items) {
    if (!item.profileSid.empty()) continue;  // above
    std::string rest;
    HKEY root = nullptr;
    switch (item.kind) {
      case ItemKind::Board:
        gigeService = gigeService || item.removesGigeService;
        root = SplitRegistryItemPath(item.path, rest);
        if (root) ExportRegistryTree(file, root, WideFromUtf8(rest));
        break;
      case ItemKind::RegistryKey:
      case ItemKind::InstallerProduct:
        root = SplitRegistryItemPath(item.path, rest);
        if (root) ExportRegistryTree(file, root, WideFromUtf8(rest));
        break;
      case ItemKind::RegistryValue:
        root = SplitRegistryItemPath(item.path, rest);
        if (root) ExportRegistryValues(file, root, WideFromUtf8(rest), {WideFromUtf8(item.valueName)});
        break;
      case ItemKind::Service:
        // A service the run deletes through the service manager takes its key with it.
        if (item.keptReason.empty())
          ExportRegistryTree(file, HKEY_LOCAL_MACHINE, WideFromUtf8(kServicesKey + item.path));
        break;
      default:
        break;
    }
  }
  if (gigeService) ExportRegistryTree(file, HKEY_LOCAL_MACHINE, WideFromUtf8(std::string(kServicesKey) + kGigeService));
  backup.keys = file.keyCount;
  backup.values = file.valueCount;
  backup.missing = file.missing;
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
