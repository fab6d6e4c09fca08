// Verdicts from evidence, after the run.
#include "inventory/verdicts.h"

#include <cstdio>
#include <vector>

#include "files/file_tables.h"
#include "inventory/machine_look.h"
#include "registry/user_profiles.h"
#include "system/error_text.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

bool Same(const std::string& a, const std::string& b) { return UpperAscii(a) == UpperAscii(b); }

// path is folder or lies below it.
bool Within(const std::string& path, const std::string& folder) {
  std::string p = UpperAscii(path), f = UpperAscii(folder);
  return p == f || (p.size() > f.size() + 1 && p.compare(0, f.size(), f) == 0 && p[f.size()] == '\\');
}

std::string Join(const std::string& a, const std::string& b) { return a.empty() ? b : b.empty() ? a : a + "; " + b; }

// The folder the logon command removes (UTF-8), when the run wrote it.
std::string LogonFolder(const RunRecord& record) {
  bool written = false;
  for (const LogonCommandRecord& command : record.LogonCommands()) written = written || command.error == 0;
  char windowsDirectory[MAX_PATH];
  char folder[MAX_PATH];
  if (!written || !QueryWindowsDirectory(windowsDirectory) || windowsDirectory[1] != ':') return "";
  const char drive[2] = {windowsDirectory[0], '\0'};
  return BuildText(folder, drive, kDefaultInstallFolder) ? Utf8FromAnsi(folder) : "";
}

bool FailureConcerns(const FailureRecord& failure, const InventoryItem& item) {
  switch (item.kind) {
    case ItemKind::Folder:
      return (failure.kind == FailureKind::Folder || failure.kind == FailureKind::File) &&
             Within(failure.item, item.path);
    case ItemKind::File:
      return (failure.kind == FailureKind::File || failure.kind == FailureKind::Folder) && Same(failure.item, item.path);
    case ItemKind::RegistryKey:
    case ItemKind::InstallerProduct:
    case ItemKind::Board:
      return (failure.kind == FailureKind::RegistryKey || failure.kind == FailureKind::RegistryValue) &&
             Within(failure.item, item.path);
    case ItemKind::RegistryValue:
      return failure.kind == FailureKind::RegistryValue && Same(failure.item, item.path) &&
             Same(failure.value, item.valueName);
    case ItemKind::Process:
      return failure.kind == FailureKind::Process && Same(failure.item, item.path);
    case ItemKind::Service:
      return failure.kind == FailureKind::Service && Same(failure.item, item.path);
    case ItemKind::Driver:
      return false;
  }
  return false;
}

// A failure in words, as seen from the item it concerns: "it could not be
// deleted: Win32 error 32: ...", "its subkey X could not be deleted: ...".
std::string DescribeFailure(const FailureRecord& failure, const InventoryItem& item) {
  std::string what;
  if (Same(failure.item, item.path) && Same(failure.value, item.valueName))
    what = failure.left.empty() ? "it" : "its subkey " + failure.left;
  else
    what = (failure.left.empty() ? failure.item : failure.item + "\\" + failure.left) +
           (failure.value.empty() ? "" : " : " + failure.value);
  std::string action = failure.action.empty() ? "deleted" : failure.action;
  return what + " could not be " + action + ": " + Win32ErrorText(failure.error);
}

// What the record says about an item that is still there: its failures, the last of each kind of action.
std::string RecordedReason(const InventoryItem& item, const RunRecord& record) {
  std::string reason;
  const FailureRecord* last = nullptr;
  for (const FailureRecord& failure : record.Failures())
    if (FailureConcerns(failure, item)) last = &failure;
  if (last) reason = DescribeFailure(*last, item);
  return reason;
}

// What a look shows of why an item is still there.
std::string LookedReason(const InventoryItem& item, bool processLeft) {
  if (item.afterProcesses && processLeft) return "a background process could not be stopped";
  if (!item.profileSid.empty()) return "";  // the run's own report of the key, where it made one
  std::string native;
  switch (item.kind) {
    case ItemKind::Process:
      return "still running";
    case ItemKind::RegistryKey:
    case ItemKind::InstallerProduct:
    case ItemKind::Board: {
      std::string rest;
      HKEY root = SplitRegistryItemPath(item.path, rest);
      return root && ProbeKey(root, WideFromUtf8(rest), KEY_ALL_ACCESS) == ERROR_ACCESS_DENIED ? "access denied" : "";
    }
    case ItemKind::File:
      return AnsiFromUtf8Exactly(item.path, native) ? FileReason(native.c_str()) : "";
    case ItemKind::Folder: {
      if (!AnsiFromUtf8Exactly(item.path, native)) return "";
      std::string path, reason;
      if (FindBlockedFile(native.c_str(), path, reason)) return Utf8FromAnsi(path) + " is " + reason;
      return FileReason(native.c_str());
    }
    default:
      return "";
  }
}

