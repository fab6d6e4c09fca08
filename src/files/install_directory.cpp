// Fourth clean-up step: the library's cached package and installer folders,
// its background processes and installation directory, the shared documents
// folder, the installer-script tool, and a RunOnce command that removes the
// default installation directory at the next logon. Ends the thread's
// self-impersonation started by process termination.
//
// Safety: the installation directory read from the registry is handed to a
// recursive delete. It is used only when the guard of
// files/install_directory_guard.h accepts it against the facts of the machine
// (system folders, well-known folders, profiles, other applications' install
// locations); otherwise it counts as not read. Every path is built in full or
// the action that needs it is skipped.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files/file_tables.h"
#include "files/files.h"
#include "files/install_directory_guard.h"
#include "run/progress_window.h"
#include "run/run_record.h"
#include "registry/registry.h"
#include "system/system.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

const char* const kNewerReleaseKey = kLibraryKey;
const char kOlderReleaseKey[] = "SOFTWARE\\Velmora\\KIP\\LUMRunTime";

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
  const InstallDirectoryFacts* guard;  // what the "Directory" value is judged against
  RunRecord* record;                   // where failures are noted; may be null
};

const char kStep[] = "install directory";

DWORD DeleteTreeNoted(const StepFacts& facts, const char* path) { return DeleteTreeNoted(facts.record, kStep, path); }
void DeleteFileNoted(const StepFacts& facts, const char* path) { DeleteFileNoted(facts.record, kStep, path); }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Reads "Directory" from HKLM\keyPath as stored into value (at least 1025
// bytes: a value stored without its terminator still ends). False, with value
// emptied, when the key or value cannot be read.
//
// A text value is read as Windows holds it, in UTF-16, and spelled in the code
// page without a best fit: a character the code page lacks becomes '?', which
// no path the guard accepts holds. Read through the narrow call, the code
// page's best fit could spell another folder ("Łódź" as "Lodz", fullwidth
// "／．．" as "/..").
bool ReadDirectoryValue(const char* keyPath, REGSAM access, char (&value)[1025]) {
  std::memset(value, 0, sizeof value);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, access, &key) != ERROR_SUCCESS) return false;
  DWORD type = REG_NONE;
  LONG status = RegQueryValueExA(key, "Directory", nullptr, &type, nullptr, nullptr);
  if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
    WCHAR wide[1025];
    std::memset(wide, 0, sizeof wide);
    DWORD length = 1024 * sizeof(WCHAR);  // as many characters as the narrow read is offered
    status = RegQueryValueExW(key, WIDE_TEXT("Directory"), nullptr, nullptr, reinterpret_cast<LPBYTE>(wide), &length);
    std::string text = status == ERROR_SUCCESS ? AnsiForDisplay(Utf8FromWide(WideString(wide))) : "";
    if (text.size() > 1024) status = ERROR_MORE_DATA;  // a double-byte code page may spell it longer
    if (status == ERROR_SUCCESS) CopyText(value, text.c_str());
  } else if (status == ERROR_SUCCESS) {
    DWORD length = 1024;  // any other type: its bytes, as the narrow read gives them
    status = RegQueryValueExA(key, "Directory", nullptr, nullptr, reinterpret_cast<LPBYTE>(value), &length);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
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
  if (BuildDrivePath(path, facts, rest)) DeleteTreeNoted(facts, path);
}

// Calls DeleteDirectoryTree until it succeeds, at most attempts calls; the
// failure of the last is noted.
void DeleteTreeWithRetries(const StepFacts& facts, const char* path, int attempts) {
  for (int call = 0; call < attempts; ++call) {
    DWORD error = DeleteDirectoryTree(path);
    if (error == 0) return;
    if (call + 1 == attempts) NoteFailure(facts.record, kStep, FailureKind::Folder, "deleted", path, error);
  }
}

// Each name is tried only when the one before it was stopped (or was not running).
bool StopBackgroundProcesses(const StepFacts& facts) {
  for (const char* name : kBackgroundProcesses) {
    DWORD error = 0;
    if (TerminateProcessByName(name, &error)) continue;
    NoteFailure(facts.record, kStep, FailureKind::Process, "ended", name, error);
    return false;
  }
  return true;
}

