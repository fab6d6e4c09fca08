// Verdicts from evidence: what became of every item of the start inventory,
// judged from the run record (what the run did, and what failed with which
// Win32 error) and a look at the machine after the run. Nothing is taken on
// trust: an item is removed when it is gone, a board or the DMA driver when
// each of its driver tools ran and exited with success and what the tool was
// to remove is gone too.
#pragma once

#include "inventory/inventory.h"
#include "run/run_record.h"

// Sets every item's status and reason:
// - kept by design: stays so, its reason being why;
// - gone: removed (a driver package with how it left);
// - there but not readable: unreadable, with the error;
// - inside the folder the written logon command removes: pending restart;
// - else remaining, with the most specific reason known (in use, read-only,
//   a background process that would not stop, a tool's exit code) and the
//   failure the record holds for it or below it, with Windows' message for
//   its Win32 error.
// A remaining folder's counts become those of what is left in it.
void JudgeAfterRun(Inventory& start, const RunRecord& record);

// How many items need the administrator: remaining or unreadable.
size_t CountLeft(const Inventory& inventory);

// True when a child of the run failed (see ChildFailed): the run did not do
// all it was to do, whatever the items show.
bool AnyChildFailed(const RunRecord& record);

// The child's outcome in words: "C:\\Tools\\drvmanage.exe exited with 1603",
// "... could not start: Win32 error 2: ...", "... was ended at its time limit
// of 10 minutes".
std::string DescribeChild(const ChildRecord& child);
