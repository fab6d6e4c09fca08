// The preview and the result report.
#include "inventory/run_reports.h"

#include <exception>

#include <shlobj.h>

#include "inventory/report.h"
#include "registry/user_profiles.h"
#include "system/starter_output.h"
#include "system/wide_text.h"

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// What a run acts on: not an item it keeps by design, nor a refused value listed for the record.
bool IsActedOn(const InventoryItem& item) { return item.keptReason.empty(); }

}  // namespace

int RunPreview(const Options& options) {
  try {
    ReportHeader header;
    header.mode = "preview";
    GetLocalTime(&header.started);
    std::string revision = ReadRevision();
    Inventory inventory = TakeInventory(revision.c_str(), CleansEveryProfile(options));
    GetLocalTime(&header.ended);
    ReportFolder folder = ChooseReportFolder(options.reportDir, IsUserAnAdmin() != FALSE);
    header.folder = &folder;
    WriteReports(folder.reports, header, inventory);
    PrintToStarter(AnsiForDisplay(ReportText(header, inventory)));
    // The answer detection and remediation scripts ask for: 1 when anything a
    // run would act on is there (unreadable counts: it was not seen gone).
    for (const InventoryItem& item : inventory.items)
      if (IsActedOn(item)) return 1;
    return 0;
  } catch (const std::exception&) {
    // Nothing could be looked at: that is no proof that nothing is there.
    return 1;
  }
}

void ResultReport::NoteInfOutcome(const VendorInfOutcome& outcome, void* report) {
  try {
    static_cast<ResultReport*>(report)->infOutcomes_.push_back(
        {outcome.inf.publishedName ? outcome.inf.publishedName : "", outcome.removal, outcome.error});
  } catch (const std::exception&) {
  }
}

// How each of the vendor's driver packages left, on its INF and store items.
void ResultReport::DescribeInfRemovals(Inventory& inventory) const {
  for (const InfOutcome& outcome : infOutcomes_) {
    std::string how;
    switch (outcome.removal) {
      case InfRemoval::DriverStore:
        how = "removed through the driver store";
        break;
      case InfRemoval::FilesAfterRefusal:
        how = "the driver store refused its removal (Win32 error " + std::to_string(outcome.error) +
              "); the INF and PNF were deleted as files";
        break;
      case InfRemoval::FilesOnly:
        how = outcome.error == ERROR_PROC_NOT_FOUND
                  ? "Windows has no call to remove a driver store package; the INF and PNF were deleted as files"
                  : "deleted as files";
        break;
    }
    for (InventoryItem& item : inventory.items)
      if (!item.package.empty() && SameName(item.package, outcome.publishedName) && item.reason.empty())
        item.reason = how;
  }
}

void ResultReport::NoteRegistryKeyLeft(const std::string& item, const std::string& keyLeft, DWORD error,
                                       void* report) {
  try {
    static_cast<ResultReport*>(report)->keysLeft_.push_back({item, keyLeft, error});
  } catch (const std::exception&) {
  }
}

// Why a registry key is still there, as its deletion saw it: the key that stayed and its error.
void ResultReport::DescribeKeysLeft(Inventory& inventory) const {
  for (const KeyLeft& left : keysLeft_) {
    std::string why = left.keyLeft.empty()
                          ? "its deletion failed (Win32 error " + std::to_string(left.error) + ")"
                          : "its subkey " + left.keyLeft + " could not be deleted (Win32 error " +
                                std::to_string(left.error) + ")";
    for (InventoryItem& item : inventory.items)
      if ((item.kind == ItemKind::RegistryKey || item.kind == ItemKind::InstallerProduct) &&
          item.status == ItemStatus::Remaining && SameName(item.path, left.item))
        item.reason = why;
  }
}

