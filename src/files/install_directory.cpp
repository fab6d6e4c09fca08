// Fourth clean-up step: the library's cached package and installer folders,
// its background processes and installation directory, the shared documents
// folder, the installer-script tool, and a RunOnce command that removes the
// default installation directory at the next logon. Ends the thread's
// self-impersonation started by process termination.
//
// Safety: the installation directory read from the registry is handed to a
// recursive delete. It is used only when it is an absolute drive path that
// names neither a drive root, nor the Windows or system directory, nor a
// folder inside the Windows directory or containing it, nor one of the shared
// top-level folders; otherwise it counts as not read. Every path is built in
// full or the action that needs it is skipped.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/file_tables.h"
#include "files/files.h"
#include "run/progress_window.h"
#include "registry/registry.h"
#include "system/system.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

const char kNewerReleaseKey[] = "Software\\Velmora\\Velmora Imaging Library";
const char kOlderReleaseKey[] = "SOFTWARE\\Velmora\\KIP\\LUMRunTime";

// Shared folders at a drive root that are never the library's own.
const char* const kSharedTopLevelFolders[] = {
    "Program Files", "Program Files (x86)", "ProgramData", "Users", "Documents and Settings",
};

const int kNewerReleaseTreeAttempts = 4;
const DWORD kMsiCleanupTimeoutMs = 60000;

// What the step reads once at its start. The drive is the first character of
// the Windows directory; without a readable Windows directory every
// drive-letter path is skipped.
struct StepFacts {
  char windowsDirectory[MAX_PATH];
  char drive[2];
  char workingDirectory[MAX_PATH];
  bool haveDrive;
  bool haveWorkingDirectory;
};

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Letters folded for path comparison: ASCII and the accented letters of the
// Western code page. Folding too much can only make a value look like a
// protected folder and be refused, never the other way round.
char FoldPathChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 'a' + 'A');
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 0x20);
  if (c == '/') return '\\';
  return c;
}

// A path reduced to the form the platform resolves it to: drive letter and
// components, upper-cased, separators single, "." components dropped and
// trailing dots and blanks of each component stripped. False for anything
// that is not a plain absolute drive path: no drive, a ".." component, a
// component of only dots and blanks, characters not allowed in file names.
bool CanonicalDrivePath(const char* path, char* out, size_t outSize, size_t* componentCount) {
  if (!path || !IsDriveLetter(path[0]) || path[1] != ':' || (path[2] != '\\' && path[2] != '/'))
    return false;
  if (outSize < 3) return false;
  size_t used = 0;
  out[used++] = FoldPathChar(path[0]);
  out[used++] = ':';
  *componentCount = 0;
  const char* p = path + 2;
  while (*p) {
    while (*p == '\\' || *p == '/') ++p;
    if (!*p) break;
    const char* start = p;
    while (*p && *p != '\\' && *p != '/') {
      unsigned char u = static_cast<unsigned char>(*p);
      if (u < 0x20 || std::strchr("<>:\"|?*", *p)) return false;
      ++p;
    }
    size_t length = static_cast<size_t>(p - start);
    if (length == 1 && start[0] == '.') continue;
    if (length == 2 && start[0] == '.' && start[1] == '.') return false;
    while (length > 0 && (start[length - 1] == '.' || start[length - 1] == ' ')) --length;
    if (length == 0) return false;
    if (used + 1 + length + 1 > outSize) return false;
    out[used++] = '\\';
    for (size_t i = 0; i < length; ++i) out[used++] = FoldPathChar(start[i]);
    ++*componentCount;
  }
  out[used] = '\0';
  return true;
}

// True when a and b are the same path or one lies inside the other.
bool SameOrNested(const char* a, const char* b) {
  size_t la = std::strlen(a);
  size_t lb = std::strlen(b);
  const char* shorter = la <= lb ? a : b;
  const char* longer = la <= lb ? b : a;
  size_t n = la <= lb ? la : lb;
  if (std::strncmp(shorter, longer, n) != 0) return false;
  return longer[n] == '\0' || longer[n] == '\\';
}

