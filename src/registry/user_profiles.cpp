// Every profile's per-user keys.
#include "registry/user_profiles.h"

#include <set>

#include "registry/registry.h"
#include "registry/registry_catalogue.h"
#include "system/privilege_scope.h"

namespace {

const WCHAR kProfileList[] = WIDE_TEXT("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
const char* const kHivePrivileges[] = {"SeBackupPrivilege", "SeRestorePrivilege"};
// A key name is at most 255 characters; one more for the terminator.
const DWORD kNameLength = 256;
// An unload refused while another process holds a key of the hive open is tried again.
const int kUnloadRetries = 4;
const DWORD kUnloadRetryMs = 250;
// Longer profile paths are no folder Windows made.
const DWORD kLongestPath = 32768;

// The hive files of a profile, below its folder: NTUSER.DAT, and the classes
// hive where Vista and later keep it, else where XP did.
const WCHAR* const kUserHiveFiles[] = {WIDE_TEXT("\\NTUSER.DAT")};
const WCHAR* const kClassesHiveFiles[] = {WIDE_TEXT("\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"),
                                          WIDE_TEXT("\\Local Settings\\Application Data\\Microsoft\\Windows\\UsrClass.dat")};

// The hive file below the profile folder, when it is there as a plain file
// reached through plain folders: the user owns the folders below the
// profile's, and a link there could steer the load (which creates a missing
// file) to a file of somebody else's. ERROR_FILE_NOT_FOUND when it is not
// there, ERROR_CANT_ACCESS_FILE when a link lies on the way.
DWORD FindHiveFile(const WideString& folder, const WCHAR* rest, WideString& file) {
  WideString path = folder;
  const WCHAR* part = rest;
  while (*part) {
    const WCHAR* end = part + 1;
    while (*end && *end != WCHAR('\\')) ++end;
    path.append(part, end);
    part = end;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return ERROR_FILE_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_CANT_ACCESS_FILE;
    bool last = !*part;
    if (last == ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) return ERROR_FILE_NOT_FOUND;
  }
  file = path;
  return ERROR_SUCCESS;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, std::string(prefix).size(), prefix) == 0; }

// The profile's folder: ProfileImagePath with its %NAME% references expanded.
WideString ProfileFolder(HKEY list, const WideString& sid) {
  HKEY profile = nullptr;
  if (RegOpenKeyExW(list, sid.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &profile) != ERROR_SUCCESS)
    return WideString();
  std::vector<WCHAR> value(kLongestPath + 1, WCHAR(0));
  DWORD size = kLongestPath * sizeof(WCHAR);
  LONG read = RegQueryValueExW(profile, WIDE_TEXT("ProfileImagePath"), nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(value.data()), &size);
  RegCloseKey(profile);
  if (read != ERROR_SUCCESS) return WideString();
  WideString text(value.data());  // to its first zero
  if (text.empty()) return text;
  std::vector<WCHAR> expanded(kLongestPath + 1, WCHAR(0));
  DWORD needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), kLongestPath);
  if (needed == 0 || needed > kLongestPath) return WideString();
  WideString folder(expanded.data());
  while (!folder.empty() && folder.back() == WCHAR('\\')) folder.pop_back();
  // Only a plain absolute drive path: a profile folder is never guessed at.
  if (folder.size() < 3 || folder[1] != WCHAR(':') || folder[2] != WCHAR('\\')) return WideString();
  return folder;
}

}  // namespace

bool IsUserProfileSid(const std::string& name) {
  if (!StartsWith(name, "S-1-5-21-") && !StartsWith(name, "S-1-12-1-")) return false;
  bool digitBefore = false;
  for (size_t i = 2; i < name.size(); ++i) {
    char c = name[i];
    if (c >= '0' && c <= '9') {
      digitBefore = true;
    } else if (c == '-' && digitBefore) {
      digitBefore = false;
    } else {
      return false;
    }
  }
  return digitBefore;
}

