// Reports what a program of ours sees of the system, for the end-to-end tests:
//   probe.exe version          "major.minor.build platform" from GetVersionExA
//   probe.exe manifest PATH    the program's embedded manifest, or "(none)"
//   probe.exe keys FILE        for each line of FILE, a registry key path such as
//                              HKEY_LOCAL_MACHINE\Software\X, "1" if it exists, else "0"
//   probe.exe link KEY TARGET  creates KEY as a registry link to TARGET, written
//                              as Windows writes it ("\Registry\Machine\Software\X")
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
  return 2;
}