std::string ProgramName(const ChildRecord& child) {
  size_t slash = child.program.find_last_of('\\');
  return Utf8FromAnsi(slash == std::string::npos ? child.program : child.program.substr(slash + 1));
}

std::string Duration(DWORD milliseconds) {
  if (milliseconds % 60000 == 0 && milliseconds >= 60000)
    return std::to_string(milliseconds / 60000) + (milliseconds == 60000 ? " minute" : " minutes");
  char text[32];
  std::snprintf(text, sizeof text, "%.0f s", milliseconds / 1000.0);
  return text;
}

std::string ExitCodeText(DWORD code) {
  std::string text = std::to_string(code);
  if (code >= 0x80000000) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%08lX)", static_cast<unsigned long>(code));
    text += hex;
  }
  return text;
}

// A tool of an item that ran and exited with success.
bool ToolSucceeded(const ChildRecord& child) {
  return child.facts.result == RunResult::Finished &&
         (child.facts.exitCode == 0 || ChildAskedForRestart(child));
}

// Boards and the DMA driver: removed only when each of the item's driver
// tools ran and exited with success, and what the tool was to remove (its
// evidence) is gone.
void JudgeToolItem(InventoryItem& item, const RunRecord& record) {
  if (!item.skipReason.empty()) {
    item.status = ItemStatus::Remaining;
    item.reason = item.skipReason;
    return;
  }
  if (item.toolCommands.empty()) {
    item.status = ItemStatus::Remaining;
    item.reason = "no driver tool of this Windows version removes it";
    return;
  }
  bool restart = false;
  std::string tools;
  for (const std::string& command : item.toolCommands) {
    const ChildRecord* ran = nullptr;
    for (const ChildRecord& child : record.Children())
      if (Same(child.subject, item.path) && Utf8FromAnsi(child.commandLine) == command) ran = &child;
    if (!ran) {
      item.status = ItemStatus::Remaining;
      item.reason = "its driver tool did not run: " + command;
      return;
    }
    if (!ToolSucceeded(*ran)) {
      item.status = ItemStatus::Remaining;
      item.reason = DescribeChild(*ran);
      return;
    }
    restart = restart || ChildAskedForRestart(*ran);
    tools = DescribeChild(*ran);
  }
  std::string left;
  for (const EvidenceItem& evidence : item.evidence) {
    DWORD error = 0;
    if (!IsPresentAt(evidence.kind, evidence.path, "", error)) continue;
    InventoryItem look;
    look.kind = evidence.kind;
    look.path = evidence.path;
    std::string why = Join(error ? Win32ErrorText(error) : "", RecordedReason(look, record));
    left = Join(left, evidence.path + " is still there" + (why.empty() ? "" : " (" + why + ")"));
  }
  if (!left.empty()) {
    // The other commands of the item (the service controller's) that did not do their part.
    for (const ChildRecord& child : record.Children())
      if (Same(child.subject, item.path) && !ToolSucceeded(child)) left = Join(left, DescribeChild(child));
    item.status = restart ? ItemStatus::PendingRestart : ItemStatus::Remaining;
    item.reason = tools + ", but " + left;
    return;
  }
  item.status = restart ? ItemStatus::PendingRestart : ItemStatus::Removed;
  item.reason = restart ? tools + ": a restart completes its removal" : "";
}

void Recount(InventoryItem& item) {
  std::string native;
  item.files = item.bytes = 0;
  if (item.kind == ItemKind::Folder && AnsiFromUtf8Exactly(item.path, native)) {
    item.hasSize = true;
    CountFolder(native.c_str(), item.files, item.bytes);
  }
}

// What is there of the profiles' keys: each profile's hive opened once, and
// loaded again where the run had to load it. A hive that cannot be opened
// leaves its keys unreadable; an item for such a hive keeps its error.
struct Presence {
  bool present = true;
  DWORD error = 0;
};