// For the administrator's log: each profile's keys removed and left, a hive
// that could not be loaded or unloaded, a profile without a hive file.
void ResultReport::DescribeProfiles(const Inventory& inventory) {
  for (const Inventory::Profile& profile : inventory.profiles) {
    size_t removed = 0;
    size_t left = 0;
    std::string notes;
    bool clean = true;
    for (ProfileHiveKind kind : {ProfileHiveKind::User, ProfileHiveKind::Classes}) {
      std::string hiveName = ProfileKeyName(profile.sid, kind, "");
      const char* file = kind == ProfileHiveKind::Classes ? "UsrClass.dat" : "NTUSER.DAT";
      for (const InventoryItem& item : inventory.items) {
        if (item.profileSid != profile.sid || item.classesHive != (kind == ProfileHiveKind::Classes)) continue;
        if (item.path != hiveName) {
          if (item.status == ItemStatus::Removed)
            ++removed;
          else
            ++left;
        } else if (!item.keptReason.empty()) {
          notes += std::string("; no ") + file;
        } else {
          notes += std::string("; ") + file + " could not be loaded (Win32 error " + std::to_string(item.error) + ")";
          clean = false;
        }
      }
      for (const KeyLeft& keyLeft : keysLeft_)
        if (!keyLeft.keyLeft.empty() && SameName(keyLeft.item, hiveName)) {
          notes += std::string("; ") + file + " could not be unloaded (Win32 error " + std::to_string(keyLeft.error) +
                   "): it stays loaded as " + keyLeft.keyLeft + " until Windows restarts";
          clean = false;
        }
    }
    std::string line = "Profile " + profile.sid + (profile.folder.empty() ? "" : " (" + profile.folder + ")") + ": ";
    if (removed + left == 0)
      line += "no keys of the vendor's";
    else
      line += std::to_string(removed) + " of the vendor's keys removed, " + std::to_string(left) + " left";
    profiles_.push_back({line + notes, clean && left == 0});
  }
}

void ResultReport::Begin(const Options& options, const char* revisionText) {
  try {
    GetLocalTime(&started_);
    folder_ = ChooseReportFolder(options.reportDir, IsUserAnAdmin() != FALSE);
    start_.reset(new Inventory(TakeInventory(revisionText ? revisionText : "", CleansEveryProfile(options))));
  } catch (const std::exception&) {
    start_.reset();
  }
}

size_t ResultReport::Found() const {
  if (!start_) return 0;
  size_t found = 0;
  for (const InventoryItem& item : start_->items)
    if (IsActedOn(item)) ++found;
  return found;
}

void ResultReport::SetOutcome(DWORD exitCode, const std::string& outcome) {
  exitCode_ = exitCode;
  outcome_ = outcome;
}

void ResultReport::BackUpRegistry() {
  if (!start_) return;
  try {
    backup_.reset(new RegistryBackup(::BackUpRegistry(*start_, folder_.backup, started_, folder_.backupConcern)));
  } catch (const std::exception&) {
    backup_.reset();
  }
}

void ResultReport::Check() {
  if (!start_ || checked_) return;
  try {
    CheckAfterRun(*start_);
    DescribeInfRemovals(*start_);
    DescribeKeysLeft(*start_);
    remaining_ = 0;
    for (const InventoryItem& item : start_->items)
      if (IsActedOn(item) && (item.status == ItemStatus::Remaining || item.status == ItemStatus::Unreadable))
        ++remaining_;
    checked_ = true;
  } catch (const std::exception&) {
  }
}

void ResultReport::Finish() {
  Check();
  if (!start_ || !checked_) return;
  try {
    ReportHeader header;
    header.mode = "result";
    header.started = started_;
    header.outcome = outcome_;
    header.exitCode = exitCode_;
    header.backup = backup_.get();
    header.restorePoint = restorePoint_;
    GetLocalTime(&header.ended);
    summary_ = ReportSummaryLine(header, *start_);
    header.folder = &folder_;
    for (const InventoryItem& item : start_->items) {
      if (!IsActedOn(item) || item.status == ItemStatus::Removed) continue;
      std::string line = std::string(ItemStatusName(item.status)) + " " + ItemKindName(item.kind) + " " + item.path;
      if (!item.valueName.empty()) line += " : " + item.valueName;
      if (!item.reason.empty()) line += ": " + item.reason;
      left_.push_back(line);
    }
    DescribeProfiles(*start_);
    if (WriteReports(folder_.reports, header, *start_, &jsonPath_) && jsonPath_.size() > 5)
      textPath_ = jsonPath_.substr(0, jsonPath_.size() - 5) + ".txt";
  } catch (const std::exception&) {
  }
  start_.reset();
}
