// Registry export in regedit's format, for the backup taken before a run
// deletes anything.
//
// What it reads: keys are opened with KEY_READ only, in the process's default
// view (rows of the 32-bit view name Wow6432Node in their path and are written
// under it). Nothing is changed.
// How values are written, as "reg export" writes them: REG_SZ as a quoted
// string, REG_DWORD as dword:, every other type as hex bytes (hex: for
// REG_BINARY, hex(N): otherwise), long hex lines wrapped as regedit wraps them.
// Strings reach the file as the registry stores them, in UTF-16: the ANSI text
// the "A" calls return is converted back, byte for byte in length, so a value
// stored without its terminating zero is written as hex(1): without one, and
// "reg import" restores it exactly.
#include "registry/registry_export.h"

#include <cstdio>
#include <cstring>

namespace {

const DWORD kMaxValueName = 16384;  // 16,383 characters and the terminator
const DWORD kMaxKeyName = 256;      // 255 characters and the terminator
// regedit starts a new line once a line of hex bytes reaches this many characters.
const size_t kHexLineLimit = 77;

void AppendUnit(RegistryExport& backup, WCHAR unit) {
  backup.bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
  backup.bytes.push_back(static_cast<unsigned char>(unit >> 8));
}

// Syntax of the format itself: plain ASCII.
void AppendAscii(RegistryExport& backup, const char* text) {
  for (; *text; ++text) AppendUnit(backup, static_cast<WCHAR>(static_cast<unsigned char>(*text)));
}

// ANSI bytes (length given, zeros included) as the UTF-16 units Windows stores.
std::vector<WCHAR> AnsiToUtf16(const char* text, size_t length) {
  std::vector<WCHAR> wide;
  if (length == 0) return wide;
  int count = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return wide;
  wide.resize(static_cast<size_t>(count));
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), count);
  return wide;
}

// A name or string between double quotes: backslash and quote escaped.
void AppendQuoted(RegistryExport& backup, const char* text, size_t length) {
  AppendUnit(backup, '"');
  for (WCHAR unit : AnsiToUtf16(text, length)) {
    if (unit == '\\' || unit == '"') AppendUnit(backup, '\\');
    AppendUnit(backup, unit);
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

// The characters a name takes on its line, as written (quotes and escapes included).
size_t NameWidth(const char* name, size_t length) {
  if (length == 0) return 1;  // @
  size_t width = 2;
  for (WCHAR unit : AnsiToUtf16(name, length)) width += (unit == '\\' || unit == '"') ? 2 : 1;
  return width;
}

std::vector<unsigned char> Utf16Bytes(const std::vector<WCHAR>& wide) {
  std::vector<unsigned char> bytes;
  for (WCHAR unit : wide) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>(unit >> 8));
  }
  return bytes;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A REG_SZ that a quoted string restores exactly: one terminating zero, none before it.
bool IsPlainString(const unsigned char* data, size_t size) {
  if (size == 0 || data[size - 1] != 0) return false;
  return std::memchr(data, 0, size - 1) == nullptr;
}

void AppendValue(RegistryExport& backup, const char* name, size_t nameLength, DWORD type,
                 const unsigned char* data, size_t size) {
  if (nameLength == 0)
    AppendUnit(backup, '@');
  else
    AppendQuoted(backup, name, nameLength);
  AppendUnit(backup, '=');
  size_t lineLength = NameWidth(name, nameLength) + 1;

  if (type == REG_SZ && IsPlainString(data, size)) {
    AppendQuoted(backup, reinterpret_cast<const char*>(data), size - 1);
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
    lineLength += std::strlen(prefix);
    if (IsStringType(type)) {
      std::vector<unsigned char> stored =
          Utf16Bytes(AnsiToUtf16(reinterpret_cast<const char*>(data), size));
      AppendHex(backup, lineLength, stored.data(), stored.size());
    } else {
      AppendHex(backup, lineLength, data, size);
    }
  }
  AppendAscii(backup, "\r\n");
  ++backup.valueCount;
}

std::string KeyName(HKEY root, const std::string& path) {
  const char* rootName = RegistryRootName(root);
  std::string name = rootName ? rootName : "";
  if (!path.empty()) name += "\\" + path;
  return name;
}

void AppendHeader(RegistryExport& backup, const std::string& keyName) {
  AppendAscii(backup, "[");
  std::vector<WCHAR> wide = AnsiToUtf16(keyName.data(), keyName.size());
  for (WCHAR unit : wide) AppendUnit(backup, unit);
  AppendAscii(backup, "]\r\n");
  ++backup.keyCount;
}

void NoteMissing(RegistryExport& backup, const std::string& what, LONG error) {
  backup.missing.push_back(what + ": error " + std::to_string(error));
}

// Reads the value at index; ERROR_NO_MORE_ITEMS after the last one. The data
// buffer grows to what the value needs.
LONG ReadValue(HKEY key, DWORD index, std::vector<char>& name, DWORD& nameLength, DWORD& type,
               std::vector<unsigned char>& data, DWORD& size) {
  for (;;) {
    nameLength = kMaxValueName;
    size = static_cast<DWORD>(data.size());
    LONG status = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
    if (status != ERROR_MORE_DATA || size <= data.size()) return status;
    data.resize(size);
  }
}

std::string UpperAscii(std::string text);

// The values of an open key, in enumeration order: all of them, or (names
// given) those whose names match one of names without regard to case, each
// written under the name it is stored with. Unless headerWritten, the key's
// header goes before the first value written. True when a value was written.
bool AppendValues(RegistryExport& backup, HKEY key, const std::string& keyName, const char* const* names,
                  size_t count, bool headerWritten) {
  std::vector<char> name(kMaxValueName);
  std::vector<unsigned char> data(4096);
  bool written = false;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = 0;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = ReadValue(key, index, name, nameLength, type, data, size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      NoteMissing(backup, keyName + " (values from index " + std::to_string(index) + " on)", status);
      break;
    }
    std::string stored(name.data(), nameLength);
    bool wanted = !names;
    for (size_t i = 0; names && i < count && !wanted; ++i)
      wanted = names[i] && UpperAscii(names[i]) == UpperAscii(stored);
    if (!wanted) continue;
    if (!headerWritten) AppendHeader(backup, keyName);
    headerWritten = true;
    AppendValue(backup, stored.data(), stored.size(), type, data.data(), size);
    written = true;
  }
  return written;
}

