// Looks at the machine's items, read only.
#include "inventory/machine_look.h"

#include <tlhelp32.h>

#include <cstring>

#include "registry/registry.h"
#include "system/system.h"
#include "system/text.h"

namespace {

const int kMaxTreeDepth = 64;

void CountTreeLevel(const char* folder, unsigned long long& files, unsigned long long& bytes, int depth) {
  if (depth > kMaxTreeDepth) return;
  char searchPattern[MAX_PATH];
  if (!BuildText(searchPattern, folder, "\\*")) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(searchPattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) continue;
    bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (directory && !link) {
      char child[MAX_PATH];
      if (BuildText(child, folder, "\\", entry.cFileName)) CountTreeLevel(child, files, bytes, depth + 1);
      continue;
    }
    ++files;
    bytes += (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

bool FindBlockedLevel(const char* folder, std::string& path, std::string& reason, int depth) {
  if (depth > kMaxTreeDepth) return false;
  char searchPattern[MAX_PATH];
  if (!BuildText(searchPattern, folder, "\\*")) {
    path = folder;
    reason = "too long a path to delete";
    return true;
  }
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(searchPattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) continue;
    char child[MAX_PATH];
    if (!BuildText(child, folder, "\\", entry.cFileName)) {
      path = std::string(folder) + "\\" + entry.cFileName;
      reason = "too long a path to delete";
      found = true;
      break;
    }
    bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (directory && !link) {
      found = FindBlockedLevel(child, path, reason, depth + 1);
    } else {
      reason = FileReason(child);
      if (reason == "read-only") reason.clear();  // the tree deletion clears it
      if (!reason.empty()) {
        path = child;
        found = true;
      }
    }
  } while (!found && FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

}  // namespace

// A snapshot names every process without opening it, so no privilege is needed or changed.
bool IsProcessRunning(const char* image) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
    const char* a = entry.szExeFile;
    const char* b = image;
    for (; *a && *b; ++a, ++b) {
      char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
      char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
      if (x != y) break;
    }
    found = *a == '\0' && *b == '\0';
  }
  CloseHandle(snapshot);
  return found;
}

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

DWORD ProbeKey(HKEY root, const WideString& path, REGSAM access) {
  HKEY key = nullptr;
  LONG status = OpenRegistryKeyAsWalked(root, path, access, &key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  RegCloseKey(key);
  return 0;
}

DWORD ProbeValue(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  status = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return static_cast<DWORD>(status);
}

DWORD ProbeService(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return GetLastError();
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  DWORD error = service ? 0 : GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return error;
}

void CountFolder(const char* folder, unsigned long long& files, unsigned long long& bytes) {
  if (FileWalkByHandle())
    CountTree(folder, files, bytes);
  else
    CountTreeLevel(folder, files, bytes, 0);
}

PathLook LookAt(const std::string& utf8Path) {
  if (FileWalkByHandle()) return LookAtPath(utf8Path);
  PathLook look;
  std::string ansi;
  if (!AnsiFromUtf8Exactly(utf8Path, ansi)) {
    look.present = true;
    look.error = ERROR_NO_UNICODE_TRANSLATION;
    return look;
  }
  DWORD attributes = GetFileAttributesA(ansi.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    look.present = !IsMissingError(error);
    look.error = look.present ? error : 0;
    return look;
  }
  look.present = true;
  look.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  look.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !look.link;
  return look;
}

bool IsPresentAt(ItemKind kind, const std::string& path, const std::string& valueName, DWORD& error) {
  error = 0;
  std::string rest;
  if (kind == ItemKind::Board || kind == ItemKind::RegistryKey || kind == ItemKind::InstallerProduct) {
    HKEY root = SplitRegistryItemPath(path, rest);
    if (!root) return false;
    error = ProbeKey(root, WideFromUtf8(rest));
    if (IsMissingError(error)) {
      error = 0;
      return false;
    }
    return true;
  }
  if (kind == ItemKind::Folder || kind == ItemKind::File) {
    PathLook look = LookAt(path);
    error = look.error;
    return look.present;
  }
  // The narrow calls below take the code page's text; a text it cannot spell
  // exactly is never looked at through a best fit.
  std::string native, nativeValue;
  if (!AnsiFromUtf8Exactly(path, native) || !AnsiFromUtf8Exactly(valueName, nativeValue)) {
    error = ERROR_NO_UNICODE_TRANSLATION;
    return true;
  }
  switch (kind) {
    case ItemKind::Process:
      return IsProcessRunning(native.c_str());
    case ItemKind::Service:
      error = ProbeService(native.c_str());
      if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
        error = 0;
        return false;
      }
      return true;
    case ItemKind::RegistryValue: {
      HKEY root = SplitRegistryItemPath(native, rest);
      error = root ? ProbeValue(root, rest.c_str(), nativeValue.c_str()) : ERROR_FILE_NOT_FOUND;
      if (IsMissingError(error)) {
        error = 0;
        return false;
      }
      return true;
    }
    default:
      return false;
  }
}

bool IsItemPresent(const InventoryItem& item, DWORD& error) {
  return IsPresentAt(item.kind, item.path, item.valueName, error);
}

std::string FileReason(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return "read-only";
  HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return "";
  }
  DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return "in use";
  if (error == ERROR_ACCESS_DENIED) return "access denied";
  return "";
}

bool FindBlockedFile(const char* folder, std::string& path, std::string& reason) {
  return FindBlockedLevel(folder, path, reason, 0);
}

void ForEachProfileHive(const std::vector<InventoryItem>& items,
                        const std::function<void(const ProfileHive& hive, const std::string& hiveName,
                                                 const std::vector<size_t>& indices)>& visit) {
  std::vector<bool> done(items.size(), false);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].profileSid.empty() || done[i]) continue;
    std::vector<size_t> indices;
    for (size_t j = i; j < items.size(); ++j) {
      if (items[j].profileSid != items[i].profileSid || items[j].classesHive != items[i].classesHive) continue;
      done[j] = true;
      indices.push_back(j);
    }
    ProfileHiveKind kind = items[i].classesHive ? ProfileHiveKind::Classes : ProfileHiveKind::User;
    UserProfile profile{items[i].profileSid, WideFromUtf8(items[i].profileFolder)};
    ProfileHive hive(profile, kind);
    visit(hive, ProfileKeyName(profile.sid, kind, ""), indices);
  }
}
