// The preview and the result report.
#include "inventory/run_reports.h"

#include <exception>

#include "inventory/report.h"

int RunPreview(const char* arguments) {
  try {
    ReportHeader header;
    header.mode = "preview";
    GetLocalTime(&header.started);
    std::string revision = ReadRevision();
    Inventory inventory = TakeInventory(revision.c_str());
    GetLocalTime(&header.ended);
    WriteReports(ReportFolder(arguments), header, inventory);
    PrintToParentConsole(ReportText(header, inventory));
  } catch (const std::exception&) {
    // Nothing to report with: the preview still changed nothing.
  }
  return 0;
}

void ResultReport::Begin(const char* arguments, const char* revisionText) {
  try {
    GetLocalTime(&started_);
    folder_ = ReportFolder(arguments);
    start_.reset(new Inventory(TakeInventory(revisionText ? revisionText : "")));
  } catch (const std::exception&) {
    start_.reset();
  }
}

void ResultReport::Finish() {
  if (!start_) return;
  try {
    ReportHeader header;
    header.mode = "result";
    header.started = started_;
    CheckAfterRun(*start_);
    GetLocalTime(&header.ended);
    WriteReports(folder_, header, *start_);
  } catch (const std::exception&) {
  }
  start_.reset();
}
