// The install-directory guard: the machine's protected folders, read once per
// run, and the verdict over one "Directory" value.
#include "files/install_directory_guard.h"

#include <shlobj.h>

#include <cstring>

#include "files/drive_path.h"
#include "registry/registry.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

struct WellKnownFolder {
  int csidl;
  const char* name;
};

// The machine's folders, then the user's. Asked for without the create flag:
// a folder Windows cannot report is skipped.
const WellKnownFolder kWellKnownFolders[] = {
    {CSIDL_WINDOWS, "CSIDL_WINDOWS"},
    {CSIDL_SYSTEM, "CSIDL_SYSTEM"},
    {CSIDL_SYSTEMX86, "CSIDL_SYSTEMX86"},
    {CSIDL_PROGRAM_FILES, "CSIDL_PROGRAM_FILES"},
    {CSIDL_PROGRAM_FILESX86, "CSIDL_PROGRAM_FILESX86"},
    {CSIDL_PROGRAM_FILES_COMMON, "CSIDL_PROGRAM_FILES_COMMON"},
    {CSIDL_PROGRAM_FILES_COMMONX86, "CSIDL_PROGRAM_FILES_COMMONX86"},
    {CSIDL_COMMON_APPDATA, "CSIDL_COMMON_APPDATA"},
    {CSIDL_COMMON_DESKTOPDIRECTORY, "CSIDL_COMMON_DESKTOPDIRECTORY"},
    {CSIDL_COMMON_DOCUMENTS, "CSIDL_COMMON_DOCUMENTS"},
    {CSIDL_COMMON_STARTMENU, "CSIDL_COMMON_STARTMENU"},
    {CSIDL_COMMON_PROGRAMS, "CSIDL_COMMON_PROGRAMS"},
    {CSIDL_COMMON_STARTUP, "CSIDL_COMMON_STARTUP"},
    {CSIDL_COMMON_TEMPLATES, "CSIDL_COMMON_TEMPLATES"},
    {CSIDL_COMMON_PICTURES, "CSIDL_COMMON_PICTURES"},
    {CSIDL_COMMON_MUSIC, "CSIDL_COMMON_MUSIC"},
    {CSIDL_COMMON_VIDEO, "CSIDL_COMMON_VIDEO"},
    {CSIDL_FONTS, "CSIDL_FONTS"},
    {CSIDL_PROFILE, "CSIDL_PROFILE"},
    {CSIDL_DESKTOPDIRECTORY, "CSIDL_DESKTOPDIRECTORY"},
    {CSIDL_PERSONAL, "CSIDL_PERSONAL"},
    {CSIDL_MYPICTURES, "CSIDL_MYPICTURES"},
    {CSIDL_MYMUSIC, "CSIDL_MYMUSIC"},
    {CSIDL_MYVIDEO, "CSIDL_MYVIDEO"},
    {CSIDL_APPDATA, "CSIDL_APPDATA"},
    {CSIDL_LOCAL_APPDATA, "CSIDL_LOCAL_APPDATA"},
    {CSIDL_STARTMENU, "CSIDL_STARTMENU"},
    {CSIDL_PROGRAMS, "CSIDL_PROGRAMS"},
    {CSIDL_STARTUP, "CSIDL_STARTUP"},
    {CSIDL_TEMPLATES, "CSIDL_TEMPLATES"},
};

const char kProfileListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct UninstallView {
  HKEY root;
  REGSAM view;
  const char* name;
};

const UninstallView kUninstallViews[] = {
    {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM (64-bit)"},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "HKLM (32-bit)"},
    {HKEY_CURRENT_USER, 0, "HKCU"},
};

// Shared folders at a drive root that are never the library's own.
const char* const kSharedTopLevelFolders[] = {
    "Program Files", "Program Files (x86)", "ProgramData", "Users", "Documents and Settings",
};

// Registry texts longer than this are no paths Windows can open.
const DWORD kLongestText = 32768;

// A string value of any type, up to its first zero. False when it is missing,
// empty, too long or changes while read.
bool ReadStringValue(HKEY key, const char* name, std::string& text) {
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) return false;
  if (size == 0 || size > kLongestText) return false;
  std::vector<char> data(size + 1, '\0');
  DWORD read = size;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(data.data()), &read) !=
      ERROR_SUCCESS)
    return false;
  text.assign(data.data());  // ends at the first zero, or at the extra one
  return !text.empty();
}

// %NAME% references replaced by the environment's values; the text unchanged
// when it holds none or cannot be expanded in full.
std::string Expanded(const std::string& text) {
  if (text.find('%') == std::string::npos) return text;
  DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
  if (needed == 0 || needed > kLongestText) return text;
  std::vector<char> out(needed + 1, '\0');
  DWORD written = ExpandEnvironmentStringsA(text.c_str(), out.data(), needed + 1);
  if (written == 0 || written > needed + 1) return text;
  return std::string(out.data());
}

