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
#include "run/admin_log.h"
#include "run/event_log.h"
#include "run/options.h"
#include "run/progress_window.h"
#include "run/result_marker.h"
#include "run/run_record.h"
#include "run/run_log.h"
#include "main/system_restart.h"
#include "main/admin_log_lines.h"
#include "main/usage.h"
#include "registry/registry.h"
#include "system/system.h"
#include "system/restore_point.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

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
void RunMsiCleanup(CleanupContext& context) {
  char directory[MAX_PATH];
  ChildCommand command;
  if (!QueryCurrentDirectory(directory)) return;
  if (!BuildChildCommand(command, directory, kMsiCleanupProgram, kMsiCleanupArguments)) return;
  RunRecorded(context.record, "installer scripts", command, CREATE_NO_WINDOW, 60000);
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
int EndManagedRun(ResultReport& report, AdminLog& adminLog, DWORD exitCode, const std::string& outcome) {
  report.SetOutcome(exitCode, outcome);
  report.Finish();
  if (!WriteResultMarker(exitCode, static_cast<DWORD>(report.Remaining()), report.JsonPath().c_str(),
                         report.BackupPath().c_str(), report.BackupSha256().c_str()))
    adminLog.Error("result", "The result marker HKLM\\SOFTWARE\\CleanLum could not be written");
  std::string summary = report.Summary().empty() ? outcome : report.Summary() + " (" + outcome + ")";
  bool success = exitCode == kManagedSuccess || exitCode == kManagedRestartNeeded;
  ReportRunEvent(summary.c_str(), !success);
  return LogRunEnd(adminLog, report, static_cast<int>(exitCode), outcome);
}

// A run that ends before it changes anything because the box it would show
// could be seen by nobody (a service, session 0, a remote shell): the result
// report says why, and the run ends with the code the box would have led to.
int EndUnseenRun(ResultReport& report, AdminLog& adminLog, const Options& options, int exitCode,
                 const std::string& outcome) {
  std::string revisionText = ReadRevision();
  report.Begin(options, revisionText.c_str());
  std::string why = outcome + "; no message box on an invisible window station";
  report.SetOutcome(static_cast<DWORD>(exitCode), why);
  report.Finish();
  return LogRunEnd(adminLog, report, exitCode, why);
}

// An interactive run that ends at a box.
int EndAtBox(AdminLog& adminLog, int exitCode, const std::string& outcome) {
  LogOutcome(adminLog, exitCode, outcome);
  return exitCode;
}

}  // namespace

int CheckPrerequisiteTools(std::string* missingName) {
  const RequiredTool* missing = FindMissingTool();
  if (!missing) return 0;
  if (missingName) *missingName = missing->name;
  MessageBoxA(nullptr, missing->missingMessage, "Error!", MB_OK);
  return 1;
}

