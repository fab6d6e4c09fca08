// Report files and the words that ask for them. Texts of the machine (paths,
// names, command lines) are ANSI code page text: they are converted to UTF-8
// in one place, and the JSON library does all escaping.
#include "inventory/report.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include <nlohmann/json.hpp>

#include "system/output_file.h"
#include "system/wide_text.h"


#ifndef CLEANLUM_VERSION
#define CLEANLUM_VERSION "0"
#endif

namespace {

std::string TwoDigits(unsigned number) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", number % 100);
  return text;
}

std::string Timestamp(const SYSTEMTIME& t, const char* dateSeparator, const char* middle,
                      const char* timeSeparator) {
  char year[8];
  std::snprintf(year, sizeof year, "%04u", static_cast<unsigned>(t.wYear % 10000));
  return std::string(year) + dateSeparator + TwoDigits(t.wMonth) + dateSeparator + TwoDigits(t.wDay) + middle +
         TwoDigits(t.wHour) + timeSeparator + TwoDigits(t.wMinute) + timeSeparator + TwoDigits(t.wSecond);
}

std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size)) return "";
  return std::string(name, size < sizeof name ? size : sizeof name - 1);
}

bool IsPreview(const ReportHeader& header) { return std::strcmp(header.mode, "preview") == 0; }

struct Counts {
  size_t present = 0, removed = 0, remaining = 0, pending = 0, unreadable = 0;
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
    }
  }
  return counts;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string ReportSummaryLine(const ReportHeader& header, const Inventory& inventory) {
  Counts c = Count(inventory);
  std::string n = std::to_string(inventory.items.size());
  if (IsPreview(header))
    return "Summary: " + n + " items: " + std::to_string(c.present) + " a run would remove, " +
           std::to_string(c.unreadable) + " unreadable";
  return "Summary: " + n + " items: " + std::to_string(c.removed) + " removed, " + std::to_string(c.remaining) +
         " remaining, " + std::to_string(c.pending) + " pending restart, " + std::to_string(c.unreadable) +
         " unreadable";
}

std::string FileTimestamp(const SYSTEMTIME& time) { return Timestamp(time, "", "-", ""); }

std::string ReportText(const ReportHeader& header, const Inventory& inventory) {
  bool preview = IsPreview(header);
  std::string out;
  out += std::string("CleanLum ") + CLEANLUM_VERSION +
         (preview ? ": what a run would remove (preview, nothing was changed)\n"
                  : ": what the run removed and what it left\n");
  out += "Machine: " + Utf8FromAnsi(ComputerName()) + "\n";
  out += "Started: " + Timestamp(header.started, "-", " ", ":") + "\n";
  out += "Ended:   " + Timestamp(header.ended, "-", " ", ":") + "\n";
  if (!inventory.fileWalk.empty()) out += "Folders walked " + inventory.fileWalk + "\n";
  if (header.folder && !header.folder->reports.path.empty()) {
    out += "Report folder: " + Utf8FromAnsi(header.folder->reports.path) + "\n";
    if (!header.folder->concern.empty()) out += "  WARNING: " + Utf8FromAnsi(header.folder->concern) + "\n";
  }
  out += "\n";
  out += "Items, in run order (" + std::to_string(inventory.items.size()) + "):\n";
  for (const InventoryItem& item : inventory.items) {
    std::string line = "  " + Padded(ItemStatusName(item.status), 16) + Padded(ItemKindName(item.kind), 18) +
                       item.path;
    if (!item.valueName.empty()) line += " : " + item.valueName;
    if (!item.package.empty()) line += " [driver package " + item.package + "]";
    if (!item.profileSid.empty())
      line += " [profile " + item.profileSid + (item.profileFolder.empty() ? "" : " " + item.profileFolder) +
              (item.classesHive ? ", classes hive]" : "]");
    if (item.hasSize)
      line += " (" + std::to_string(item.files) + " files, " + std::to_string(item.bytes) + " bytes)";
    out += line + "\n";
    for (const std::string& command : item.commands) out += "      runs: " + command + "\n";
    if (item.error != 0 && item.status == ItemStatus::Unreadable)
      out += "      cannot be read: Win32 error " + std::to_string(item.error) + "\n";
    if (!item.reason.empty())
      out += "      reason: " + item.reason + "\n";
    else if (!item.keptReason.empty())
      out += "      " + item.keptReason + "\n";
  }
  if (!inventory.commands.empty()) {
    out += preview ? "\nOther tool runs a run makes:\n" : "\nOther tool runs of the run:\n";
    for (const std::string& command : inventory.commands) out += "  " + command + "\n";
  }
  if (!inventory.logonCommandKey.empty())
    out += std::string(preview ? "\nLogon command a run writes:\n" : "\nLogon command the run wrote:\n") + "  " +
           inventory.logonCommandKey + " = " + inventory.logonCommand + "\n";
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
  if (!header.outcome.empty())
    out += "\nOutcome: " + header.outcome + " (exit code " + std::to_string(header.exitCode) + ")\n";
  out += "\n" + ReportSummaryLine(header, inventory) + "\n";
  return out;
}

