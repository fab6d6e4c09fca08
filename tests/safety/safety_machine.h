// Generated machines for the safety property: from a seed, a machine that
// holds any subset of the vendor's items (registry catalogue keys, board keys,
// installer products with cached packages, environment values, the
// installation directory and the other folders the run removes, shortcuts,
// System32 libraries and drivers, INF packages with their driver store
// copies on the simulation, background processes) mixed with look-alikes that
// are not the vendor's, and "Directory" values of every dangerous form.
//
// The machine is a plain description (no Windows types), so that the same
// machine can stand on the simulation and, built through the Win32 API, in a
// Wine prefix. ExpectedOutcome() tells, for that description, which vendor
// items the design lets survive a run and why; everything else of the
// vendor's must be gone and everything that is not the vendor's untouched.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace safety {

enum class Owner { Foreign, Vendor };
enum class Hive { LocalMachine, CurrentUser, Users };

// Attribute bits, as Windows numbers them.
const uint32_t kReadOnly = 0x01;
const uint32_t kHidden = 0x02;
const uint32_t kSystem = 0x04;
const uint32_t kDirectory = 0x10;
const uint32_t kArchive = 0x20;
const uint32_t kNormal = 0x80;
const uint32_t kReparsePoint = 0x400;

// Registry value types used here.
const uint32_t kRegSz = 1;
const uint32_t kRegExpandSz = 2;
const uint32_t kRegBinary = 3;
const uint32_t kRegDword = 4;
const uint32_t kRegLink = 6;
const uint32_t kRegMultiSz = 7;

// An item whose owner is Vendor makes everything below it the vendor's too;
// a Foreign item never lies below a Vendor one.
struct KeyItem {
  Hive hive;
  std::string path;  // HKEY_CLASSES_ROOT keys are written under SOFTWARE\Classes
  Owner owner;
  bool refuseDelete = false;  // its security refuses deletion
  bool refuseOpen = false;    // its security refuses opening
  // A registry link to this key ("\\REGISTRY\\MACHINE\\..."); its REG_LINK
  // value "SymbolicLinkValue" is among the values.
  std::string linkTarget;
};

struct ValueItem {
  Hive hive;
  std::string path;
  std::string name;
  uint32_t type;
  std::string data;  // bytes as stored
  Owner owner;       // a Vendor value in a foreign key (environment values)
};

struct DirItem {
  std::string path;
  Owner owner;
  uint32_t attributes = kDirectory;
};

struct FileItem {
  std::string path;
  std::string content;
  uint32_t attributes = kArchive;
  Owner owner;
  bool inUse = false;         // held open without delete sharing
  bool denyAccess = false;    // its ACL denies administrators
  bool foreignOwner = false;  // owned by the system
};

struct LinkItem {
  std::string path;
  std::string target;
  bool directory;  // junction or directory symbolic link; else a file symbolic link
  Owner owner;
};

struct ProcessItem {
  std::string image;
  std::string account;
  Owner owner;
  bool refuseTerminate = false;
  bool isProtected = false;  // cannot even be opened
};

struct ServiceItem {
  std::string name;
  Owner owner;
};

// A package of the simulated driver store: its published INF (one of the
// files, in the Windows INF directory) and its FileRepository folder (one of
// the folders, with the package's files) share its owner.
struct PackageItem {
  std::string publishedName;  // "oem12.inf"
  std::string storeFolder;
  Owner owner;
  bool inUse = false;        // refused without SUOI_FORCEDELETE
  uint32_t refuseError = 0;  // the store refuses its removal with this error
};

// What the generator may use. The simulation takes everything; a Wine prefix
// has no way to hold files in use, refuse keys or run the background
// processes, keeps Windows in C:\windows, and shows file links as files.
struct Options {
  bool simulatedOnly = true;  // in-use files, refused keys and ACLs, processes, D: drive, 8-bit names
  bool fileLinks = true;
  bool directoryLinks = true;
  bool blockers = true;  // dot-named entries and paths beyond MAX_PATH inside trees
  uint32_t majorVersion = 6;  // the Windows version of a machine that is not simulated (a prefix's setting)
};

struct Machine {
  uint64_t seed = 0;
  Options options;