void AddCanonicalFolder(InstallDirectoryFacts& facts, InstallDirectoryRule rule, const std::string& path,
                        const std::string& source) {
  std::vector<char> canonical(path.size() + 3, '\0');
  if (!CanonicalDrivePath(path.c_str(), canonical.data(), canonical.size(), nullptr)) return;
  facts.folders.push_back(ProtectedFolder{rule, path, canonical.data(), source});
}

// Adds path when it is an absolute drive path; anything else protects nothing.
void AddFolder(InstallDirectoryFacts& facts, InstallDirectoryRule rule, std::string path,
               const std::string& source) {
  // Some installers store the location in quotes.
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
  AddCanonicalFolder(facts, rule, path, source);
  // A path written with 8.3 aliases ("C:\PROGRA~1\...", a TEMP value) is
  // compared under its long names too.
  if (path.find('~') == std::string::npos) return;
  DWORD needed = GetLongPathNameA(path.c_str(), nullptr, 0);
  if (needed == 0 || needed > kLongestText) return;
  std::vector<char> longPath(needed + 1, '\0');
  DWORD length = GetLongPathNameA(path.c_str(), longPath.data(), needed + 1);
  if (length == 0 || length > needed) return;
  AddCanonicalFolder(facts, rule, longPath.data(), source);
}

