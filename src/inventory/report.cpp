// Report files. Texts of the machine (paths, names, command lines) reach the
// reports as UTF-8, and the JSON library does all escaping. The JSON report
// is described by schema/cleanlum-report.schema.json; the text report says
// the same things in the same order.
#include "inventory/report.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include <nlohmann/json.hpp>

#include "inventory/verdicts.h"
#include "run/result_marker.h"
#include "system/output_file.h"
#include "system/system_facts.h"
#include "system/error_text.h"
#include "system/wide_text.h"

#ifndef CLEANLUM_VERSION
#define CLEANLUM_VERSION "0"
#endif

namespace {

using nlohmann::ordered_json;

std::string TwoDigits(unsigned number) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", number % 100);
  return text;
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "";
  return std::string(name, size < sizeof name ? size : sizeof name - 1);
}

bool IsPreview(const ReportHeader& header) { return std::strcmp(header.mode, "preview") == 0; }

// The Windows the program runs on, as it sees it.
struct OsFacts {
  std::string version;
  DWORD build = 0;
  std::string architecture;
};

OsFacts ReadOsFacts() {
  OsFacts os;
  OSVERSIONINFOA version = QueryVersion();
  os.version = std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion);
  os.build = version.dwBuildNumber;
  switch (QueryProcessorArchitecture()) {
    case PROCESSOR_ARCHITECTURE_AMD64: os.architecture = "x64"; break;
    case PROCESSOR_ARCHITECTURE_INTEL: os.architecture = "x86"; break;
    case 12: os.architecture = "arm64"; break;  // PROCESSOR_ARCHITECTURE_ARM64
    case 6: os.architecture = "ia64"; break;    // PROCESSOR_ARCHITECTURE_IA64
    default: os.architecture = "architecture " + std::to_string(QueryProcessorArchitecture()); break;
  }
  return os;
}

struct Counts {
  size_t present = 0, removed = 0, remaining = 0, pending = 0, unreadable = 0, kept = 0;
};

Counts Count(const Inventory& inventory) {
  Counts counts;
  for (const InventoryItem& item : inventory.items) {
    switch (item.status) {
      case ItemStatus::Present: ++counts.present; break;
      case ItemStatus::Removed: ++counts.removed; break;
      case ItemStatus::Remaining: ++counts.remaining; break;
      case ItemStatus::PendingRestart: ++counts.pending; break;
      case ItemStatus::Unreadable: ++counts.unreadable; break;
      case ItemStatus::KeptByDesign: ++counts.kept; break;
    }
  }
  return counts;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string Seconds(DWORD milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", milliseconds / 1000.0);
  return text;
}

// The reason an item's line says it is there or how it left; items kept by
// design keep their reason in the kept field too.
std::string ItemReason(const InventoryItem& item) {
  if (!item.reason.empty()) return item.reason;
  if (!item.keptReason.empty()) return item.keptReason;
  return item.skipReason;
}

ordered_json CommandJson(const ChildRecord& child) {
  const ChildFacts& facts = child.facts;
  ordered_json entry;
  entry["step"] = child.step;
  entry["subject"] = child.subject.empty() ? ordered_json(nullptr) : ordered_json(child.subject);
  entry["program"] = Utf8FromAnsi(child.program);
  entry["commandLine"] = Utf8FromAnsi(child.commandLine);
  entry["vendorTool"] = child.owner == ChildOwner::Vendor;
  entry["waited"] = child.awaited;
  bool finished = facts.result == RunResult::Finished && child.awaited;
  entry["exitCode"] = finished ? ordered_json(facts.exitCode) : ordered_json(nullptr);
  entry["startError"] = facts.result == RunResult::NotStarted ? ordered_json(facts.startError) : ordered_json(nullptr);
  entry["seconds"] = facts.result == RunResult::NotStarted || !child.awaited
                         ? ordered_json(nullptr)
                         : ordered_json(std::strtod(Seconds(facts.milliseconds).c_str(), nullptr));
  entry["timedOut"] = facts.result == RunResult::TimedOut;
  entry["ended"] = facts.result == RunResult::TimedOut && facts.ended;
  entry["failed"] = ChildFailed(child);
  entry["outcome"] = child.awaited || facts.result == RunResult::NotStarted ? DescribeChild(child)
                                                                              : std::string("started, not waited for");
  return entry;
}

std::string CommandText(const ChildRecord& child) {
  std::string outcome = child.awaited || child.facts.result == RunResult::NotStarted ? DescribeChild(child)
                                                                                       : "started, not waited for";
  if (child.awaited && child.facts.result != RunResult::NotStarted)
    outcome += " after " + Seconds(child.facts.milliseconds) + " s";
  return "  [" + child.step + "] " + Utf8FromAnsi(child.commandLine) + "\n      " + outcome +
         (ChildFailed(child) ? " (failed)" : "") + "\n";
}

// The logon command of a result: the one the run tried to write, if any.
const LogonCommandRecord* LogonCommandOf(const ReportHeader& header) {
  if (!header.record || header.record->LogonCommands().empty()) return nullptr;
  return &header.record->LogonCommands().back();
}

}  // namespace

