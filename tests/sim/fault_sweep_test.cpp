// The sweep: every call of a managed run that changes the machine (deletes,
// registry deletes and sets, process starts and terminations, service calls,
// the driver package's removal) fails in turn with the error Windows would
// plausibly give, and the program is ended there in turn. On the sample
// installation and a sample of generated machines:
//
// - a run with one failed call ends; nothing outside the vendor's items
//   changes; it exits 1603 when anything of the vendor's stays that an
//   undisturbed run removes (or a vendor tool failed), else as that run did;
//   and its result report, valid against the schema, names what stayed and
//   the injected error;
// - a run ended at that call leaves its registry backup complete on disk,
//   and a second run brings the machine to the state an undisturbed run
//   leaves.
//
// The machines and call positions are a fixed, deterministic sample (every
// call of the sample installation, every few calls of the generated
// machines): CLEANLUM_SWEEP_STRIDE=1 tries every call of the generated
// machines too, CLEANLUM_SWEEP_SEEDS=<n> more machines.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "main/main_sequence.h"
#include "report_schema.h"
#include "safety_sim.h"
#include "sim_fixture.h"
#include "sim_sample.h"

using winsim::M;

namespace {

const char kArguments[] = "managed";

struct Machine {
  std::string name;
  std::function<void()> build;           // on a freshly reset machine
  std::function<bool(const std::string&)> isVendor;  // an id of the state that is the vendor's
  std::string reportFolder;
  std::string tempFolder;
};

struct RunOutcome {
  int exitCode = -1;
  bool ended = false;  // the program was ended at the chosen call
  safety::Snapshot after;
  nlohmann::json report;
  std::string backup;  // the registry backup's content, as on disk
};

std::string NewestFile(const std::string& folder, const std::string& prefix, const std::string& suffix) {
  std::string newest;
  for (const std::string& line : winsim::DumpTree(folder)) {
    std::string name = line.substr(0, line.find(' '));
    if (name.compare(0, prefix.size(), prefix) == 0 && name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 && name.find('\\') == std::string::npos)
      newest = name;  // the listing is in name order
  }
  return newest.empty() ? "" : folder + "\\" + newest;
}

// Runs the program once on the machine as it is, with the faults set.
RunOutcome RunOnce(const Machine& machine) {
  RunOutcome run;
  M().system.commandLine = M().eventLog.programPath + " " + kArguments;
  try {
    run.exitCode = RunCleanLum(reinterpret_cast<HINSTANCE>(0x400000), kArguments);
  } catch (const winsim::ProcessEnded&) {
    run.ended = true;
  }
  run.after = Snap();
  std::string report = NewestFile(machine.reportFolder, "CleanLum-result-", ".json");
  run.report = nlohmann::json::parse(winsim::ReadFileText(report), nullptr, false);
  std::string backup = NewestFile(machine.reportFolder, "CleanLum-registry-backup-", ".reg");
  run.backup = backup.empty() ? "" : winsim::ReadFileText(backup);
  return run;
}

// What the run itself leaves: its reports, logs, marker and event source.
bool IsRunsOwn(const Machine& machine, const std::string& id) {
  const std::string folder = safety::FileId(machine.reportFolder);
  if (id.compare(0, 5, "file ") == 0 && (folder.compare(0, id.size(), id) == 0 || id.compare(0, folder.size(), folder) == 0))
    return true;
  if (id == safety::FileId(machine.tempFolder + "\\LUMInstall.log")) return true;
  for (const char* key : {"HKLM\\SOFTWARE\\CLEANLUM", "HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG",
                          "HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE"}) {
    std::string k = key;
    for (const std::string& prefix : {"key " + k, "value " + k})
      if (id.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

// A key made only as the parent of one of the run's own keys (on a machine
// without a Services key, the event source's key brings it).
bool IsParentMade(const std::string& id, const safety::Snapshot& before) {
  if (id.compare(0, 4, "key ") != 0 || before.count(id)) return false;
  for (const char* own : {"key HKLM\\SOFTWARE\\CLEANLUM", "key HKLM\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\EVENTLOG",
                          "key HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\RUNONCE"}) {
    std::string key = own;
    if (key.compare(0, id.size(), id) == 0 && key.size() > id.size() && key[id.size()] == '\\') return true;
  }
  return false;
}

// Processes by image and their number: which slot of the process list a
// process took depends on how many children ran before, and which of several
// of one name a run ends first on the order the list gives.
safety::Snapshot ByImage(const safety::Snapshot& state) {
  safety::Snapshot out;
  std::map<std::string, int> seen;
  for (const auto& item : state) {
    if (item.first.compare(0, 8, "process ") != 0) {
      out.insert(item);
      continue;
    }
    std::string image = winsim::Upper(item.first.substr(item.first.find(' ', 8) + 1));
    out["process " + image + " #" + std::to_string(++seen[image])] = "running";
  }
  return out;
}

// The ids whose state differs between two snapshots.
std::set<std::string> Changed(const safety::Snapshot& a, const safety::Snapshot& b) {
  std::set<std::string> changed;
  for (const auto& item : a) {
    auto other = b.find(item.first);
    if (other == b.end() || other->second != item.second) changed.insert(item.first);
  }
  for (const auto& item : b)
    if (!a.count(item.first)) changed.insert(item.first);
  return changed;
}

// What a report leaves, one line each.
std::string Left(const nlohmann::json& report) {
  std::string text;
  for (const auto& item : report["items"])
    if (item["status"] != "removed")
      text += "  " + item["status"].get<std::string>() + " " + item["path"].get<std::string>() + ": " +
              item.value("reason", "") + "\n";
  for (const auto& command : report["commands"])
    if (command["failed"] == true) text += "  failed: " + command["outcome"].get<std::string>() + "\n";
  return text;
}

class FaultSweep : public ::testing::Test {
 protected:
  void Prepare(const Machine& machine) {
    winsim::ResetMachine();
    machine.build();
  }

  // The machine as an undisturbed run leaves it, and how many changes it makes.
  void Reference(const Machine& machine) {
    Prepare(machine);
    before_ = Snap();
    M().faults.counting = true;
    reference_ = RunOnce(machine);
    changes_ = M().faults.changes;
    ASSERT_FALSE(reference_.ended);
    ASSERT_TRUE(reference_.exitCode == 3010 || reference_.exitCode == 1603) << reference_.exitCode;
    ASSERT_FALSE(reference_.report.is_discarded());
    ASSERT_EQ(std::vector<std::string>(), CheckReportSchema(reference_.report));
    ASSERT_FALSE(changes_.empty());
  }

  // One run where exactly call n fails.
  void FailAt(const Machine& machine, size_t n, std::vector<std::string>& problems) {
    Prepare(machine);
    M().faults.counting = true;
    M().faults.failAt = n;
    RunOutcome run = RunOnce(machine);
    std::string at = machine.name + ", call " + std::to_string(n) + " (" + changes_[n - 1] + ") failing";
    DWORD error = M().faults.hitError;
    if (run.ended || error == 0) {
      problems.push_back(at + ": the run did not end by itself");
      return;
    }
    // Nothing outside the vendor's items changes.
    std::set<std::string> stayed;
    for (const std::string& id : Changed(before_, run.after)) {
      if (IsRunsOwn(machine, id) || IsParentMade(id, before_)) continue;
      if (!machine.isVendor(id)) problems.push_back(at + ": changed, not the vendor's: " + id);
    }
    // What stays of the vendor's that the undisturbed run removes.
    for (const std::string& id : Changed(reference_.after, run.after))
      if (!IsRunsOwn(machine, id) && machine.isVendor(id) && run.after.count(id)) stayed.insert(id);
    if (run.report.is_discarded()) {
      problems.push_back(at + ": no result report");
      return;
    }
    std::vector<std::string> schema = CheckReportSchema(run.report);
    if (!schema.empty()) problems.push_back(at + ": the report breaks the schema: " + schema.front());
    bool toolFailed = false;
    for (const auto& command : run.report["commands"]) toolFailed = toolFailed || command["failed"] == true;
    // Stays as the run reports it: remaining (or unreadable) needs the administrator, pending restart goes at the next logon.
    std::set<std::string> reportedLeft, reportedPending;
    std::string named;
    const std::string code = "Win32 error " + std::to_string(error);
    for (const auto& item : run.report["items"]) {
      std::string status = item["status"];
      if (status == "removed" || status == "keptByDesign") continue;
      std::string reason = item.value("reason", "");
      if (reason.find(code) != std::string::npos) named = item["path"];
      std::set<std::string>& into = status == "pendingRestart" ? reportedPending : reportedLeft;
      for (const std::string& id : IdsOf(item["kind"], item["path"].get<std::string>(), item.value("value", ""), run.after))
        into.insert(id);
      for (const auto& evidence : item.value("evidence", nlohmann::json::array()))
        for (const std::string& id : IdsOf(evidence["kind"], evidence["path"].get<std::string>(), "", run.after)) into.insert(id);
    }
    for (const auto& command : run.report["commands"])
      if (command["startError"] == error && command["failed"] == true) named = command["commandLine"];
    bool left = false;
    for (const std::string& id : stayed) {
      if (reportedLeft.count(id)) {
        left = true;
      } else if (!reportedPending.count(id)) {
        problems.push_back(at + ": stays, and the report calls it removed: " + id);
      }
    }
    if (left || toolFailed) {
      if (run.exitCode != 1603) problems.push_back(at + ": something stays, exit code " + std::to_string(run.exitCode));
      if (named.empty()) problems.push_back(at + ": the report names nothing with " + code + ":\n" + Left(run.report));
    } else if (run.exitCode != reference_.exitCode) {
      problems.push_back(at + ": nothing stays, yet exit code " + std::to_string(run.exitCode) + " (undisturbed: " +
                         std::to_string(reference_.exitCode) + ")");
    }
  }

  // A run ended at call n, then a second run.
  void EndAt(const Machine& machine, size_t n, std::vector<std::string>& problems) {
    Prepare(machine);
    M().faults.counting = true;
    M().faults.endAt = n;
    RunOutcome first = RunOnce(machine);
    std::string at = machine.name + ", ended at call " + std::to_string(n) + " (" + changes_[n - 1] + ")";
    if (!first.ended) {
      problems.push_back(at + ": the program was not ended there");
      return;
    }
    // The backup was on disk, whole, before the first change.
    if (first.backup != reference_.backup) problems.push_back(at + ": the registry backup on disk is not whole");
    winsim::StartNewProcess();
    M().faults = winsim::FaultState();
    RunOutcome second = RunOnce(machine);
    if (second.ended || (second.exitCode != 0 && second.exitCode != 3010 && second.exitCode != reference_.exitCode))
      problems.push_back(at + ": the second run exits " + std::to_string(second.exitCode));
    // As an undisturbed run leaves it; or further along: a vendor's item
    // that the undisturbed run left (a second process of a name, of which a
    // run ends the first found) may be gone after two runs.
    const safety::Snapshot second_after = ByImage(second.after), reference_after = ByImage(reference_.after);
    std::set<std::string> vendorImages;
    for (const auto& item : before_)
      if (item.first.compare(0, 8, "process ") == 0 && machine.isVendor(item.first))
        vendorImages.insert(winsim::Upper(item.first.substr(item.first.find(' ', 8) + 1)));
    auto isVendor = [&](const std::string& id) {
      if (id.compare(0, 8, "process ") != 0) return machine.isVendor(id);
      return vendorImages.count(id.substr(8, id.rfind(" #") - 8)) != 0;
    };
    for (const std::string& id : Changed(reference_after, second_after)) {
      if (IsRunsOwn(machine, id)) continue;
      if (!second_after.count(id) && isVendor(id)) continue;
      problems.push_back(at + ": after a second run not as an undisturbed run leaves it: " + id + " (" +
                         (second_after.count(id) ? second_after.at(id) : "gone") + " / " +
                         (reference_after.count(id) ? reference_after.at(id) : "gone") + ")");
    }
  }

  // Every stride-th call (and the last), starting at a machine's own offset.
  void Sweep(const Machine& machine, size_t stride, std::vector<std::string>& problems) {
    Reference(machine);
    if (HasFatalFailure()) return;
    for (size_t n = 1 + (stride > 1 ? before_.size() % stride : 0); n <= changes_.size(); n += stride) {
      FailAt(machine, n, problems);
      EndAt(machine, n, problems);
    }
  }

  safety::Snapshot before_;
  RunOutcome reference_;
  std::vector<std::string> changes_;
};

std::string Report(const std::vector<std::string>& problems) {
  std::ostringstream text;
  size_t shown = 0;
  for (const std::string& problem : problems) {
    if (++shown > 30) {
      text << "  ... " << problems.size() - 30 << " more\n";
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

TEST_F(FaultSweep, TheSampleInstallationWithEachCallFailingOrEndingTheProgram) {
  SimSample sample;
  Machine machine;
  machine.name = "sample";
  machine.build = [&sample] { sample = InstallSimSample(); };
  machine.isVendor = [&sample](const std::string& id) { return sample.IsVendor(id); };
  machine.reportFolder = "C:\\Windows\\Logs\\CleanLum";
  machine.tempFolder = "C:\\Temp";
  std::vector<std::string> problems;
  Sweep(machine, 1, problems);
  EXPECT_EQ(3010, reference_.exitCode) << Left(reference_.report) << reference_.report["commands"].dump(1);
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems:\n" << Report(problems);
}

TEST_F(FaultSweep, GeneratedMachinesWithEachCallFailingOrEndingTheProgram) {
  const uint64_t seeds = EnvironmentNumber("CLEANLUM_SWEEP_SEEDS", 6);
  const size_t stride = static_cast<size_t>(EnvironmentNumber("CLEANLUM_SWEEP_STRIDE", 7));
  // A managed run cleans every user's profile: a machine whose second user's
  // keys are another's (generated for a run without "allusers") is passed over.
  auto everyProfileIsTheRuns = [](const safety::Machine& machine) {
    if (machine.arguments.find("allusers") != std::string::npos) return true;
    for (const safety::KeyItem& key : machine.keys)
      if (key.hive == safety::Hive::Users) return false;
    return true;
  };
  uint64_t seed = 17;
  for (uint64_t i = 0; i < seeds; ++i, seed += 83) {
    // Spread over the seeds the safety property runs, the same ones every time.
    safety::Machine generated = safety::Generate(seed);
    while (!everyProfileIsTheRuns(generated)) generated = safety::Generate(seed += 83);
    generated.arguments = kArguments;
    safety::Outcome outcome = safety::ExpectedOutcome(generated);
    Machine machine;
    machine.name = "seed " + std::to_string(seed);
    machine.build = [&generated] {
      Build(generated);
      InstallVendorMonitor();
    };
    machine.isVendor = [&outcome](const std::string& id) { return outcome.IsVendor(id); };
    machine.reportFolder = generated.windowsDirectory + "\\Logs\\CleanLum";
    machine.tempFolder = "C:\\Temp";
    std::vector<std::string> problems;
    Sweep(machine, stride, problems);
    EXPECT_TRUE(problems.empty()) << machine.name << " (" << generated.Describe() << "), " << problems.size()
                                  << " problems:\n" << Report(problems);
  }
}

}  // namespace
