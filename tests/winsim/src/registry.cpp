// advapi32 registry functions and shlwapi's SHDeleteKeyA over the simulated
// registry, plus the registry control functions for tests.
//
// Windows behaviour kept here: names compare without regard to case and keys
// enumerate in the order of their upper-cased names; only '\' separates path
// components (a leading one is a bad path name, trailing ones are accepted);
// a key with subkeys cannot be deleted (access denied); an empty path given to
// RegDeleteKeyA with an open handle deletes that key itself; a handle to a
// deleted key answers ERROR_KEY_DELETED except to RegCloseKey; string values
// come back exactly as stored, without a terminator when stored without one;
// the "A" functions that take a subkey path convert it through the thread's
// static Unicode buffer of 261 characters, so a path of more than 260
// characters fails with ERROR_MORE_DATA whatever it names; on AMD64,
// RegOpenKeyExA with KEY_WOW64_32KEY sees HKLM\SOFTWARE through its 32-bit
// view, HKLM\SOFTWARE\WOW6432Node.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "internal.h"

namespace winsim {
namespace {

struct OpenKey {
  std::shared_ptr<RegKey> key;
  REGSAM access = 0;
  std::string path;  // root name and path it was opened with, for the trace
};

std::map<uintptr_t, OpenKey>& OpenKeys() {
  static std::map<uintptr_t, OpenKey> keys;
  return keys;
}

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS;
}

// Registry path components: only '\' separates them; empty ones are dropped.
std::vector<std::string> SplitKeyPath(const std::string& path) { return SplitOn(path, "\\"); }

std::shared_ptr<RegKey> Child(const std::shared_ptr<RegKey>& key, const std::string& name,
                              bool create) {
  auto it = key->subkeys.find(name);
  if (it != key->subkeys.end()) return it->second;
  if (!create) return nullptr;
  auto child = std::make_shared<RegKey>();
  child->name = name;
  key->subkeys[name] = child;
  return child;
}

std::shared_ptr<RegKey> RootKey(HKEY root) {
  RegistryState& r = M().registry;
  if (root == HKEY_LOCAL_MACHINE) return r.localMachine;
  if (root == HKEY_CURRENT_USER) return r.currentUser;
  if (root == HKEY_USERS) return r.users;
  if (root == HKEY_CLASSES_ROOT) {
    std::shared_ptr<RegKey> software = Child(r.localMachine, "SOFTWARE", false);
    return software ? Child(software, "Classes", false) : nullptr;
  }
  auto it = OpenKeys().find(reinterpret_cast<uintptr_t>(root));
  if (it == OpenKeys().end()) return nullptr;
  return it->second.key;
}

std::string RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKCR";
  if (root == HKEY_CURRENT_USER) return "HKCU";
  if (root == HKEY_LOCAL_MACHINE) return "HKLM";
  if (root == HKEY_USERS) return "HKU";
  auto it = OpenKeys().find(reinterpret_cast<uintptr_t>(root));
  return it == OpenKeys().end() ? "?" : it->second.path;
}

std::string JoinName(HKEY root, const char* subKey) {
  std::string name = RootName(root);
  if (subKey && *subKey) name += "\\" + std::string(subKey);
  return name;
}

// Resolves a path below a key. Leading separators are a bad path name, as on
// Windows; trailing separators are accepted.
LONG Resolve(HKEY root, const char* subKey, bool create, std::shared_ptr<RegKey>* out,
             bool* created = nullptr) {
  std::shared_ptr<RegKey> key = RootKey(root);
  if (!key) return ERROR_INVALID_HANDLE;
  if (key->deleted) return ERROR_KEY_DELETED;
  std::string path = subKey ? subKey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  if (created) *created = false;
  for (const std::string& part : SplitKeyPath(path)) {
    if (part.size() > 255) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> next = Child(key, part, false);
    if (!next) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      next = Child(key, part, true);
      if (created) *created = true;
    }
    key = next;
  }
  *out = key;
  return ERROR_SUCCESS;
}

OpenKey* Lookup(HKEY key) {
  auto it = OpenKeys().find(reinterpret_cast<uintptr_t>(key));
  return it == OpenKeys().end() ? nullptr : &it->second;
}

