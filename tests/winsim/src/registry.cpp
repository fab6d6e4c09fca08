// advapi32 registry functions, ntdll's NtDeleteKey and shlwapi's SHDeleteKeyA
// over the simulated registry, plus the registry control functions for tests.
//
// Windows behaviour kept here: names compare without regard to case and keys
// enumerate in the order of their upper-cased names; only '\' separates path
// components (a leading one is a bad path name, trailing ones are accepted); a
// component is at most 255 UTF-16 characters; a key with subkeys cannot be
// deleted (access denied); an empty path given to RegDeleteKey* with an open
// handle deletes that key itself; a handle to a deleted key answers
// ERROR_KEY_DELETED except to RegCloseKey; string values come back exactly as
// stored, without a terminator when stored without one; the "A" functions see
// names through the code page (outside it, a name comes back with '?' or its
// best fit, and can no longer be opened by it) and convert a subkey path
// through the thread's static Unicode buffer of 261 characters, so a path of
// more than 260 characters fails with ERROR_MORE_DATA whatever it names; on
// AMD64, KEY_WOW64_32KEY sees HKLM\SOFTWARE through its 32-bit view,
// HKLM\SOFTWARE\WOW6432Node. Registry links: see RegKey::link.
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

// How many links one open may pass through before Windows gives up.
const int kMostReparses = 32;
const char kLinkValueName[] = "SymbolicLinkValue";

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Registry path components: only '\' separates them; empty ones are dropped.
std::vector<std::string> SplitKeyPath(const std::string& path) { return SplitOn(path, "\\"); }

bool NameTooLong(const std::string& name) { return WideFromUtf8(name).size() > 255; }

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

std::string JoinName(HKEY root, const std::string& subKey) {
  std::string name = RootName(root);
  if (!subKey.empty()) name += "\\" + subKey;
  return name;
}

RegValue* FindValueIn(RegKey& key, const std::string& name) {
  for (RegValue& v : key.values)
    if (EqualsNoCase(v.name, name)) return &v;
  return nullptr;
}

// Where a path leads: the key and the key that holds it (null for a root).
struct Location {
  std::shared_ptr<RegKey> parent;
  std::shared_ptr<RegKey> key;
};

LONG Walk(std::shared_ptr<RegKey> start, const std::vector<std::string>& parts, bool create, bool followLast,
          Location* out, bool* created, int reparses);

// The key a link names, followed through further links.
LONG FollowLink(const RegKey& link, Location* out, int reparses) {
  if (reparses >= kMostReparses) return ERROR_CANT_RESOLVE_FILENAME;
  const RegValue* value = FindValueIn(const_cast<RegKey&>(link), kLinkValueName);
  if (!value || value->type != REG_LINK) return ERROR_FILE_NOT_FOUND;
  std::u16string target(value->data.size() / 2, u'\0');
  for (size_t i = 0; i < target.size(); ++i)
    target[i] = static_cast<char16_t>(value->data[2 * i] | (value->data[2 * i + 1] << 8));
  std::vector<std::string> parts = SplitKeyPath(Utf8FromWide(target));
  if (parts.size() < 2 || !EqualsNoCase(parts[0], "REGISTRY")) return ERROR_FILE_NOT_FOUND;
  std::shared_ptr<RegKey> root;
  if (EqualsNoCase(parts[1], "MACHINE"))
    root = M().registry.localMachine;
  else if (EqualsNoCase(parts[1], "USER"))
    root = M().registry.users;
  else
    return ERROR_FILE_NOT_FOUND;
  parts.erase(parts.begin(), parts.begin() + 2);
  if (parts.empty()) return ERROR_ACCESS_DENIED;  // a hive's own root is no target
  return Walk(root, parts, false, true, out, nullptr, reparses + 1);
}