// Whether a "Directory" value may be handed to the recursive delete.
bool IsSafeInstallDirectory(const char* value, const char* windowsDirectory) {
  if (!value || !value[0]) return false;
  if (std::strlen(value) >= MAX_PATH) return false;  // the path in hand holds it whole or not at all

  char candidate[MAX_PATH];
  size_t components = 0;
  if (!CanonicalDrivePath(value, candidate, sizeof candidate, &components)) return false;
  if (components == 0) return false;  // a drive root
  // An 8.3 alias ("PROGRA~1") may name any folder, a shared one included.
  for (const char* p = candidate; *p; ++p)
    if (p[0] == '~' && p[1] >= '0' && p[1] <= '9') return false;

  // Without the Windows and system directories there is nothing to compare
  // against: the value is not used.
  char systemDirectory[1024];
  char windows[MAX_PATH];
  char system[1024];
  size_t windowsComponents = 0;
  size_t systemComponents = 0;
  if (!QuerySystemDirectory(systemDirectory)) return false;
  if (!CanonicalDrivePath(windowsDirectory, windows, sizeof windows, &windowsComponents)) return false;
  if (!CanonicalDrivePath(systemDirectory, system, sizeof system, &systemComponents)) return false;
  if (SameOrNested(candidate, windows) || SameOrNested(candidate, system)) return false;

  if (components == 1) {
    for (const char* shared : kSharedTopLevelFolders) {
      char sharedPath[MAX_PATH];
      char sharedCanonical[MAX_PATH];
      size_t sharedComponents = 0;
      const char root[] = {candidate[0], ':', '\\', '\0'};
      if (!BuildText(sharedPath, root, shared)) continue;
      if (!CanonicalDrivePath(sharedPath, sharedCanonical, sizeof sharedCanonical, &sharedComponents))
        continue;
      if (std::strcmp(candidate, sharedCanonical) == 0) return false;
    }
  }
  return true;
}

// Reads "Directory" from HKLM\keyPath into value (at least 1025 bytes: a value
// stored without its terminator still ends). False when the key or value
// cannot be read, or when the value is not safe to delete.
bool ReadInstallDirectory(const char* keyPath, REGSAM access, const StepFacts& facts,
                          char (&value)[1025]) {
  std::memset(value, 0, sizeof value);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, access, &key) != ERROR_SUCCESS) return false;
  DWORD length = 1024;
  LONG status = RegQueryValueExA(key, "Directory", nullptr, nullptr,
                                 reinterpret_cast<LPBYTE>(value), &length);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    std::memset(value, 0, sizeof value);
    return false;
  }
  // Guard: an empty value or one naming a drive root or a system folder would
  // wipe far more than the library.
  if (!IsSafeInstallDirectory(value, facts.windowsDirectory)) {
    std::memset(value, 0, sizeof value);
    return false;
  }
  return true;
}

void ReadStepFacts(StepFacts& facts) {
  std::memset(&facts, 0, sizeof facts);
  if (QueryWindowsDirectory(facts.windowsDirectory) && IsDriveLetter(facts.windowsDirectory[0]) &&
      facts.windowsDirectory[1] == ':') {
    facts.drive[0] = facts.windowsDirectory[0];
    facts.haveDrive = true;
  } else {
    facts.windowsDirectory[0] = '\0';
  }
  facts.haveWorkingDirectory = QueryCurrentDirectory(facts.workingDirectory);
}

bool BuildDrivePath(char (&path)[MAX_PATH], const StepFacts& facts, const char* rest) {
  return facts.haveDrive && BuildText(path, facts.drive, rest);
}

void DeleteDriveTree(const StepFacts& facts, const char* rest) {
  char path[MAX_PATH];
  if (BuildDrivePath(path, facts, rest)) DeleteDirectoryTree(path);
}

// Calls DeleteDirectoryTree until it succeeds, at most attempts calls.
void DeleteTreeWithRetries(const char* path, int attempts) {
  for (int call = 0; call < attempts; ++call)
    if (DeleteDirectoryTree(path) == 0) return;
}

// Each name is tried only when the one before it was stopped (or was not running).
bool StopBackgroundProcesses() {
  for (const char* name : kBackgroundProcesses)
    if (!TerminateProcessByName(name)) return false;
  return true;
}

void DeleteGigeServiceFile(const StepFacts& facts) {
  char path[MAX_PATH];
  if (BuildDrivePath(path, facts, kGigeServiceFile)) DeleteFileA(path);
}

// Stops the processes, then removes the service file and the directory; with a
// process still running, both stay for this run.
void StopProcessesAndDeleteTree(const StepFacts& facts, const char* directory, int attempts) {
  if (!StopBackgroundProcesses()) return;
  DeleteGigeServiceFile(facts);
  if (directory) DeleteTreeWithRetries(directory, attempts);
}

void RemoveNewerReleaseDirectory(HWND window, const StepFacts& facts) {
  DeleteDriveTree(facts, kParlowFolder);

  char directory[1025];
  if (ReadInstallDirectory(kNewerReleaseKey, KEY_ALL_ACCESS, facts, directory)) {
    ProgressWindow::SetCaption(window, "Deleting the Velmora Imaging directory");
    ProgressWindow::Step(window);
    StopProcessesAndDeleteTree(facts, directory, kNewerReleaseTreeAttempts);
  } else {
    ProgressWindow::SetCaption(window, "No registry, Deleting the Velmora Imaging directory ");
    ProgressWindow::Step(window);
    char defaultFolder[MAX_PATH];
    bool haveDefault = BuildDrivePath(defaultFolder, facts, kDefaultInstallFolder);
    StopProcessesAndDeleteTree(facts, haveDefault ? defaultFolder : nullptr,
                               kNewerReleaseTreeAttempts);
  }
}

