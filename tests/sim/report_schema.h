// A small checker of the JSON report against its documented schema (schema 1):
// every problem is one line naming the field.
#pragma once

#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

inline std::vector<std::string> CheckReportSchema(const nlohmann::json& report) {
  std::vector<std::string> problems;
  auto need = [&](const nlohmann::json& object, const char* field, bool (nlohmann::json::*is)() const,
                  const std::string& where) {
    if (!object.contains(field)) {
      problems.push_back(where + field + ": missing");
      return false;
    }
    if (!(object[field].*is)()) {
      problems.push_back(where + field + ": wrong type");
      return false;
    }
    return true;
  };
  using J = nlohmann::json;
  if (!report.is_object()) return {"not an object"};
  if (need(report, "schema", &J::is_number_integer, "") && report["schema"] != 1) problems.push_back("schema: not 1");
  need(report, "program", &J::is_string, "");
  need(report, "version", &J::is_string, "");
  if (need(report, "mode", &J::is_string, "") && report["mode"] != "preview" && report["mode"] != "result")
    problems.push_back("mode: unknown");
  need(report, "machine", &J::is_string, "");
  need(report, "started", &J::is_string, "");
  need(report, "ended", &J::is_string, "");
  if (need(report, "commands", &J::is_array, ""))
    for (const auto& command : report["commands"])
      if (!command.is_string()) problems.push_back("commands: not a string");
  if (!report.contains("logonCommand")) {
    problems.push_back("logonCommand: missing");
  } else if (!report["logonCommand"].is_null()) {
    need(report["logonCommand"], "key", &J::is_string, "logonCommand.");
    need(report["logonCommand"], "data", &J::is_string, "logonCommand.");
  }
  const std::set<std::string> kinds = {"board", "service", "process", "folder", "file", "registry key", "registry value",
                                       "installer product"};
  const std::set<std::string> statuses = {"present", "removed", "remaining", "pending restart", "unreadable"};
  const std::set<std::string> fields = {"kind", "step", "path", "value", "package", "files", "bytes", "commands",
                                        "status", "error", "reason", "kept", "profile"};
  if (need(report, "items", &J::is_array, "")) {
    for (const auto& item : report["items"]) {
      std::string where = "items[" + item.value("path", std::string("?")) + "].";
      if (need(item, "kind", &J::is_string, where) && !kinds.count(item["kind"])) problems.push_back(where + "kind: unknown");
      need(item, "step", &J::is_string, where);
      need(item, "path", &J::is_string, where);
      if (need(item, "status", &J::is_string, where) && !statuses.count(item["status"]))
        problems.push_back(where + "status: unknown");
      if (item.value("kind", "") == "folder" && !item.contains("kept")) {
        need(item, "files", &J::is_number_unsigned, where);
        need(item, "bytes", &J::is_number_unsigned, where);
      }
      if (item.value("kind", "") == "board") need(item, "commands", &J::is_array, where);
      if (item.value("status", "") == "unreadable") need(item, "error", &J::is_number_unsigned, where);
      if (item.contains("profile") && need(item, "profile", &J::is_object, where)) {
        need(item["profile"], "sid", &J::is_string, where + "profile.");
        if (!item["profile"].contains("folder") || !(item["profile"]["folder"].is_string() || item["profile"]["folder"].is_null()))
          problems.push_back(where + "profile.folder: not a text or null");
        if (need(item["profile"], "hive", &J::is_string, where + "profile.") && item["profile"]["hive"] != "user" &&
            item["profile"]["hive"] != "classes")
          problems.push_back(where + "profile.hive: unknown");
      }
      for (const auto& field : item.items())
        if (!fields.count(field.key())) problems.push_back(where + field.key() + ": not in the schema");
    }
  }
  if (need(report, "summary", &J::is_object, "")) {
    size_t sum = 0;
    for (const char* field : {"items", "present", "removed", "remaining", "pendingRestart", "unreadable"})
      if (need(report["summary"], field, &J::is_number_unsigned, "summary.") && std::string(field) != "items")
        sum += report["summary"][field].get<size_t>();
    if (report.contains("items") && report["items"].is_array() && report["summary"].value("items", 0u) != report["items"].size())
      problems.push_back("summary.items: not the number of items");
    if (sum != report["summary"].value("items", 0u)) problems.push_back("summary: counts do not add up");
  }
  auto nullOr = [&](const J& object, const char* field, bool (J::*is)() const, const std::string& where) {
    if (!object.contains(field)) problems.push_back(where + field + ": missing");
    else if (!object[field].is_null() && !(object[field].*is)()) problems.push_back(where + field + ": wrong type");
  };
  if (report.contains("reportFolder")) {
    const J& folder = report["reportFolder"];
    need(folder, "path", &J::is_string, "reportFolder.");
    nullOr(folder, "private", &J::is_boolean, "reportFolder.");
    nullOr(folder, "concern", &J::is_string, "reportFolder.");
  }
  if (report.contains("backup")) {
    nullOr(report["backup"], "sha256", &J::is_string, "backup.");
    const J& digest = report["backup"].value("sha256", J());
    if (digest.is_string() && (digest.get<std::string>().size() != 64 ||
                               digest.get<std::string>().find_first_not_of("0123456789abcdef") != std::string::npos))
      problems.push_back("backup.sha256: not 64 hexadecimal digits");
  }
  return problems;
}