std::vector<UserProfile> ReadUserProfiles() {
  std::vector<UserProfile> profiles;
  HKEY list = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, &list) != ERROR_SUCCESS) return profiles;
  std::set<std::string> seen;
  // Any answer but a name ends the listing: an index is never asked for twice.
  for (DWORD index = 0;; ++index) {
    WCHAR name[kNameLength];
    DWORD length = kNameLength;
    if (RegEnumKeyExW(list, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    WideString sid(name, length < kNameLength ? length : 0);
    std::string text;
    if (!AnsiFromWideExactly(sid, text) || !IsUserProfileSid(text) || !seen.insert(text).second) continue;
    profiles.push_back(UserProfile{text, ProfileFolder(list, sid)});
  }
  RegCloseKey(list);
  return profiles;
}

ProfileHive::ProfileHive(const UserProfile& profile, ProfileHiveKind kind) {
  bool classes = kind == ProfileHiveKind::Classes;
  WideString name = WideFromAnsi(profile.sid.c_str()) + (classes ? WIDE_TEXT("_Classes") : WIDE_TEXT(""));
  // Loaded already: used as it is.
  LONG opened = RegOpenKeyExW(HKEY_USERS, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &root_);
  if (opened == ERROR_SUCCESS) return;
  root_ = nullptr;
  if (opened != ERROR_FILE_NOT_FOUND) {
    error_ = static_cast<DWORD>(opened);
    return;
  }
  if (profile.folder.empty()) {
    error_ = ERROR_PATH_NOT_FOUND;  // the profile's folder cannot be read
    return;
  }
  WideString file;
  const WCHAR* const* candidates = classes ? kClassesHiveFiles : kUserHiveFiles;
  size_t count = classes ? sizeof kClassesHiveFiles / sizeof kClassesHiveFiles[0]
                         : sizeof kUserHiveFiles / sizeof kUserHiveFiles[0];
  // A link on the way to the usual place is reported; the older place is
  // reached through the system's own compatibility junction ("Local
  // Settings") on Vista and later, so a link on its way only means it is not there.
  error_ = FindHiveFile(profile.folder, candidates[0], file);
  for (size_t i = 1; i < count && error_ == ERROR_FILE_NOT_FOUND; ++i)
    if (FindHiveFile(profile.folder, candidates[i], file) == ERROR_SUCCESS) error_ = ERROR_SUCCESS;
  if (error_ != ERROR_SUCCESS) return;

  WideString temporary = WIDE_TEXT("CleanLum ") + name;
  LONG loaded = ERROR_SUCCESS;
  {
    PrivilegeScope privileges(kHivePrivileges, 2);
    loaded = privileges.Enabled() ? RegLoadKeyW(HKEY_USERS, temporary.c_str(), file.c_str())
                                  : static_cast<LONG>(privileges.Error());
  }
  if (loaded != ERROR_SUCCESS) {
    error_ = static_cast<DWORD>(loaded);
    return;
  }
  loadedAs_ = temporary;
  file_ = file;
  opened = RegOpenKeyExW(HKEY_USERS, temporary.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &root_);
  if (opened != ERROR_SUCCESS) {
    root_ = nullptr;
    Close();
    error_ = static_cast<DWORD>(opened);
    return;
  }
  error_ = ERROR_SUCCESS;
}

DWORD ProfileHive::Close() {
  if (root_) RegCloseKey(root_);
  root_ = nullptr;
  if (loadedAs_.empty()) return ERROR_SUCCESS;
  PrivilegeScope privileges(kHivePrivileges, 2);
  LONG unloaded = privileges.Enabled() ? RegUnLoadKeyW(HKEY_USERS, loadedAs_.c_str())
                                       : static_cast<LONG>(privileges.Error());
  // Another process (a virus scanner, the search indexer) may hold a key of
  // the new hive open for a moment: a hive left loaded keeps its user from
  // logging on with the profile until Windows restarts.
  for (int retry = 0; retry < kUnloadRetries && unloaded == ERROR_ACCESS_DENIED; ++retry) {
    Sleep(kUnloadRetryMs);
    unloaded = RegUnLoadKeyW(HKEY_USERS, loadedAs_.c_str());
  }
  loadedAs_.clear();
  return static_cast<DWORD>(unloaded);
}

std::vector<ProfileRow> ProfileRows() {
  using namespace RegistryCatalogue;
  std::vector<ProfileRow> rows;
  for (const Row& row : kRows) {
    if (row.root == HKCU) rows.push_back({ProfileHiveKind::User, row.path});
    if (row.root == HKCR) rows.push_back({ProfileHiveKind::Classes, row.path});
  }
  return rows;
}

std::string ProfileKeyName(const std::string& sid, ProfileHiveKind kind, const char* path) {
  std::string name = "HKU\\" + sid + (kind == ProfileHiveKind::Classes ? "_Classes" : "");
  if (path && *path) name += std::string("\\") + path;
  return name;
}

void DeleteProfileKeys(const CleanupContext& context) {
  auto tell = [&context](const std::string& item, const std::string& keyLeft, DWORD error) {
    if (context.registryKeyLeft) context.registryKeyLeft(item, keyLeft, error, context.registryKeyLeftContext);
  };
  std::vector<ProfileRow> rows = ProfileRows();
  for (const UserProfile& profile : ReadUserProfiles()) {
    for (ProfileHiveKind kind : {ProfileHiveKind::User, ProfileHiveKind::Classes}) {
      ProfileHive hive(profile, kind);
      if (!hive.Root()) {
        // A profile without its hive file holds no keys to clean; a hive that
        // is there but cannot be opened is left, and said so.
        if (hive.Error() != ERROR_FILE_NOT_FOUND) tell(ProfileKeyName(profile.sid, kind, ""), "", hive.Error());
        continue;
      }
      for (const ProfileRow& row : rows) {
        if (row.hive != kind) continue;
        RegistryKeyLeft left;
        if (!DeleteRegistryTree(hive.Root(), row.path, &left))
          tell(ProfileKeyName(profile.sid, kind, row.path), left.key, left.error);
      }
      // A hive that cannot be unloaded stays below HKEY_USERS under the
      // temporary name: told as the key left of the hive.
      std::string loadedAs = "HKU\\" + Utf8FromWide(hive.LoadedAs());
      DWORD unloaded = hive.Close();
      if (unloaded != ERROR_SUCCESS) tell(ProfileKeyName(profile.sid, kind, ""), loadedAs, unloaded);
    }
  }
}
