// advapi32 registry functions and shlwapi's SHDeleteKeyA over the simulated
// registry, plus the registry control functions for tests.
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
};

std::map<uintptr_t, OpenKey>& OpenKeys() {
  static std::map<uintptr_t, OpenKey> keys;
  return keys;
}

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS;
}

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
  if (root == HKEY_CLASSES_ROOT) return Child(Child(r.localMachine, "SOFTWARE", true), "Classes", true);
  auto it = OpenKeys().find(reinterpret_cast<uintptr_t>(root));
  if (it == OpenKeys().end()) return nullptr;
  return it->second.key;
}

// Resolves a path below a key. Leading separators are a bad path name, as on
// Windows; a trailing separator is accepted.
LONG Resolve(HKEY root, const char* subKey, bool create, std::shared_ptr<RegKey>* out,
             bool* created = nullptr) {
  std::shared_ptr<RegKey> key = RootKey(root);
  if (!key) return ERROR_INVALID_HANDLE;
  if (key->deleted) return ERROR_KEY_DELETED;
  std::string path = subKey ? subKey : "";
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  if (created) *created = false;
  for (const std::string& part : SplitPath(path)) {
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
    return ERROR_SUCCESS;
  }
  OpenKey* open = Lookup(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (open->key->deleted) return ERROR_KEY_DELETED;
  if ((open->access & needed) != (needed & 0xFFFF)) return ERROR_ACCESS_DENIED;
  *out = open->key;
  return ERROR_SUCCESS;
}

HKEY NewKeyHandle(std::shared_ptr<RegKey> key, REGSAM access) {
  static uintptr_t next = 0x5000;
  next += 4;
  OpenKeys()[next] = OpenKey{std::move(key), access};
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

// Parent of the key a path names, and the key's last name component.
LONG ResolveParent(HKEY root, const char* subKey, std::shared_ptr<RegKey>* parent,
                   std::string* leaf) {
  std::string path = subKey ? subKey : "";
  std::vector<std::string> parts = SplitPath(path);
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  if (parts.empty()) return ERROR_ACCESS_DENIED;  // the key itself: never a root
  *leaf = parts.back();
  std::string parentPath;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parentPath += (i ? "\\" : "") + parts[i];
  return Resolve(root, parentPath.c_str(), false, parent);
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

}  // namespace

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

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<RegKey> key;
  LONG rc = Resolve(root, subKey, false, &key);
  if (rc != ERROR_SUCCESS) return rc;
  if (key->refuseOpen) return ERROR_ACCESS_DENIED;
  *result = NewKeyHandle(key, access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY));
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<RegKey> key;
  bool created = false;
  LONG rc = Resolve(root, subKey, true, &key, &created);
  if (rc != ERROR_SUCCESS) return rc;
  if (!created && key->refuseOpen) return ERROR_ACCESS_DENIED;
  *result = NewKeyHandle(key, access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  return OpenKeys().erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                  : ERROR_INVALID_HANDLE;
}

LONG RegDeleteKeyA(HKEY root, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::shared_ptr<RegKey> parent;
  std::string leaf;
  LONG rc = ResolveParent(root, subKey, &parent, &leaf);
  if (rc != ERROR_SUCCESS) return rc;
  auto it = parent->subkeys.find(leaf);
  if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
  RegKey& key = *it->second;
  // A key with subkeys cannot be deleted: Windows answers access denied.
  if (key.refuseDelete || !key.subkeys.empty()) return ERROR_ACCESS_DENIED;
  MarkDeleted(key);
  parent->subkeys.erase(it);
  return ERROR_SUCCESS;
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
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_SET_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  std::string name = valueName ? valueName : "";
  for (auto it = k->values.begin(); it != k->values.end(); ++it) {
    if (EqualsNoCase(it->name, name)) {
      k->values.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LSTATUS SHDeleteKeyA(HKEY root, LPCSTR subKey) {
  std::shared_ptr<RegKey> parent;
  std::string leaf;
  LONG rc = ResolveParent(root, subKey, &parent, &leaf);
  if (rc != ERROR_SUCCESS) return rc;
  auto it = parent->subkeys.find(leaf);
  if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
  rc = DeleteTree(*it->second);
  if (rc != ERROR_SUCCESS) return rc;
  MarkDeleted(*it->second);
  parent->subkeys.erase(it);
  return ERROR_SUCCESS;
}