// Walks the components below start. Every link met on the way is followed;
// the last component's only when followLast. A link that start itself is (a
// handle opened with REG_OPTION_OPEN_LINK) is followed only by an empty path.
LONG Walk(std::shared_ptr<RegKey> start, const std::vector<std::string>& parts, bool create, bool followLast,
          Location* out, bool* created, int reparses) {
  Location at{nullptr, start};
  if (parts.empty() && start->link && followLast) return FollowLink(*start, out, reparses);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (NameTooLong(parts[i])) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<RegKey> next = Child(at.key, parts[i], false);
    if (!next) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      next = Child(at.key, parts[i], true);
      if (created) *created = true;
    }
    at = Location{at.key, next};
    bool last = i + 1 == parts.size();
    if (next->link && (!last || followLast)) {
      LONG rc = FollowLink(*next, &at, reparses);
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  *out = at;
  return ERROR_SUCCESS;
}

// Resolves a path below a key. Leading separators are a bad path name, as on
// Windows; trailing separators are accepted.
LONG Resolve(HKEY root, const std::string& path, bool create, bool followLast, Location* out,
             bool* created = nullptr) {
  std::shared_ptr<RegKey> key = RootKey(root);
  if (!key) return ERROR_INVALID_HANDLE;
  if (key->deleted) return ERROR_KEY_DELETED;
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  if (created) *created = false;
  return Walk(key, SplitKeyPath(path), create, followLast, out, created, 0);
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

// The key that holds key, searched for in every tree (keys do not point upwards).
std::shared_ptr<RegKey> ParentOf(const std::shared_ptr<RegKey>& key) {
  std::vector<std::shared_ptr<RegKey>> pending = {M().registry.localMachine, M().registry.currentUser,
                                                  M().registry.users};
  while (!pending.empty()) {
    std::shared_ptr<RegKey> candidate = pending.back();
    pending.pop_back();
    for (auto& [name, child] : candidate->subkeys) {
      if (child == key) return candidate;
      pending.push_back(child);
    }
  }
  return nullptr;
}

// The key a path names for deletion by path (which opens it without
// REG_OPTION_OPEN_LINK, so a link there leads to its target) and its parent.
LONG ResolveForDelete(HKEY root, const std::string& path, Location* out) {
  if (!path.empty() && path[0] == '\\') return ERROR_BAD_PATHNAME;
  if (SplitKeyPath(path).empty()) {
    // The key itself: an open key can delete itself, a predefined root never.
    if (IsPredefined(root)) return ERROR_ACCESS_DENIED;
    OpenKey* open = Lookup(root);
    if (!open) return ERROR_INVALID_HANDLE;
    if (open->key->deleted) return ERROR_KEY_DELETED;
    if (open->key->link) return FollowLink(*open->key, out, 0);
    out->key = open->key;
    out->parent = ParentOf(open->key);
    return out->parent ? ERROR_SUCCESS : ERROR_KEY_DELETED;
  }
  LONG rc = Resolve(root, path, false, true, out);
  if (rc != ERROR_SUCCESS) return rc;
  return out->parent ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
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

// SHDeleteKeyA's walk: it opens every child by name, so a link below the key
// leads it to the link's target, which it empties and deletes; the link
// itself then stays, and with it the key that holds it.
LONG DeleteTree(RegKey& key) {
  if (key.refuseDelete) return ERROR_ACCESS_DENIED;
  for (auto it = key.subkeys.begin(); it != key.subkeys.end();) {
    std::shared_ptr<RegKey> child = it->second;
    if (child->link) {
      Location target;
      if (FollowLink(*child, &target, 0) == ERROR_SUCCESS && target.parent && DeleteTree(*target.key) == ERROR_SUCCESS)
        Unlink(*target.parent, target.key);
      return ERROR_ACCESS_DENIED;
    }
    LONG rc = DeleteTree(*child);
    if (rc != ERROR_SUCCESS) return rc;
    MarkDeleted(*child);
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

std::string FromAnsi(const char* text) { return text ? Utf8FromAnsi(text) : std::string(); }

std::string FromWide(const WCHAR* text) { return text ? Utf8FromWide(std::u16string(text)) : std::string(); }

std::vector<BYTE> WideBytes(const std::u16string& text) {
  std::vector<BYTE> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>(c >> 8));
  }
  return bytes;
}

std::u16string WideOfBytes(const std::vector<BYTE>& bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return text;
}

// A value's data as a caller of the "W" (wide) or "A" calls reads it.
std::vector<BYTE> DataFor(const RegValue& v, bool wide) {
  if (!IsStringType(v.type) || v.unicode == wide) return v.data;
  if (wide) {
    std::u16string text;
    for (BYTE b : v.data) text += static_cast<char16_t>(WideOfAnsiByte(b));
    return WideBytes(text);
  }
  // Character by character, so that zeros (terminators, REG_MULTI_SZ) stay.
  std::string ansi = AnsiFromUtf8(Utf8FromWide(WideOfBytes(v.data)));
  return std::vector<BYTE>(ansi.begin(), ansi.end());
}

// The 32-bit view that KEY_WOW64_32KEY asks for on 64-bit Windows: HKLM\SOFTWARE
// (but not its Classes) lies below HKLM\SOFTWARE\WOW6432Node.
std::string RegistryView(HKEY root, const std::string& path, REGSAM access) {
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

const REGSAM kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

LONG OpenKeyAt(HKEY root, const std::string& subKey, DWORD options, REGSAM access, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::string viewed = RegistryView(root, subKey, access);
  Location at;
  LONG rc = Resolve(root, viewed, false, (options & REG_OPTION_OPEN_LINK) == 0, &at);
  if (rc != ERROR_SUCCESS) return rc;
  if (at.key->refuseOpen) return ERROR_ACCESS_DENIED;
  if (at.key->grantsReadOnly && (access & ~(KEY_READ | kViewFlags))) return ERROR_ACCESS_DENIED;
  *result = NewKeyHandle(at.key, access & ~kViewFlags, JoinName(root, viewed));
  return ERROR_SUCCESS;
}

LONG CreateKeyAt(HKEY root, const std::string& subKey, DWORD options, REGSAM access, PHKEY result,
                 LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  std::string viewed = RegistryView(root, subKey, access);
  Location at;
  bool created = false;
  // A link is created as the link itself; any other create opens through links.
  bool makeLink = (options & REG_OPTION_CREATE_LINK) != 0;
  Location existing;
  if (Resolve(root, viewed, false, !makeLink, &existing) != ERROR_SUCCESS)
    if (DWORD fault = MachineChange("RegCreateKey", JoinName(root, viewed), ERROR_ACCESS_DENIED))
      return static_cast<LONG>(fault);
  LONG rc = Resolve(root, viewed, true, !makeLink, &at, &created);
  if (rc != ERROR_SUCCESS) return rc;
  if (!created && at.key->refuseOpen) return ERROR_ACCESS_DENIED;
  if (created && makeLink) at.key->link = true;
  *result = NewKeyHandle(at.key, access & ~kViewFlags, JoinName(root, viewed));
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG DeleteKeyAt(HKEY root, const std::string& subKey, const std::string& traced) {
  std::string line = "regdeletekey: " + JoinName(root, traced);
  Location at;
  LONG rc = ResolveForDelete(root, subKey, &at);
  if (rc != ERROR_SUCCESS) return Traced(line, rc);
  // A key with subkeys cannot be deleted: Windows answers access denied.
  if (at.key->refuseDelete || !at.key->subkeys.empty()) return Traced(line, ERROR_ACCESS_DENIED);
  if (DWORD fault = MachineChange("RegDeleteKey", JoinName(root, traced), ERROR_ACCESS_DENIED))
    return Traced(line, static_cast<LONG>(fault));
  Unlink(*at.parent, at.key);
  return Traced(line, ERROR_SUCCESS);
}

// Copies a name into a caller's buffer of *length characters, terminator
// included; a name that does not fit is not copied and the size is left as it was.
template <typename Char>
LONG CopyName(const std::basic_string<Char>& name, Char* buffer, LPDWORD length) {
  if (name.size() + 1 > *length) return ERROR_MORE_DATA;
  std::copy(name.begin(), name.end(), buffer);
  buffer[name.size()] = Char(0);
  *length = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

std::string AnsiName(const std::string& name) { return AnsiFromUtf8(name); }

template <typename Char>
std::basic_string<Char> NameFor(const std::string& name);
template <>
std::string NameFor<char>(const std::string& name) { return AnsiName(name); }
template <>
std::u16string NameFor<char16_t>(const std::string& name) { return WideFromUtf8(name); }

template <typename Char>
LONG EnumKey(HKEY key, DWORD index, Char* name, LPDWORD nameLength, PFILETIME lastWriteTime) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_ENUMERATE_SUB_KEYS, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (index >= k->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = k->subkeys.begin();
  std::advance(it, index);
  rc = CopyName(NameFor<Char>(it->second->name), name, nameLength);
  if (rc == ERROR_SUCCESS && lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return rc;
}

template <typename Char>
LONG EnumValue(HKEY key, DWORD index, Char* name, LPDWORD nameLength, LPDWORD type, LPBYTE data,
               LPDWORD dataLength) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_QUERY_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (!name || !nameLength) return ERROR_INVALID_PARAMETER;
  if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegValue& v = k->values[index];
  std::basic_string<Char> valueName = NameFor<Char>(v.name);
  std::vector<BYTE> bytes = DataFor(v, sizeof(Char) == 2);
  if (valueName.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  if (data && dataLength && bytes.size() > *dataLength) {
    *dataLength = static_cast<DWORD>(bytes.size());
    return ERROR_MORE_DATA;
  }
  CopyName(valueName, name, nameLength);
  if (type) *type = v.type;
  if (data && dataLength && !bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  if (dataLength) *dataLength = static_cast<DWORD>(bytes.size());
  return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, const std::string& valueName, bool wide, LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_QUERY_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (data && !dataLength) return ERROR_INVALID_PARAMETER;
  const RegValue* v = FindValueIn(*k, valueName);
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->type;
  // The data as stored: a string stored without its terminator comes back
  // without one, and its size does not count one.
  std::vector<BYTE> bytes = DataFor(*v, wide);
  DWORD size = static_cast<DWORD>(bytes.size());
  if (data) {
    if (size > *dataLength) {
      *dataLength = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, bytes.data(), size);
  }
  if (dataLength) *dataLength = size;
  return ERROR_SUCCESS;
}

LONG SetValueAt(HKEY key, const std::string& valueName, bool wide, DWORD type, const BYTE* data, DWORD dataLength) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_SET_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  // A write refused by something other than the handle's access (a registry
  // filter of security software, say) stores nothing.
  if (k->refuseSetValue) return ERROR_ACCESS_DENIED;
  if (!data && dataLength) return 998L /* ERROR_NOACCESS */;
  if (DWORD fault = MachineChange("RegSetValue", RootName(key) + ":" + valueName, ERROR_ACCESS_DENIED))
    return static_cast<LONG>(fault);
  RegValue* v = FindValueIn(*k, valueName);
  if (!v) {
    k->values.push_back(RegValue{valueName, type, {}, false});
    v = &k->values.back();
  }
  v->type = type;
  v->data.assign(data, data + dataLength);
  v->unicode = wide && IsStringType(type);
  return ERROR_SUCCESS;
}

LONG DeleteValueAt(HKEY key, const std::string& name) {
  std::string line = "regdeletevalue: " + RootName(key) + ":" + name;
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_SET_VALUE, &k);
  if (rc != ERROR_SUCCESS) return Traced(line, rc);
  for (auto it = k->values.begin(); it != k->values.end(); ++it) {
    if (EqualsNoCase(it->name, name)) {
      if (DWORD fault = MachineChange("RegDeleteValue", RootName(key) + ":" + name, ERROR_ACCESS_DENIED))
        return Traced(line, static_cast<LONG>(fault));
      k->values.erase(it);
      return Traced(line, ERROR_SUCCESS);
    }
  }
  return Traced(line, ERROR_FILE_NOT_FOUND);
}

DWORD Win32OfStatus(NTSTATUS status) {
  switch (status) {
    case STATUS_SUCCESS: return ERROR_SUCCESS;
    case STATUS_INVALID_HANDLE: return ERROR_INVALID_HANDLE;
    case STATUS_ACCESS_DENIED:
    case STATUS_CANNOT_DELETE: return ERROR_ACCESS_DENIED;
    case STATUS_OBJECT_NAME_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
    case STATUS_KEY_DELETED: return ERROR_KEY_DELETED;
  }
  return 317L /* ERROR_MR_MID_NOT_FOUND, as for any status without a Win32 error */;
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
  Location at;
  Resolve(root, path, true, false, &at);
  return *at.key;
}

RegKey& CreateKey(HKEY root, const std::u16string& path) { return CreateKey(root, Utf8FromWide(path)); }

RegKey* FindKey(HKEY root, const std::string& path) {
  Location at;
  if (Resolve(root, path, false, false, &at) != ERROR_SUCCESS) return nullptr;
  return at.key.get();
}

RegKey* FindKey(HKEY root, const std::u16string& path) { return FindKey(root, Utf8FromWide(path)); }

bool KeyExists(HKEY root, const std::string& path) { return FindKey(root, path) != nullptr; }

bool KeyExists(HKEY root, const std::u16string& path) { return FindKey(root, path) != nullptr; }

RegKey& CreateLink(HKEY root, const std::string& path, const std::string& target) {
  Location at;
  Resolve(root, path, true, false, &at);
  at.key->link = true;
  RegValue* value = FindValueIn(*at.key, kLinkValueName);
  if (!value) {
    at.key->values.push_back(RegValue{kLinkValueName, REG_LINK, {}, false});
    value = &at.key->values.back();
  }
  // Windows keeps the target without a terminating zero.
  value->data = WideBytes(WideFromUtf8(target));
  return *at.key;
}

void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data) {
  RegKey& key = CreateKey(root, path);
  RegValue* value = FindValueIn(key, name);
  if (!value) {
    key.values.push_back(RegValue{name, type, {}, false});
    value = &key.values.back();
  }
  value->type = type;
  value->data = data;
  value->unicode = false;
}

void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& text, DWORD type) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(root, path, name, type, data);
}

void SetWideString(HKEY root, const std::string& path, const std::string& name, const std::u16string& text,
                   DWORD type) {
  SetValue(root, path, name, type, WideBytes(text + u'\0'));
  FindValueIn(*FindKey(root, path), name)->unicode = IsStringType(type);
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

size_t OpenKeyHandles() { return OpenKeys().size(); }

HiveFile& AddHiveFile(const std::string& path) {
  MakeFile(path, "regf");
  return M().registry.hiveFiles[path];
}

RegKey& KeyAt(RegKey& root, const std::string& path) {
  RegKey* key = &root;
  for (const std::string& part : SplitKeyPath(path)) {
    auto it = key->subkeys.find(part);
    if (it == key->subkeys.end()) {
      auto child = std::make_shared<RegKey>();
      child->name = part;
      it = key->subkeys.emplace(part, child).first;
    }
    key = it->second.get();
  }
  return *key;
}

void MountHive(const std::string& path, const std::string& name) {
  HiveFile& hive = M().registry.hiveFiles[path];
  hive.root->name = name;
  hive.mountedAs = name;
  M().registry.users->subkeys[name] = hive.root;
}

void ResetRegistryHandles() { OpenKeys().clear(); }

}  // namespace winsim

using namespace winsim;

// ---- "A" calls: names through the code page ------------------------------------
LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  if (SubKeyTooLong(subKey)) return ERROR_MORE_DATA;
  return OpenKeyAt(root, FromAnsi(subKey), options, access, result);
}

LONG RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (SubKeyTooLong(subKey)) return ERROR_MORE_DATA;
  return CreateKeyAt(root, FromAnsi(subKey), options, access, result, disposition);
}

