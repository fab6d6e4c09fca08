// The reports of an inventory: one text file for people and one JSON file for
// programs, named CleanLum-<mode>-YYYYMMDD-HHMMSS.txt and .json, and the folder
// they go to.
#pragma once

#include <windows.h>

#include <string>

#include "inventory/inventory.h"
#include "inventory/registry_backup.h"

// The JSON report's schema version: raised whenever a field changes meaning or goes away.
const int kReportSchema = 1;

struct ReportHeader {
  const char* mode;  // "preview" or "result"
  SYSTEMTIME started;
  SYSTEMTIME ended;
  // The registry backup a real run took before deleting anything (none: null).
  const RegistryBackup* backup = nullptr;
  // A managed run's exit code and why (none when outcome is empty).
  std::string outcome;
  DWORD exitCode = 0;
  // What became of the restore point asked for ("restorepoint"; empty: none asked).
  std::string restorePoint;
};

// The report's summary line ("Summary: N items: ...").
std::string ReportSummaryLine(const ReportHeader& header, const Inventory& inventory);

// The folder of the reports: the folder asked for ("reportdir="), else (when
// that is empty) the folder of the run log: TEMP, or the root of the current
// drive when TEMP is not defined.
std::string ReportFolder(const std::string& requested);

// Both reports are UTF-8, as every text they are given (inventory.h).
std::string ReportText(const ReportHeader& header, const Inventory& inventory);
// Never throws: text that is not valid in the ANSI code page is replaced.
std::string ReportJson(const ReportHeader& header, const Inventory& inventory);


// Creates folder (and the folders above it) when missing, then writes both
// files. False when either could not be written; nothing is thrown.
// jsonPath, when given, receives the JSON report's path once it is written.
bool WriteReports(const std::string& folder, const ReportHeader& header, const Inventory& inventory,
                  std::string* jsonPath = nullptr);

// Creates folder and the folders above it when missing; false when it cannot be had.
bool CreateReportFolder(const std::string& folder);

// "YYYYMMDD-HHMMSS", as the report files are named.
std::string FileTimestamp(const SYSTEMTIME& time);
