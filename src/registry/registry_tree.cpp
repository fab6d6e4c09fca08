// Registry tree deletion: a key goes with every subkey and value below it,
// each key after its children, walked by handle and by wide (UTF-16) name.
//
// What it never does: follow a registry link below the key named, or the
// key named itself. Every key of the walk is opened relative to its parent's
// handle with REG_OPTION_OPEN_LINK and deleted through that handle
// (NtDeleteKey), so a link goes as itself and its target is never touched;
// no call below the key named takes a path, so no name can be read as
// another key and no depth is too deep to name.
// How the key named is reached: a path below HKEY_LOCAL_MACHINE, where only
// administrators create keys, is resolved as Windows resolves it (Windows
// itself keeps links there, CurrentControlSet among them); in any other root
// (the users' hives and classes, which their users may write) each component
// is opened as itself, so a link on the way leads nowhere.
// How it ends: every child is visited once; one that stays (refused, or
// with a child of its own that stays) is stepped past by its index, and its
// parent then stays too. The first key that stays is reported with its
// Win32 error.
// What it refuses: an empty path or one made only of separators (it would
// name the root key itself, which is never walked or emptied).
#include <set>
#include <vector>

#include "registry/registry.h"
#include "system/key_by_handle.h"
#include "system/wide_text.h"

namespace {

// What the walk asks for: to list the key's children, to see its values, and
// to delete it. A key that refuses DELETE is still opened to empty it.
const REGSAM kWalkAccess = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE;
const REGSAM kListAccess = KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE;
// A key name is at most 255 characters; one more for the terminator.
const DWORD kNameLength = 256;

LONG OpenAsItself(HKEY parent, const WCHAR* name, HKEY* key) {
  LONG opened = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, kWalkAccess, key);
  if (opened == ERROR_ACCESS_DENIED) opened = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, kListAccess, key);
  return opened;
}

struct Level {
  HKEY key;
  WideString name;
  DWORD index;
  bool childLeft;                // a child stays, so this key stays too
  std::set<WideString> visited;  // children entered or found staying
};

class TreeWalk {
 public:
  explicit TreeWalk(RegistryKeyLeft* keyLeft) : keyLeft_(keyLeft) {}

  bool Delete(HKEY parent, const WideString& name) {
    if (!deletion_.Available()) return Leave(WideString(), ERROR_PROC_NOT_FOUND);
    HKEY top = nullptr;
    LONG opened = OpenAsItself(parent, name.c_str(), &top);
    if (opened == ERROR_FILE_NOT_FOUND) return true;  // not there: nothing to delete
    if (opened != ERROR_SUCCESS) return Leave(WideString(), static_cast<DWORD>(opened));
    // A key without subkeys (a link among them) goes with this one call.
    if (deletion_.Delete(top) == ERROR_SUCCESS) {
      RegCloseKey(top);
      return true;
    }
    levels_.push_back(Level{top, name, 0, false, {}});
    for (;;) {
      Level& level = levels_.back();
      WCHAR child[kNameLength];
      DWORD length = kNameLength;
      LONG listed = RegEnumKeyExW(level.key, level.index, child, &length, nullptr, nullptr, nullptr, nullptr);
      if (listed == ERROR_SUCCESS) {
        Enter(level, WideString(child, length < kNameLength ? length : 0));
        continue;
      }
      // Any answer but the end of the list ends this key's listing too: the
      // same index is never asked for again.
      if (listed != ERROR_NO_MORE_ITEMS) {
        Leave(WideString(), static_cast<DWORD>(listed));
        level.childLeft = true;
      }
      bool gone = false;
      if (!level.childLeft) {
        DWORD deleted = deletion_.Delete(level.key);
        gone = deleted == ERROR_SUCCESS;
        if (!gone) Leave(WideString(), deleted);
      }
      RegCloseKey(level.key);
      levels_.pop_back();
      if (levels_.empty()) return gone;
      if (!gone) StepPast(levels_.back());
    }
  }

 private:
  // The child at the level's index: deleted (the next child moves up to the
  // index), walked (pushed as the next level), or stepped past.
  void Enter(Level& level, const WideString& name) {
    if (name.empty() || !level.visited.insert(name).second) {
      StepPast(level);  // seen before (it came back, or the listing repeats itself)
      return;
    }
    // A name holding a zero cannot be passed to the registry calls: cut
    // there, it would name another key (with the zero first, this one again).
    if (name.find(WCHAR(0)) != WideString::npos) {
      Leave(name.substr(0, name.find(WCHAR(0))), ERROR_INVALID_NAME);
      StepPast(level);
      return;
    }
    HKEY key = nullptr;
    LONG opened = OpenAsItself(level.key, name.c_str(), &key);
    if (opened == ERROR_FILE_NOT_FOUND) return;  // gone meanwhile: the next one has its index
    if (opened != ERROR_SUCCESS) {
      Leave(name, static_cast<DWORD>(opened));
      StepPast(level);
      return;
    }
    if (deletion_.Delete(key) == ERROR_SUCCESS) {
      RegCloseKey(key);
      return;
    }
    levels_.push_back(Level{key, name, 0, false, {}});
  }