std::string ReportSummaryLine(const ReportHeader& header, const Inventory& inventory) {
  Counts c = Count(inventory);
  std::string n = std::to_string(inventory.items.size());
  if (IsPreview(header))
    return "Summary: " + n + " items: " + std::to_string(c.present) + " a run would remove, " +
           std::to_string(c.unreadable) + " unreadable, " + std::to_string(c.kept) + " kept by design";
  return "Summary: " + n + " items: " + std::to_string(c.removed) + " removed, " + std::to_string(c.remaining) +
         " remaining, " + std::to_string(c.pending) + " pending restart, " + std::to_string(c.unreadable) +
         " unreadable, " + std::to_string(c.kept) + " kept by design";
}

std::string FileTimestamp(const SYSTEMTIME& time) {
  char year[8];
  std::snprintf(year, sizeof year, "%04u", static_cast<unsigned>(time.wYear % 10000));
  return std::string(year) + TwoDigits(time.wMonth) + TwoDigits(time.wDay) + "-" + TwoDigits(time.wHour) +
         TwoDigits(time.wMinute) + TwoDigits(time.wSecond);
}

std::string ReportText(const ReportHeader& header, const Inventory& inventory) {
  bool preview = IsPreview(header);
  OsFacts os = ReadOsFacts();
  std::string out;
  out += std::string("CleanLum ") + CLEANLUM_VERSION +
         (preview ? ": what a run would remove (preview, nothing was changed)\n"
                  : ": what the run removed and what it left\n");
  out += "Machine: " + Utf8FromAnsi(ComputerName()) + "\n";
  out += "Windows: " + os.version + " build " + std::to_string(os.build) + ", " + os.architecture + "\n";
  out += "Account: " + Utf8FromAnsi(QueryAccountName()) + "\n";
  out += "Arguments: " + Utf8FromAnsi(header.arguments) + "\n";
  out += "Started: " + IsoTimeOf(header.startedUtc) + "\n";
  out += "Ended:   " + IsoTimeOf(header.endedUtc) + "\n";
  if (!inventory.fileWalk.empty()) out += "Folders walked " + inventory.fileWalk + "\n";
  if (header.folder && !header.folder->reports.path.empty()) {
    out += "Report folder: " + Utf8FromAnsi(header.folder->reports.path) + "\n";
    if (!header.folder->concern.empty()) out += "  WARNING: " + Utf8FromAnsi(header.folder->concern) + "\n";
  }
  out += "\n";
  out += "Items, in run order (" + std::to_string(inventory.items.size()) + "):\n";
  for (const InventoryItem& item : inventory.items) {
    std::string line = "  " + Padded(ItemStatusWords(item.status), 16) + Padded(ItemKindWords(item.kind), 18) +
                       item.path;
    if (!item.valueName.empty()) line += " : " + item.valueName;
    if (!item.package.empty()) line += " [driver package " + item.package + "]";
    if (!item.profileSid.empty())
      line += " [profile " + item.profileSid + (item.profileFolder.empty() ? "" : " " + item.profileFolder) +
              (item.classesHive ? ", classes hive]" : "]");
    if (item.hasSize)
      line += " (" + std::to_string(item.files) + " files, " + std::to_string(item.bytes) + " bytes" +
              (item.status == ItemStatus::Remaining || item.status == ItemStatus::PendingRestart ? " left" : "") + ")";
    out += line + "\n";
    for (const std::string& command : item.commands) out += "      runs: " + command + "\n";
    std::string reason = ItemReason(item);
    if (!reason.empty()) out += "      reason: " + reason + "\n";
  }
  if (preview) {
    if (!inventory.commands.empty()) {
      out += "\nOther tool runs a run makes:\n";
      for (const PlannedCommand& command : inventory.commands) out += "  [" + command.step + "] " + command.commandLine + "\n";
    }
    if (!inventory.logonCommandKey.empty())
      out += "\nLogon command a run writes:\n  " + inventory.logonCommandKey + "\\" + inventory.logonCommandValue +
             " = " + inventory.logonCommand + "\n";
  } else {
    if (header.record && !header.record->Children().empty()) {
      out += "\nPrograms the run started:\n";
      for (const ChildRecord& child : header.record->Children()) out += CommandText(child);
    }
    if (const LogonCommandRecord* command = LogonCommandOf(header)) {
      std::string value = Utf8FromAnsi(command->key + "\\" + command->value);
      out += command->error == 0 ? "\nLogon command the run wrote:\n  " + value + " = " + Utf8FromAnsi(command->data) + "\n"
                                 : "\nLogon command the run could not write:\n  " + value + " = " +
                                       Utf8FromAnsi(command->data) + "\n  " + Win32ErrorText(command->error) + "\n";
    }
  }
  if (header.backup) {
    const RegistryBackup& backup = *header.backup;
    if (backup.written) {
      out += "\nRegistry backup: " + backup.path + " (" + std::to_string(backup.keys) + " keys, " +
             std::to_string(backup.values) + " values)\n";
      out += backup.sha256.empty() ? "  SHA-256: not computed: " + backup.digestNote + "\n"
                                   : "  SHA-256: " + backup.sha256 + "\n";
      out += "  restore: reg import \"" + backup.path + "\"\n";
      for (const RegistryBackup::LoadedHive& hive : backup.loadedHives) {
        std::string key = "HKU" + hive.key.substr(10);
        out += "  " + hive.key + " was not loaded: its keys are restored only with its hive loaded:\n";
        out += "    reg load " + key + " \"" + hive.file + "\"\n";
        out += "    reg import \"" + backup.path + "\"\n";
        out += "    reg unload " + key + "\n";
      }
    } else {
      out += "\nRegistry backup: not written\n";
    }
    if (header.folder && !header.folder->backupConcern.empty())
      out += "  " + Utf8FromAnsi(header.folder->backupConcern) + "\n";
    for (const std::string& missing : backup.missing) out += "  not in the backup: " + missing + "\n";
  }
  if (!header.restorePoint.empty()) out += "\nRestore point: " + header.restorePoint + "\n";
  if (!preview) {
    out += std::string("\nRestart required: ") + (header.restartRequired ? "yes" : "no") + "\n";
    for (const std::string& reason : header.restartReasons) out += "  " + reason + "\n";
  }
  if (!header.outcome.empty())
    out += "\nOutcome: " + header.outcome + " (exit code " + std::to_string(header.exitCode) + ")\n";
  out += "\n" + ReportSummaryLine(header, inventory) + "\n";
  return out;
}