std::string ReportJson(const ReportHeader& header, const Inventory& inventory) {
  using nlohmann::ordered_json;
  ordered_json report;
  report["schema"] = kReportSchema;
  report["program"] = "CleanLum";
  report["version"] = CLEANLUM_VERSION;
  report["mode"] = header.mode;
  report["machine"] = Utf8FromAnsi(ComputerName());
  report["started"] = Timestamp(header.started, "-", "T", ":");
  report["ended"] = Timestamp(header.ended, "-", "T", ":");
  if (!inventory.fileWalk.empty()) report["fileWalk"] = inventory.fileWalk;
  ordered_json items = ordered_json::array();
  for (const InventoryItem& item : inventory.items) {
    ordered_json entry;
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
    if (item.kind == ItemKind::Board) {
      ordered_json commands = ordered_json::array();
      for (const std::string& command : item.commands) commands.push_back(command);
      entry["commands"] = commands;
    }
    entry["status"] = ItemStatusName(item.status);
    if (item.status == ItemStatus::Unreadable) entry["error"] = item.error;
    if (!item.reason.empty()) entry["reason"] = item.reason;
    if (!item.keptReason.empty()) entry["kept"] = item.keptReason;
    items.push_back(entry);
  }
  report["items"] = items;
  if (header.backup) {
    const RegistryBackup& backup = *header.backup;
    ordered_json missing = ordered_json::array();
    for (const std::string& what : backup.missing) missing.push_back(what);
    report["backup"] = {{"file", backup.written ? ordered_json(backup.path) : ordered_json(nullptr)},
                        {"restore", backup.written ? ordered_json("reg import \"" + backup.path + "\"")
                                                   : ordered_json(nullptr)},
                        {"sha256", backup.written && !backup.sha256.empty() ? ordered_json(backup.sha256)
                                                                            : ordered_json(nullptr)},
                        {"keys", backup.keys},
                        {"values", backup.values},
                        {"missing", missing}};
    ordered_json loaded = ordered_json::array();
    for (const RegistryBackup::LoadedHive& hive : backup.loadedHives)
      loaded.push_back({{"key", hive.key}, {"file", hive.file}});
    report["backup"]["loadedHives"] = loaded;
    if (header.folder && !header.folder->backupConcern.empty())
      report["backup"]["note"] = Utf8FromAnsi(header.folder->backupConcern);
  }
  if (!header.restorePoint.empty()) report["restorePoint"] = header.restorePoint;
  if (header.folder && !header.folder->reports.path.empty())
    report["reportFolder"] = {{"path", Utf8FromAnsi(header.folder->reports.path)},
                              {"private", header.folder->checked ? ordered_json(header.folder->isPrivate)
                                                                 : ordered_json(nullptr)},
                              {"concern", header.folder->concern.empty()
                                              ? ordered_json(nullptr)
                                              : ordered_json(Utf8FromAnsi(header.folder->concern))}};
  if (!header.outcome.empty()) {
    report["exitCode"] = header.exitCode;
    report["outcome"] = header.outcome;
  }
  ordered_json commands = ordered_json::array();
  for (const std::string& command : inventory.commands) commands.push_back(command);
  report["commands"] = commands;
  if (inventory.logonCommandKey.empty()) {
    report["logonCommand"] = nullptr;
  } else {
    report["logonCommand"] = {{"key", inventory.logonCommandKey},
                              {"data", inventory.logonCommand}};
  }
  Counts c = Count(inventory);
  report["summary"] = {{"items", inventory.items.size()}, {"present", c.present},
                       {"removed", c.removed},            {"remaining", c.remaining},
                       {"pendingRestart", c.pending},     {"unreadable", c.unreadable}};
  // Whatever a conversion let through, invalid UTF-8 is replaced rather than thrown over.
  return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool WriteReports(const OutputFolder& folder, const ReportHeader& header, const Inventory& inventory,
                  std::string* jsonPath) {
  try {
    std::string base = std::string("CleanLum-") + header.mode + "-" + Timestamp(header.started, "", "-", "");
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
