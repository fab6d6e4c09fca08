// Reports what a program of ours sees of the system, for the end-to-end tests:
//   probe.exe version          "major.minor.build platform" from GetVersionExA
//   probe.exe manifest PATH    the program's embedded manifest, or "(none)"
//   probe.exe keys FILE        for each line of FILE, a registry key path such as
//                              HKEY_LOCAL_MACHINE\Software\X, "1" if it exists, else "0"
//   probe.exe regkey PATH      creates HKEY_LOCAL_MACHINE\PATH
//   probe.exe regvalue PATH NAME TYPE DATA   sets a value of HKEY_LOCAL_MACHINE\PATH
//   probe.exe regdump PATH     every key ("key P") and value ("value P NAME TYPE DATA") below it
//                              (PATH, P and NAME hexadecimal UTF-16LE, DATA hexadecimal bytes)
//   probe.exe link KEY TARGET  creates KEY as a registry link to TARGET, written
//                              as Windows writes it ("\Registry\Machine\Software\X")
//   probe.exe savehive KEY FILE   saves KEY and its subtree as a hive file (RegSaveKeyA)
//   probe.exe hivekeys FILE    loads the hive file, prints every key path in it, unloads it
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const struct {
  const char* name;
  HKEY root;
} kRoots[] = {{"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE}, {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},
              {"HKEY_CLASSES_ROOT\\", HKEY_CLASSES_ROOT}, {"HKEY_USERS\\", HKEY_USERS}};

// The root of a full key path and the rest after it; null when none matches.
HKEY SplitRoot(const char* path, const char** rest) {
  for (const auto& root : kRoots) {
    size_t length = std::strlen(root.name);
    if (_strnicmp(path, root.name, length)) continue;
    *rest = path + length;
    return root.root;
  }
  return nullptr;
}

bool KeyExists(const char* path) {
  const char* rest = nullptr;
  HKEY root = SplitRoot(path, &rest);
  HKEY key = nullptr;
  if (!root || RegOpenKeyExA(root, rest, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool CreateLink(const char* path, const char* target) {
  const char* rest = nullptr;
  HKEY root = SplitRoot(path, &rest);
  HKEY key = nullptr;
  if (!root || RegCreateKeyExA(root, rest, 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                               nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<WCHAR> wide;
  for (const char* c = target; *c; ++c) wide.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*c)));
  LONG rc = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(wide.data()),
                           static_cast<DWORD>(wide.size() * sizeof(WCHAR)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

bool EnableHivePrivileges() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  bool ok = true;
  for (const char* name : {"SeBackupPrivilege", "SeRestorePrivilege"}) {
    TOKEN_PRIVILEGES request = {};
    request.PrivilegeCount = 1;
    request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ok = ok && LookupPrivilegeValueA(nullptr, name, &request.Privileges[0].Luid) &&
         AdjustTokenPrivileges(token, FALSE, &request, sizeof request, nullptr, nullptr) &&
         GetLastError() == ERROR_SUCCESS;
  }
  CloseHandle(token);
  return ok;
}

void PrintKeys(HKEY key, const std::string& path) {
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::string child = path.empty() ? name : path + "\\" + name;
    std::printf("%s\n", child.c_str());
    HKEY sub = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      PrintKeys(sub, child);
      RegCloseKey(sub);
    }
  }
}

// Registry keys and values under HKEY_LOCAL_MACHINE with names of any kind
// (line breaks, "]", characters outside the code page): paths, names and data
// travel as hexadecimal UTF-16LE (data as raw bytes).
std::wstring FromHex(const char* hex) {
  std::string bytes;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    char pair[3] = {hex[i], hex[i + 1], 0};
    bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
  }
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  return text;
}

std::string BytesFromHex(const char* hex) {
  std::string bytes;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
    char pair[3] = {hex[i], hex[i + 1], 0};
    bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
  }
  return bytes;
}

std::string Hex(const void* data, size_t size) {
  std::string hex;
  char pair[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", static_cast<const unsigned char*>(data)[i]);
    hex += pair;
  }
  return hex;
}

