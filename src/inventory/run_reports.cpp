// The preview and the result report.
#include "inventory/run_reports.h"

#include <exception>

#include <shlobj.h>

#include "inventory/report.h"
#include "inventory/verdicts.h"
#include "registry/user_profiles.h"
#include "system/starter_output.h"
#include "system/system_facts.h"
#include "system/wide_text.h"

namespace {

// What a run acts on: not an item it keeps by design, nor a refused value listed for the record.
bool IsActedOn(const InventoryItem& item) { return item.status != ItemStatus::KeptByDesign; }

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

const RunRecord& NoRecord() {
  static const RunRecord none;
  return none;
}

}  // namespace

int RunPreview(const Options& options) {
  try {
    ReportHeader header;
    header.mode = "preview";
    header.arguments = options.arguments;
    GetLocalTime(&header.started);
    header.startedUtc = QueryUtcNow();
    std::string revision = ReadRevision();
    Inventory inventory = TakeInventory(revision.c_str(), CleansEveryProfile(options));
    header.endedUtc = QueryUtcNow();
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
      if (record_)
        for (const FailureRecord& failure : record_->Failures())
          if (failure.kind == FailureKind::RegistryKey && !failure.left.empty() && SameName(failure.item, hiveName)) {
            notes += std::string("; ") + file + " could not be unloaded (Win32 error " +
                     std::to_string(failure.error) + "): it stays loaded as " + failure.left +
                     " until Windows restarts";
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
    startedUtc_ = QueryUtcNow();
    arguments_ = options.arguments;
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

void ResultReport::AddRestartReason(const std::string& reason) {
  try {
    restartReasons_.push_back(reason);
  } catch (const std::exception&) {
  }
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
    const RunRecord& record = record_ ? *record_ : NoRecord();
    JudgeAfterRun(*start_, record);
    remaining_ = CountLeft(*start_);
    childrenFailed_ = AnyChildFailed(record);
    // Why a restart completes the removal.
    bool drivers = false, logon = false;
    for (const InventoryItem& item : start_->items) {
      bool driver = item.kind == ItemKind::Board || item.kind == ItemKind::Driver;
      if (driver && (item.status == ItemStatus::Removed || item.status == ItemStatus::PendingRestart)) drivers = true;
      if (!driver && item.status == ItemStatus::PendingRestart) logon = true;
    }
    if (drivers) AddRestartReason("the vendor's drivers were uninstalled: Windows lets go of them at the next restart");
    if (logon) AddRestartReason("what is left of the installation folder goes with the logon command at the next logon");
    for (const ChildRecord& child : record.Children())
      if (ChildAskedForRestart(child)) AddRestartReason(DescribeChild(child) + ": a restart completes its work");
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
    header.startedUtc = startedUtc_;
    header.arguments = arguments_;
    header.outcome = outcome_;
    header.exitCode = exitCode_;
    header.backup = backup_.get();
    header.record = record_;
    header.restartRequired = restartRequired_;
    header.restartReasons = restartReasons_;
    header.restorePoint = restorePoint_;
    header.endedUtc = QueryUtcNow();
    summary_ = ReportSummaryLine(header, *start_);
    header.folder = &folder_;
    for (const InventoryItem& item : start_->items) {
      if (item.status != ItemStatus::Remaining && item.status != ItemStatus::Unreadable &&
          item.status != ItemStatus::PendingRestart)
        continue;
      std::string line = std::string(ItemStatusWords(item.status)) + " " + ItemKindWords(item.kind) + " " + item.path;
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
