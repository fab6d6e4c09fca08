// The safety property on generated machines: after a whole silent run
// without restart, every item that is not the vendor's is exactly as it was,
// and every item of the vendor's is gone unless the design keeps it for a
// reason that holds on that machine (a file in use, a read-only library that
// only a plain deletion reaches, a dot-named entry, a refused key, a
// background process that would not stop, ...).
//
// Each seed names one machine (tests/safety/safety_machine.h). The suite runs
// seeds 1 to 500 by default (CLEANLUM_SEEDS=<n> for more); a failure prints
// its seed and the items at fault. Replay one seed with
//
//   CLEANLUM_SEED=1234 build/linux/sim_tests --gtest_filter='Safety*'
//
// The state is read straight from the simulated machine: every key with its
// values byte for byte, every file with its attributes, flags and content,
// the processes still running and the services not deleted.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include <set>

#include "../safety/safety_hives.h"
#include "safety_sim.h"
#include "inventory/inventory.h"
#include "inventory/report.h"
#include "main/main_sequence.h"
#include "run/options.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

// Where an administrator's run writes its reports and registry backup.
std::string ReportFolderOf(const safety::Machine& machine) { return machine.windowsDirectory + "\\Logs\\CleanLum"; }

struct SeedResult {
  std::vector<std::string> problems;
  safety::Outcome outcome;
};

std::string Missing(const std::set<std::string>& want, const std::set<std::string>& have, const char* what,
                    const std::set<std::string>& excused = {}) {
  std::string text;
  for (const std::string& id : want)
    if (!have.count(id) && !excused.count(id)) text += std::string("  ") + what + ": " + id + "\n";
  return text;
}

// "reg import" of a backup file on the simulated machine: UTF-16LE text,
// key sections, quoted strings, dword: and hex(N): data, continued lines.
std::string Narrow(const std::vector<WCHAR>& wide) {
  if (wide.empty()) return "";
  std::string text(wide.size() * 2 + 1, '\0');
  int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0],
                                  static_cast<int>(text.size()), nullptr, nullptr);
  text.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
  return text;
}

std::vector<WCHAR> Units(const std::string& bytes) {
  std::vector<WCHAR> units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8));
  return units;
}

// The quoted text at the start of line (after its opening quote), unescaped; pos moves past it.
std::vector<WCHAR> Quoted(const std::vector<WCHAR>& line, size_t& pos) {
  std::vector<WCHAR> out;
  for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
    if (line[pos] == '\\' && pos + 1 < line.size()) ++pos;
    out.push_back(line[pos]);
  }
  ++pos;
  return out;
}