  // System facts.
  std::string windowsDirectory = "C:\\Windows";
  std::string systemDirectory = "C:\\Windows\\system32";
  uint32_t majorVersion = 6;
  bool amd64 = true;
  std::string arguments = "silent noreboot";
  std::string workingDirectory = "C:\\Tools";

  std::vector<KeyItem> keys;
  std::vector<ValueItem> values;
  std::vector<DirItem> dirs;
  std::vector<FileItem> files;
  std::vector<LinkItem> links;
  std::vector<ProcessItem> processes;
  std::vector<ServiceItem> services;
  std::vector<PackageItem> packages;  // simulation only: Wine has no driver store

  // How the generator meant the install-directory step to go.
  bool newerRelease = false;
  bool directoryAccepted = false;   // the "Directory" value names the library's folder
  std::string directoryText;        // that value as the run reads it (when accepted)
  std::string defaultInstallDirectory;
  // The folders the shell reports for all users on Vista and later (major
  // version 6), where the run then looks for the groups, the desktop shortcut,
  // the documents and the InstallShield folder.
  std::string commonPrograms;
  std::string commonDesktop;
  std::string commonDocuments;
  std::string programFilesX86;
  // Cached packages that lie in the installer cache, by upper-cased packed product code.
  std::map<std::string, std::string> cachePackages;
  // INF files whose "Strings" section carries the vendor's provider text, upper-cased paths.
  std::set<std::string> vendorInfs;
  // Vendor items the design leaves in place, with the reason, by item id.
  std::map<std::string, std::string> keptByDesign;

  // A one-line summary for failure messages.
  std::string Describe() const;
};

Machine Generate(uint64_t seed, const Options& options = Options());

// Item ids, shared by the expected outcome and the snapshots of a machine:
//   "file C:\PATH\NAME"           files, folders and links (upper case)
//   "key HKLM\PATH"               keys (upper case)
//   "value HKLM\PATH : NAME"      values (upper case)
std::string HiveName(Hive hive);
std::string FileId(const std::string& path);
std::string KeyId(Hive hive, const std::string& path);
std::string ValueId(Hive hive, const std::string& path, const std::string& name);
// "C:\a\b" from any spelling the platform accepts ("c:/a//b\"), upper case;
// empty when it is not a drive path or climbs with "..".
std::string CanonicalPath(const std::string& path);

// Processes and services are named by id too: "process <n> <image>", "service <NAME>".
std::string ProcessId(size_t index, const std::string& image);
std::string ServiceId(const std::string& name);

struct Outcome {
  // Every item of the machine that is the vendor's, with "" when it is to be
  // gone after the run, or the accepted reason why it survives.
  std::map<std::string, std::string> vendor;
  bool IsVendor(const std::string& id) const { return vendor.count(id) != 0; }
  bool Survives(const std::string& id) const {
    auto it = vendor.find(id);
    return it != vendor.end() && !it->second.empty();
  }
  // Vendor items that remain with no reason the design accepts: each is a
  // fault of the generator (an item no step targets), reported as such.
  std::vector<std::string> unexplained;
};

// The places of the version-dependent file steps, as the run takes them.
std::vector<std::string> ShortcutGroupFolders(const Machine& machine);  // removed as trees
std::vector<std::string> DesktopShortcuts(const Machine& machine);      // removed as files
std::vector<std::string> ProductInstallerFolders(const Machine& machine);
std::vector<std::string> SharedDocumentsFolders(const Machine& machine);

// The run as the design goes, on the machine's items: which vendor items are
// gone and which survive, and for what accepted reason.
Outcome ExpectedOutcome(const Machine& machine);

// A machine's state: item id -> description (attributes, content, data).
typedef std::map<std::string, std::string> Snapshot;

// Items a run may add: the run log (in the temporary folder), the report
// folder with its reports and registry backup, and the logon command.
bool IsAllowedNewItem(const Machine& machine, const std::string& id, const std::string& tempDirectory,
                      const std::string& reportFolder);

// Compares the states before and after a run against the outcome. Each
// problem is one line naming the item.
std::vector<std::string> CheckRun(const Machine& machine, const Outcome& outcome, const Snapshot& before,
                                  const Snapshot& after, const std::string& tempDirectory,
                                  const std::string& reportFolder);

}  // namespace safety