std::vector<Presence> LookAtProfileKeys(const std::vector<InventoryItem>& items) {
  std::vector<Presence> seen(items.size());
  ForEachProfileHive(items, [&](const ProfileHive& hive, const std::string& hiveName,
                                const std::vector<size_t>& indices) {
    for (size_t j : indices) {
      const InventoryItem& item = items[j];
      if (item.path == hiveName) {
        seen[j].error = item.error;  // the hive itself stays as the start found it
      } else if (!hive.Root()) {
        seen[j].error = hive.Error();
      } else {
        DWORD error = ProbeKey(hive.Root(), WideFromUtf8(item.path.substr(hiveName.size() + 1)));
        seen[j].present = !IsMissingError(error);
        seen[j].error = seen[j].present ? error : 0;
      }
    }
  });
  return seen;
}

}  // namespace

std::string DescribeChild(const ChildRecord& child) {
  std::string name = ProgramName(child);
  const ChildFacts& facts = child.facts;
  switch (facts.result) {
    case RunResult::NotStarted:
      return name + " could not start (" + Win32ErrorText(facts.startError) + ")";
    case RunResult::TimedOut:
      if (facts.ended) return name + " was ended at its time limit of " + Duration(child.timeoutMs);
      return name + " was still running at its time limit of " + Duration(child.timeoutMs) + " and was left running" +
             (facts.endError ? " (it could not be ended: " + Win32ErrorText(facts.endError) + ")" : "");
    case RunResult::Finished:
      return name + " exited with " + ExitCodeText(facts.exitCode);
  }
  return name;
}

void JudgeAfterRun(Inventory& start, const RunRecord& record) {
  std::string logonFolder = LogonFolder(record);
  // A background process still running kept the installation folder and the service file.
  bool processLeft = false;
  for (const InventoryItem& item : start.items) {
    DWORD error = 0;
    if (item.kind == ItemKind::Process && item.keptReason.empty() && IsItemPresent(item, error)) processLeft = true;
  }
  std::vector<Presence> profileKeys = LookAtProfileKeys(start.items);
  for (size_t index = 0; index < start.items.size(); ++index) {
    InventoryItem& item = start.items[index];
    if (item.status == ItemStatus::KeptByDesign || !item.keptReason.empty()) {
      item.status = ItemStatus::KeptByDesign;
      item.reason = item.keptReason;
      continue;
    }
    item.reason.clear();
    if (item.kind == ItemKind::Board || item.kind == ItemKind::Driver) {
      JudgeToolItem(item, record);
      continue;
    }
    // How the driver store took (or refused) the item's package.
    std::string packageHow;
    for (const PackageRecord& package : record.Packages())
      if (!item.package.empty() && Same(item.package, package.publishedName)) packageHow = package.how;
    DWORD error = 0;
    bool present = item.profileSid.empty() ? IsItemPresent(item, error) : profileKeys[index].present;
    if (!item.profileSid.empty()) error = profileKeys[index].error;
    if (!present) {
      item.status = ItemStatus::Removed;
      item.error = 0;
      item.reason = packageHow;
      continue;
    }
    if (error != 0) {
      item.status = ItemStatus::Unreadable;
      item.error = error;
      item.reason = Join("it could not be looked at after the run (" + Win32ErrorText(error) + ")",
                         RecordedReason(item, record));
      continue;
    }
    item.error = 0;
    std::string why = Join(Join(item.skipReason, packageHow),
                           Join(LookedReason(item, processLeft), RecordedReason(item, record)));
    bool fileKind = item.kind == ItemKind::Folder || item.kind == ItemKind::File;
    if (fileKind && !logonFolder.empty() && Within(item.path, logonFolder)) {
      item.status = ItemStatus::PendingRestart;
      item.reason = "left for the RunOnce removal at the next logon" + (why.empty() ? "" : " (" + why + ")");
    } else {
      item.status = ItemStatus::Remaining;
      item.reason = why.empty() ? "still there after the run, though no step reported a failure" : why;
    }
    if (item.kind == ItemKind::Folder) Recount(item);
  }
}

size_t CountLeft(const Inventory& inventory) {
  size_t left = 0;
  for (const InventoryItem& item : inventory.items)
    if (item.status == ItemStatus::Remaining || item.status == ItemStatus::Unreadable) ++left;
  return left;
}

bool AnyChildFailed(const RunRecord& record) {
  for (const ChildRecord& child : record.Children())
    if (ChildFailed(child)) return true;
  return false;
}