std::string HexOf(const std::wstring& text) {
  std::string bytes;
  for (wchar_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>((unit >> 8) & 0xFF);
  }
  return Hex(bytes.data(), bytes.size());
}

// Every key and value below key, paths relative to the top.
void Dump(HKEY key, const std::wstring& path) {
  std::printf("key %s\n", HexOf(path).c_str());
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    BYTE data[65536];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
    std::printf("value %s %s %lu %s\n", HexOf(path).c_str(), HexOf(std::wstring(name, nameLength)).c_str(),
                type, Hex(data, size).c_str());
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::wstring child(name, nameLength);
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS) continue;
    Dump(sub, path.empty() ? child : path + L"\\" + child);
    RegCloseKey(sub);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && !std::strcmp(argv[1], "keys")) {
    std::FILE* list = std::fopen(argv[2], "r");
    if (!list) return 1;
    char line[2048];
    while (std::fgets(line, sizeof line, list)) {
      line[std::strcspn(line, "\r\n")] = '\0';
      if (line[0]) std::printf("%d\n", KeyExists(line) ? 1 : 0);
    }
    std::fclose(list);
    return 0;
  }
  if (argc == 4 && !std::strcmp(argv[1], "link")) return CreateLink(argv[2], argv[3]) ? 0 : 1;
  if (argc == 4 && !std::strcmp(argv[1], "savehive")) {
    const char* rest = nullptr;
    HKEY root = SplitRoot(argv[2], &rest);
    HKEY key = nullptr;
    if (!EnableHivePrivileges() || !root || RegOpenKeyExA(root, rest, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
    LONG saved = RegSaveKeyA(key, argv[3], nullptr);
    RegCloseKey(key);
    return saved == ERROR_SUCCESS ? 0 : 2;
  }
  if (argc == 3 && !std::strcmp(argv[1], "hivekeys")) {
    if (!EnableHivePrivileges() || RegLoadKeyA(HKEY_USERS, "CleanLumProbe", argv[2]) != ERROR_SUCCESS) return 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_USERS, "CleanLumProbe", 0, KEY_READ, &key) == ERROR_SUCCESS) {
      PrintKeys(key, "");
      RegCloseKey(key);
    }
    return RegUnLoadKeyA(HKEY_USERS, "CleanLumProbe") == ERROR_SUCCESS ? 0 : 2;
  }
  if (argc == 2 && !std::strcmp(argv[1], "version")) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return 1;
    std::printf("%lu.%lu.%lu %lu\n", version.dwMajorVersion, version.dwMinorVersion,
                version.dwBuildNumber, version.dwPlatformId);
    return 0;
  }
  if (argc == 3 && !std::strcmp(argv[1], "manifest")) {
    HMODULE module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return 1;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (!resource) {
      std::printf("(none)\n");
      return 0;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return 1;
    std::fwrite(bytes, 1, SizeofResource(module, resource), stdout);
    return 0;
  }
  // The text of message ID (hexadecimal) of a program's message table, with
  // one insertion string, as Event Viewer formats an event of that program.
  if (argc == 5 && !std::strcmp(argv[1], "message")) {
    HMODULE module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return 1;
    DWORD id = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 16));
    DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(argv[4])};
    char text[1024];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id, 0,
                                  text, sizeof text, reinterpret_cast<va_list*>(inserts));
    if (length == 0) return 1;
    std::fwrite(text, 1, length, stdout);
    return 0;
  }
  if (argc == 3 && !std::strcmp(argv[1], "regkey")) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, FromHex(argv[2]).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return 1;
    RegCloseKey(key);
    return 0;
  }
  if (argc == 6 && !std::strcmp(argv[1], "regvalue")) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, FromHex(argv[2]).c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 1;
    std::string data = BytesFromHex(argv[5]);
    LONG rc = RegSetValueExW(key, FromHex(argv[3]).c_str(), 0, std::strtoul(argv[4], nullptr, 10),
                             reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? 0 : 1;
  }
  if (argc == 3 && !std::strcmp(argv[1], "regdump")) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, FromHex(argv[2]).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
    Dump(key, L"");
    RegCloseKey(key);
    return 0;
  }
  return 2;
}