int RunCleanLum(HINSTANCE instance, const char* arguments) {
  const Options options = ReadOptions(GetCommandLineA(), arguments);
  MsiMode = 0;
  // Nothing else happens, and neither needs administrator rights.
  if (options.help) return ShowToStarter(UsageText());
  if (options.version) return ShowToStarter(VersionLine() + "\n");
  // Reads only, and needs no administrator rights.
  if (options.preview) return RunPreview(options);
  OSVERSIONINFOA version = QueryVersion();
  // For deployment engines: silent, no restart of its own, and exit codes
  // they understand. Without it every code and behaviour is the usual one.
  const bool managed = options.managed;
  ResultReport report;
  AdminLog adminLog;
  OpenAdminLog(adminLog, options);
  LogRunStart(adminLog, options, version);

  if (managed) {
    // Before anything changes; no message box in this mode.
    std::string revisionText = ReadRevision();
    report.Begin(options, revisionText.c_str());
    if (!IsUserAnAdmin())
      return EndManagedRun(report, adminLog, kManagedNotElevated, "not started with administrator rights");
    if (IsInstallerTransactionRunning())
      return EndManagedRun(report, adminLog, kManagedRetry, "another Windows Installer transaction is running");
    if (report.Found() == 0)
      return EndManagedRun(report, adminLog, kManagedSuccess, "nothing of the vendor's was found");
    if (const RequiredTool* missing = FindMissingTool())
      return EndManagedRun(report, adminLog, kManagedToolMissing,
                           std::string(missing->name) + " is missing from the working directory");
  } else {
    const bool visible = HasInteractiveWindowStation();
    if (!IsUserAnAdmin()) {
      if (!visible) return EndUnseenRun(report, adminLog, options, 1, "not started with administrator rights");
      MessageBoxA(nullptr, "Riruv Lum can't continue because you don't have administrator rights",
                  "Error!", MB_OK);
      return EndAtBox(adminLog, 1, "not started with administrator rights");
    }
    std::string missing;
    if (!visible) {
      if (const RequiredTool* tool = FindMissingTool())
        return EndUnseenRun(report, adminLog, options, -1,
                            std::string(tool->name) + " is missing from the working directory");
    } else if (CheckPrerequisiteTools(&missing) == 1) {
      return EndAtBox(adminLog, -1, missing + " is missing from the working directory");
    }
  }

  char windowsDirectory[1024];
  QueryWindowsDirectory(windowsDirectory);

  // The words are looked for in the full command line, program path included.
  if (options.msi) MsiMode = 1;
  if (!managed && !options.silent) {
    // Nobody can answer a confirmation on an invisible window station: that
    // counts as Cancel, so the run changes nothing instead of waiting for ever.
    if (!HasInteractiveWindowStation())
      return EndUnseenRun(report, adminLog, options, 0, "the confirmation could not be asked; nothing was changed");
    if (MessageBoxA(nullptr, "Are you sure you want to uninstall LUM?", "Velmora Imaging Uninstall",
                    MB_OKCANCEL) != IDOK)
      return EndAtBox(adminLog, 0, "cancelled at the confirmation; nothing was changed");
  }

  // Asked for before the first change; whatever Windows answers, the run goes on.
  RestorePoint restorePoint;
  if (options.restorePoint) {
    adminLog.Info("restore point", "Asking Windows for a restore point");
    restorePoint = BeginRestorePoint("CleanLum: removal of the Velmora imaging library");
    adminLog.Write(restorePoint.outcome == RestorePointOutcome::Created ? LogType::Info : LogType::Warning,
                   "restore point", "Restore point " + DescribeRestorePoint(restorePoint));
    report.SetRestorePoint(DescribeRestorePoint(restorePoint));
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
  adminLog.Info("CleanLum", "Library revision: " + (revision[0] ? Utf8FromAnsi(revision) : std::string("(none)")));

  if (!managed) report.Begin(options, revision);

  RunLog log;
  SYSTEMTIME start;
  GetLocalTime(&start);
  log.Open();
  if (!log.IsOpen()) adminLog.Warning("CleanLum", "The run log %TEMP%\\LUMInstall.log could not be opened");
  log << kRule;
  LogTime(log, "Riruv Lum started at ", start);
  log << "\n";
  // Before the first step deletes anything: what it will delete, restorable.
  report.BackUpRegistry();

  RunRecord record;
  record.onChild = [&adminLog](const ChildRecord& child) { LogChild(adminLog, child); };
  record.onLogonCommand = [&adminLog](const LogonCommandRecord& command) { LogLogonCommand(adminLog, command); };
  CleanupContext context;
  context.record = &record;
  context.progressWindow = ProgressWindow::Create(instance);
  // What the install-directory guard judges by, read once before any step.
  const InstallDirectoryFacts installDirectoryFacts = ReadInstallDirectoryFacts();
  context.installDirectoryFacts = &installDirectoryFacts;
  context.everyProfile = CleansEveryProfile(options);
  context.registryKeyLeft = &ResultReport::NoteRegistryKeyLeft;
  context.registryKeyLeftContext = &report;

  LogStep(adminLog, "boards", "Board uninstall", [&] { UninstallAllBoards(context, log); });
  LogStep(adminLog, "dma", "DMA driver removal", [&] { UninstallDma(context, revision); });
  LogStep(adminLog, "shortcuts", "Shortcut removal", [&] { RemoveShortcuts(context); });
  log << "Deleted Lum Shortcuts " << "\n";
  LogStep(adminLog, "install directory", "Install directory removal",
          [&] { RemoveInstallDirectory(context, revision); });
  log << "Deleted Lum Directory " << "\n";
  LogStep(adminLog, "registry", "Product registration clean-up", [&] { DeleteRegistryKeys(context); });
  log << "Deleted Lum Registry Keys " << "\n";
  LogStep(adminLog, "library files", "Library and driver file removal", [&] { RemoveLibraryFiles(context); });
  log << "Deleted Lum Dlls " << "\n";
  ProgressWindow::Step(context.progressWindow);

  char infDirectory[1024];
  LogStep(adminLog, "inf", "Vendor INF clean-up", [&] {
    if (BuildText(infDirectory, windowsDirectory, kInfFolder) && windowsDirectory[0])
      DeleteVendorInfs(infDirectory, kVendorInfPattern, &ResultReport::NoteInfOutcome, &report);
  });
  log << "Deleted inf files " << "\n";

  if (MsiMode == 1) {
    ProgressWindow::SetCaption(context.progressWindow, "Deleting script files");
    RunMsiCleanup(context);
  }
  ProgressWindow::Step(context.progressWindow);
  ProgressWindow::SetCaption(context.progressWindow, "Finish Uninstalling Lum");

  if (restorePoint.outcome == RestorePointOutcome::Created) {
    EndRestorePoint(restorePoint);
    adminLog.Write(restorePoint.endStatus == ERROR_SUCCESS ? LogType::Info : LogType::Warning, "restore point",
                   "End of the change told to System Restore (status " + std::to_string(restorePoint.endStatus) +
                       ")");
  }

  int exitCode = 0;
  if (managed) {
    // The restart belongs to the engine: 3010 asks it for one.
    report.Check();
    bool clean = report.Remaining() == 0;
    exitCode = EndManagedRun(report, adminLog, clean ? kManagedRestartNeeded : kManagedFailed,
                             clean ? "removed; a restart completes the removal"
                                   : "items remain; the report says which and why");
  } else {
    report.Finish();
    LogReports(adminLog, report);
    if (!RestartSystem(options, version, log, adminLog))
      return EndAtBox(adminLog, 1, "the restart could not be prepared");
    LogOutcome(adminLog, 0, options.noReboot ? "the run completed; no restart (noreboot)"
                                             : "the run completed; Windows restarts");
  }

  ProgressWindow::Destroy(context.progressWindow);
  SYSTEMTIME end;
  GetLocalTime(&end);
  LogTime(log, "Riruv Lum ended at ", end);
  log << kRule;
  log.Close();
  return exitCode;
}