bool IsBelowWrittenSubtree(const RegistryExport& backup, const std::string& upperName) {
  for (const std::string& subtree : backup.subtrees)
    if (upperName.compare(0, subtree.size(), subtree) == 0 &&
        (upperName.size() == subtree.size() || upperName[subtree.size()] == '\\'))
      return true;
  return false;
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

void ExportKey(RegistryExport& backup, HKEY root, const std::string& path, int depth) {
  std::string keyName = KeyName(root, path);
  HKEY key = nullptr;
  LONG opened = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return;  // gone meanwhile: nothing to restore
  if (opened != ERROR_SUCCESS) {
    NoteMissing(backup, keyName, opened);
    return;
  }
  AppendHeader(backup, keyName);
  AppendValues(backup, key, keyName, nullptr, 0, true);
  AppendAscii(backup, "\r\n");

  // Child names first, then each child: the walk reads only.
  std::vector<std::string> children;
  for (DWORD index = 0;; ++index) {
    char name[kMaxKeyName];
    DWORD nameLength = kMaxKeyName;
    LONG status = RegEnumKeyExA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      NoteMissing(backup, keyName + " (subkeys from index " + std::to_string(index) + " on)", status);
      break;
    }
    // A name holding a zero cannot be passed as a path: cut there, it would
    // name another key (with a zero first, this one again, for ever).
    if (std::memchr(name, '\0', nameLength)) {
      NoteMissing(backup, keyName + " (a subkey whose name holds a zero)", ERROR_INVALID_NAME);
      continue;
    }
    children.emplace_back(name, nameLength);
  }
  RegCloseKey(key);
  // The registry nests at most 512 levels; a deeper walk would be a loop.
  if (depth >= 512) return;
  for (const std::string& child : children) ExportKey(backup, root, path + "\\" + child, depth + 1);
}

}  // namespace

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

void ExportRegistryTree(RegistryExport& backup, HKEY root, const char* path) {
  // Never the whole of a root: an empty path names the root key itself.
  if (!RegistryRootName(root) || !path || !*path) return;
  std::string trimmed = path;
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  if (trimmed.empty()) return;
  std::string upper = UpperAscii(KeyName(root, trimmed));
  if (IsBelowWrittenSubtree(backup, upper)) return;
  size_t before = backup.keyCount;
  ExportKey(backup, root, trimmed, 0);
  if (backup.keyCount != before) backup.subtrees.push_back(upper);
}

void ExportRegistryValues(RegistryExport& backup, HKEY root, const char* keyPath,
                          const char* const* names, size_t count) {
  if (!RegistryRootName(root) || !keyPath || !*keyPath || !names) return;
  std::string keyName = KeyName(root, keyPath);
  if (IsBelowWrittenSubtree(backup, UpperAscii(keyName))) return;
  HKEY key = nullptr;
  LONG opened = RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key);
  if (opened == ERROR_FILE_NOT_FOUND) return;
  if (opened != ERROR_SUCCESS) {
    NoteMissing(backup, keyName, opened);
    return;
  }
  bool written = AppendValues(backup, key, keyName, names, count, false);
  RegCloseKey(key);
  if (written) AppendAscii(backup, "\r\n");
}