void RemoveOlderReleaseDirectory(HWND window, const StepFacts& facts) {
  char directory[1025];
  bool read = ReadInstallDirectory(kOlderReleaseKey, KEY_QUERY_VALUE, facts, directory);
  ProgressWindow::SetCaption(window, "Deleting the Velmora Imaging directory");
  ProgressWindow::Step(window);
  if (read) {
    DeleteDirectoryTree(directory);
    char systemDirectory[1024];
    if (QuerySystemDirectory(systemDirectory)) DeleteFilesByPattern(systemDirectory, "lum*.dll");
  } else {
    ProgressWindow::SetCaption(window, "No registry, deleting the Velmora Imaging directory ");
    char defaultFolder[MAX_PATH];
    bool haveDefault = BuildDrivePath(defaultFolder, facts, kDefaultInstallFolder);
    StopProcessesAndDeleteTree(facts, haveDefault ? defaultFolder : nullptr, 1);
  }
}

void RunMsiCleanupTool(HWND window, const StepFacts& facts) {
  ProgressWindow::SetCaption(window, "Deleting script files");
  char commandLine[1024];
  if (!facts.haveWorkingDirectory) return;
  if (!BuildText(commandLine, facts.workingDirectory, kMsiCleanupCommand)) return;
  RunAndWait(commandLine, CREATE_NO_WINDOW, kMsiCleanupTimeoutMs);
}

void RemoveWindowsInstallerEntries(const StepFacts& facts) {
  if (!facts.windowsDirectory[0]) return;
  char path[MAX_PATH];
  for (const char* folder : kWindowsInstallerFolders)
    if (BuildText(path, facts.windowsDirectory, folder)) DeleteDirectoryTree(path);
  if (BuildText(path, facts.windowsDirectory, kWindowsInstallerPackage)) DeleteFileA(path);
}

// The command always names the default place, never the registry's "Directory".
void RegisterDeferredRemoval(const StepFacts& facts) {
  char command[kDeferredRemovalSize];
  if (!facts.haveDrive) return;
  BuildDeferredRemovalCommand(facts.drive, command);
  if (!command[0]) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    std::printf("Could not create the registry key.");
    return;
  }
  DWORD length = static_cast<DWORD>(std::strlen(command) + 1);
  if (RegSetValueExA(key, kDeferredRemovalValue, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(command),
                     length) != ERROR_SUCCESS)
    std::printf("Could not set the event message file.");
  RegCloseKey(key);
}

}  // namespace

void BuildDeferredRemovalCommand(const char* drive, char (&command)[kDeferredRemovalSize]) {
  if (!drive || !BuildText(command, "%comspec% /c rd /s /q \"", drive, kDefaultInstallFolder, "\""))
    command[0] = '\0';
}

bool IsNewerReleaseRevision(const char* revisionText) {
  return std::atof(revisionText ? revisionText : "") > 7.5;
}

void ChooseInstallDirectory(const char* revisionText, REGSAM access, InstallDirectoryChoice& choice) {
  std::memset(&choice, 0, sizeof choice);
  StepFacts facts;
  ReadStepFacts(facts);
  choice.newerRelease = IsNewerReleaseRevision(revisionText);
  const char* keyPath = choice.newerRelease ? kNewerReleaseKey : kOlderReleaseKey;
  if (ReadInstallDirectory(keyPath, access, facts, choice.folder)) {
    choice.source = InstallDirectorySource::RegistryValue;
    return;
  }
  choice.source = InstallDirectorySource::NoValue;
  choice.rule = "";
  // Read once more without the guard, only to tell a refused value from a missing one.
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, access, &key) == ERROR_SUCCESS) {
    DWORD length = 1024;
    if (RegQueryValueExA(key, "Directory", nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(choice.refusedValue), &length) == ERROR_SUCCESS) {
      choice.source = InstallDirectorySource::Refused;
      choice.rule = choice.refusedValue[0] ? "not a folder of its own that is safe to delete" : "empty";
    } else {
      std::memset(choice.refusedValue, 0, sizeof choice.refusedValue);
    }
    RegCloseKey(key);
  }
  char defaultFolder[MAX_PATH];
  if (BuildDrivePath(defaultFolder, facts, kDefaultInstallFolder)) CopyText(choice.folder, defaultFolder);
}

void RemoveInstallDirectory(CleanupContext& context, const char* revisionText) {
  HWND window = context.progressWindow;

  StepFacts facts;
  ReadStepFacts(facts);

  DeleteCachedPackage(kLibraryPackedCode);
  for (const char* folder : kFixedInstallerFolders) DeleteDirectoryTree(folder);

  if (IsNewerReleaseRevision(revisionText))
    RemoveNewerReleaseDirectory(window, facts);
  else
    RemoveOlderReleaseDirectory(window, facts);

  for (const char* folder : kSharedDocumentsFolders) DeleteDriveTree(facts, folder);

  if (MsiMode) RunMsiCleanupTool(window, facts);

  RemoveWindowsInstallerEntries(facts);
  RegisterDeferredRemoval(facts);

  if (!RevertToSelf()) std::printf("RevertToSelf failed!");
}
