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

// "preview": reads the machine, writes the preview report to the report
// folder and prints it for the starter. Returns the exit code: 0 when nothing
// a run would act on is present (items it keeps by design do not count), 1
// when something is.
int RunPreview(const Options& options);

// The result report of a real run: Begin at the run's start, Finish just
// before the restart request.
class ResultReport {
 public:
  void Begin(const Options& options, const char* revisionText);
  // Exports, before anything is deleted, every registry key and value of the
  // start inventory into the report folder (see registry_backup.h).
  void BackUpRegistry();
  // Looks at the machine again (Finish does it when it has not been done).
  void Check();
  void Finish();

  // Items a run would remove that the start inventory found (items kept by
  // design, and a refused "Directory" value listed for the record, not counted).
  size_t Found() const;
  // The run's exit code and why, written into the report by Finish.
  void SetOutcome(DWORD exitCode, const std::string& outcome);
  // What became of the restore point asked for, written into the report by Finish.
  void SetRestorePoint(const std::string& description) { restorePoint_ = description; }
  // After Check: the items found that are still there for a reason other
  // than the logon command (remaining or unreadable), the summary line, and
  // the JSON report's path ("" when it could not be written), after Finish.
  size_t Remaining() const { return remaining_; }
  const std::string& Summary() const { return summary_; }
  const std::string& JsonPath() const { return jsonPath_; }
  // After Finish: the text report's path ("" when it could not be written),
  // the registry backup taken (null: none), and one line for each item found
  // that is still there ("remaining file C:\\...: in use").
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

  // A VendorInfOutcomeSink (context: the report): how each driver package left.
  static void NoteInfOutcome(const VendorInfOutcome& outcome, void* report);
  // A RegistryKeyLeftSink (context: the report): a key the registry step had to leave.
  static void NoteRegistryKeyLeft(const std::string& item, const std::string& keyLeft, DWORD error, void* report);

 private:
  struct InfOutcome {
    std::string publishedName;
    InfRemoval removal;
    DWORD error;
  };
  std::vector<InfOutcome> infOutcomes_;
  void DescribeInfRemovals(Inventory& inventory) const;
  struct KeyLeft {
    std::string item;
    std::string keyLeft;
    DWORD error;
  };
  std::vector<KeyLeft> keysLeft_;
  void DescribeKeysLeft(Inventory& inventory) const;
  void DescribeProfiles(const Inventory& inventory);
  std::vector<ProfileOutcome> profiles_;
  std::unique_ptr<Inventory> start_;
  ReportFolder folder_;
  std::unique_ptr<RegistryBackup> backup_;
  std::string outcome_;
  DWORD exitCode_ = 0;
  size_t remaining_ = 0;
  bool checked_ = false;
  std::string summary_;
  std::string jsonPath_;
  std::string textPath_;
  std::string restorePoint_;
  std::vector<std::string> left_;
  SYSTEMTIME started_ = {};
};