void ImportRegFile(const std::string& content) {
  std::vector<WCHAR> units = Units(content.size() >= 2 ? content.substr(2) : "");
  std::vector<std::vector<WCHAR>> lines(1);
  for (WCHAR unit : units) {
    if (unit == '\n') {
      lines.emplace_back();
    } else if (unit != '\r') {
      lines.back().push_back(unit);
    }
  }
  HKEY key = nullptr;
  std::vector<WCHAR> pending;
  for (std::vector<WCHAR>& physical : lines) {
    size_t start = 0;
    while (!pending.empty() && start < physical.size() && physical[start] == ' ') ++start;
    pending.insert(pending.end(), physical.begin() + static_cast<long>(start), physical.end());
    if (!pending.empty() && pending.back() == '\\' && pending[0] != '[') {
      pending.pop_back();
      continue;
    }
    std::vector<WCHAR> line;
    line.swap(pending);
    if (line.empty()) continue;
    if (line[0] == '[') {
      // As reg import reads it, names wide: the section is what lies between the brackets.
      if (key) RegCloseKey(key);
      key = nullptr;
      std::vector<WCHAR> name(line.begin() + 1, line.end() - 1);
      std::string root = Narrow(std::vector<WCHAR>(name.begin(), std::find(name.begin(), name.end(), '\\')));
      HKEY rootKey = root == "HKEY_CLASSES_ROOT" ? HKEY_CLASSES_ROOT : root == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                     : root == "HKEY_USERS" ? HKEY_USERS : HKEY_LOCAL_MACHINE;
      std::vector<WCHAR> path(name.begin() + static_cast<long>(std::min(root.size() + 1, name.size())), name.end());
      path.push_back(0);
      RegCreateKeyExW(rootKey, path.data(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
      continue;
    }
    if (!key || (line[0] != '"' && line[0] != '@')) continue;
    size_t pos = 0;
    std::vector<WCHAR> name = line[0] == '@' ? (pos = 1, std::vector<WCHAR>()) : Quoted(line, pos);
    name.push_back(0);
    ++pos;  // '='
    std::string rest = Narrow(std::vector<WCHAR>(line.begin() + static_cast<long>(pos), line.end()));
    DWORD type = REG_SZ;
    std::string data;
    if (!rest.empty() && rest[0] == '"') {
      size_t at = pos;
      for (WCHAR unit : Quoted(line, at)) {
        data += static_cast<char>(unit & 0xFF);
        data += static_cast<char>(unit >> 8);
      }
      data += std::string(2, '\0');
    } else if (rest.compare(0, 6, "dword:") == 0) {
      type = REG_DWORD;
      unsigned long number = std::strtoul(rest.c_str() + 6, nullptr, 16);
      for (int i = 0; i < 4; ++i) data += static_cast<char>((number >> (8 * i)) & 0xFF);
    } else {
      type = rest.compare(0, 4, "hex:") == 0 ? REG_BINARY : static_cast<DWORD>(std::strtoul(rest.c_str() + 4, nullptr, 16));
      for (size_t at = rest.find(':') + 1; at + 1 < rest.size() + 1 && at < rest.size(); at += 3)
        data += static_cast<char>(std::strtoul(rest.substr(at, 2).c_str(), nullptr, 16));
    }
    RegSetValueExW(key, name.data(), 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
  }
  if (key) RegCloseKey(key);
}

// One seed's machine, run, and checked.
SeedResult RunSeed(uint64_t seed, const safety::Machine& machine) {
  winsim::ResetMachine();
  Build(machine);
  SeedResult result;
  result.outcome = safety::ExpectedOutcome(machine);
  safety::Snapshot before = Snap();
  // What the preview lists (its inventory; the preview itself adds only its report files).
  Inventory preview = TakeInventory(ReadRevision().c_str(), CleansEveryProfile(ReadOptions(nullptr, machine.arguments.c_str())));
  M().system.commandLine = machine.workingDirectory + "\\CleanLum.exe " + machine.arguments;
  int exitCode = RunCleanLum(reinterpret_cast<HINSTANCE>(0x400000), machine.arguments.c_str());
  safety::Snapshot after = Snap();
  result.problems = safety::CheckRun(machine, result.outcome, before, after, "C:\\Temp", ReportFolderOf(machine));
  if (exitCode != 0) result.problems.push_back("exit code " + std::to_string(exitCode));
  if (M().files.openSearches != 0) result.problems.push_back("searches left open");

  // The preview lists exactly the vendor's items; the result report leaves
  // exactly the items the design lets survive.
  std::set<std::string> vendor, survivors, listed, left;
  // What the run cannot open it cannot tell as the vendor's (a product whose
  // publisher cannot be read, and what belongs to it): no report lists it.
  std::set<std::string> unseen;
  for (const auto& item : result.outcome.vendor) {
    if (item.second.find("cannot be opened") != std::string::npos) unseen.insert(item.first);
    // Before the driver store's calls, its folders cannot be told as a package's.
    if (item.second.find("has no call to remove a store package") != std::string::npos) unseen.insert(item.first);
    if (before.count(item.first)) vendor.insert(item.first);
    if (!item.second.empty() && after.count(item.first)) survivors.insert(item.first);
  }
  // A "Directory" value the guard refuses is listed for the record, not as the vendor's.
  for (const InventoryItem& item : preview.items) {
    if (item.keptReason.compare(0, 7, "refused") == 0) continue;
    for (const std::string& id : IdsOf(ItemKindName(item.kind), item.path, item.valueName, before)) listed.insert(id);
    for (const EvidenceItem& evidence : item.evidence)
      for (const std::string& id : IdsOf(ItemKindName(evidence.kind), evidence.path, "", before)) listed.insert(id);
  }
  std::string reportPath;
  for (const std::string& line : winsim::DumpTree(ReportFolderOf(machine)))
    if (line.compare(0, 16, "CleanLum-result-") == 0 && line.find(".json ") != std::string::npos)
      reportPath = ReportFolderOf(machine) + "\\" + line.substr(0, line.find(' '));
  nlohmann::json report = nlohmann::json::parse(winsim::ReadFileText(reportPath), nullptr, false);
  if (report.is_discarded()) {
    result.problems.push_back("no result report");
  } else {
    for (const auto& item : report["items"]) {
      bool refused = item["kept"] == true && item.value("reason", "").compare(0, 7, "refused") == 0;
      if (item["status"] == "removed" || refused) continue;
      for (const std::string& id : IdsOf(item["kind"], item["path"].get<std::string>(), item.value("value", ""), after))
        left.insert(id);
      for (const auto& evidence : item.value("evidence", nlohmann::json::array()))
        for (const std::string& id : IdsOf(evidence["kind"], evidence["path"].get<std::string>(), "", after)) left.insert(id);
    }
  }
  // Where the report names a file's reason, the model keeps that file for the same one.
  if (!report.is_discarded()) {
    const std::pair<const char*, const char*> kSameReason[] = {
        {"in use", "in use"}, {"read-only", "read-only"}, {"access denied", "ACL denies"}};
    for (const auto& item : report["items"]) {
      std::string whole = item.value("reason", "");
      std::string path = item["path"].get<std::string>();
      size_t open = whole.find(" (");
      if (open != std::string::npos && whole.back() == ')') whole = whole.substr(open + 2, whole.size() - open - 3);
      // The specific reason comes first; what the record says follows after "; ".
      std::string reason = whole.substr(0, whole.find("; "));
      for (const auto& same : kSameReason) {
        std::string word = same.first;
        std::string file;
        if (reason == word && (item["kind"] == "file")) file = path;
        size_t is = reason.rfind(" is " + word);
        if (is != std::string::npos && is + 4 + word.size() == reason.size()) file = reason.substr(0, is);
        if (file.empty()) continue;
        auto model = result.outcome.vendor.find(safety::FileId(file));
        // Inside a folder the model may name an earlier stop of the same walk instead.
        bool sameWalk = file != path && model != result.outcome.vendor.end() &&
                        model->second.compare(0, 18, "left when the walk") == 0;
        if (sameWalk) continue;
        if (model == result.outcome.vendor.end() || model->second.find(same.second) == std::string::npos)
          result.problems.push_back("the result report says " + file + " is " + word + "; the model: " +
                                    (model == result.outcome.vendor.end() ? "not the vendor's" : model->second));
      }
    }
  }
  // The registry backup restores every vendor key and value the run deleted,
  // except what it names as unreadable.
  std::string backupPath;
  for (const std::string& line : winsim::DumpTree(ReportFolderOf(machine)))
    if (line.compare(0, 25, "CleanLum-registry-backup-") == 0) backupPath = ReportFolderOf(machine) + "\\" + line.substr(0, line.find(' '));
  if (backupPath.empty()) {
    result.problems.push_back("no registry backup");
  } else {
    std::vector<std::string> unreadable;
    if (!report.is_discarded() && report.contains("backup"))
      for (const auto& missing : report["backup"]["missing"]) {
        std::string what = missing.get<std::string>();  // UTF-8, as the ids
        what = what.substr(0, what.find(": error"));
        what = what.substr(0, what.find(": not restorable"));
        what = what.substr(0, what.find(" (values"));
        what = what.substr(0, what.find(" (subkeys"));
        what = what.substr(0, what.find(" value "));
        const char* roots[][2] = {{"HKEY_LOCAL_MACHINE\\", "HKLM\\"}, {"HKEY_CURRENT_USER\\", "HKCU\\"},
                                  {"HKEY_USERS\\", "HKU\\"}, {"HKEY_CLASSES_ROOT\\", "HKLM\\SOFTWARE\\Classes\\"}};
        for (const auto& root : roots)
          if (what.compare(0, std::strlen(root[0]), root[0]) == 0) what = root[1] + what.substr(std::strlen(root[0]));
        unreadable.push_back(winsim::Upper(what));
      }
    // A .reg file cannot make a key a link.
    for (const safety::KeyItem& key : machine.keys)
      if (!key.linkTarget.empty()) unreadable.push_back(winsim::Upper(safety::HiveName(key.hive) + "\\" + key.path));
    ImportRegFile(winsim::ReadFileText(backupPath));
    safety::Snapshot restored = Snap();
    for (const auto& item : result.outcome.vendor) {
      const std::string& id = item.first;
      if ((id.compare(0, 4, "key ") != 0 && id.compare(0, 6, "value ") != 0) || !before.count(id) || after.count(id))
        continue;
      std::string path = winsim::Upper(id.substr(id[0] == 'k' ? 4 : 6));
      bool named = false;
      for (const std::string& key : unreadable)
        if (path.compare(0, key.size(), key) == 0) named = true;
      if (named) continue;
      auto back = restored.find(id);
      if (back == restored.end() || back->second != before.at(id))
        result.problems.push_back("the registry backup does not restore " + id);
    }
  }
  for (const std::string& problem :
       {Missing(vendor, listed, "the preview misses a vendor item", unseen),
        Missing(listed, vendor, "the preview lists what is not the vendor's"),
        Missing(survivors, left, "the result report calls a survivor removed", unseen),
        Missing(left, survivors, "the result report leaves what the design removes")})
    if (!problem.empty()) result.problems.push_back(problem);
  (void)seed;
  return result;
}

std::string Report(const safety::Machine& machine, const std::vector<std::string>& problems) {
  std::ostringstream text;
  text << machine.Describe() << "\n  replay: CLEANLUM_SEED=" << machine.seed
       << " build/linux/sim_tests --gtest_filter='Safety*'\n";
  size_t shown = 0;
  for (const std::string& problem : problems) {
    if (++shown > 25) {
      text << "  ... " << problems.size() - 25 << " more\n";
      break;
    }
    text << "  " << problem << "\n";
  }
  return text.str();
}

uint64_t EnvironmentNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

// The kinds of vendor items, ways of surviving and dangerous look-alikes that
// a machine holds, counted over many machines.
const char* const kCoverageKinds[] = {
    "in use", "read-only", "dot-named", "past MAX_PATH", "refused", "background process",
    "first process", "older release", "cannot be opened", "before the discovery walk", "walk of", "a key below it stays",
    "registry link", "outside the code page", "name read as a path", "every profile",
    "accepted directory", "no usable directory", "Windows on D", "directory link", "file link", "package victim",
    "driver store refused", "no call to remove", "store package in use", "foreign store package",
    "directory above a folder of the machine"};

void CountCoverage(const safety::Machine& machine, const safety::Outcome& outcome, std::map<std::string, int>& seen) {
  for (const auto& item : outcome.vendor)
    for (const char* kind : kCoverageKinds)
      if (!item.second.empty() && item.second.find(kind) != std::string::npos) ++seen[kind];
  seen[machine.directoryAccepted ? "accepted directory" : "no usable directory"]++;
  if (machine.windowsDirectory[0] == 'D') seen["Windows on D"]++;
  for (const safety::LinkItem& link : machine.links) seen[link.directory ? "directory link" : "file link"]++;
  if (machine.arguments.find("allusers") != std::string::npos) seen["every profile"]++;
  for (const safety::KeyItem& key : machine.keys) {
    if (!key.linkTarget.empty()) seen["registry link"]++;
    for (char c : key.path)
      if (static_cast<unsigned char>(c) >= 0xC4) {
        seen["outside the code page"]++;
        break;
      }
  }
  // A "Directory" at or above a shared folder or another application's.
  for (const safety::ValueItem& value : machine.values)
    if (value.name == "Directory" && !machine.directoryAccepted &&
        (value.data.find("Common Files") != std::string::npos || value.data.find("Public") != std::string::npos ||
         value.data.find("Apps") != std::string::npos))
      seen["directory above a folder of the machine"]++;
  for (const safety::FileItem& file : machine.files) {
    if (file.owner == safety::Owner::Foreign && file.path.find("victim") != std::string::npos) seen["package victim"]++;
    if (file.owner == safety::Owner::Vendor && file.path.size() >= MAX_PATH) seen["past MAX_PATH"]++;
    // A lead byte from 0xC4 on starts a character beyond Latin-1.
    if (file.owner == safety::Owner::Vendor &&
        std::any_of(file.path.begin(), file.path.end(), [](char c) { return static_cast<unsigned char>(c) >= 0xC4; }))
      seen["outside the code page"]++;
    if (file.owner == safety::Owner::Vendor && file.path.find(u8"\uFF0F\uFF0E\uFF0E\uFF0F\uFF0E\uFF0E\uFF0F") != std::string::npos)
      seen["name read as a path"]++;
  }
  for (const safety::PackageItem& package : machine.packages) {
    if (package.owner == safety::Owner::Foreign) seen["foreign store package"]++;
    else if (package.inUse && !package.refuseError && machine.majorVersion >= 5) seen["store package in use"]++;
  }
}

const uint64_t kDefaultSeeds = 500;

// Filled by the property test when it runs the default seeds, so that the
// coverage test need not generate them again.
std::map<std::string, int>& CoverageOfDefaultSeeds() {
  static std::map<std::string, int> seen;
  return seen;
}

class SafetyProperty : public SimTest {};

TEST_F(SafetyProperty, EveryGeneratedMachineLosesTheVendorsItemsAndNothingElse) {
  uint64_t only = EnvironmentNumber("CLEANLUM_SEED", 0);
  uint64_t first = only ? only : 1;
  uint64_t last = only ? only : EnvironmentNumber("CLEANLUM_SEEDS", kDefaultSeeds);
  std::map<std::string, int> seen;
  int failures = 0;
  for (uint64_t seed = first; seed <= last && failures < 5; ++seed) {
    safety::Machine machine = safety::Generate(seed);
    SeedResult result = RunSeed(seed, machine);
    if (seed <= kDefaultSeeds) CountCoverage(machine, result.outcome, seen);
    if (result.problems.empty()) continue;
    ++failures;
    ADD_FAILURE() << Report(machine, result.problems);
  }
  if (first == 1 && last >= kDefaultSeeds && failures == 0) CoverageOfDefaultSeeds() = seen;
}

// The property is only as good as the machines: over the default seeds, each
// way of surviving and each dangerous look-alike must come up several times,
// so that a run that deleted too much or too little of them would be caught.
TEST_F(SafetyProperty, TheSeedsCoverEveryWayOfSurvivingAndEveryTrap) {
  std::map<std::string, int> seen = CoverageOfDefaultSeeds();
  if (seen.empty()) {
    for (uint64_t seed = 1; seed <= kDefaultSeeds; ++seed) {
      safety::Machine machine = safety::Generate(seed);
      safety::Outcome outcome = safety::ExpectedOutcome(machine);
      ASSERT_TRUE(outcome.unexplained.empty()) << "seed " << seed << ": " << outcome.unexplained[0];
      CountCoverage(machine, outcome, seen);
    }
  }
  for (const char* kind : kCoverageKinds) EXPECT_GE(seen[kind], 3) << kind;
}

// A seed names one machine, wherever it is generated: a failing seed is
// replayed exactly, here and in a Wine prefix.
TEST_F(SafetyProperty, ASeedAlwaysNamesTheSameMachine) {
  for (uint64_t seed : {1u, 77u, 4242u}) {
    safety::Machine a = safety::Generate(seed);
    safety::Machine b = safety::Generate(seed);
    ASSERT_EQ(a.Describe(), b.Describe());
    ASSERT_EQ(a.files.size(), b.files.size());
    for (size_t i = 0; i < a.files.size(); ++i) EXPECT_EQ(a.files[i].path, b.files[i].path);
    ASSERT_EQ(a.values.size(), b.values.size());
    for (size_t i = 0; i < a.values.size(); ++i) EXPECT_EQ(a.values[i].data, b.values[i].data);
  }
  EXPECT_NE(safety::Generate(1).Describe(), safety::Generate(2).Describe());
}

// The check itself catches the faults it is there for: a run that deletes a
// look-alike, changes one, leaves a vendor item, or deletes a file the design
// keeps in use is reported, each with the item.
TEST_F(SafetyProperty, TheCheckReportsEveryKindOfFault) {
  // A machine with a file in use that the design keeps, and vendor files that go.
  safety::Machine machine;
  safety::Outcome outcome;
  std::string held;
  for (uint64_t seed = 1; seed < 200 && held.empty(); ++seed) {
    machine = safety::Generate(seed);
    outcome = safety::ExpectedOutcome(machine);
    for (const auto& item : outcome.vendor)
      if (item.second == "in use" && item.first.compare(0, 5, "file ") == 0) held = item.first;
  }
  ASSERT_FALSE(held.empty());
  winsim::ResetMachine();
  Build(machine);
  safety::Snapshot before = Snap();
  M().system.commandLine = "C:\\Tools\\CleanLum.exe " + machine.arguments;
  ASSERT_EQ(0, RunCleanLum(reinterpret_cast<HINSTANCE>(0x400000), machine.arguments.c_str()));
  safety::Snapshot after = Snap();
  ASSERT_EQ(std::vector<std::string>(), safety::CheckRun(machine, outcome, before, after, "C:\\Temp", ReportFolderOf(machine)));

  std::string foreign = safety::FileId("C:\\Data\\Shared\\report.txt");
  std::string tool = safety::FileId("C:\\Tools\\drvmanage.exe");
  ASSERT_TRUE(after.count(foreign) && after.count(tool));

  safety::Snapshot faulty = after;
  faulty.erase(foreign);                       // a look-alike deleted
  faulty[tool] = "0020 [changed]";             // a look-alike changed
  faulty.erase(held);                          // a file in use gone
  faulty[safety::FileId(machine.defaultInstallDirectory + "\\left.txt")] = "0020 [new]";
  std::string vendorGone;
  for (const auto& item : outcome.vendor)
    if (item.second.empty() && before.count(item.first) && item.first.compare(0, 5, "file ") == 0) vendorGone = item.first;
  ASSERT_FALSE(vendorGone.empty());
  faulty[vendorGone] = before.at(vendorGone);  // a vendor item left

  std::vector<std::string> problems = safety::CheckRun(machine, outcome, before, faulty, "C:\\Temp", ReportFolderOf(machine));
  std::string all;
  for (const std::string& problem : problems) all += problem + "\n";
  EXPECT_NE(std::string::npos, all.find("deleted but not the vendor's: " + foreign)) << all;
  EXPECT_NE(std::string::npos, all.find("changed but not the vendor's: " + tool)) << all;
  EXPECT_NE(std::string::npos, all.find("vendor item gone that the design keeps (in use): " + held)) << all;
  EXPECT_NE(std::string::npos, all.find("vendor item left behind: " + vendorGone)) << all;
  EXPECT_NE(std::string::npos, all.find("new item: " + safety::FileId(machine.defaultInstallDirectory + "\\left.txt")))
      << all;
  EXPECT_EQ(5u, problems.size()) << all;
}

}  // namespace