LONG RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  return OpenKeys().erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS
                                                                  : ERROR_INVALID_HANDLE;
}

LONG RegDeleteKeyA(HKEY root, LPCSTR subKey) {
  if (!subKey) return Traced("regdeletekey: " + RootName(root), ERROR_INVALID_PARAMETER);
  std::string path = FromAnsi(subKey);
  if (SubKeyTooLong(subKey)) return Traced("regdeletekey: " + JoinName(root, path), ERROR_MORE_DATA);
  return DeleteKeyAt(root, path, path);
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR,
                   LPDWORD, PFILETIME lastWriteTime) {
  return EnumKey(key, index, name, nameLength, lastWriteTime);
}

LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD,
                   LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  return EnumValue(key, index, name, nameLength, type, data, dataLength);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataLength) {
  return QueryValue(key, FromAnsi(valueName), false, type, data, dataLength);
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataLength) {
  return SetValueAt(key, FromAnsi(valueName), false, type, data, dataLength);
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName) { return DeleteValueAt(key, FromAnsi(valueName)); }

LSTATUS SHDeleteKeyA(HKEY root, LPCSTR subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  Location at;
  LONG rc = ResolveForDelete(root, FromAnsi(subKey), &at);
  if (rc != ERROR_SUCCESS) return rc;
  if (DWORD fault = MachineChange("SHDeleteKey", JoinName(root, FromAnsi(subKey)), ERROR_ACCESS_DENIED))
    return static_cast<LONG>(fault);
  rc = DeleteTree(*at.key);
  if (rc != ERROR_SUCCESS) return rc;
  Unlink(*at.parent, at.key);
  return ERROR_SUCCESS;
}

