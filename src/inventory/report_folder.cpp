// The report folder of a run.
#include "inventory/report_folder.h"

#include <cstdlib>

#include "system/system_facts.h"
#include "system/text.h"

namespace {

const char kDefaultFolder[] = "\\Logs\\CleanLum";

bool IsAbsolute(const std::string& path) {
  bool drive = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
               path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || path.compare(0, 2, "\\\\") == 0;
}

// The user's own temporary folder: TEMP as the run log takes it, else what
// Windows gives (TMP, TEMP, the profile, the Windows directory); never relative.
std::string TemporaryFolder() {
  const char* temp = std::getenv("TEMP");
  if (temp && IsAbsolute(temp)) return temp;
  char path[MAX_PATH];
  DWORD length = GetTempPathA(sizeof path, path);
  if (length == 0 || length >= sizeof path || !IsAbsolute(path)) return "";
  return path;
}

struct Prepared {
  OutputFolder folder;  // path "" when there is no folder to write into
  bool isPrivate = false;
  std::string reason;   // why it is not private, or cannot be had
};

// Makes the folder when missing (private) and judges what is there.
Prepared PreparePrivate(const std::string& path) {
  Prepared prepared;
  if (path.empty()) {
    prepared.reason = "the Windows directory cannot be read";
    return prepared;
  }
  CreateFolderPath(path, true);
  FolderCheck check = CheckFolder(path);
  prepared.reason = check.concern;
  if (!check.exists) return prepared;
  prepared.folder.path = path;
  prepared.folder.finalPath = check.finalPath;
  prepared.isPrivate = check.isPrivate;
  return prepared;
}

}  // namespace

std::string DefaultReportFolder() {
  char windowsDirectory[MAX_PATH];
  char folder[MAX_PATH];
  if (!QueryWindowsDirectory(windowsDirectory) || !BuildText(folder, windowsDirectory, kDefaultFolder)) return "";
  return folder;
}

ReportFolder ChooseReportFolder(const std::string& requested, bool elevated) {
  ReportFolder choice;
  std::string path = requested.empty() ? "" : AbsolutePath(requested);
  if (!requested.empty() && path.empty())
    choice.concern = "reportdir=" + requested + " names no folder; the reports went to the default folder.";

  if (!elevated) {
    // Nothing elevated is written: the user's own folders serve, as ever.
    if (path.empty()) path = TemporaryFolder();
    if (path.empty() || !CreateFolderPath(path, false)) return choice;
    choice.reports.path = path;
    return choice;
  }

  std::string defaultFolder = DefaultReportFolder();
  Prepared reports;
  if (!path.empty()) {
    reports = PreparePrivate(path);
    if (reports.folder.path.empty()) {
      choice.concern = "reportdir=" + path + " cannot be used (" + reports.reason +
                       "); the reports went to the default folder.";
      path.clear();
    }
  }
  if (path.empty()) reports = PreparePrivate(defaultFolder);
  choice.reports = reports.folder;
  choice.checked = !reports.folder.path.empty();
  choice.isPrivate = reports.isPrivate;
  if (reports.isPrivate) {
    choice.backup = reports.folder;
    return choice;
  }
  if (!reports.folder.path.empty())
    choice.concern = "This folder is not private: " + reports.reason +
                     ". Whoever has that access can change or replace these reports.";
  // The backup is imported by administrators: never where anyone else could change it first.
  bool isDefault = path.empty() || path == defaultFolder;
  Prepared fallback = isDefault ? reports : PreparePrivate(defaultFolder);
  if (fallback.isPrivate) {
    choice.backup = fallback.folder;
    choice.backupConcern = "The registry backup went to " + fallback.folder.path +
                           " instead, a folder only the system and administrators can change.";
  } else {
    choice.backupConcern = isDefault ? "No registry backup was written: the report folder is not private."
                                     : "No registry backup was written: neither the report folder nor " +
                                           defaultFolder + " is private.";
  }
  return choice;
}