std::string ReportJson(const ReportHeader& header, const Inventory& inventory) {
  bool preview = IsPreview(header);
  OsFacts os = ReadOsFacts();
  ordered_json report;
  report["schema"] = kReportSchema;
  report["program"] = "CleanLum";
  report["version"] = CLEANLUM_VERSION;
  report["mode"] = header.mode;
  report["machine"] = Utf8FromAnsi(ComputerName());
  report["os"] = {{"version", os.version}, {"build", os.build}, {"architecture", os.architecture}};
  report["account"] = Utf8FromAnsi(QueryAccountName());
  report["arguments"] = Utf8FromAnsi(header.arguments);
  report["started"] = IsoTimeOf(header.startedUtc);
  report["ended"] = IsoTimeOf(header.endedUtc);
  if (header.folder && !header.folder->reports.path.empty())
    report["reportFolder"] = {{"path", Utf8FromAnsi(header.folder->reports.path)},
                              {"private", header.folder->checked ? ordered_json(header.folder->isPrivate)
                                                                 : ordered_json(nullptr)},
                              {"concern", header.folder->concern.empty()
                                              ? ordered_json(nullptr)
                                              : ordered_json(Utf8FromAnsi(header.folder->concern))}};
  if (!inventory.fileWalk.empty()) report["fileWalk"] = inventory.fileWalk;
  ordered_json items = ordered_json::array();
  for (const InventoryItem& item : inventory.items) {
    ordered_json entry;
    entry["id"] = ItemId(item);
    entry["kind"] = ItemKindName(item.kind);
    entry["step"] = item.step;
    entry["path"] = item.path;
    if (!item.valueName.empty()) entry["value"] = item.valueName;
    if (!item.package.empty()) entry["package"] = item.package;
    if (!item.profileSid.empty())
      entry["profile"] = {{"sid", item.profileSid},
                          {"folder", item.profileFolder.empty() ? ordered_json(nullptr) : ordered_json(item.profileFolder)},
                          {"hive", item.classesHive ? "classes" : "user"}};
    if (item.hasSize) {
      entry["files"] = item.files;
      entry["bytes"] = item.bytes;
    }
    if (item.kind == ItemKind::Board || item.kind == ItemKind::Driver) {
      entry["commands"] = item.commands;
      ordered_json evidence = ordered_json::array();
      for (const EvidenceItem& e : item.evidence) evidence.push_back({{"kind", ItemKindName(e.kind)}, {"path", e.path}});
      entry["evidence"] = evidence;
    }
    entry["status"] = ItemStatusName(item.status);
    entry["kept"] = item.status == ItemStatus::KeptByDesign;
    std::string reason = ItemReason(item);
    if (!reason.empty()) entry["reason"] = reason;
    if (item.status == ItemStatus::Unreadable) entry["error"] = item.error;
    items.push_back(entry);
  }
  report["items"] = items;
  ordered_json commands = ordered_json::array();
  if (preview) {
    for (const PlannedCommand& command : inventory.commands)
      commands.push_back({{"step", command.step}, {"commandLine", command.commandLine}});
    report["commands"] = commands;
    report["logonCommand"] = inventory.logonCommandKey.empty()
                                 ? ordered_json(nullptr)
                                 : ordered_json({{"key", inventory.logonCommandKey},
                                                 {"value", inventory.logonCommandValue},
                                                 {"data", inventory.logonCommand}});
  } else {
    if (header.record)
      for (const ChildRecord& child : header.record->Children()) commands.push_back(CommandJson(child));
    report["commands"] = commands;
    const LogonCommandRecord* command = LogonCommandOf(header);
    report["logonCommand"] = command ? ordered_json({{"key", Utf8FromAnsi(command->key)},
                                                     {"value", Utf8FromAnsi(command->value)},
                                                     {"data", Utf8FromAnsi(command->data)},
                                                     {"written", command->error == 0},
                                                     {"error", command->error == 0 ? ordered_json(nullptr)
                                                                                   : ordered_json(command->error)}})
                                     : ordered_json(nullptr);
  }
  if (header.backup) {
    const RegistryBackup& backup = *header.backup;
    report["backup"] = {{"file", backup.written ? ordered_json(backup.path) : ordered_json(nullptr)},
                        {"restore", backup.written ? ordered_json("reg import \"" + backup.path + "\"")
                                                   : ordered_json(nullptr)},
                        {"sha256", backup.written && !backup.sha256.empty() ? ordered_json(backup.sha256)
                                                                            : ordered_json(nullptr)},
                        {"keys", backup.keys},
                        {"values", backup.values},
                        {"missing", backup.missing}};
    ordered_json loaded = ordered_json::array();
    for (const RegistryBackup::LoadedHive& hive : backup.loadedHives)
      loaded.push_back({{"key", hive.key}, {"file", hive.file}});
    report["backup"]["loadedHives"] = loaded;
    if (header.folder && !header.folder->backupConcern.empty())
      report["backup"]["note"] = Utf8FromAnsi(header.folder->backupConcern);
  }
  if (!header.restorePoint.empty()) report["restorePoint"] = header.restorePoint;
  if (!preview) report["restartRequired"] = {{"required", header.restartRequired}, {"reasons", header.restartReasons}};
  if (!header.outcome.empty()) {
    report["exitCode"] = header.exitCode;
    report["outcome"] = header.outcome;
  }
  Counts c = Count(inventory);
  report["summary"] = {{"items", inventory.items.size()}, {"present", c.present},       {"removed", c.removed},
                       {"remaining", c.remaining},       {"pendingRestart", c.pending}, {"unreadable", c.unreadable},
                       {"keptByDesign", c.kept}};
  // Whatever a conversion let through, invalid UTF-8 is replaced rather than thrown over.
  return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool WriteReports(const OutputFolder& folder, const ReportHeader& header, const Inventory& inventory,
                  std::string* jsonPath) {
  try {
    std::string base = std::string("CleanLum-") + header.mode + "-" + FileTimestamp(header.started);
    // The text for people: UTF-8 with its byte order mark, Windows line ends.
    std::string text = ReportText(header, inventory);
    std::string windowsText = "\xEF\xBB\xBF";
    for (char c : text) {
      if (c == '\n') windowsText += '\r';
      windowsText += c;
    }
    std::string json = ReportJson(header, inventory);
    std::vector<std::string> paths;
    if (!WriteNewFiles(folder, base, {{".txt", &windowsText}, {".json", &json}}, paths)) return false;
    if (jsonPath) *jsonPath = paths[1];
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
