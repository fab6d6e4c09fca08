// The guard in front of the recursive delete of the registered installation
// directory: the facts of the machine it judges by, read once per run, and
// the verdict over one "Directory" value. The install-directory step and any
// preview or report of a run call the same two functions.
//
// A value is refused when it is not a plain absolute drive path, names a
// drive root or an 8.3 alias, touches the Windows or system directory (equal,
// inside or above), is a shared top-level folder, or is equal to or above a
// well-known folder, a user profile or another application's install
// location. "Above" is by whole components, case-insensitive, after the
// normalisation of files/drive_path.h.
#pragma once

#include <string>
#include <vector>

enum class InstallDirectoryRule {
  kAccepted,
  kNotAPlainDrivePath,     // empty, relative, "." or "..", wildcards, streams, too long
  kDriveRoot,
  kShortNameAlias,         // "PROGRA~1" may name any folder
  kNoSystemDirectories,    // nothing to compare against: the value is not used
  kWindowsDirectory,       // the Windows or system directory, inside or above it
  kSharedTopLevelFolder,   // "Program Files", "Users", ... at a drive root
  kWellKnownFolder,        // a folder Windows reports, or the TEMP folder, or above one
  kUserProfile,            // the profiles root or a profile, or above one
  kOtherApplication,       // another application's install location, or above it
};

// A short English text for the rule, for logs and reports.
const char* InstallDirectoryRuleText(InstallDirectoryRule rule);

// A folder the value may neither name nor contain.
struct ProtectedFolder {
  InstallDirectoryRule rule;  // kWellKnownFolder, kUserProfile or kOtherApplication
  std::string path;           // as read, environment references expanded
  std::string canonical;      // files/drive_path.h form
  std::string source;         // where it was read, e.g. "CSIDL_PROGRAM_FILES_COMMON"
};

struct InstallDirectoryFacts {
  bool haveSystemDirectories = false;  // both read in full
  std::string windowsDirectory;        // as read
  std::string systemDirectory;
  std::string windowsCanonical;
  std::string systemCanonical;
  std::vector<ProtectedFolder> folders;
};

// Reads the facts: the Windows and system directories; every well-known folder
// SHGetFolderPathA reports for the machine and the user (a folder it cannot
// report is skipped) and the TEMP folder; the profiles root and every profile
// of the ProfileList key; the InstallLocation of every application under the
// Uninstall keys (HKLM 64-bit and 32-bit views, HKCU) whose Publisher is not
// the vendor's. Empty, relative and unreadable locations are left out.
InstallDirectoryFacts ReadInstallDirectoryFacts();

struct InstallDirectoryVerdict {
  bool accepted = false;
  InstallDirectoryRule rule = InstallDirectoryRule::kNotAPlainDrivePath;
  std::string protectedFolder;  // the folder it collided with, as read; "" when the rule names none
  std::string source;           // where that folder was read; "" when the rule names none
};

// Whether value may be handed to the recursive delete, and if not, why.
InstallDirectoryVerdict JudgeInstallDirectory(const char* value, const InstallDirectoryFacts& facts);
