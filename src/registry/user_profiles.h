// The vendor's per-user keys in every user profile of the machine, not only
// in the hive of the account that runs the program: the catalogue's per-user
// rows applied to each real user's hive, and its classes rows to each user's
// classes hive. A managed run and a run given "allusers" do it; nothing else
// of those hives is touched, and the profile folders never are.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "run/cleanup_context.h"
#include "system/wide_text.h"

struct UserProfile {
  std::string sid;    // as ProfileList names it
  WideString folder;  // its ProfileImagePath, expanded; empty when it cannot be read
};

// A real user's SID: a local or domain account's (S-1-5-21-...) or an Azure
// AD account's (S-1-12-1-...), digits and dashes only. Never a service
// account's (S-1-5-18, -19, -20) nor any other well-known one.
bool IsUserProfileSid(const std::string& name);

// The real users' profiles registered under ProfileList, in its order.
std::vector<UserProfile> ReadUserProfiles();

enum class ProfileHiveKind { User, Classes };

// One hive of a profile, open while the object lives. A hive loaded under
// HKEY_USERS (its user is logged on, or a process runs as that user) is used
// as it is. Any other is loaded from the profile folder under a temporary
// name below HKEY_USERS, with SeBackupPrivilege and SeRestorePrivilege enabled
// only for the load and the unload, and unloaded by Close or the destructor,
// whatever happened in between. A file that is not there is never loaded
// (RegLoadKey would create it).
class ProfileHive {
 public:
  ProfileHive(const UserProfile& profile, ProfileHiveKind kind);
  ~ProfileHive() { Close(); }
  ProfileHive(const ProfileHive&) = delete;
  ProfileHive& operator=(const ProfileHive&) = delete;

  // The hive's root key; null when it could not be opened (Error says why:
  // ERROR_FILE_NOT_FOUND when the profile has no such hive file).
  HKEY Root() const { return root_; }
  DWORD Error() const { return error_; }
  // The hive file loaded here; empty for a hive that was loaded already.
  const WideString& LoadedFile() const { return file_; }
  // The temporary name below HKEY_USERS while loaded here; empty otherwise.
  const WideString& LoadedAs() const { return loadedAs_; }
  // Closes the root and unloads what was loaded here; the unload's Win32 error.
  DWORD Close();

 private:
  HKEY root_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
  WideString loadedAs_;  // the temporary name, while loaded here
  WideString file_;
};

// A catalogue row applied to a profile: which hive, and its path there.
struct ProfileRow {
  ProfileHiveKind hive;
  const char* path;
};
std::vector<ProfileRow> ProfileRows();

// How the reports name a profile's key: "HKU\<SID>\path", "HKU\<SID>_Classes\path"
// (the hive itself when path is empty), UTF-8.
std::string ProfileKeyName(const std::string& sid, ProfileHiveKind kind, const char* path);

// The registry step's part for every profile: each profile's rows deleted
// with the tree deletion; each key that stays, and each hive that cannot be
// loaded (the hive's name, no key left) or unloaded (the hive's name, and its
// temporary name as the key left), is told to the context's sink.
void DeleteProfileKeys(const CleanupContext& context);
