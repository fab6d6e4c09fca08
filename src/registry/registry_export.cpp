// Registry export in regedit's format, for the backup taken before a run
// deletes anything.
//
// What it reads: keys are opened with KEY_READ only, in the process's default
// view (rows of the 32-bit view name Wow6432Node in their path and are written
// under it), one name at a time relative to the key above, and never through a
// registry link: each is opened with REG_OPTION_OPEN_LINK, and a link is named
// as missing rather than followed. Nothing is changed.
//
// What it writes, as "reg export" does: REG_SZ as a quoted string, REG_DWORD
// as dword:, every other type as hex bytes (hex: for REG_BINARY, hex(N):
// otherwise), long hex lines wrapped as regedit wraps them. Names and strings
// are the UTF-16 the registry holds. A REG_SZ that a quoted string would not
// give back exactly (no terminating zero, a zero inside, a line break or another
// control character) is written as hex(1):.
//
// What it refuses: a key or value name that would change the file's meaning
// (a line break or control character in any name, "]" in a key's) is not
// written; the result report lists it as not restorable from the backup.
#include "registry/registry_export.h"

#include <cstdio>
#include <cstring>

#include "system/output_file.h"

namespace {

const DWORD kMaxValueName = 16384;  // 16,383 characters and the terminator
const DWORD kMaxKeyName = 256;      // 255 characters and the terminator
// regedit starts a new line once a line of hex bytes reaches this many characters.
const size_t kHexLineLimit = 77;
// The registry nests at most 512 levels; a deeper walk would be a loop.
const int kMaxDepth = 512;

void AppendUnit(RegistryExport& backup, WCHAR unit) {
  backup.bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
  backup.bytes.push_back(static_cast<unsigned char>(unit >> 8));
}

void AppendUnits(RegistryExport& backup, const WideString& text) {
  for (WCHAR unit : text) AppendUnit(backup, unit);
}

// Syntax of the format itself: plain ASCII.
void AppendAscii(RegistryExport& backup, const char* text) {
  for (; *text; ++text) AppendUnit(backup, static_cast<WCHAR>(static_cast<unsigned char>(*text)));
}

// A name or string between double quotes: backslash and quote escaped.
void AppendQuoted(RegistryExport& backup, const WCHAR* text, size_t length) {
  AppendUnit(backup, '"');
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\\' || text[i] == '"') AppendUnit(backup, '\\');
    AppendUnit(backup, text[i]);
  }
  AppendUnit(backup, '"');
}

// Hex bytes after a prefix ("hex:", "hex(2):"), wrapped like regedit: a line
// ends with ",\" once it reaches the limit, and goes on indented by two blanks.
void AppendHex(RegistryExport& backup, size_t lineLength, const unsigned char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", data[i]);
    AppendAscii(backup, pair);
    if (i + 1 == size) break;
    AppendUnit(backup, ',');
    lineLength += 3;
    if (lineLength >= kHexLineLimit) {
      AppendAscii(backup, "\\\r\n  ");
      lineLength = 2;
    }
  }
}

bool IsControl(WCHAR unit) { return unit < 0x20 || unit == 0x7F; }

// A REG_SZ that a quoted string restores exactly: whole UTF-16 units, one
// terminating zero and none before it, no control character.
bool IsPlainString(const unsigned char* data, size_t size) {
  if (size < 2 || size % 2) return false;
  size_t units = size / 2;
  for (size_t i = 0; i < units; ++i) {
    WCHAR unit = static_cast<WCHAR>(data[2 * i] | data[2 * i + 1] << 8);
    if (i + 1 == units) return unit == 0;
    if (IsControl(unit) && unit != '\t') return false;
  }
  return false;
}

// The characters a name takes on its line, as written (quotes and escapes included).
size_t NameWidth(const WideString& name) {
  if (name.empty()) return 1;  // @
  size_t width = 2;
  for (WCHAR unit : name) width += (unit == '\\' || unit == '"') ? 2 : 1;
  return width;
}

