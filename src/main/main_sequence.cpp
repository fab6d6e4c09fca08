// The main sequence: checks, confirmation, log and progress window, the seven
// clean-up steps in their fixed order, and the restart.
#include "main/main_sequence.h"

#include <shlobj.h>

#include <cstring>
#include <string>

#include "drivers/driver_commands.h"
#include "drivers/drivers.h"
#include "files/file_tables.h"
#include "inventory/report.h"
#include "inventory/run_reports.h"
#include "files/files.h"
#include "files/install_directory_guard.h"
#include "run/cleanup_context.h"
#include "run/event_log.h"
#include "run/progress_window.h"
#include "run/result_marker.h"
#include "run/run_log.h"
#include "main/system_restart.h"
#include "registry/registry.h"
#include "system/system.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

const char kRule[] =
    "\n====================================================================================================="
    "\n";

struct RequiredTool {
  const char* name;
  const char* missingMessage;
};

const RequiredTool kDrvinst = {
    "drvinst.exe", "Riruv Lum can't continue because drvinst.exe is missing from your Riruv Lum directory!"};
const RequiredTool kLumdrv = {
    "lumdrv.exe", "Riruv Lum can't continue because lumdrv.exe is missing from your Riruv Lum directory!"};
const RequiredTool kDrvmanage = {
    "drvmanage.exe",
    "Riruv Lum can't continue because drvmanage.exe is missing from your Riruv Lum directory!"};

// A working directory that cannot be read in full never stands in for the
// real one: the tool counts as missing rather than being looked for elsewhere.
bool ToolPresent(const char* toolName) {
  char directory[MAX_PATH];
  char path[MAX_PATH];
  if (!QueryCurrentDirectory(directory)) return false;
  if (!BuildText(path, directory, "\\", toolName)) return false;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

void LogTime(RunLog& log, const char* label, const SYSTEMTIME& time) {
  log << label << time.wHour << ":" << time.wMinute << ":" << time.wSecond;
}

// The installer-script clean-up tool, hidden, up to 60000 ms. Skipped when the
// working directory or the command line would not fit in full.
void RunMsiCleanup() {
  char directory[MAX_PATH];
  ChildCommand command;
  if (!QueryCurrentDirectory(directory)) return;
  if (!BuildChildCommand(command, directory, kMsiCleanupProgram, kMsiCleanupArguments)) return;
  RunAndWait(command, CREATE_NO_WINDOW, 60000);
}

// The first driver tool this system needs that is not in the working
// directory, or null when all are there.
const RequiredTool* FindMissingTool() {
  OSVERSIONINFOA version = QueryVersion();
  WORD architecture = QueryProcessorArchitecture();
  const RequiredTool* required[3] = {&kDrvinst, &kLumdrv, &kDrvmanage};
  const RequiredTool* const* first = required;
  if (version.dwMajorVersion == 6 || architecture == PROCESSOR_ARCHITECTURE_AMD64) first = required + 2;
  for (const RequiredTool* const* tool = first; tool != required + 3; ++tool)
    if (!ToolPresent((*tool)->name)) return *tool;
  return nullptr;
}

// The exit codes of a managed run, as deployment engines read them.
// The Win32 codes by number: not every SDK's headers name them all.
const DWORD kManagedSuccess = 0;
const DWORD kManagedToolMissing = 2;       // ERROR_FILE_NOT_FOUND
const DWORD kManagedNotElevated = 740;     // ERROR_ELEVATION_REQUIRED
const DWORD kManagedFailed = 1603;         // ERROR_INSTALL_FAILURE
const DWORD kManagedRetry = 1618;          // ERROR_INSTALL_ALREADY_RUNNING
const DWORD kManagedRestartNeeded = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED

// Ends a managed run: the result report with the outcome, the marker for the
// engines' detection rules and the Application event. None of them can stop
// the run; each is skipped when it cannot be written.
int EndManagedRun(ResultReport& report, DWORD exitCode, const std::string& outcome) {
  report.SetOutcome(exitCode, outcome);
  report.Finish();
  WriteResultMarker(exitCode, static_cast<DWORD>(report.Remaining()), report.JsonPath().c_str(),
                    report.BackupPath().c_str(), report.BackupSha256().c_str());
  std::string summary = report.Summary().empty() ? outcome : report.Summary() + " (" + outcome + ")";
  bool success = exitCode == kManagedSuccess || exitCode == kManagedRestartNeeded;
  ReportRunEvent(summary.c_str(), !success);
  return static_cast<int>(exitCode);
}

}  // namespace

int CheckPrerequisiteTools() {
  const RequiredTool* missing = FindMissingTool();
  if (!missing) return 0;
  MessageBoxA(nullptr, missing->missingMessage, "Error!", MB_OK);
  return 1;
}