// An open handle or a predefined root (which has every right).
LONG Access(HKEY key, REGSAM needed, std::shared_ptr<RegKey>* out) {
  if (IsPredefined(key)) {
    *out = RootKey(key);
    return *out ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  }
  OpenKey* open = Lookup(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (open->key->deleted) return ERROR_KEY_DELETED;
  if ((open->access & needed) != (needed & 0xFFFF)) return ERROR_ACCESS_DENIED;
  *out = open->key;
  return ERROR_SUCCESS;
}

HKEY NewKeyHandle(std::shared_ptr<RegKey> key, REGSAM access, std::string path) {
  static uintptr_t next = 0x5000;
  next += 4;
  OpenKeys()[next] = OpenKey{std::move(key), access, std::move(path)};
  return reinterpret_cast<HKEY>(next);
}

void MarkDeleted(RegKey& key) {
  key.deleted = true;
  for (auto& [name, child] : key.subkeys) MarkDeleted(*child);
}

RegValue* FindValueIn(RegKey& key, const std::string& name) {
  for (RegValue& v : key.values)
    if (EqualsNoCase(v.name, name)) return &v;
  return nullptr;
}

// The key a path names (which must not be a predefined root) and its parent.
LONG ResolveForDelete(HKEY root, const char* subKey, std::shared_ptr<RegKey>* parent,
                      std::shared_ptr<RegKey>* key) {
  std::string path = subKey ? subKey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  std::vector<std::string> parts = SplitKeyPath(path);
  if (parts.empty()) {
    // The key itself: an open key can delete itself, a predefined root never.
    if (IsPredefined(root)) return ERROR_ACCESS_DENIED;
    OpenKey* open = Lookup(root);
    if (!open) return ERROR_INVALID_HANDLE;
    if (open->key->deleted) return ERROR_KEY_DELETED;
    std::shared_ptr<RegKey> self = open->key;
    // Its parent is found by searching the trees (keys do not point upwards).
    std::vector<std::shared_ptr<RegKey>> pending = {M().registry.localMachine,
                                                    M().registry.currentUser, M().registry.users};
    while (!pending.empty()) {
      std::shared_ptr<RegKey> candidate = pending.back();
      pending.pop_back();
      for (auto& [name, child] : candidate->subkeys) {
        if (child == self) {
          *parent = candidate;
          *key = self;
          return ERROR_SUCCESS;
        }
        pending.push_back(child);
      }
    }
    return ERROR_KEY_DELETED;
  }
  std::string parentPath;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += (i ? "\\" : "") + parts[i];
  LONG rc = Resolve(root, parentPath.c_str(), false, parent);
  if (rc != ERROR_SUCCESS) return rc;
  if (parts.back().size() > 255) return ERROR_INVALID_PARAMETER;
  auto it = (*parent)->subkeys.find(parts.back());
  if (it == (*parent)->subkeys.end()) return ERROR_FILE_NOT_FOUND;
  *key = it->second;
  return ERROR_SUCCESS;
}

void Unlink(RegKey& parent, const std::shared_ptr<RegKey>& key) {
  MarkDeleted(*key);
  for (auto it = parent.subkeys.begin(); it != parent.subkeys.end(); ++it) {
    if (it->second == key) {
      parent.subkeys.erase(it);
      return;
    }
  }
}

LONG DeleteTree(RegKey& key) {
  if (key.refuseDelete) return ERROR_ACCESS_DENIED;
  for (auto it = key.subkeys.begin(); it != key.subkeys.end();) {
    LONG rc = DeleteTree(*it->second);
    if (rc != ERROR_SUCCESS) return rc;
    MarkDeleted(*it->second);
    it = key.subkeys.erase(it);
  }
  return ERROR_SUCCESS;
}

const size_t kAnsiSubKeyLimit = 260;

bool SubKeyTooLong(const char* subKey) { return subKey && std::strlen(subKey) > kAnsiSubKeyLimit; }

LONG Traced(const std::string& line, LONG rc) {
  Trace(line + " -> " + std::to_string(rc));
  return rc;
}

}  // namespace