void AppendValue(RegistryExport& backup, const WideString& name, DWORD type, const unsigned char* data,
                 size_t size) {
  if (name.empty())
    AppendUnit(backup, '@');
  else
    AppendQuoted(backup, name.data(), name.size());
  AppendUnit(backup, '=');
  size_t lineLength = NameWidth(name) + 1;

  if (type == REG_SZ && IsPlainString(data, size)) {
    WideString text;
    for (size_t i = 0; i + 2 < size; i += 2) text += static_cast<WCHAR>(data[i] | data[i + 1] << 8);
    AppendQuoted(backup, text.data(), text.size());
  } else if (type == REG_DWORD && size == 4) {
    char text[16];
    DWORD number = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                   static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    AppendAscii(backup, text);
  } else {
    char prefix[24];
    if (type == REG_BINARY)
      std::snprintf(prefix, sizeof prefix, "hex:");
    else
      std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
    AppendAscii(backup, prefix);
    AppendHex(backup, lineLength + std::strlen(prefix), data, size);
  }
  AppendAscii(backup, "\r\n");
  ++backup.valueCount;
}

// A name as the report shows it: UTF-8, a control character as \r, \n or \xNN.
std::string ShownName(const WideString& name) {
  WideString plain;
  std::string shown;
  auto flush = [&]() {
    shown += Utf8FromWide(plain);
    plain.clear();
  };
  for (WCHAR unit : name) {
    if (!IsControl(unit)) {
      plain += unit;
      continue;
    }
    flush();
    char escape[8];
    if (unit == '\r')
      std::snprintf(escape, sizeof escape, "\\r");
    else if (unit == '\n')
      std::snprintf(escape, sizeof escape, "\\n");
    else
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(unit));
    shown += escape;
  }
  flush();
  return shown;
}

// rootName: the root as the file names it ("HKEY_LOCAL_MACHINE", "HKEY_USERS\\<SID>").
WideString KeyName(const WideString& rootName, const WideString& path) {
  WideString name = rootName;
  if (!path.empty()) name += static_cast<WCHAR>('\\') + path;
  return name;
}

void NoteMissing(RegistryExport& backup, const WideString& what, LONG error) {
  backup.missing.push_back(ShownName(what) + ": error " + std::to_string(error));
}

void NoteUnwritable(RegistryExport& backup, const WideString& what, const std::string& why) {
  backup.missing.push_back(ShownName(what) + ": not restorable from the backup, " + why);
}

WideString UpperAscii(WideString text) {
  for (WCHAR& unit : text)
    if (unit >= 'a' && unit <= 'z') unit = static_cast<WCHAR>(unit - 'a' + 'A');
  return text;
}

bool IsBelowWrittenSubtree(const RegistryExport& backup, const WideString& upperName) {
  for (const WideString& subtree : backup.subtrees)
    if (upperName.compare(0, subtree.size(), subtree) == 0 &&
        (upperName.size() == subtree.size() || upperName[subtree.size()] == '\\'))
      return true;
  return false;
}

// True when the open key is a registry link (opened as itself).
bool IsLink(HKEY key) {
  DWORD type = 0;
  return RegQueryValueExW(key, WIDE_TEXT("SymbolicLinkValue"), nullptr, &type, nullptr, nullptr) ==
             ERROR_SUCCESS &&
         type == REG_LINK;
}

// Opens name below parent as itself, never through a link. ERROR_SUCCESS with
// key set, or the error; a link is closed and answered with ERROR_REPARSE_TAG_INVALID.
const LONG kIsLink = 4002;  // ERROR_REPARSE_TAG_INVALID: stands for "a link" here
LONG OpenChild(HKEY parent, const WideString& name, HKEY& key) {
  LONG status = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key);
  if (status != ERROR_SUCCESS) return status;
  if (!IsLink(key)) return ERROR_SUCCESS;
  RegCloseKey(key);
  key = nullptr;
  return kIsLink;
}