  static void StepPast(Level& level) {
    ++level.index;
    level.childLeft = true;
  }

  // Notes the first key that stays: its path below the key named, in UTF-8.
  bool Leave(const WideString& child, DWORD error) {
    if (!keyLeft_ || keyLeft_->error != ERROR_SUCCESS) return false;
    std::string path;
    for (size_t i = 1; i < levels_.size(); ++i) path += (path.empty() ? "" : "\\") + Utf8FromWide(levels_[i].name);
    if (!child.empty()) path += (path.empty() ? "" : "\\") + Utf8FromWide(child);
    keyLeft_->key = path;
    keyLeft_->error = error;
    return false;
  }

  KeyDeletion deletion_;
  RegistryKeyLeft* keyLeft_;
  std::vector<Level> levels_;
};

// The components of a path, between backslashes; empty ones are dropped.
std::vector<WideString> Components(const WideString& path) {
  std::vector<WideString> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(WCHAR('\\'), start);
    if (end == WideString::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

bool Failed(RegistryKeyLeft* keyLeft, DWORD error) {
  if (keyLeft && keyLeft->error == ERROR_SUCCESS) {
    keyLeft->key.clear();
    keyLeft->error = error;
  }
  return false;
}

// Opens the key that holds the key a path names, as the walk reaches it (see
// the top of this file): parent is root itself for a single component, else a
// handle for the caller to close; name is the last component.
LONG OpenParentOf(HKEY root, const WideString& path, HKEY* parent, WideString* name) {
  std::vector<WideString> parts = Components(path);
  // Guard: never delete or walk the root key itself.
  if (parts.empty()) return ERROR_INVALID_PARAMETER;
  *name = parts.back();
  parts.pop_back();
  *parent = root;
  if (parts.empty()) return ERROR_SUCCESS;
  if (root == HKEY_LOCAL_MACHINE) {
    WideString parentPath;
    for (const WideString& part : parts) parentPath += (parentPath.empty() ? WideString() : WIDE_TEXT("\\")) + part;
    return RegOpenKeyExW(root, parentPath.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, parent);
  }
  HKEY at = root;
  for (const WideString& part : parts) {
    HKEY next = nullptr;
    LONG opened = RegOpenKeyExW(at, part.c_str(), REG_OPTION_OPEN_LINK, KEY_ENUMERATE_SUB_KEYS, &next);
    if (at != root) RegCloseKey(at);
    // A link on the way is opened as itself and has no children: the key
    // named is not in this hive (ERROR_FILE_NOT_FOUND).
    if (opened != ERROR_SUCCESS) return opened;
    at = next;
  }
  *parent = at;
  return ERROR_SUCCESS;
}

}  // namespace

bool DeleteRegistryTree(HKEY root, const char* path, RegistryKeyLeft* keyLeft) {
  if (!path) return Failed(keyLeft, ERROR_INVALID_PARAMETER);
  return DeleteRegistryTree(root, WideFromAnsi(path), keyLeft);
}

bool DeleteRegistryTree(HKEY root, const WideString& path, RegistryKeyLeft* keyLeft) {
  HKEY parent = nullptr;
  WideString name;
  LONG opened = OpenParentOf(root, path, &parent, &name);
  if (opened == ERROR_FILE_NOT_FOUND) return true;  // not there: nothing to delete
  if (opened != ERROR_SUCCESS) return Failed(keyLeft, static_cast<DWORD>(opened));
  bool gone = DeleteRegistryTreeBelow(parent, name.c_str(), keyLeft);
  if (parent != root) RegCloseKey(parent);
  return gone;
}

bool DeleteRegistryTreeBelow(HKEY parent, const WCHAR* name, RegistryKeyLeft* keyLeft) {
  if (!name || !*name) return Failed(keyLeft, ERROR_INVALID_PARAMETER);
  // One component only: a separator would make it a path.
  WideString component(name);
  if (component.find(WCHAR('\\')) != WideString::npos) return Failed(keyLeft, ERROR_INVALID_PARAMETER);
  return TreeWalk(keyLeft).Delete(parent, component);
}

LONG OpenRegistryKeyAsWalked(HKEY root, const WideString& path, REGSAM access, HKEY* key) {
  HKEY parent = nullptr;
  WideString name;
  LONG opened = OpenParentOf(root, path, &parent, &name);
  if (opened != ERROR_SUCCESS) return opened;
  opened = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, access, key);
  if (parent != root) RegCloseKey(parent);
  return opened;
}
