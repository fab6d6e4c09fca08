// The expected outcome of a run on a generated machine: the run's deletions,
// in the run's order, applied to a plain model of the machine's items, with
// the platform's rules that make a deletion fail (a file in use, a read-only
// file deleted without clearing it, an ACL, a non-empty folder, a path that
// does not fit, a refused key). A vendor item that one of these rules keeps
// is recorded with that rule as its reason; every other vendor item is to be
// gone.
#include <algorithm>
#include <functional>

#include "../portable/registry_expected_rows.h"
#include "safety_machine.h"
#include "safety_text.h"

namespace safety {
namespace {

// Listings come in the order of upper-cased names (UTF-8 bytes compare in
// the order of their characters).
struct NameLess {
  bool operator()(const std::string& a, const std::string& b) const { return UpperText(a) < UpperText(b); }
};

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && UpperText(text.substr(0, prefix.size())) == UpperText(prefix);
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && UpperText(text.substr(text.size() - suffix.size())) == UpperText(suffix);
}

// The platform's match of "prefix*suffix" against a long name.
bool MatchesStar(const std::string& name, const std::string& prefix, const std::string& suffix) {
  return name.size() >= prefix.size() + suffix.size() && StartsWithNoCase(name, prefix) &&
         EndsWithNoCase(name, suffix);
}

const uint32_t kErrorAccessDenied = 5;
const uint32_t kErrorSharingViolation = 32;
const uint32_t kErrorDirNotEmpty = 145;
const size_t kMaxPath = 260;

// ---- files -------------------------------------------------------------------
struct FsNode {
  std::string name;
  bool directory = false;
  uint32_t attributes = kArchive;
  bool inUse = false;
  bool denyAccess = false;
  bool foreignOwner = false;
  std::string linkTarget;
  bool vendor = false;
  std::string reason;  // why it survived the deletion that tried it
  std::map<std::string, std::unique_ptr<FsNode>, NameLess> children;
  bool IsLink() const { return !linkTarget.empty(); }
};

// ---- registry ------------------------------------------------------------------
struct ValueNode {
  std::string name;
  std::string data;
  bool vendor = false;
};

struct KeyNode {
  std::string name;
  bool refuseDelete = false;
  bool refuseOpen = false;
  bool link = false;  // a registry link: no subkeys of its own
  bool vendor = false;
  std::string reason;
  std::map<std::string, std::unique_ptr<KeyNode>, NameLess> subkeys;
  std::vector<ValueNode> values;