// ---- "W" calls: names as Windows keeps them -----------------------------------
LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  return OpenKeyAt(root, FromWide(subKey), options, access, result);
}

LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  return CreateKeyAt(root, FromWide(subKey), options, access, result, disposition);
}

LONG RegDeleteKeyW(HKEY root, LPCWSTR subKey) {
  if (!subKey) return Traced("regdeletekey: " + RootName(root), ERROR_INVALID_PARAMETER);
  std::string path = FromWide(subKey);
  return DeleteKeyAt(root, path, path);
}

LONG RegDeleteKeyExW(HKEY root, LPCWSTR subKey, REGSAM view, DWORD) {
  if (!subKey) return Traced("regdeletekey: " + RootName(root), ERROR_INVALID_PARAMETER);
  std::string path = FromWide(subKey);
  return DeleteKeyAt(root, RegistryView(root, path, view), path);
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPWSTR, LPDWORD,
                   PFILETIME lastWriteTime) {
  return EnumKey(key, index, name, nameLength, lastWriteTime);
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD, LPDWORD type, LPBYTE data,
                   LPDWORD dataLength) {
  return EnumValue(key, index, name, nameLength, type, data, dataLength);
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataLength) {
  return QueryValue(key, FromWide(valueName), true, type, data, dataLength);
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataLength) {
  return SetValueAt(key, FromWide(valueName), true, type, data, dataLength);
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) { return DeleteValueAt(key, FromWide(valueName)); }

