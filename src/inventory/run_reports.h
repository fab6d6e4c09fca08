// The two reports of the program: the preview (a run's inventory, nothing
// changed) and the result of a real run (what its start inventory became).
// Neither can stop or change a run: a report that cannot be written is
// skipped, and nothing here throws.
#pragma once

#include <windows.h>

#include <memory>

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

 private:
  std::unique_ptr<Inventory> start_;
  std::string folder_;
  SYSTEMTIME started_ = {};
};