  ValueNode* FindValue(const std::string& valueName) {
    for (ValueNode& value : values)
      if (UpperText(value.name) == UpperText(valueName)) return &value;
    return nullptr;
  }
};

const char kProductsText[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
const char kVendorPublisher[] = "Velmora Imaging";

class Model {
 public:
  explicit Model(const Machine& machine) : m_(machine) {
    for (Hive hive : {Hive::LocalMachine, Hive::CurrentUser, Hive::Users}) hives_[HiveName(hive)].reset(new KeyNode);
    Build();
  }

  Outcome Run() {
    Outcome outcome;
    CollectVendor(outcome, /*after=*/false);
    UninstallBoards();
    RemoveShortcuts();
    RemoveInstallDirectory();
    DeleteRegistryKeys();
    RemoveLibraryFiles();
    DeleteVendorInfs();
    CollectVendor(outcome, /*after=*/true);
    return outcome;
  }

 private:
  const Machine& m_;
  std::map<char, std::unique_ptr<FsNode>> drives_;
  std::map<std::string, std::unique_ptr<KeyNode>> hives_;
  std::vector<std::string> processReasons_;   // per process: "" running, "-" ended, else reason kept
  std::vector<bool> processEnded_;
  bool trkServerRemoved_ = false;

  // ---- building -----------------------------------------------------------------
  FsNode* Drive(char letter) {
    std::unique_ptr<FsNode>& root = drives_[Upper(letter)];
    if (!root) {
      root.reset(new FsNode);
      root->name = std::string(1, Upper(letter)) + ":";
      root->directory = true;
      root->attributes = kDirectory;
    }
    return root.get();
  }

  // The node at path, made with its parents when make is set (parents are
  // folders; a vendor parent makes its children the vendor's).
  FsNode* Node(const std::string& path, bool make, FsNode** parentOut = nullptr) {
    std::vector<std::string> parts = Split(path, true);
    if (parts.empty() || parts[0].size() != 2 || parts[0][1] != ':') return nullptr;
    FsNode* node = Drive(parts[0][0]);
    FsNode* parent = nullptr;
    for (size_t i = 1; i < parts.size(); ++i) {
      if (parts[i] == ".") continue;
      if (parts[i] == ".." || node->IsLink() || !node->directory) return nullptr;
      auto it = node->children.find(parts[i]);
      if (it == node->children.end()) {
        if (!make) return nullptr;
        std::unique_ptr<FsNode> child(new FsNode);
        child->name = parts[i];
        child->directory = true;
        child->attributes = kDirectory;
        child->vendor = node->vendor;
        it = node->children.emplace(parts[i], std::move(child)).first;
      }
      parent = node;
      node = it->second.get();
    }
    if (parentOut) *parentOut = parent;
    return node;
  }

  KeyNode* Key(Hive hive, const std::string& path, bool make, KeyNode** parentOut = nullptr) {
    KeyNode* key = hives_[HiveName(hive)].get();
    KeyNode* parent = nullptr;
    for (const std::string& part : Split(path, false)) {
      auto it = key->subkeys.find(part);
      if (it == key->subkeys.end()) {
        if (!make) return nullptr;
        std::unique_ptr<KeyNode> child(new KeyNode);
        child->name = part;
        child->vendor = key->vendor;
        it = key->subkeys.emplace(part, std::move(child)).first;
      }
      parent = key;
      key = it->second.get();
    }
    if (parentOut) *parentOut = parent;
    return key;
  }

  void Build() {
    for (const KeyItem& item : m_.keys) {
      KeyNode* key = Key(item.hive, item.path, true);
      key->vendor = key->vendor || item.owner == Owner::Vendor;
      key->refuseDelete = item.refuseDelete;
      key->refuseOpen = item.refuseOpen;
      key->link = !item.linkTarget.empty();
    }
    for (const ValueItem& item : m_.values) {
      KeyNode* key = Key(item.hive, item.path, true);
      key->values.push_back({item.name, item.data, item.owner == Owner::Vendor || key->vendor});
    }
    for (const DirItem& item : m_.dirs) {
      FsNode* node = Node(item.path, true);
      node->vendor = node->vendor || item.owner == Owner::Vendor;
    }
    for (const FileItem& item : m_.files) {
      FsNode* node = Node(item.path, true);
      node->directory = false;
      node->attributes = item.attributes;
      node->inUse = item.inUse;
      node->denyAccess = item.denyAccess;
      node->foreignOwner = item.foreignOwner;
      node->vendor = node->vendor || item.owner == Owner::Vendor;
    }
    for (const LinkItem& item : m_.links) {
      FsNode* node = Node(item.path, true);
      node->directory = item.directory;
      node->attributes = (item.directory ? kDirectory : kArchive) | kReparsePoint;
      node->linkTarget = item.target;
      node->vendor = node->vendor || item.owner == Owner::Vendor;
    }
    for (const DirItem& item : m_.dirs) Node(item.path, false)->attributes = item.attributes;
    // A catalogue row's key is the vendor's even where the machine has it only
    // as the parent of another row (InstallProperties below its product).
    for (const ExpectedRow& row : kExpectedRows) {
      std::string root = row.root;
      Hive hive = root == "HKCU" ? Hive::CurrentUser : root == "HKU" ? Hive::Users : Hive::LocalMachine;
      if (KeyNode* key = Key(hive, (root == "HKCR" ? "SOFTWARE\\Classes\\" : "") + std::string(row.path), false))
        key->vendor = true;
    }
    // A vendor folder makes everything below it the vendor's.
    for (auto& drive : drives_) SpreadVendor(*drive.second, false);
    for (auto& hive : hives_) SpreadVendor(*hive.second, false);
    processReasons_.assign(m_.processes.size(), "");
    processEnded_.assign(m_.processes.size(), false);
  }

  static void SpreadVendor(FsNode& node, bool vendor) {
    node.vendor = node.vendor || vendor;
    for (auto& child : node.children) SpreadVendor(*child.second, node.vendor);
  }

  static void SpreadVendor(KeyNode& key, bool vendor) {
    key.vendor = key.vendor || vendor;
    for (ValueNode& value : key.values) value.vendor = value.vendor || key.vendor;
    for (auto& child : key.subkeys) SpreadVendor(*child.second, key.vendor);
  }

  // ---- outcome ------------------------------------------------------------------
  // Before the run: every vendor item, to be gone. After it: the survivors,
  // with their reasons.
  void CollectVendor(Outcome& outcome, bool after) {
    std::function<void(const FsNode&, const std::string&, const std::string&)> files =
        [&](const FsNode& node, const std::string& path, const std::string& inherited) {
          for (const auto& child : node.children) {
            const FsNode& c = *child.second;
            std::string childPath = path + "\\" + c.name;
            std::string reason = c.reason.empty() ? inherited : c.reason;
            if (c.vendor) Note(outcome, FileId(childPath), after, reason);
            if (!c.IsLink()) files(c, childPath, reason);
          }
        };
    for (const auto& drive : drives_) files(*drive.second, drive.second->name, "");

    std::function<void(const KeyNode&, Hive, const std::string&, const std::string&)> keys =
        [&](const KeyNode& key, Hive hive, const std::string& path, const std::string& inherited) {
          for (const ValueNode& value : key.values)
            if (value.vendor) Note(outcome, ValueId(hive, path, value.name), after, key.vendor ? inherited : "");
          for (const auto& child : key.subkeys) {
            const KeyNode& c = *child.second;
            std::string childPath = path.empty() ? c.name : path + "\\" + c.name;
            std::string reason = c.reason.empty() ? inherited : c.reason;
            if (c.vendor) Note(outcome, KeyId(hive, childPath), after, reason);
            keys(c, hive, childPath, reason);
          }
        };
    for (Hive hive : {Hive::LocalMachine, Hive::CurrentUser, Hive::Users})
      keys(*hives_[HiveName(hive)], hive, "", "");

    for (size_t i = 0; i < m_.processes.size(); ++i) {
      if (m_.processes[i].owner != Owner::Vendor) continue;
      if (!after || !processEnded_[i]) Note(outcome, ProcessId(i, m_.processes[i].image), after, processReasons_[i]);
    }
    for (const ServiceItem& service : m_.services) {
      if (service.owner != Owner::Vendor) continue;
      if (!after || !trkServerRemoved_)
        Note(outcome, ServiceId(service.name), after, "no Tarvel board is registered: its service is not removed");
    }
  }

  void Note(Outcome& outcome, const std::string& id, bool after, const std::string& reason) {
    if (!after) {
      outcome.vendor[id] = "";
      return;
    }
    std::string why = reason;
    auto byDesign = m_.keptByDesign.find(id);
    if (why.empty() && byDesign != m_.keptByDesign.end()) why = byDesign->second;
    if (why.empty()) {
      outcome.unexplained.push_back(id);
      why = "no step of the run reaches it";
    }
    outcome.vendor[id] = why;
  }

  // ---- file deletions -------------------------------------------------------------
  static void Keep(FsNode* node, const std::string& reason) {
    if (node->reason.empty()) node->reason = reason;
  }

  // Marks what a failed walk left below root, blockers keeping their own reason.
  static void MarkLeft(FsNode* node, const std::string& reason) {
    Keep(node, reason);
    if (!node->IsLink())
      for (auto& child : node->children) MarkLeft(child.second.get(), reason);
  }

  bool IsWorkingDirectory(const std::string& path) const {
    return CanonicalPath(path) == CanonicalPath(m_.workingDirectory);
  }

  // DeleteFileA: no attribute is changed.
  void DeleteFile(const std::string& path) {
    FsNode* parent = nullptr;
    FsNode* node = Node(path, false, &parent);
    if (!node || !parent || node->directory) return;
    if (node->denyAccess) return Keep(node, "its ACL denies access to a plain deletion");
    if (node->attributes & kReadOnly) return Keep(node, "read-only, and this deletion does not clear attributes");
    if (node->inUse) return Keep(node, "in use");
    parent->children.erase(node->name);
  }

  // SetFileAttributesA(NORMAL), then DeleteFileA.
  void ClearAndDeleteFile(const std::string& path) {
    FsNode* node = Node(path, false);
    if (!node) return;
    if (!node->denyAccess) node->attributes = node->directory ? kDirectory : kNormal;
    DeleteFile(path);
  }

  // takeown, cacls, attrib -r -h -a -s, del /q: all that keeps such a file is
  // use. A link is deleted as itself (the commands would act on its target).
  void ForceDeleteFile(const std::string& path) {
    FsNode* parent = nullptr;
    FsNode* node = Node(path, false, &parent);
    if (!node || !parent || node->directory) return;
    if (node->IsLink()) return DeleteFile(path);
    node->foreignOwner = false;
    node->denyAccess = false;
    node->attributes = kNormal;
    if (node->inUse) return Keep(node, "in use");
    parent->children.erase(node->name);
  }

  void DeleteFilesByPattern(const std::string& directory, const std::string& prefix, const std::string& suffix) {
    FsNode* folder = Node(directory, false);
    if (!folder || !folder->directory || folder->IsLink()) return;
    std::vector<std::string> names;
    for (const auto& child : folder->children)
      if (!child.second->directory && MatchesStar(child.second->name, prefix, suffix)) names.push_back(child.second->name);
    for (const std::string& name : names) DeleteFile(directory + "\\" + name);
  }

  // A link goes as itself, by handle, never what it points at; its attributes
  // are never changed, so a read-only one stays.
  uint32_t RemoveLink(FsNode* parent, FsNode* link) {
    if (link->denyAccess || (link->attributes & kReadOnly)) {
      Keep(link, "a read-only link");
      return kErrorAccessDenied;
    }
    if (!link->directory && link->inUse) {
      Keep(link, "in use");
      return kErrorSharingViolation;
    }
    parent->children.erase(link->name);
    return 0;
  }

  // One level of the walk by handle, entries in listing order; the first
  // failure ends it. No path is built for a call, so no length limits it.
  uint32_t DeleteLevel(const std::string& path, FsNode* parent, FsNode* node) {
    if (!node || !node->directory || node->IsLink() || node->denyAccess) return 0;
    std::vector<std::string> names;
    for (const auto& child : node->children) names.push_back(child.first);
    for (const std::string& key : names) {
      FsNode* child = node->children.at(key).get();
      const std::string& name = child->name;
      if (name[0] == '.' && name.compare(0, 4, ".svn") != 0) {
        Keep(child, "dot-named: the walk leaves it");
        continue;
      }
      std::string entry = path + "\\" + name;
      uint32_t result = 0;
      if (child->IsLink()) {
        result = RemoveLink(node, child);
      } else if (child->directory) {
        result = DeleteLevel(entry, node, child);
      } else if (child->denyAccess) {
        Keep(child, "its ACL denies access");
        result = kErrorAccessDenied;
      } else {
        child->attributes = kNormal;
        if (child->inUse) {
          Keep(child, "in use");
          result = kErrorSharingViolation;
        } else {
          node->children.erase(key);
        }
      }
      if (result) return result;
    }
    if (node->denyAccess) return kErrorAccessDenied;
    node->attributes = kDirectory;
    if (!node->children.empty()) {
      Keep(node, "holds entries the walk leaves");
      return kErrorDirNotEmpty;
    }
    if (IsWorkingDirectory(path)) {
      Keep(node, "the working directory");
      return kErrorSharingViolation;
    }
    parent->children.erase(node->name);
    return 0;
  }

  uint32_t DeleteDirectoryTree(const std::string& path) {
    std::string named = path;
    while (named.size() > 3 && (named.back() == '\\' || named.back() == '/')) named.pop_back();
    FsNode* parent = nullptr;
    FsNode* node = Node(named, false, &parent);
    if (node && node->IsLink()) return node->directory ? RemoveLink(parent, node) : 0;
    uint32_t result = DeleteLevel(path, parent, node);
    if (result && node) {
      // Whatever the failed walk left: its own blockers carry their reasons.
      FsNode* still = Node(named, false);
      if (still) MarkLeft(still, "left when the walk of " + path + " stopped with error " + std::to_string(result));
    }
    return result;
  }

  // ---- registry deletions ---------------------------------------------------------
  static void Keep(KeyNode* key, const std::string& reason) {
    if (key->reason.empty()) key->reason = reason;
  }

  static void MarkLeft(KeyNode* key, const std::string& reason) {
    Keep(key, reason);
    for (auto& child : key->subkeys) MarkLeft(child.second.get(), reason);
  }

  // The tree deletion as it walks: every key opened as itself (a link goes
  // as the link), each child tried once; one that stays is stepped past, and
  // every key above it stays too.
  bool WalkKey(KeyNode* key) {
    if (key->refuseOpen) {
      MarkLeft(key, "opening it is refused");
      return false;
    }
    if (key->link) return true;
    bool childLeft = false;
    std::vector<std::string> names;
    for (const auto& child : key->subkeys) names.push_back(child.first);
    for (const std::string& name : names) {
      if (WalkKey(key->subkeys.at(name).get()))
        key->subkeys.erase(name);
      else
        childLeft = true;
    }
    if (childLeft) {
      Keep(key, "a key below it stays");
      return false;
    }
    if (key->refuseDelete) {
      Keep(key, "its deletion is refused");
      return false;
    }
    return true;
  }

  // A row's key is reached the way the walk reaches it; no generated machine
  // has a link on the way, and a link at the end is the key itself.
  bool DeleteRegistryTree(Hive hive, const std::string& base, const std::string& path) {
    if (path.empty()) return false;
    KeyNode* parent = nullptr;
    KeyNode* key = Key(hive, base + path, false, &parent);
    if (!key) return true;
    if (!WalkKey(key)) return false;
    parent->subkeys.erase(key->name);
    return true;
  }

  // SHDeleteKeyA as it goes: children in order, a refused key stops it.
  bool ShDeleteTree(KeyNode* key) {
    if (key->refuseDelete) {
      MarkLeft(key, "its deletion is refused");
      return false;
    }
    std::vector<std::string> names;
    for (const auto& child : key->subkeys) names.push_back(child.first);
    for (const std::string& name : names) {
      if (!ShDeleteTree(key->subkeys.at(name).get())) return false;
      key->subkeys.erase(name);
    }
    return true;
  }

  void DeleteValues(const std::string& keyPath, const std::vector<std::string>& names) {
    KeyNode* key = Key(Hive::LocalMachine, keyPath, false);
    if (!key || key->refuseOpen) return;
    for (const std::string& name : names) {
      auto& values = key->values;
      for (auto it = values.begin(); it != values.end(); ++it) {
        if (UpperText(it->name) == UpperText(name)) {
          values.erase(it);
          break;
        }
      }
    }
  }

  // The value as a 1024-byte read sees it: false when it cannot be read whole.
  static bool ReadText(KeyNode* key, const std::string& name, std::string* text) {
    ValueNode* value = key ? key->FindValue(name) : nullptr;
    if (!value || value->data.size() > 1024) return false;
    *text = value->data.substr(0, value->data.find('\0'));
    return true;
  }

  void DeleteCachedPackage(KeyNode* properties, const std::string& code) {
    std::string package;
    if (!ReadText(properties, "LocalPackage", &package)) return;
    auto legit = m_.cachePackages.find(UpperText(code));
    if (legit != m_.cachePackages.end()) DeleteFile(legit->second);
  }

  void DeleteCachedPackage(const std::string& code) {
    std::string path = std::string(kProductsText) + "\\" + code + "\\InstallProperties";
    KeyNode* properties = Key(Hive::LocalMachine, path, false);
    if (!properties || properties->refuseOpen) return;
    DeleteCachedPackage(properties, code);
  }

  void DeleteVendorInstallerProducts() {
    KeyNode* products = Key(Hive::LocalMachine, kProductsText, false);
    if (!products || products->refuseOpen) return;
    std::vector<std::string> names;
    for (const auto& child : products->subkeys) names.push_back(child.second->name);
    for (const std::string& name : names) {
      std::string productPath = std::string(kProductsText) + "\\" + name;
      std::string propertiesPath = productPath + "\\InstallProperties";
      KeyNode* product = Key(Hive::LocalMachine, productPath, false);
      if (!product) continue;
      KeyNode* properties = Key(Hive::LocalMachine, propertiesPath, false);
      if (!properties) {
        Keep(product, "it has no InstallProperties: the walk cannot read its publisher");
        continue;
      }
      if (properties->refuseOpen) {
        const std::string reason = "its InstallProperties cannot be opened: the walk cannot read its publisher";
        MarkLeft(product, reason);
        auto package = m_.cachePackages.find(UpperText(name));
        if (package != m_.cachePackages.end())
          if (FsNode* file = Node(package->second, false)) Keep(file, "the package of a product whose " + reason.substr(4));
        continue;
      }
      std::string publisher;
      if (!ReadText(properties, "Publisher", &publisher) || publisher.find(kVendorPublisher) == std::string::npos)
        continue;
      DeleteCachedPackage(properties, name);
      DeleteRegistryTree(Hive::LocalMachine, "", productPath);
    }
  }

  // ---- processes ----------------------------------------------------------------
  // vlxgigeservice.exe, pyxMon.exe, LumNetworkServer.exe: each stopped only
  // when the one before was (or was not running); true when all three were.
  bool StopBackgroundProcesses() {
    static const char* const kNames[] = {"vlxgigeservice.exe", "pyxMon.exe", "LumNetworkServer.exe"};
    for (size_t n = 0; n < 3; ++n) {
      bool found = false;
      bool stopped = true;
      for (size_t i = 0; i < m_.processes.size(); ++i) {
        const ProcessItem& process = m_.processes[i];
        if (UpperText(process.image) != UpperText(kNames[n])) continue;
        if (process.isProtected) {
          processReasons_[i] = "it cannot be opened, so the run does not see it";
          continue;
        }
        if (found) {
          processReasons_[i] = "only the first process of a name is ended";
          continue;
        }
        found = true;
        if (process.refuseTerminate) {
          processReasons_[i] = "it refuses termination";
          stopped = false;
        } else {
          processEnded_[i] = true;
        }
      }
      if (!stopped) {
        for (size_t later = n + 1; later < 3; ++later)
          for (size_t i = 0; i < m_.processes.size(); ++i)
            if (UpperText(m_.processes[i].image) == UpperText(kNames[later]) && processReasons_[i].empty())
              processReasons_[i] = "not tried: an earlier background process could not be stopped";
        return false;
      }
    }
    return true;
  }

  // ---- the run's steps, in order --------------------------------------------------
  std::string OnDrive(const std::string& rest) const { return m_.windowsDirectory.substr(0, 1) + rest; }

  void UninstallBoards() {
    KeyNode* boards = Key(Hive::LocalMachine, "Software\\Velmora\\Imaging Board", false);
    if (!boards || boards->refuseOpen) return;
    for (const char* name : {"Host", "gpu", "VGA"}) {
      auto it = boards->subkeys.find(name);
      if (it != boards->subkeys.end() && ShDeleteTree(it->second.get())) boards->subkeys.erase(it);
    }
    size_t taken = 0;
    bool tarvel = false;
    for (const auto& child : boards->subkeys) {
      if (taken++ == 512) break;
      tarvel = tarvel || child.second->name.compare(0, 6, "Tarvel") == 0;
    }
    for (const ServiceItem& service : m_.services)
      if (service.owner == Owner::Vendor && UpperText(service.name) == "TRKSERVER" && tarvel) trkServerRemoved_ = true;
  }

  void RemoveShortcuts() {
    for (const std::string& group : ShortcutGroupFolders(m_)) DeleteDirectoryTree(group);
    for (const std::string& shortcut : DesktopShortcuts(m_)) DeleteFile(shortcut);
  }

  // Stops the processes; when that fails, the folder and the service file
  // stay for this run (the logon command removes the default folder later).
  void StopAndDeleteTree(const std::string& folder, int attempts) {
    std::string serviceFile = OnDrive(":\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe");
    if (!StopBackgroundProcesses()) {
      const std::string reason = "a background process could not be stopped";
      std::string named = folder;
      while (named.size() > 3 && (named.back() == '\\' || named.back() == '/')) named.pop_back();
      if (FsNode* node = Node(named, false)) MarkLeft(node, reason);
      if (FsNode* node = Node(serviceFile, false)) Keep(node, reason);
      return;
    }
    DeleteFile(serviceFile);
    for (int call = 0; call < attempts; ++call)
      if (DeleteDirectoryTree(folder) == 0) break;
  }

  // The guard takes a "Directory" value at or above another application's
  // registered install location as not read; the vendor's own registrations
  // (by publisher) refuse nothing.
  bool DirectoryUsed() const {
    if (!m_.directoryAccepted) return false;
    std::string value = CanonicalPath(m_.directoryText);
    for (const ValueItem& location : m_.values) {
      if (UpperText(location.name) != "INSTALLLOCATION" || UpperText(location.path).find("\\UNINSTALL\\") == std::string::npos)
        continue;
      bool vendor = false;
      for (const ValueItem& publisher : m_.values)
        if (publisher.hive == location.hive && publisher.path == location.path &&
            UpperText(publisher.name) == "PUBLISHER" && publisher.data.find("Velmora Imaging") != std::string::npos)
          vendor = true;
      std::string canonical = CanonicalPath(location.data.substr(0, location.data.find('\0')));
      if (!vendor && !canonical.empty() && (canonical == value || StartsWithNoCase(canonical, value + "\\")))
        return false;
    }
    return true;
  }

  void RemoveInstallDirectory() {
    DeleteCachedPackage("1AA2C1FDC6EE8A564A38006F73D6564B");
    for (const std::string& folder : ProductInstallerFolders(m_)) DeleteDirectoryTree(folder);
    bool directoryUsed = DirectoryUsed();
    if (m_.newerRelease) {
      DeleteDirectoryTree(OnDrive(":\\Parlow"));
      StopAndDeleteTree(directoryUsed ? m_.directoryText : m_.defaultInstallDirectory, 4);
    } else if (directoryUsed) {
      for (size_t i = 0; i < m_.processes.size(); ++i)
        if (processReasons_[i].empty()) processReasons_[i] = "the older release stops no process";
      DeleteDirectoryTree(m_.directoryText);
      DeleteFilesByPattern(m_.systemDirectory, "lum", ".dll");
    } else {
      StopAndDeleteTree(m_.defaultInstallDirectory, 1);
    }
    for (const std::string& folder : SharedDocumentsFolders(m_)) DeleteDirectoryTree(folder);
    const std::string& w = m_.windowsDirectory;
    DeleteDirectoryTree(w + "\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}");
    DeleteDirectoryTree(w + "\\Installer\\{17179814-FAD5-235E-BC1A-1306E659E09B}");
    DeleteFile(w + "\\Installer\\943df.msi");
  }

  void DeleteRows(int first, int last) {
    for (const ExpectedRow& row : kExpectedRows) {
      if (row.number < first || row.number > last) continue;
      std::string root = row.root;
      Hive hive = root == "HKCU" ? Hive::CurrentUser : root == "HKU" ? Hive::Users : Hive::LocalMachine;
      DeleteRegistryTree(hive, root == "HKCR" ? "SOFTWARE\\Classes\\" : "", row.path);
    }
  }

  void DeleteRegistryKeys() {
    DeleteRows(1, 80);
    DeleteCachedPackage("B7DF34E1765EF2026957BECF995A489C");
    DeleteVendorInstallerProducts();
    DeleteRows(81, 89);
    DeleteValues(kSystemEnvironment, {"genicam_root", "lum_genicam_path", "lum_path", "Tarvel", "Parlow"});
    DeleteRows(90, 94);
    DeleteValues(kControlSet001Environment, {"Lum_Path"});
    DeleteValues(kControlSet003Environment, {"Lum_Path"});
    DeleteRows(95, 129);
    DeleteProfileKeys();
  }

  // With "allusers" (or "managed"): the per-user rows in every real user's
  // loaded hive, the classes rows in its classes hive. (A generated machine
  // has no hive file for the run to load.)
  void DeleteProfileKeys() {
    std::string arguments = " " + m_.arguments + " ";
    if (UpperText(arguments).find(" ALLUSERS ") == std::string::npos &&
        UpperText(arguments).find(" MANAGED ") == std::string::npos)
      return;
    const std::string list = "SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PROFILELIST\\";
    for (const ValueItem& value : m_.values) {
      std::string path = UpperText(value.path);
      if (value.hive != Hive::LocalMachine || path.compare(0, list.size(), list) != 0) continue;
      std::string sid = value.path.substr(list.size());
      if (sid.compare(0, 9, "S-1-5-21-") != 0 || sid.find('\\') != std::string::npos) continue;
      for (const ExpectedRow& row : kExpectedRows) {
        std::string root = row.root;
        if (root == "HKCU") DeleteRegistryTree(Hive::Users, sid + "\\", row.path);
        if (root == "HKCR") DeleteRegistryTree(Hive::Users, sid + "_Classes\\", row.path);
      }
    }
  }

  void RemoveLibraryFiles() {
    const std::string system32 = m_.windowsDirectory + "\\System32";
    DeleteFilesByPattern(system32, "lum", ".dll");
    ClearAndDeleteFile(system32 + "\\drivers\\vlxdma0.sys");
    for (const char* driver : {"AmbrelGE51.sys", "AmbrelGX51.sys", "AmbrelGE60.sys", "AmbrelGX60.sys",
                               "DruvanGigeNic.sys", "DruvanGigE.sys", "Druvan.sys", "Plenth.sys", "PlenthQxt.sys",
                               "Tuv.sys", "Tarvel.sys"})
      ForceDeleteFile(system32 + "\\drivers\\" + driver);
    for (const char* library : {"Pyxlib.dll", "lum.dll", "lum1394.dll", "LumAux.dll", "LumBlob.dll",
                                "lumbufferallocator.dll", "Lumcal.dll", "Lumcode.dll", "lumcor.dll", "lumcore.dll",
                                "lumcor2.dll", "LumHexanPlus.dll", "Lumedge.dll", "lumprl.dll", "Lumsarnic.dll",
                                "Lumim.dll", "LumMeas.dll", "lumfcr2.dll", "lumfcr2cl.dll", "lumfcr2d.dll",
                                "lummod.dll", "LumMon.dll", "Lumocr.dll", "Lumzor.dll", "lumquovin.dll", "Lumpat.dll",
                                "LumVlxApi.dll", "LUMVC.dll"})
      DeleteFile(system32 + "\\" + library);
  }

  // Only a file whose "Strings" section names the vendor goes, with its PNF:
  // first through the driver store, where Windows has the call (XP and later)
  // and the store publishes a package under its name and does not refuse it
  // (then the INF, PNF and store folder go whatever their attributes); then,
  // whatever is left, by plain deletion.
  void DeleteVendorInfs() {
    std::string directory = m_.windowsDirectory + "\\inf";
    FsNode* folder = Node(directory, false);
    if (!folder) return;
    std::vector<std::string> names;
    for (const auto& child : folder->children)
      if (MatchesStar(child.second->name, "oem", ".inf")) names.push_back(child.second->name);
    for (const std::string& name : names) {
      std::string path = directory + "\\" + name;
      std::string companion = path.substr(0, path.rfind('.') + 1) + "PNF";
      FsNode* node = Node(path, false);
      if (!node || node->directory || node->denyAccess || !m_.vendorInfs.count(UpperText(path))) continue;
      if (const PackageItem* package = PackageOf(name)) {
        if (m_.majorVersion < 5) {
          MarkLeft(Node(package->storeFolder, false), "Windows before XP has no call to remove a store package");
        } else if (package->refuseError) {
          MarkLeft(Node(package->storeFolder, false), "the driver store refused its removal");
        } else {
          RemoveFromStore(path);
          RemoveFromStore(companion);
          RemoveFromStore(package->storeFolder);
        }
      }
      DeleteFile(path);
      DeleteFile(companion);
    }
  }

  const PackageItem* PackageOf(const std::string& publishedName) const {
    for (const PackageItem& package : m_.packages)
      if (UpperText(package.publishedName) == UpperText(publishedName)) return &package;
    return nullptr;
  }

  void RemoveFromStore(const std::string& path) {
    FsNode* parent = nullptr;
    FsNode* node = Node(path, false, &parent);
    if (node && parent) parent->children.erase(node->name);
  }
};

}  // namespace

Outcome ExpectedOutcome(const Machine& machine) { return Model(machine).Run(); }

bool IsAllowedNewItem(const Machine&, const std::string& id, const std::string& tempDirectory,
                      const std::string& reportFolder) {
  const std::string runOnce = "HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE";
  if (id == FileId(tempDirectory + "\\LUMInstall.log")) return true;
  // The report folder, and the folders above it that were missing.
  const std::string folder = FileId(reportFolder);
  if (id.compare(0, 5, "file ") == 0 && folder.compare(0, id.size(), id) == 0 &&
      (folder.size() == id.size() || folder[id.size()] == '\\'))
    return true;
  // The result report.
  const std::string report = FileId(reportFolder + "\\CleanLum-result-");
  if (id.compare(0, report.size(), report) == 0 &&
      (EndsWithNoCase(id, ".TXT") || EndsWithNoCase(id, ".JSON")) && id.find('\\', report.size()) == std::string::npos)
    return true;
  // The administrator's log (CleanLum-YYYYMMDD-HHMMSS.log), beside them.
  const std::string adminLog = FileId(reportFolder + "\\CleanLum-");
  if (id.compare(0, adminLog.size(), adminLog) == 0 && EndsWithNoCase(id, ".LOG") &&
      id.size() == adminLog.size() + std::string("YYYYMMDD-HHMMSS.LOG").size())
    return true;
  // The registry backup taken before the first deletion, beside them.
  const std::string backup = FileId(reportFolder + "\\CleanLum-registry-backup-");
  if (id.compare(0, backup.size(), backup) == 0 && EndsWithNoCase(id, ".REG") &&
      id.find('\\', backup.size()) == std::string::npos)
    return true;
  if (id == "value " + runOnce + " : DELLUMDIR") return true;
  // The logon command's key, and the keys above it when they were missing.
  if (id.compare(0, 4, "key ") == 0) {
    std::string key = id.substr(4);
    return runOnce.compare(0, key.size(), key) == 0 && (key.size() == runOnce.size() || runOnce[key.size()] == '\\');
  }
  return false;
}

std::vector<std::string> CheckRun(const Machine& machine, const Outcome& outcome, const Snapshot& before,
                                  const Snapshot& after, const std::string& tempDirectory,
                                  const std::string& reportFolder) {
  std::vector<std::string> problems;
  for (const std::string& id : outcome.unexplained) problems.push_back("vendor item no step of the run reaches: " + id);
  for (const auto& item : outcome.vendor)
    if (!before.count(item.first)) problems.push_back("vendor item missing before the run: " + item.first);
  for (const auto& item : before) {
    const std::string& id = item.first;
    auto now = after.find(id);
    if (outcome.IsVendor(id)) {
      bool survives = outcome.Survives(id);
      if (survives && now == after.end())
        problems.push_back("vendor item gone that the design keeps (" + outcome.vendor.at(id) + "): " + id);
      if (!survives && now != after.end()) problems.push_back("vendor item left behind: " + id);
    } else if (now == after.end()) {
      problems.push_back("deleted but not the vendor's: " + id);
    } else if (now->second != item.second) {
      problems.push_back("changed but not the vendor's: " + id + "\n    before: " + item.second +
                         "\n    after:  " + now->second);
    }
  }
  for (const auto& item : after)
    if (!before.count(item.first) && !IsAllowedNewItem(machine, item.first, tempDirectory, reportFolder))
      problems.push_back("new item: " + item.first);
  return problems;
}

}  // namespace safety
