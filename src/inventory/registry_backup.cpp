// The registry backup of a real run.
#include "inventory/registry_backup.h"

#include "inventory/report.h"
#include "registry/registry_export.h"
#include "registry/user_profiles.h"
#include "system/file_digest.h"
#include "system/wide_text.h"

namespace {

// The keys of the users' profiles, written under HKEY_USERS\<SID>: each hive
// opened once, and loaded from its file (then unloaded) where it is not loaded.
void BackUpProfileKeys(const Inventory& inventory, RegistryExport& file, RegistryBackup& backup) {
  const std::vector<InventoryItem>& items = inventory.items;
  std::vector<bool> done(items.size(), false);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].profileSid.empty() || done[i]) continue;
    ProfileHiveKind kind = items[i].classesHive ? ProfileHiveKind::Classes : ProfileHiveKind::User;
    UserProfile profile{items[i].profileSid, WideFromUtf8(items[i].profileFolder)};
    std::string hiveName = ProfileKeyName(profile.sid, kind, "");
    std::string rootName = "HKEY_USERS" + hiveName.substr(3);
    ProfileHive hive(profile, kind);
    for (size_t j = i; j < items.size(); ++j) {
      const InventoryItem& item = items[j];
      if (item.profileSid != profile.sid || item.classesHive != items[i].classesHive) continue;
      done[j] = true;
      if (item.path == hiveName) continue;  // the hive itself, which could not be read
      std::string path;
      if (!hive.Root()) {
        backup.missing.push_back(item.path + ": its hive cannot be opened: error " + std::to_string(hive.Error()));
      } else if (!AnsiFromUtf8Exactly(item.path.substr(hiveName.size() + 1), path)) {
        backup.missing.push_back(item.path + ": its name is outside the ANSI code page");
      } else {
        ExportRegistryTree(file, hive.Root(), rootName.c_str(), path.c_str());
      }
    }
    if (!hive.LoadedFile().empty()) backup.loadedHives.push_back({rootName, Utf8FromWide(hive.LoadedFile())});
  }
}

}  // namespace

RegistryBackup BackUpRegistry(const Inventory& inventory, const OutputFolder& folder, const SYSTEMTIME& time,
                              const std::string& unavailable) {
  RegistryBackup backup;
  RegistryExport file;
  BeginRegistryExport(file);
  BackUpProfileKeys(inventory, file, backup);
  for (const InventoryItem& item : inventory.items) {
    if (!item.profileSid.empty()) continue;  // above
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
