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

// "preview": reads the machine, writes the preview report to the report
// folder and prints it on the parent's console. Returns the exit code 0.
int RunPreview(const char* arguments);

// The result report of a real run: Begin at the run's start, Finish just
// before the restart request.
class ResultReport {
 public:
  void Begin(const char* arguments, const char* revisionText);
  void Finish();

  // A VendorInfOutcomeSink (context: the report): how each driver package left.
  static void NoteInfOutcome(const VendorInfOutcome& outcome, void* report);

 private:
  struct InfOutcome {
    std::string publishedName;
    InfRemoval removal;
    DWORD error;
  };
  std::vector<InfOutcome> infOutcomes_;
  void DescribeInfRemovals(Inventory& inventory) const;
  std::unique_ptr<Inventory> start_;
  std::string folder_;
  SYSTEMTIME started_ = {};
};
