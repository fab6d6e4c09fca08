// The reports of an inventory: one text file for people and one JSON file for
// programs, named CleanLum-<mode>-YYYYMMDD-HHMMSS.txt and .json, and the words
// of the command line that ask for them.
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
};

// The report's summary line ("Summary: N items: ...").
std::string ReportSummaryLine(const ReportHeader& header, const Inventory& inventory);

// True when one of the whitespace-separated arguments (double quotes group)
// equals word, ignoring ASCII case.
bool HasArgument(const char* arguments, const char* word);

// The value of the first "reportdir=PATH" argument; "" when there is none
// (see report_folder.h for where the reports then go).
std::string ReportFolderArgument(const char* arguments);

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

// Prints text (UTF-8) in the ANSI code page to the standard output the starter redirected, else on the
// console of the process that started this one, when there is one.
void PrintToParentConsole(const std::string& text);