std::shared_ptr<RegKey> RegistryState::MachineRoot() {
  auto root = std::make_shared<RegKey>();
  auto software = std::make_shared<RegKey>();
  software->name = "SOFTWARE";
  auto classes = std::make_shared<RegKey>();
  classes->name = "Classes";
  software->subkeys["Classes"] = classes;
  root->subkeys["SOFTWARE"] = software;
  return root;
}

// ---- Control functions ---------------------------------------------------------
RegKey& CreateKey(HKEY root, const std::string& path) {
  std::shared_ptr<RegKey> key;
  Resolve(root, path.c_str(), true, &key);
  return *key;
}

RegKey* FindKey(HKEY root, const std::string& path) {
  std::shared_ptr<RegKey> key;
  if (Resolve(root, path.c_str(), false, &key) != ERROR_SUCCESS) return nullptr;
  return key.get();
}

bool KeyExists(HKEY root, const std::string& path) { return FindKey(root, path) != nullptr; }

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data) {
  RegKey& key = CreateKey(root, path);
  RegValue* value = FindValueIn(key, name);
  if (!value) {
    key.values.push_back(RegValue{name, type, {}});
    value = &key.values.back();
  }
  value->type = type;
  value->data = data;
}

void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& text, DWORD type) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(root, path, name, type, data);
}

const RegValue* FindValue(HKEY root, const std::string& path, const std::string& name) {
  RegKey* key = FindKey(root, path);
  return key ? FindValueIn(*key, name) : nullptr;
}

static void Dump(const RegKey& key, const std::string& path, std::vector<std::string>& out) {
  for (const RegValue& v : key.values) {
    std::string hex;
    char byte[3];
    for (BYTE b : v.data) {
      std::snprintf(byte, sizeof byte, "%02x", b);
      hex += byte;
    }
    out.push_back(path + "\\:" + v.name + "=" + std::to_string(v.type) + ":" + hex);
  }
  for (const auto& [name, child] : key.subkeys) {
    std::string childPath = path.empty() ? child->name : path + "\\" + child->name;
    out.push_back(childPath);
    Dump(*child, childPath, out);
  }
}

std::vector<std::string> DumpRegistry(HKEY root) {
  std::vector<std::string> out;
  std::shared_ptr<RegKey> key = RootKey(root);
  if (key) Dump(*key, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace winsim

using namespace winsim;

namespace {

// The 32-bit view that KEY_WOW64_32KEY asks for on 64-bit Windows: HKLM\SOFTWARE
// (but not its Classes) lies below HKLM\SOFTWARE\WOW6432Node.
std::string RegistryView(HKEY root, const char* subKey, REGSAM access) {
  std::string path = subKey ? subKey : "";
  if (root != HKEY_LOCAL_MACHINE || !(access & KEY_WOW64_32KEY) ||
      M().system.processorArchitecture != PROCESSOR_ARCHITECTURE_AMD64)
    return path;
  std::vector<std::string> parts = SplitKeyPath(path);
  if (parts.empty() || path[0] == '\\' || !EqualsNoCase(parts[0], "SOFTWARE")) return path;
  if (parts.size() > 1 && (EqualsNoCase(parts[1], "Classes") || EqualsNoCase(parts[1], "WOW6432Node")))
    return path;
  std::string rest = path.substr(parts[0].size());
  return parts[0] + "\\WOW6432Node" + rest;
}

}  // namespace

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  if (SubKeyTooLong(subKey)) return ERROR_MORE_DATA;
  std::shared_ptr<RegKey> key;
  std::string viewed = RegistryView(root, subKey, access);
  if (subKey) subKey = viewed.c_str();
  LONG rc = Resolve(root, subKey, false, &key);
  if (rc != ERROR_SUCCESS) return rc;
  if (key->refuseOpen) return ERROR_ACCESS_DENIED;
  *result = NewKeyHandle(key, access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), JoinName(root, subKey));
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  if (SubKeyTooLong(subKey)) return ERROR_MORE_DATA;
  std::shared_ptr<RegKey> key;
  bool created = false;
  LONG rc = Resolve(root, subKey, true, &key, &created);
  if (rc != ERROR_SUCCESS) return rc;
  if (!created && key->refuseOpen) return ERROR_ACCESS_DENIED;
  *result = NewKeyHandle(key, access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY), JoinName(root, subKey));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  return OpenKeys().erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                  : ERROR_INVALID_HANDLE;
}

