// The lines the main sequence writes into the administrator's log.
#include "main/admin_log_lines.h"

#include <shlobj.h>

#include <cstdio>

#include "inventory/report.h"
#include "inventory/report_folder.h"
#include "main/usage.h"
#include "system/system_facts.h"
#include "system/wide_text.h"

namespace {

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// Text of the machine read through the narrow calls, for the log (UTF-8).
std::string Utf8(const std::string& ansi) { return Utf8FromAnsi(ansi); }

std::string ExitCodeText(DWORD code) {
  std::string text = std::to_string(code);
  if (code >= 0x80000000) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    text += std::string(" (") + hex + ")";
  }
  return text;
}

}  // namespace

// The administrator's log of this run: beside the reports, named by the
// run's start. The run goes on without it when it cannot be written.
void OpenAdminLog(AdminLog& adminLog, const Options& options) {
  // Beside the reports: the same choice of folder, made (privately) when missing.
  ReportFolder folder = ChooseReportFolder(options.reportDir, IsUserAnAdmin() != FALSE);
  if (folder.reports.path.empty()) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  adminLog.Open(folder.reports, "CleanLum-" + FileTimestamp(now));
}

// Who runs what, where: the first lines of every run's log.
void LogRunStart(AdminLog& adminLog, const Options& options, const OSVERSIONINFOA& version) {
  adminLog.Info("CleanLum", VersionLine() + " started");
  adminLog.Info("CleanLum", "Command line: " + Utf8(GetCommandLineA()));
  adminLog.Info("CleanLum", "Arguments: " + Utf8(options.arguments));
  for (const std::string& ignored : options.ignored)
    adminLog.Warning("CleanLum", "Argument not understood, passed over: \"" + Utf8(ignored) + "\"");
  int elevation = QueryElevation();
  adminLog.Info("CleanLum", "Account: " + Utf8(QueryAccountName()) + "; administrator rights: " + YesNo(IsUserAnAdmin()) +
                                "; elevated: " + (elevation < 0 ? std::string("not known") : YesNo(elevation == 1)));
  char directory[MAX_PATH];
  QueryCurrentDirectory(directory);
  adminLog.Info("CleanLum", "Windows " + std::to_string(version.dwMajorVersion) + "." +
                                std::to_string(version.dwMinorVersion) + " build " +
                                std::to_string(version.dwBuildNumber) + ", processor architecture " +
                                std::to_string(QueryProcessorArchitecture()) + "; working directory " + Utf8(directory) +
                                "; window station " + (HasInteractiveWindowStation() ? "visible" : "invisible"));
  adminLog.Info("CleanLum", std::string("Mode: ") + (options.managed ? "managed" : "interactive") +
                                "; silent: " + YesNo(options.silent || options.managed) +
                                "; noreboot: " + YesNo(options.noReboot || options.managed) +
                                "; msi: " + YesNo(options.msi) + "; restorepoint: " + YesNo(options.restorePoint));
}

// One line for each child as it ends: its exit code and how long it ran.
void LogChild(AdminLog& adminLog, const ChildRecord& child) {
  const char* step = child.step.c_str();
  const ChildFacts& facts = child.facts;
  if (facts.result == RunResult::NotStarted) {
    adminLog.Error(step, "Could not start (Win32 error " + std::to_string(facts.startError) + "): " +
                             Utf8(child.commandLine));
  } else if (!child.awaited) {
    adminLog.Info(step, "Started, not waited for: " + Utf8(child.commandLine));
  } else if (facts.result == RunResult::TimedOut) {
    adminLog.Warning(step, "Still running at the time limit of " + Seconds(child.timeoutMs) + ", left running: " +
                               Utf8(child.commandLine));
  } else {
    std::string line = "Exit code " + ExitCodeText(facts.exitCode) + " after " + Seconds(facts.milliseconds) +
                       ": " + Utf8(child.commandLine);
    adminLog.Write(facts.exitCode == 0 ? LogType::Info : LogType::Warning, step, line);
  }
}

void LogLogonCommand(AdminLog& adminLog, const LogonCommandRecord& command) {
  std::string value = Utf8(command.key + "\\" + command.value);
  if (command.error == ERROR_SUCCESS)
    adminLog.Info("install directory", "Wrote the logon command " + value + " = " + Utf8(command.data));
  else
    adminLog.Error("install directory", "Could not write the logon command " + value + " (Win32 error " +
                                            std::to_string(command.error) + ")");
}

void LogOutcome(AdminLog& adminLog, int exitCode, const std::string& outcome) {
  bool success = exitCode == 0 || exitCode == 3010;  // 3010: removed, a restart completes it
  adminLog.Write(success ? LogType::Info : LogType::Error, "CleanLum",
                 "Outcome: " + outcome + "; exit code " + ExitCodeText(static_cast<DWORD>(exitCode)));
}

// What a run that got as far as its report left, and where the report and
// the backup are.
void LogReports(AdminLog& adminLog, const ResultReport& report) {
  for (const std::string& left : report.Left()) adminLog.Warning("result", "Still there: " + left);
  for (const ResultReport::ProfileOutcome& profile : report.Profiles())
    adminLog.Write(profile.clean ? LogType::Info : LogType::Warning, "result", profile.line);
  if (!report.Summary().empty()) adminLog.Info("result", report.Summary());
  if (!report.TextPath().empty())
    adminLog.Info("result", "Result report: " + Utf8(report.TextPath()) + " and " + Utf8(report.JsonPath()));
  else
    adminLog.Error("result", "The result report could not be written");
  if (const RegistryBackup* backup = report.Backup()) {
    if (backup->written)
      adminLog.Info("result", "Registry backup: " + backup->path + " (restore: reg import \"" + backup->path + "\")");
    for (const std::string& missing : backup->missing) adminLog.Error("result", "Not in the backup: " + missing);
  }
}

// The end of a run that ends at its report: the report's lines, then the outcome.
int LogRunEnd(AdminLog& adminLog, const ResultReport& report, int exitCode, const std::string& outcome) {
  LogReports(adminLog, report);
  LogOutcome(adminLog, exitCode, outcome);
  return exitCode;
}