// Opens root\path one name at a time. A missing key gives ERROR_FILE_NOT_FOUND;
// a name that cannot be written or a link on the way is noted (at its own
// name) and gives its reason's code.
LONG OpenPath(RegistryExport& backup, HKEY root, const WideString& rootName, const WideString& path, HKEY& key) {
  HKEY current = root;
  WideString reached;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find(static_cast<WCHAR>('\\'), start);
    if (end == WideString::npos) end = path.size();
    WideString name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    reached += (reached.empty() ? WideString() : WideString(1, '\\')) + name;
    std::string unwritable = UnwritableKeyName(name);
    HKEY next = nullptr;
    LONG status = unwritable.empty() ? OpenChild(current, name, next) : ERROR_INVALID_NAME;
    if (current != root) RegCloseKey(current);
    if (status == ERROR_INVALID_NAME && !unwritable.empty()) NoteUnwritable(backup, KeyName(rootName, reached), unwritable);
    if (status == kIsLink)
      NoteUnwritable(backup, KeyName(rootName, reached), "it is a registry link, which a .reg file cannot hold");
    if (status != ERROR_SUCCESS) return status;
    current = next;
  }
  if (current == root) return ERROR_INVALID_NAME;  // never a whole root
  key = current;
  return ERROR_SUCCESS;
}

// Reads the value at index; ERROR_NO_MORE_ITEMS after the last one. The data
// buffer grows to what the value needs.
LONG ReadValue(HKEY key, DWORD index, std::vector<WCHAR>& name, DWORD& nameLength, DWORD& type,
               std::vector<unsigned char>& data, DWORD& size) {
  for (;;) {
    nameLength = kMaxValueName;
    size = static_cast<DWORD>(data.size());
    LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
    if (status != ERROR_MORE_DATA || size <= data.size()) return status;
    data.resize(size);
  }
}

// The values of an open key, in enumeration order: all of them, or (names
// given) those whose names match one of names without regard to ASCII case,
// each written under the name it is stored with. Unless headerWritten, the
// key's header goes before the first value written. True when one was written.
bool AppendValues(RegistryExport& backup, HKEY key, const WideString& keyName,
                  const std::vector<WideString>* names, bool headerWritten) {
  std::vector<WCHAR> name(kMaxValueName);
  std::vector<unsigned char> data(4096);
  bool written = false;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = 0;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = ReadValue(key, index, name, nameLength, type, data, size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      backup.missing.push_back(ShownName(keyName) + " (values from index " + std::to_string(index) +
                               " on): error " + std::to_string(status));
      break;
    }
    WideString stored(name.data(), nameLength);
    bool wanted = !names;
    for (size_t i = 0; names && i < names->size() && !wanted; ++i) wanted = UpperAscii((*names)[i]) == UpperAscii(stored);
    if (!wanted) continue;
    std::string unwritable = UnwritableValueName(stored);
    if (!unwritable.empty()) {
      NoteUnwritable(backup, keyName + WIDE_TEXT(" value \"") + stored + WIDE_TEXT("\""), unwritable);
      continue;
    }
    if (!headerWritten) {
      AppendAscii(backup, "[");
      AppendUnits(backup, keyName);
      AppendAscii(backup, "]\r\n");
      ++backup.keyCount;
    }
    headerWritten = true;
    AppendValue(backup, stored, type, data.data(), size);
    written = true;
  }
  return written;
}

// Writes the open key (named path below root) and everything below it, then closes it.
void ExportKey(RegistryExport& backup, const WideString& rootName, HKEY key, const WideString& path, int depth) {
  WideString keyName = KeyName(rootName, path);
  AppendAscii(backup, "[");
  AppendUnits(backup, keyName);
  AppendAscii(backup, "]\r\n");
  ++backup.keyCount;
  AppendValues(backup, key, keyName, nullptr, true);
  AppendAscii(backup, "\r\n");

  // Child names first, then each child: the walk reads only.
  std::vector<WideString> children;
  for (DWORD index = 0;; ++index) {
    WCHAR name[kMaxKeyName];
    DWORD nameLength = kMaxKeyName;
    LONG status = RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      backup.missing.push_back(ShownName(keyName) + " (subkeys from index " + std::to_string(index) +
                               " on): error " + std::to_string(status));
      break;
    }
    children.emplace_back(name, nameLength);
  }
  for (const WideString& child : children) {
    WideString childPath = path + static_cast<WCHAR>('\\') + child;
    std::string unwritable = UnwritableKeyName(child);
    if (!unwritable.empty()) {
      NoteUnwritable(backup, KeyName(rootName, childPath), unwritable + " (nor anything below it)");
      continue;
    }
    if (depth + 1 >= kMaxDepth) break;
    HKEY childKey = nullptr;
    LONG opened = OpenChild(key, child, childKey);
    if (opened == ERROR_FILE_NOT_FOUND) continue;  // gone meanwhile: nothing to restore
    if (opened == kIsLink) {
      NoteUnwritable(backup, KeyName(rootName, childPath), "it is a registry link, which a .reg file cannot hold");
      continue;
    }
    if (opened != ERROR_SUCCESS) {
      NoteMissing(backup, KeyName(rootName, childPath), opened);
      continue;
    }
    ExportKey(backup, rootName, childKey, childPath, depth + 1);
  }
  RegCloseKey(key);
}

