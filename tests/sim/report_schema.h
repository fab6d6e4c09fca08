// The JSON report checked against schema/cleanlum-report.schema.json, the
// schema file the README points at: a small validator of the parts of JSON
// Schema (draft 2020-12) that the file uses (type, const, enum, required,
// properties, additionalProperties, items, pattern, minimum, $ref into
// $defs, allOf, anyOf, not, if/then/else, dependentRequired), and the one
// rule a schema cannot state: the summary's counts add up. Every problem is
// one line naming where it is. The Wine tests validate with python3-jsonschema.
#pragma once

#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace report_schema {

using nlohmann::json;

inline const json& Schema() {
  static const json schema = [] {
    std::string here = __FILE__;
    std::string root = here.substr(0, here.rfind("tests/sim/report_schema.h"));
    std::ifstream file(root + "schema/cleanlum-report.schema.json");
    return json::parse(file, nullptr, false);
  }();
  return schema;
}

inline bool HasType(const json& value, const std::string& type) {
  if (type == "object") return value.is_object();
  if (type == "array") return value.is_array();
  if (type == "string") return value.is_string();
  if (type == "integer") return value.is_number_integer() || (value.is_number_float() && value.get<double>() == static_cast<double>(static_cast<long long>(value.get<double>())));
  if (type == "number") return value.is_number();
  if (type == "boolean") return value.is_boolean();
  if (type == "null") return value.is_null();
  return false;
}

inline void Validate(const json& value, const json& schema, const std::string& where, std::vector<std::string>& problems);

inline bool Valid(const json& value, const json& schema) {
  std::vector<std::string> problems;
  Validate(value, schema, "", problems);
  return problems.empty();
}

inline void Validate(const json& value, const json& schema, const std::string& where, std::vector<std::string>& problems) {
  if (schema.is_boolean()) {
    if (!schema.get<bool>()) problems.push_back(where + ": not allowed");
    return;
  }
  if (schema.contains("$ref")) {
    std::string ref = schema["$ref"];
    const std::string prefix = "#/$defs/";
    if (ref.compare(0, prefix.size(), prefix) != 0) {
      problems.push_back(where + ": unknown $ref " + ref);
      return;
    }
    Validate(value, Schema()["$defs"][ref.substr(prefix.size())], where, problems);
  }
  if (schema.contains("type")) {
    bool any = false;
    if (schema["type"].is_array()) {
      for (const auto& type : schema["type"]) any = any || HasType(value, type);
    } else {
      any = HasType(value, schema["type"]);
    }
    if (!any) {
      problems.push_back(where + ": not of type " + schema["type"].dump());
      return;
    }
  }
  if (schema.contains("const") && value != schema["const"]) problems.push_back(where + ": not " + schema["const"].dump());
  if (schema.contains("enum")) {
    bool found = false;
    for (const auto& option : schema["enum"]) found = found || value == option;
    if (!found) problems.push_back(where + ": " + value.dump() + " not one of " + schema["enum"].dump());
  }
  if (schema.contains("pattern") && value.is_string() &&
      !std::regex_search(value.get<std::string>(), std::regex(schema["pattern"].get<std::string>())))
    problems.push_back(where + ": does not match " + schema["pattern"].get<std::string>());
  if (schema.contains("minimum") && value.is_number() && value.get<double>() < schema["minimum"].get<double>())
    problems.push_back(where + ": below " + schema["minimum"].dump());
  if (value.is_object()) {
    if (schema.contains("required"))
      for (const auto& field : schema["required"])
        if (!value.contains(field.get<std::string>())) problems.push_back(where + "." + field.get<std::string>() + ": missing");
    if (schema.contains("dependentRequired"))
      for (const auto& rule : schema["dependentRequired"].items())
        if (value.contains(rule.key()))
          for (const auto& field : rule.value())
            if (!value.contains(field.get<std::string>()))
              problems.push_back(where + "." + field.get<std::string>() + ": missing beside " + rule.key());
    for (const auto& field : value.items()) {
      if (schema.contains("properties") && schema["properties"].contains(field.key()))
        Validate(field.value(), schema["properties"][field.key()], where + "." + field.key(), problems);
      else if (schema.contains("additionalProperties"))
        Validate(field.value(), schema["additionalProperties"], where + "." + field.key(), problems);
    }
  }
  if (value.is_array() && schema.contains("items"))
    for (size_t i = 0; i < value.size(); ++i)
      Validate(value[i], schema["items"], where + "[" + std::to_string(i) + "]", problems);
  if (schema.contains("allOf"))
    for (const auto& part : schema["allOf"]) Validate(value, part, where, problems);
  if (schema.contains("anyOf")) {
    bool any = false;
    for (const auto& part : schema["anyOf"]) any = any || Valid(value, part);
    if (!any) problems.push_back(where + ": matches none of anyOf");
  }
  if (schema.contains("not") && Valid(value, schema["not"])) problems.push_back(where + ": matches what is not allowed");
  if (schema.contains("if")) {
    if (Valid(value, schema["if"])) {
      if (schema.contains("then")) Validate(value, schema["then"], where, problems);
    } else if (schema.contains("else")) {
      Validate(value, schema["else"], where, problems);
    }
  }
}

}  // namespace report_schema

inline std::vector<std::string> CheckReportSchema(const nlohmann::json& report) {
  std::vector<std::string> problems;
  if (report_schema::Schema().is_discarded()) return {"schema/cleanlum-report.schema.json: not found or not JSON"};
  report_schema::Validate(report, report_schema::Schema(), "report", problems);
  if (problems.empty()) {
    const nlohmann::json& summary = report["summary"];
    size_t sum = 0;
    for (const char* field : {"present", "removed", "remaining", "pendingRestart", "unreadable", "keptByDesign"})
      sum += summary[field].get<size_t>();
    if (summary["items"] != report["items"].size()) problems.push_back("summary.items: not the number of items");
    if (sum != summary["items"].get<size_t>()) problems.push_back("summary: counts do not add up");
  }
  return problems;
}