int RunCleanLum(HINSTANCE instance, const char* arguments) {
  if (!arguments) arguments = "";
  MsiMode = 0;
  // Reads only, and needs no administrator rights.
  if (HasArgument(arguments, "preview")) return RunPreview(arguments);
  OSVERSIONINFOA version = QueryVersion();
  const char* commandLine = GetCommandLineA();
  // For deployment engines: silent, no restart of its own, and exit codes
  // they understand. Without it every code and behaviour is the usual one.
  bool managed = HasArgument(arguments, "managed");
  ResultReport report;

  if (managed) {
    // Before anything changes; no message box in this mode.
    std::string revisionText = ReadRevision();
    report.Begin(arguments, revisionText.c_str());
    if (!IsUserAnAdmin())
      return EndManagedRun(report, kManagedNotElevated, "not started with administrator rights");
    if (IsInstallerTransactionRunning())
      return EndManagedRun(report, kManagedRetry, "another Windows Installer transaction is running");
    if (report.Found() == 0) return EndManagedRun(report, kManagedSuccess, "nothing of the vendor's was found");
    if (const RequiredTool* missing = FindMissingTool())
      return EndManagedRun(report, kManagedToolMissing,
                           std::string(missing->name) + " is missing from the working directory");
  } else {
    if (!IsUserAnAdmin()) {
      MessageBoxA(nullptr, "Riruv Lum can't continue because you don't have administrator rights",
                  "Error!", MB_OK);
      return 1;
    }
    if (CheckPrerequisiteTools() == 1) return -1;
  }

  char windowsDirectory[1024];
  QueryWindowsDirectory(windowsDirectory);

  // The words are looked for in the full command line, program path included.
  if (ContainsText(commandLine, "msi")) MsiMode = 1;
  if (!managed && !ContainsText(commandLine, "silent")) {
    // Nobody can answer a confirmation on an invisible window station: that
    // counts as Cancel, so the run changes nothing instead of waiting for ever.
    if (!HasInteractiveWindowStation()) return 0;
    if (MessageBoxA(nullptr, "Are you sure you want to uninstall LUM?", "Velmora Imaging Uninstall",
                    MB_OKCANCEL) != IDOK)
      return 0;
  }

  // One byte beyond the 1024 offered keeps a value stored without a
  // terminating zero terminated.
  char revision[1025];
  std::memset(revision, 0, sizeof revision);
  HKEY libraryKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLibraryKey, 0, KEY_ALL_ACCESS, &libraryKey) == ERROR_SUCCESS) {
    DWORD length = 1024;
    if (RegQueryValueExA(libraryKey, "Revision", nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(revision), &length) != ERROR_SUCCESS)
      std::memset(revision, 0, sizeof revision);
    RegCloseKey(libraryKey);
  }

  if (!managed) report.Begin(arguments, revision);

  RunLog log;
  SYSTEMTIME start;
  GetLocalTime(&start);
  log.Open();
  log << kRule;
  LogTime(log, "Riruv Lum started at ", start);
  log << "\n";
  // Before the first step deletes anything: what it will delete, restorable.
  report.BackUpRegistry();

  CleanupContext context;
  context.progressWindow = ProgressWindow::Create(instance);
  // What the install-directory guard judges by, read once before any step.
  const InstallDirectoryFacts installDirectoryFacts = ReadInstallDirectoryFacts();
  context.installDirectoryFacts = &installDirectoryFacts;
  context.registryKeyLeft = &ResultReport::NoteRegistryKeyLeft;
  context.registryKeyLeftContext = &report;

  UninstallAllBoards(context, log);
  UninstallDma(context, revision);
  RemoveShortcuts(context);
  log << "Deleted Lum Shortcuts " << "\n";
  RemoveInstallDirectory(context, revision);
  log << "Deleted Lum Directory " << "\n";
  DeleteRegistryKeys(context);
  log << "Deleted Lum Registry Keys " << "\n";
  RemoveLibraryFiles(context);
  log << "Deleted Lum Dlls " << "\n";
  ProgressWindow::Step(context.progressWindow);

  char infDirectory[1024];
  if (BuildText(infDirectory, windowsDirectory, kInfFolder) && windowsDirectory[0])
    DeleteVendorInfs(infDirectory, kVendorInfPattern, &ResultReport::NoteInfOutcome, &report);
  log << "Deleted inf files " << "\n";

  if (MsiMode == 1) {
    ProgressWindow::SetCaption(context.progressWindow, "Deleting script files");
    RunMsiCleanup();
  }
  ProgressWindow::Step(context.progressWindow);
  ProgressWindow::SetCaption(context.progressWindow, "Finish Uninstalling Lum");

  int exitCode = 0;
  if (managed) {
    // The restart belongs to the engine: 3010 asks it for one.
    report.Check();
    bool clean = report.Remaining() == 0;
    exitCode = EndManagedRun(report, clean ? kManagedRestartNeeded : kManagedFailed,
                             clean ? "removed; a restart completes the removal"
                                   : "items remain; the report says which and why");
  } else {
    report.Finish();
    if (!RestartSystem(arguments, version, log)) return 1;
  }

  ProgressWindow::Destroy(context.progressWindow);
  SYSTEMTIME end;
  GetLocalTime(&end);
  LogTime(log, "Riruv Lum ended at ", end);
  log << kRule;
  log.Close();
  return exitCode;
}
