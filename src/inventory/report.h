// The reports of an inventory: one text file for people and one JSON file for
// programs, named CleanLum-<mode>-YYYYMMDD-HHMMSS.txt and .json, and the folder
// they go to.
#pragma once

#include <windows.h>

#include <string>

#include "inventory/inventory.h"
#include "inventory/registry_backup.h"
#include "inventory/report_folder.h"

// The JSON report's schema version: raised whenever a field changes meaning or goes away.
const int kReportSchema = 1;

struct ReportHeader {
  const char* mode;  // "preview" or "result"
  SYSTEMTIME started;
  SYSTEMTIME ended;
  // The registry backup a real run took before deleting anything (none: null).
  const RegistryBackup* backup = nullptr;
  // Where the reports are, and what they must say about that folder (none: null).
  const ReportFolder* folder = nullptr;
  // A managed run's exit code and why (none when outcome is empty).
  std::string outcome;
  DWORD exitCode = 0;
  // What became of the restore point asked for ("restorepoint"; empty: none asked).
  std::string restorePoint;
};

// The report's summary line ("Summary: N items: ...").
std::string ReportSummaryLine(const ReportHeader& header, const Inventory& inventory);


// Both reports are UTF-8, as every text they are given (inventory.h).
std::string ReportText(const ReportHeader& header, const Inventory& inventory);
// Never throws: text that is not valid in the ANSI code page is replaced.
std::string ReportJson(const ReportHeader& header, const Inventory& inventory);


// Writes both files into folder, as new files (system/new_file.h). False
// when they could not be written; nothing is thrown. jsonPath, when given,
// receives the JSON report's path (in the ANSI code page) once it is written.
bool WriteReports(const OutputFolder& folder, const ReportHeader& header, const Inventory& inventory,
                  std::string* jsonPath = nullptr);

// "YYYYMMDD-HHMMSS", as the report files are named.
std::string FileTimestamp(const SYSTEMTIME& time);
