// A system restore point around the run, through System Restore's client
// (srclient.dll, loaded from the system directory at run time: Windows Server
// has none, and no program should link it at load time).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

enum class RestorePointOutcome {
  NotAsked,      // no restore point was asked for
  Created,       // Windows made one (sequence number known)
  Disabled,      // System Restore is turned off, by policy or by hand
  NotAvailable,  // no System Restore on this Windows (no client, or no call in it)
  Failed,        // asked and refused for another reason (status says which)
};

struct RestorePoint {
  RestorePointOutcome outcome = RestorePointOutcome::NotAsked;
  DWORD status = 0;          // the status System Restore answered (or the loader's error)
  int64_t sequenceNumber = 0;
  DWORD endStatus = 0;       // the status of the end of the change (Created only)
  bool ended = false;
};

// Asks for a restore point of an application's removal before the first
// change (BEGIN_SYSTEM_CHANGE). Never stops the run.
RestorePoint BeginRestorePoint(const char* description);

// Ends the change begun (END_SYSTEM_CHANGE) so that Windows keeps the point;
// nothing for one that was not created.
void EndRestorePoint(RestorePoint& point);

// "created (sequence number 71)", "not made: System Restore is turned off
// (status 1058)", ...: for the reports and the log.
std::string DescribeRestorePoint(const RestorePoint& point);
