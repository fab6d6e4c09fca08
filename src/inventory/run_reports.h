// The two reports of the program: the preview (a run's inventory, nothing
// changed) and the result of a real run (what its start inventory became).
// Neither can stop or change a run: a report that cannot be written is
// skipped, and nothing here throws.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "drivers/drivers.h"

#include "inventory/inventory.h"
#include "inventory/registry_backup.h"
#include "run/options.h"
#include "inventory/report_folder.h"
#include "run/run_record.h"

// "preview": reads the machine, writes the preview report to the report
// folder and prints it for the starter. Returns the exit code: 0 when nothing
// a run would act on is present (items it keeps by design do not count), 1
// when something is.
int RunPreview(const Options& options);

// The result report of a real run: Begin at the run's start, Finish just
// before the restart request. It is built from the start inventory, the
// record of what the run did (SetRecord) and a look at the machine after it.
class ResultReport {
 public:
  void Begin(const Options& options, const char* revisionText);
  // Exports, before anything is deleted, every registry key and value of the
  // start inventory into the report folder (see registry_backup.h).
  void BackUpRegistry();
  void SetRecord(const RunRecord* record) { record_ = record; }
  // Judges every item found against the record and the machine now
  // (Finish does it when it has not been done).
  void Check();
  void Finish();

  // Items a run would act on that the start inventory found (items kept by
  // design, and a refused "Directory" value listed for the record, not counted).
  size_t Found() const;
  // The run's exit code and why, written into the report by Finish.
  void SetOutcome(DWORD exitCode, const std::string& outcome);
  // What became of the restore point asked for, written into the report by Finish.
  void SetRestorePoint(const std::string& description) { restorePoint_ = description; }
  // After Check: the items found that are still there for a reason other
  // than the logon command (remaining or unreadable), whether a child of the
  // run failed (a vendor tool's error, one ended at its time limit), and why
  // a restart is needed to complete the removal.
  size_t Remaining() const { return remaining_; }
  bool ChildrenFailed() const { return childrenFailed_; }
  const std::vector<std::string>& RestartReasons() const { return restartReasons_; }
  // Another reason for a restart (the marker's restart still to come), and
  // whether the report says one is needed (Finish writes it).
  void AddRestartReason(const std::string& reason);
  void SetRestartRequired(bool required) { restartRequired_ = required; }
  // After Finish: the summary line, the JSON report's path ("" when it could
  // not be written), the text report's path, the registry backup taken (null:
  // none), and one line for each item found that is still there
  // ("remaining file C:\\...: in use").
  const std::string& Summary() const { return summary_; }
  const std::string& JsonPath() const { return jsonPath_; }
  const std::string& TextPath() const { return textPath_; }
  const RegistryBackup* Backup() const { return backup_.get(); }
  const std::vector<std::string>& Left() const { return left_; }
  // After Finish, in a run for every profile: one line for each user profile
  // looked at, what became of the vendor's keys in its hives; clean when
  // nothing of them was left or could not be reached.
  struct ProfileOutcome {
    std::string line;
    bool clean;
  };
  const std::vector<ProfileOutcome>& Profiles() const { return profiles_; }
  // The registry backup's path (ANSI) and SHA-256, for the result marker ("" when none was written).
  std::string BackupPath() const { return backup_ && backup_->written ? backup_->ansiPath : ""; }
  std::string BackupSha256() const { return backup_ && backup_->written ? backup_->sha256 : ""; }

 private:
  void DescribeProfiles(const Inventory& inventory);
  std::vector<ProfileOutcome> profiles_;
  std::unique_ptr<Inventory> start_;
  const RunRecord* record_ = nullptr;
  ReportFolder folder_;
  std::unique_ptr<RegistryBackup> backup_;
  std::string arguments_;
  std::string outcome_;
  DWORD exitCode_ = 0;
  size_t remaining_ = 0;
  bool childrenFailed_ = false;
  bool restartRequired_ = false;
  std::vector<std::string> restartReasons_;
  bool checked_ = false;
  std::string summary_;
  std::string jsonPath_;
  std::string textPath_;
  std::string restorePoint_;
  std::vector<std::string> left_;
  SYSTEMTIME started_ = {};
  ULONGLONG startedUtc_ = 0;
};