void DeleteGigeServiceFile(const StepFacts& facts) {
  char path[MAX_PATH];
  if (BuildDrivePath(path, facts, kGigeServiceFile)) DeleteSingleFileNoted(facts.record, kStep, path);
}

// Stops the processes, then removes the service file and the directory; with a
// process still running, both stay for this run.
void StopProcessesAndDeleteTree(const StepFacts& facts, const char* directory, int attempts) {
  if (!StopBackgroundProcesses(facts)) return;
  DeleteGigeServiceFile(facts);
  if (directory) DeleteTreeWithRetries(facts, directory, attempts);
}

void RemoveNewerReleaseDirectory(HWND window, const StepFacts& facts, const char* revisionText) {
  DeleteDriveTree(facts, kParlowFolder);

  InstallDirectoryChoice choice;
  ChooseInstallDirectory(revisionText, *facts.guard, choice);
  ProgressWindow::SetCaption(window, choice.source == InstallDirectorySource::RegistryValue
                                         ? "Deleting the Velmora Imaging directory"
                                         : "No registry, Deleting the Velmora Imaging directory ");
  ProgressWindow::Step(window);
  StopProcessesAndDeleteTree(facts, choice.folder[0] ? choice.folder : nullptr, kNewerReleaseTreeAttempts);
}

void RemoveOlderReleaseDirectory(HWND window, const StepFacts& facts, const char* revisionText) {
  InstallDirectoryChoice choice;
  ChooseInstallDirectory(revisionText, *facts.guard, choice);
  const char* folder = choice.folder[0] ? choice.folder : nullptr;
  ProgressWindow::SetCaption(window, "Deleting the Velmora Imaging directory");
  ProgressWindow::Step(window);
  if (choice.source == InstallDirectorySource::RegistryValue) {
    DeleteTreeNoted(facts, choice.folder);
    char systemDirectory[1024];
    if (QuerySystemDirectory(systemDirectory)) DeleteFilesByPattern(systemDirectory, "lum*.dll");
  } else {
    ProgressWindow::SetCaption(window, "No registry, deleting the Velmora Imaging directory ");
    StopProcessesAndDeleteTree(facts, folder, 1);
  }
}

void RunMsiCleanupTool(CleanupContext& context, const StepFacts& facts) {
  ProgressWindow::SetCaption(context.progressWindow, "Deleting script files");
  ChildCommand command;
  if (!facts.haveWorkingDirectory) return;
  if (!BuildChildCommand(command, facts.workingDirectory, kMsiCleanupProgram, kMsiCleanupArguments)) return;
  RunRecorded(context.record, "install directory", ChildOwner::Vendor, "", command, CREATE_NO_WINDOW,
              kMsiCleanupTimeoutMs);
}

void RemoveWindowsInstallerEntries(const StepFacts& facts) {
  if (!facts.windowsDirectory[0]) return;
  char path[MAX_PATH];
  for (const char* folder : kWindowsInstallerFolders)
    if (BuildText(path, facts.windowsDirectory, folder)) DeleteTreeNoted(facts, path);
  if (BuildText(path, facts.windowsDirectory, kWindowsInstallerPackage)) DeleteFileNoted(facts, path);
}

// The command always names the default place, never the registry's "Directory".
void RegisterDeferredRemoval(CleanupContext& context, const StepFacts& facts) {
  char command[kDeferredRemovalSize];
  if (!facts.haveDrive) return;
  BuildDeferredRemovalCommand(facts.drive, command);
  if (!command[0]) return;
  LogonCommandRecord record;
  record.key = std::string("HKLM\\") + kRunOnceKey;
  record.value = kDeferredRemovalValue;
  record.data = command;
  HKEY key = nullptr;
  LONG created = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                 nullptr, &key, nullptr);
  if (created != ERROR_SUCCESS) {
    std::printf("Could not create the registry key.");
    record.error = static_cast<DWORD>(created);
    if (context.record) context.record->NoteLogonCommand(record);
    return;
  }
  DWORD length = static_cast<DWORD>(std::strlen(command) + 1);
  LONG set = RegSetValueExA(key, kDeferredRemovalValue, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(command),
                            length);
  if (set != ERROR_SUCCESS) std::printf("Could not set the event message file.");
  RegCloseKey(key);
  record.error = static_cast<DWORD>(set);
  if (context.record) context.record->NoteLogonCommand(record);
}

}  // namespace