void ReadWellKnownFolders(InstallDirectoryFacts& facts) {
  for (const WellKnownFolder& folder : kWellKnownFolders) {
    char path[MAX_PATH];
    std::memset(path, 0, sizeof path);
    if (SHGetFolderPathA(nullptr, folder.csidl, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) continue;
    path[MAX_PATH - 1] = '\0';
    AddFolder(facts, InstallDirectoryRule::kWellKnownFolder, path, folder.name);
  }
  char temp[1024];  // a TEMP beyond MAX_PATH may still lie below a value
  DWORD length = GetEnvironmentVariableA("TEMP", temp, sizeof temp);
  if (length > 0 && length < sizeof temp) AddFolder(facts, InstallDirectoryRule::kWellKnownFolder, Expanded(temp), "TEMP");
}

void ReadProfiles(InstallDirectoryFacts& facts) {
  HKEY list = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileListKey, 0, KEY_READ | KEY_WOW64_64KEY, &list) != ERROR_SUCCESS)
    return;
  std::string path;
  for (const char* name : {"ProfilesDirectory", "Default", "Public"})
    if (ReadStringValue(list, name, path))
      AddFolder(facts, InstallDirectoryRule::kUserProfile, Expanded(path), std::string("ProfileList ") + name);
  // Any answer but a name ends the listing: an index is never asked for twice.
  for (DWORD index = 0;; ++index) {
    char name[1024];
    DWORD nameLength = sizeof name;
    if (RegEnumKeyExA(list, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY profile = nullptr;
    if (RegOpenKeyExA(list, name, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &profile) != ERROR_SUCCESS) continue;
    if (ReadStringValue(profile, "ProfileImagePath", path))
      AddFolder(facts, InstallDirectoryRule::kUserProfile, Expanded(path), std::string("ProfileList\\") + name);
    RegCloseKey(profile);
  }
  RegCloseKey(list);
}

// Applications are listed by their wide names: a name the code page cannot
// spell still opens, so its install location is still protected.
void ReadApplications(InstallDirectoryFacts& facts, const UninstallView& view) {
  HKEY uninstall = nullptr;
  if (RegOpenKeyExA(view.root, kUninstallKey, 0, KEY_READ | view.view, &uninstall) != ERROR_SUCCESS) return;
  // Any answer but a name ends the listing: an index is never asked for twice.
  for (DWORD index = 0;; ++index) {
    WCHAR wide[256];
    DWORD wideLength = 256;
    if (RegEnumKeyExW(uninstall, index, wide, &wideLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    WideString key(wide, wideLength < 256 ? wideLength : 0);
    if (key.empty() || key.find(WCHAR(0)) != WideString::npos) continue;
    std::string name;
    if (!AnsiFromWideExactly(key, name)) name = "(a name the code page cannot spell)";
    HKEY application = nullptr;
    if (RegOpenKeyExW(uninstall, key.c_str(), 0, KEY_QUERY_VALUE | view.view, &application) != ERROR_SUCCESS) continue;
    // The vendor's own products never protect a folder; an application whose
    // publisher cannot be read is not the vendor's.
    std::string publisher;
    std::string location;
    bool vendor = ReadStringValue(application, "Publisher", publisher) && IsVendorPublisher(publisher.c_str());
    if (!vendor && ReadStringValue(application, "InstallLocation", location))
      AddFolder(facts, InstallDirectoryRule::kOtherApplication, Expanded(location),
                std::string(view.name) + " Uninstall\\" + name);
    RegCloseKey(application);
  }
  RegCloseKey(uninstall);
}

bool Canonical(const std::string& path, std::string& canonical) {
  char out[MAX_PATH];
  if (!CanonicalDrivePath(path.c_str(), out, sizeof out, nullptr)) return false;
  canonical = out;
  return true;
}

bool SameOrNested(const char* a, const char* b) {
  return IsSameOrAncestorPath(a, b) || IsSameOrAncestorPath(b, a);
}

InstallDirectoryVerdict Refused(InstallDirectoryRule rule, const std::string& folder = "",
                                const std::string& source = "") {
  InstallDirectoryVerdict verdict;
  verdict.accepted = false;
  verdict.rule = rule;
  verdict.protectedFolder = folder;
  verdict.source = source;
  return verdict;
}

}  // namespace

const char* InstallDirectoryRuleText(InstallDirectoryRule rule) {
  switch (rule) {
    case InstallDirectoryRule::kAccepted: return "accepted";
    case InstallDirectoryRule::kNotAPlainDrivePath: return "not a plain absolute drive path";
    case InstallDirectoryRule::kDriveRoot: return "a drive root";
    case InstallDirectoryRule::kShortNameAlias: return "an 8.3 short name";
    case InstallDirectoryRule::kNoSystemDirectories: return "the Windows and system directories could not be read";
    case InstallDirectoryRule::kWindowsDirectory: return "the Windows or system directory, inside or above it";
    case InstallDirectoryRule::kSharedTopLevelFolder: return "a shared top-level folder";
    case InstallDirectoryRule::kWellKnownFolder: return "a well-known folder or above one";
    case InstallDirectoryRule::kUserProfile: return "a user profile or above one";
    case InstallDirectoryRule::kOtherApplication: return "another application's install location or above it";
  }
  return "unknown";
}

InstallDirectoryFacts ReadInstallDirectoryFacts() {
  InstallDirectoryFacts facts;
  char windows[MAX_PATH];
  char system[MAX_PATH];
  if (QueryWindowsDirectory(windows) && QuerySystemDirectory(system)) {
    facts.windowsDirectory = windows;
    facts.systemDirectory = system;
    facts.haveSystemDirectories = Canonical(facts.windowsDirectory, facts.windowsCanonical) &&
                                  Canonical(facts.systemDirectory, facts.systemCanonical);
  }
  ReadWellKnownFolders(facts);
  ReadProfiles(facts);
  for (const UninstallView& view : kUninstallViews) ReadApplications(facts, view);
  return facts;
}

InstallDirectoryVerdict JudgeInstallDirectory(const char* value, const InstallDirectoryFacts& facts) {
  using Rule = InstallDirectoryRule;
  if (!value || !value[0]) return Refused(Rule::kNotAPlainDrivePath);
  if (std::strlen(value) >= MAX_PATH) return Refused(Rule::kNotAPlainDrivePath);  // held whole or not at all

  char candidate[MAX_PATH];
  size_t components = 0;
  if (!CanonicalDrivePath(value, candidate, sizeof candidate, &components)) return Refused(Rule::kNotAPlainDrivePath);
  if (components == 0) return Refused(Rule::kDriveRoot);
  // An 8.3 alias ("PROGRA~1") may name any folder, a shared one included.
  for (const char* p = candidate; *p; ++p)
    if (p[0] == '~' && p[1] >= '0' && p[1] <= '9') return Refused(Rule::kShortNameAlias);

  // Without the Windows and system directories there is nothing to compare
  // against: the value is not used.
  if (!facts.haveSystemDirectories) return Refused(Rule::kNoSystemDirectories);
  if (SameOrNested(candidate, facts.windowsCanonical.c_str()))
    return Refused(Rule::kWindowsDirectory, facts.windowsDirectory, "the Windows directory");
  if (SameOrNested(candidate, facts.systemCanonical.c_str()))
    return Refused(Rule::kWindowsDirectory, facts.systemDirectory, "the system directory");

  if (components == 1) {
    for (const char* shared : kSharedTopLevelFolders) {
      const char root[] = {candidate[0], ':', '\\', '\0'};
      char sharedPath[MAX_PATH];
      std::string sharedCanonical;
      if (!BuildText(sharedPath, root, shared) || !Canonical(sharedPath, sharedCanonical)) continue;
      if (sharedCanonical == candidate) return Refused(Rule::kSharedTopLevelFolder, sharedPath, "shared top-level folder");
    }
  }

  // A protected folder inside the value would go with it; one above the value
  // does not stop it (the library's folder below Public Documents may go).
  for (const ProtectedFolder& folder : facts.folders)
    if (IsSameOrAncestorPath(candidate, folder.canonical.c_str()))
      return Refused(folder.rule, folder.path, folder.source);

  InstallDirectoryVerdict verdict;
  verdict.accepted = true;
  verdict.rule = Rule::kAccepted;
  return verdict;
}