LONG RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                      LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptor,
                      PFILETIME lastWriteTime) {
  std::shared_ptr<RegKey> k;
  LONG rc = Access(key, KEY_QUERY_VALUE, &k);
  if (rc != ERROR_SUCCESS) return rc;
  if (keyClass && classLength && *classLength > 0) keyClass[0] = 0;
  if (classLength) *classLength = 0;
  DWORD longestKey = 0, longestName = 0, longestData = 0;
  for (const auto& [name, child] : k->subkeys)
    longestKey = std::max(longestKey, static_cast<DWORD>(WideFromUtf8(child->name).size()));
  for (const RegValue& v : k->values) {
    longestName = std::max(longestName, static_cast<DWORD>(WideFromUtf8(v.name).size()));
    longestData = std::max(longestData, static_cast<DWORD>(DataFor(v, true).size()));
  }
  if (subKeys) *subKeys = static_cast<DWORD>(k->subkeys.size());
  if (maxSubKeyLength) *maxSubKeyLength = longestKey;
  if (maxClassLength) *maxClassLength = 0;
  if (values) *values = static_cast<DWORD>(k->values.size());
  if (maxValueNameLength) *maxValueNameLength = longestName;
  if (maxValueLength) *maxValueLength = longestData;
  if (securityDescriptor) *securityDescriptor = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

// ---- ntdll -------------------------------------------------------------------
// Deletes the key the handle was opened on (a link opened with
// REG_OPTION_OPEN_LINK is deleted as itself). The handle needs DELETE access.
NTSTATUS NTAPI NtDeleteKey(HANDLE handle) {
  HKEY key = reinterpret_cast<HKEY>(handle);
  std::string line = "ntdeletekey: " + RootName(key);
  auto done = [&line](NTSTATUS status) {
    Trace(line + " -> " + std::to_string(Win32OfStatus(status)));
    return status;
  };
  if (IsPredefined(key)) return done(STATUS_ACCESS_DENIED);
  OpenKey* open = Lookup(key);
  if (!open) return done(STATUS_INVALID_HANDLE);
  if (open->key->deleted) return done(STATUS_KEY_DELETED);
  if (!(open->access & DELETE)) return done(STATUS_ACCESS_DENIED);
  if (open->key->refuseDelete) return done(STATUS_ACCESS_DENIED);
  if (!open->key->subkeys.empty()) return done(STATUS_CANNOT_DELETE);
  std::shared_ptr<RegKey> parent = ParentOf(open->key);
  if (!parent) return done(STATUS_KEY_DELETED);
  if (MachineChange("NtDeleteKey", RootName(key), ERROR_ACCESS_DENIED)) return done(STATUS_ACCESS_DENIED);
  Unlink(*parent, open->key);
  return done(STATUS_SUCCESS);
}

// RtlNtStatusToDosError: nt_files.cpp, whose table holds the registry's statuses too.
// ---- hives -------------------------------------------------------------------
namespace {

bool HoldsOpenHandle(const std::shared_ptr<RegKey>& key) {
  for (const auto& [handle, open] : OpenKeys())
    if (open.key == key) return true;
  for (const auto& [name, child] : key->subkeys)
    if (HoldsOpenHandle(child)) return true;
  return false;
}

bool HivePrivilegesEnabled() {
  return EffectivePrivilegeEnabled("SeBackupPrivilege") && EffectivePrivilegeEnabled("SeRestorePrivilege");
}

}  // namespace

LONG RegLoadKeyW(HKEY key, LPCWSTR subKey, LPCWSTR file) {
  std::string name = FromWide(subKey);
  std::string path = FromWide(file);
  std::string line = "regloadkey: " + JoinName(key, name) + " " + path;
  if (key != HKEY_USERS && key != HKEY_LOCAL_MACHINE) return Traced(line, ERROR_INVALID_PARAMETER);
  if (name.empty() || name.find('\\') != std::string::npos || path.empty())
    return Traced(line, ERROR_INVALID_PARAMETER);
  if (!HivePrivilegesEnabled()) return Traced(line, ERROR_PRIVILEGE_NOT_HELD);
  std::shared_ptr<RegKey> parent = RootKey(key);
  if (parent->subkeys.count(name)) return Traced(line, ERROR_ALREADY_EXISTS);
  auto found = M().registry.hiveFiles.find(path);
  if (found == M().registry.hiveFiles.end()) {
    // As RegLoadKey documents: a file that does not exist is created.
    if (!FindNode(path)) MakeFile(path, "regf");
    found = M().registry.hiveFiles.emplace(path, HiveFile()).first;
  }
  HiveFile& hive = found->second;
  if (hive.inUse || !hive.mountedAs.empty()) return Traced(line, ERROR_SHARING_VIOLATION);
  if (hive.damaged) return Traced(line, ERROR_BADDB);
  hive.root->name = name;
  hive.root->deleted = false;
  hive.mountedAs = name;
  parent->subkeys[name] = hive.root;
  return Traced(line, ERROR_SUCCESS);
}

LONG RegUnLoadKeyW(HKEY key, LPCWSTR subKey) {
  std::string name = FromWide(subKey);
  std::string line = "regunloadkey: " + JoinName(key, name);
  if (key != HKEY_USERS && key != HKEY_LOCAL_MACHINE) return Traced(line, ERROR_INVALID_PARAMETER);
  if (!HivePrivilegesEnabled()) return Traced(line, ERROR_PRIVILEGE_NOT_HELD);
  std::shared_ptr<RegKey> parent = RootKey(key);
  auto mounted = parent->subkeys.find(name);
  if (mounted == parent->subkeys.end()) return Traced(line, ERROR_FILE_NOT_FOUND);
  HiveFile* hive = nullptr;
  for (auto& [path, file] : M().registry.hiveFiles)
    if (file.root == mounted->second) hive = &file;
  if (!hive) return Traced(line, ERROR_INVALID_PARAMETER);  // not a loaded hive
  if (HoldsOpenHandle(hive->root)) return Traced(line, ERROR_ACCESS_DENIED);
  if (hive->refuseUnload > 0) {
    --hive->refuseUnload;
    return Traced(line, ERROR_ACCESS_DENIED);
  }
  parent->subkeys.erase(mounted);
  hive->mountedAs.clear();
  return Traced(line, ERROR_SUCCESS);
}