void BuildDeferredRemovalCommand(const char* drive, char (&command)[kDeferredRemovalSize]) {
  if (!drive || !BuildText(command, "%comspec% /c rd /s /q \"", drive, kDefaultInstallFolder, "\""))
    command[0] = '\0';
}

bool IsNewerReleaseRevision(const char* revisionText) {
  return std::atof(revisionText ? revisionText : "") > 7.5;
}

void ChooseInstallDirectory(const char* revisionText, const InstallDirectoryFacts& guardFacts,
                            InstallDirectoryChoice& choice) {
  std::memset(&choice, 0, sizeof choice);
  StepFacts facts;
  ReadStepFacts(facts);
  choice.newerRelease = IsNewerReleaseRevision(revisionText);
  const char* keyPath = choice.newerRelease ? kNewerReleaseKey : kOlderReleaseKey;
  // The key opened with the rights the step has always asked for: a key
  // that grants reading but not more sends a newer release's run to the
  // default folder, and the preview says so too.
  const REGSAM access = choice.newerRelease ? KEY_ALL_ACCESS : KEY_QUERY_VALUE;
  choice.source = InstallDirectorySource::NoValue;
  if (ReadDirectoryValue(keyPath, access, choice.refusedValue)) {
    InstallDirectoryVerdict verdict = JudgeInstallDirectory(choice.refusedValue, guardFacts);
    if (verdict.accepted) {
      CopyText(choice.folder, choice.refusedValue);  // fits: both hold 1025
      std::memset(choice.refusedValue, 0, sizeof choice.refusedValue);
      choice.source = InstallDirectorySource::RegistryValue;
      return;
    }
    choice.source = InstallDirectorySource::Refused;
    std::string rule = InstallDirectoryRuleText(verdict.rule);
    if (!verdict.protectedFolder.empty())
      rule += ": " + verdict.protectedFolder + (verdict.source.empty() ? "" : " (" + verdict.source + ")");
    if (rule.size() >= sizeof choice.rule) rule = InstallDirectoryRuleText(verdict.rule);
    CopyText(choice.rule, rule.c_str());
  }
  char defaultFolder[MAX_PATH];
  if (BuildDrivePath(defaultFolder, facts, kDefaultInstallFolder)) CopyText(choice.folder, defaultFolder);
}

void RemoveInstallDirectory(CleanupContext& context, const char* revisionText) {
  HWND window = context.progressWindow;

  StepFacts facts;
  ReadStepFacts(facts);
  InstallDirectoryFacts ownGuardFacts;
  if (!context.installDirectoryFacts) ownGuardFacts = ReadInstallDirectoryFacts();
  facts.guard = context.installDirectoryFacts ? context.installDirectoryFacts : &ownGuardFacts;
  facts.record = context.record;

  DeleteCachedPackage(kLibraryPackedCode, context.record, kStep);
  const DWORD majorVersion = QueryVersion().dwMajorVersion;
  for (const std::string& folder : ProductInstallerFolders(majorVersion, facts.windowsDirectory))
    DeleteTreeNoted(facts, folder.c_str());

  if (IsNewerReleaseRevision(revisionText))
    RemoveNewerReleaseDirectory(window, facts, revisionText);
  else
    RemoveOlderReleaseDirectory(window, facts, revisionText);

  for (const std::string& folder : SharedDocumentsFolders(majorVersion, facts.windowsDirectory))
    DeleteTreeNoted(facts, folder.c_str());

  if (MsiMode) RunMsiCleanupTool(context, facts);

  RemoveWindowsInstallerEntries(facts);
  RegisterDeferredRemoval(context, facts);

  if (!RevertToSelf()) std::printf("RevertToSelf failed!");
}
