// Where the reports, the registry backup and the administrator's log go.
//
// A run with administrator rights (a real run, or a preview an administrator
// starts) writes to %SystemRoot%\Logs\CleanLum, under the Windows directory,
// made when missing with a private access list (SYSTEM and Administrators,
// nothing inherited), or to the folder that reportdir= names, made the same
// way when missing. A reportdir= folder that is there already and is not
// private (system/private_folder.h) still gets the reports, which then say so
// plainly; the registry backup, which administrators import, goes to the
// default folder instead, and nowhere when that is not private either.
// Without administrator rights (a preview by a standard user) the reports go
// to the user's own TEMP, or to reportdir=. The folder is never relative.
#pragma once

#include <string>

#include "system/new_file.h"

struct ReportFolder {
  OutputFolder reports;   // path "" when no folder could be had: no report is written
  bool isPrivate = false;
  bool checked = false;   // whether it was judged at all (runs with administrator rights)
  std::string concern;    // the warning the reports carry about their folder, a sentence ("" when none)
  OutputFolder backup;    // path "" when no private folder could be had: no backup is written
  std::string backupConcern;  // why the backup lies elsewhere or was not written, a sentence ("" when beside the reports)
};

// The folder for a run: requested is the reportdir= text ("" when none),
// elevated whether the run has administrator rights. Makes the folders it
// chooses when they are missing.
ReportFolder ChooseReportFolder(const std::string& requested, bool elevated);

// %SystemRoot%\Logs\CleanLum for this Windows directory; "" when unreadable.
std::string DefaultReportFolder();