LONG RegDeleteKeyA(HKEY root, LPCSTR subKey) {
  std::string line = "regdeletekey: " + JoinName(root, subKey);
  if (!subKey) return Traced(line, ERROR_INVALID_PARAMETER);
  if (SubKeyTooLong(subKey)) return Traced(line, ERROR_MORE_DATA);
  std::shared_ptr<RegKey> parent;
  std::shared_ptr<RegKey> key;
  LONG rc = ResolveForDelete(root, subKey, &parent, &key);
  if (rc != ERROR_SUCCESS) return Traced(line, rc);
  // A key with subkeys cannot be deleted: Windows answers access denied.
  if (key->refuseDelete || !key->subkeys.empty()) return Traced(line, ERROR_ACCESS_DENIED);
  Unlink(*parent, key);
  return Traced(line, ERROR_SUCCESS);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR,
                   LPDWORD, PFILETIME lastWriteTime) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_ENUMERATE_SUB_KEYS, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = k->subkeys.begin();
  std::advance(it, index);
  const std::string& n = it->second->name;
  // The size offered counts the terminator; a name that does not fit is not
  // copied and the size is left as it was.
  if (n.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  std::memcpy(name, n.c_str(), n.size() + 1);
  *nameLength = static_cast<DWORD>(n.size());
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_QUERY_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& v = k->values[index];
  if (v.name.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  if (data && dataLength && v.data.size() > *dataLength) {
    *dataLength = static_cast<DWORD>(v.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, v.name.c_str(), v.name.size() + 1);
  *nameLength = static_cast<DWORD>(v.name.size());
  if (type) *type = v.type;
  if (data && dataLength && !v.data.empty()) std::memcpy(data, v.data.data(), v.data.size());
  if (dataLength) *dataLength = static_cast<DWORD>(v.data.size());
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataLength) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_QUERY_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (data && !dataLength) return ERROR_INVALID_PARAMETER;
  const RegValue* v = FindValueIn(*k, valueName ? valueName : "");
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->type;
  // The data as stored: a string stored without its terminator comes back
  // without one, and its size does not count one.
  DWORD size = static_cast<DWORD>(v->data.size());
  if (data) {
    if (size > *dataLength) {
      *dataLength = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, v->data.data(), size);
  }
  if (dataLength) *dataLength = size;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataLength) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_SET_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  // A write refused by something other than the handle's access (a registry
  // filter of security software, say) stores nothing.
  if (k->refuseSetValue) return ERROR_ACCESS_DENIED;
  if (!data && dataLength) return 998L /* ERROR_NOACCESS */;
  RegValue* v = FindValueIn(*k, valueName ? valueName : "");
  if (!v) {
    k->values.push_back(RegValue{valueName ? valueName : "", type, {}});
    v = &k->values.back();
  }
  v->type = type;
  v->data.assign(data, data + dataLength);
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) {
  std::string name = valueName ? valueName : "";
  std::string line = "regdeletevalue: " + RootName(key) + ":" + name;
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_SET_VALUE, &k);
  if (rc != ERROR_SUCCESS) return Traced(line, rc);
  for (auto it = k->values.begin(); it != k->values.end(); ++it) {
    if (EqualsNoCase(it->name, name)) {
      k->values.erase(it);
      return Traced(line, ERROR_SUCCESS);
    }
  }
  return Traced(line, ERROR_FILE_NOT_FOUND);
}

LSTATUS SHDeleteKeyA(HKEY root, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<RegKey> parent;
  std::shared_ptr<RegKey> key;
  LONG rc = ResolveForDelete(root, subKey, &parent, &key);
  if (rc != ERROR_SUCCESS) return rc;
  rc = DeleteTree(*key);
  if (rc != ERROR_SUCCESS) return rc;
  Unlink(*parent, key);
  return ERROR_SUCCESS;
}
