// The lines the main sequence writes into the administrator's log: who runs
// what and where, each step, each child and logon command as the run record
// grows, what the run left, and the outcome with its exit code.
#pragma once

#include <windows.h>

#include <string>

#include "inventory/run_reports.h"
#include "run/admin_log.h"
#include "run/options.h"
#include "run/run_record.h"

// Opens the log beside the reports, named by the run's start. The run goes on
// without it when it cannot be written.
void OpenAdminLog(AdminLog& adminLog, const Options& options);

// The version, command line, arguments (and those passed over), account and
// elevation, Windows and working directory, window station and mode.
void LogRunStart(AdminLog& adminLog, const Options& options, const OSVERSIONINFOA& version);

// A child as it ends: its exit code and duration, or why it did not start,
// or that it was left running at its time limit.
void LogChild(AdminLog& adminLog, const ChildRecord& child);
void LogLogonCommand(AdminLog& adminLog, const LogonCommandRecord& command);

// What the run left, and where the reports and the backup are.
void LogReports(AdminLog& adminLog, const ResultReport& report);
// The last line: the outcome and the exit code.
void LogOutcome(AdminLog& adminLog, int exitCode, const std::string& outcome);
// Both of the above; returns exitCode.
int LogRunEnd(AdminLog& adminLog, const ResultReport& report, int exitCode, const std::string& outcome);

// Runs one clean-up step between two lines of the administrator's log.
template <typename Step>
void LogStep(AdminLog& adminLog, const char* component, const char* name, Step step) {
  adminLog.Info(component, std::string(name) + ": started");
  DWORD started = GetTickCount();
  step();
  adminLog.Info(component, std::string(name) + ": done after " + Seconds(GetTickCount() - started));
}