WideString Trimmed(WideString path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

std::string UnwritableValueName(const WideString& name) {
  for (WCHAR unit : name)
    if (unit == '\r' || unit == '\n') return "its name holds a line break, which a .reg file cannot carry";
  for (WCHAR unit : name)
    if (IsControl(unit)) return "its name holds a control character, which a .reg file cannot carry";
  return "";
}

std::string UnwritableKeyName(const WideString& name) {
  std::string why = UnwritableValueName(name);
  if (why.empty() && name.find(static_cast<WCHAR>(']')) != WideString::npos)
    why = "its name holds \"]\", which ends a .reg file's key header";
  return why;
}

const char* RegistryRootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  return nullptr;
}

void BeginRegistryExport(RegistryExport& backup) {
  backup = RegistryExport();
  backup.bytes.push_back(0xFF);
  backup.bytes.push_back(0xFE);
  AppendAscii(backup, "Windows Registry Editor Version 5.00\r\n\r\n");
}

void ExportRegistryTree(RegistryExport& backup, HKEY root, const WideString& path) {
  if (!RegistryRootName(root)) return;
  ExportRegistryTree(backup, root, WideFromAnsi(RegistryRootName(root)), path);
}

void ExportRegistryTree(RegistryExport& backup, HKEY root, const WideString& rootName, const WideString& path) {
  // Never the whole of a root: an empty path names the root key itself.
  WideString trimmed = Trimmed(path);
  if (rootName.empty() || trimmed.empty()) return;
  WideString upper = UpperAscii(KeyName(rootName, trimmed));
  if (IsBelowWrittenSubtree(backup, upper)) return;
  HKEY key = nullptr;
  LONG opened = OpenPath(backup, root, rootName, trimmed, key);
  if (opened == ERROR_FILE_NOT_FOUND || opened == kIsLink || opened == ERROR_INVALID_NAME) return;
  if (opened != ERROR_SUCCESS) {
    NoteMissing(backup, KeyName(rootName, trimmed), opened);
    return;
  }
  ExportKey(backup, rootName, key, trimmed, 0);
  backup.subtrees.push_back(upper);
}

void ExportRegistryValues(RegistryExport& backup, HKEY root, const WideString& keyPath,
                          const std::vector<WideString>& names) {
  WideString trimmed = Trimmed(keyPath);
  if (!RegistryRootName(root) || trimmed.empty() || names.empty()) return;
  WideString rootName = WideFromAnsi(RegistryRootName(root));
  WideString keyName = KeyName(rootName, trimmed);
  if (IsBelowWrittenSubtree(backup, UpperAscii(keyName))) return;
  HKEY key = nullptr;
  LONG opened = OpenPath(backup, root, rootName, trimmed, key);
  if (opened == ERROR_FILE_NOT_FOUND || opened == kIsLink || opened == ERROR_INVALID_NAME) return;
  if (opened != ERROR_SUCCESS) {
    NoteMissing(backup, keyName, opened);
    return;
  }
  bool written = AppendValues(backup, key, keyName, &names, false);
  RegCloseKey(key);
  if (written) AppendAscii(backup, "\r\n");
}
