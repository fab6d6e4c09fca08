// The registry step on the simulated machine: what it asks the registry to
// delete, in which order and around which progress steps, and the whole
// registry byte for byte before and after a run on a fully seeded machine.
#include <algorithm>
#include <string>
#include <vector>

#include "../portable/registry_catalogue_machine.h"
#include "registry/registry.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS};

// A row's key deleted through the handle it was opened with.
std::string RowLine(const ExpectedRow& row, int result) {
  return "ntdeletekey: " + std::string(row.root) + "\\" + row.path + " -> " + std::to_string(result);
}

// Where a row's key lies in the simulation (HKCR is HKLM\SOFTWARE\Classes), upper case.
std::string Placed(const ExpectedRow& row) {
  std::string root = row.root;
  return regtest::Upper(root == "HKCR" ? "HKLM\\SOFTWARE\\Classes\\" + std::string(row.path) : root + "\\" + row.path);
}

std::string ValueLine(const std::string& key, const std::string& name, int result = 0) {
  return "regdeletevalue: HKLM\\" + key + ":" + name + " -> " + std::to_string(result);
}

const char* const kEnvironmentNames[] = {"genicam_root", "lum_genicam_path", "lum_path", "Tarvel", "Parlow"};

// Caption, progress steps and registry deletions, in the order they happened.
std::vector<std::string> RegistryActions() {
  std::vector<std::string> actions;
  for (const std::string& line : winsim::TraceLines()) {
    if (line.compare(0, 6, "step: ") == 0)
      actions.push_back("step");
    else if (line.compare(0, 9, "caption: ") == 0 || line.compare(0, 9, "regdelete") == 0 ||
             line.compare(0, 9, "ntdeletek") == 0)
      actions.push_back(line);
  }
  return actions;
}

// What the step does: the caption, then with rowsPresent (every row's key
// seeded as a key of its own) every row deleted once, in order, a row whose
// key an earlier row took not again, with the steps between the stages;
// `stage7`, `stage9` and `stage11` are the actions expected at those places.
// A row whose key is not there costs no deletion.
std::vector<std::string> ExpectedActions(bool rowsPresent, const std::vector<std::string>& stage7 = {},
                                         const std::vector<std::string>& stage9 = {},
                                         const std::vector<std::string>& stage11 = {}) {
  std::vector<std::string> expected = {"caption: Deleting registry keys", "step"};
  std::vector<std::string> gone;
  for (const ExpectedRow& row : kExpectedRows) {
    bool taken = false;
    for (const std::string& earlier : gone)
      taken = taken || Placed(row) == earlier || Placed(row).compare(0, earlier.size() + 1, earlier + "\\") == 0;
    if (rowsPresent && !taken) expected.push_back(RowLine(row, ERROR_SUCCESS));
    gone.push_back(Placed(row));
    if (row.number == 22 || row.number == 63) expected.push_back("step");
    if (row.number == 80) expected.insert(expected.end(), stage7.begin(), stage7.end());
    if (row.number == 89) expected.insert(expected.end(), stage9.begin(), stage9.end());
    if (row.number == 94) expected.insert(expected.end(), stage11.begin(), stage11.end());
  }
  expected.push_back("step");
  return expected;
}

class RegistryKeysSimTest : public StepTest {
 protected:
  void RunStep() {
    M().trace.clear();  // the seeding is not the step's doing
    DeleteRegistryKeys(context_);
  }

  static std::vector<std::vector<std::string>> DumpAll() {
    std::vector<std::vector<std::string>> dumps;
    for (HKEY root : kRoots) dumps.push_back(winsim::DumpRegistry(root));
    return dumps;
  }
};

TEST_F(RegistryKeysSimTest, MachineWithoutTheVendorsKeysIsLeftAsItWas) {
  winsim::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other Vendor", "Version", "1");
  winsim::SetString(HKEY_LOCAL_MACHINE, kSystemEnvironment, "Path", "C:\\Windows");
  auto before = DumpAll();

  RunStep();

  EXPECT_EQ(before, DumpAll());
  EXPECT_EQ(std::vector<std::string>{"Deleting registry keys"}, winsim::TraceOf("caption: "));
  EXPECT_EQ((std::vector<std::string>{"20", "30", "40", "50"}), winsim::TraceOf("step: "));
  // Every row is asked for once, by its root and its path exactly as written;
  // the environment key is there, its values are not.
  std::vector<std::string> stage9;
  for (const char* name : kEnvironmentNames)
    stage9.push_back(ValueLine(kSystemEnvironment, name, ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ExpectedActions(false, {}, stage9), RegistryActions());
}

TEST_F(RegistryKeysSimTest, DiscoveryAndEnvironmentValuesComeAtTheirPlacesAmongTheRows) {
  for (const ExpectedRow& row : kExpectedRows) winsim::CreateKey(RootOf(row.root), row.path);
  std::string product = std::string(kMachineProducts) + "\\" + regtest::kDiscoveredProduct;
  winsim::SetString(HKEY_LOCAL_MACHINE, product + "\\InstallProperties", "Publisher", "Velmora Imaging");
  for (const char* name : {"genicam_root", "lum_genicam_path", "lum_path", "Tarvel", "Parlow", "Path"})
    winsim::SetString(HKEY_LOCAL_MACHINE, kSystemEnvironment, name, "x");
  for (const char* key : {kControlSet001Environment, kControlSet003Environment})
    winsim::SetString(HKEY_LOCAL_MACHINE, key, "Lum_Path", "x");

  RunStep();

  std::string at = "ntdeletekey: HKLM\\" + product;
  std::vector<std::string> stage7 = {at + " -> 5", at + "\\InstallProperties -> 0", at + " -> 0"};
  std::vector<std::string> stage9;
  for (const char* name : kEnvironmentNames) stage9.push_back(ValueLine(kSystemEnvironment, name));
  std::vector<std::string> stage11 = {ValueLine(kControlSet001Environment, "Lum_Path"),
                                      ValueLine(kControlSet003Environment, "Lum_Path")};
  EXPECT_EQ(ExpectedActions(true, stage7, stage9, stage11), RegistryActions());
  EXPECT_NE(nullptr, winsim::FindValue(HKEY_LOCAL_MACHINE, kSystemEnvironment, "Path"));
}

// The registry after the run is the registry before it, less exactly the
// catalogued subtrees, the discovered vendor product and the named
// environment values; a second run changes nothing more.
TEST_F(RegistryKeysSimTest, SeededMachineLosesExactlyTheVendorsKeysAndValues) {
  regtest::CatalogueMachine machine;
  machine.Build();
  ASSERT_EQ(129u, machine.seededRows.size());
  // Numbered control sets that are separate keys here (on Windows and Wine,
  // CurrentControlSet is a link to one of them).
  winsim::SetString(HKEY_LOCAL_MACHINE, kControlSet001Environment, "Lum_Path", "x");
  winsim::SetString(HKEY_LOCAL_MACHINE, kControlSet001Environment, "Path", "keep");
  std::string controlSet002 = "SYSTEM\\ControlSet002\\Control\\Session Manager\\Environment";
  winsim::SetString(HKEY_LOCAL_MACHINE, controlSet002, "Lum_Path", "keep");
  winsim::MakeFile("C:\\Windows\\Installer\\unrelated.msi", "msi");
  auto before = DumpAll();
  auto filesBefore = winsim::DumpTree("C:\\Windows\\Installer");

  RunStep();

  std::vector<regtest::RegistryKey> removed;
  for (const ExpectedRow& row : kExpectedRows) removed.push_back({RootOf(row.root), row.path});
  removed.push_back({HKEY_LOCAL_MACHINE, std::string(kMachineProducts) + "\\" + regtest::kDiscoveredProduct});
  struct RemovedValue {
    std::string key;
    std::string name;
  };
  std::vector<RemovedValue> removedValues = {{kControlSet001Environment, "LUM_PATH"},
                                             {kControlSet003Environment, "LUM_PATH"}};
  for (const char* name : regtest::kEnvironmentNamesRemoved)
    removedValues.push_back({kSystemEnvironment, regtest::Upper(name)});

  for (size_t r = 0; r < 3; ++r) {
    std::vector<std::string> expected;
    for (const std::string& line : before[r]) {
      size_t valueMark = line.find("\\:");
      std::string key = valueMark == std::string::npos ? line : line.substr(0, valueMark);
      bool gone = false;
      for (const regtest::RegistryKey& k : removed) gone = gone || regtest::IsAtOrBelow({kRoots[r], key}, k);
      if (valueMark != std::string::npos && kRoots[r] == HKEY_LOCAL_MACHINE) {
        std::string name = line.substr(valueMark + 2, line.find('=', valueMark) - valueMark - 2);
        for (const RemovedValue& v : removedValues)
          gone = gone || (regtest::Upper(key) == regtest::Upper(v.key) && regtest::Upper(name) == v.name);
      }
      if (!gone) expected.push_back(line);
    }
    EXPECT_EQ(expected, winsim::DumpRegistry(kRoots[r])) << "root " << r;
  }

  std::vector<std::string> filesExpected;
  for (const std::string& line : filesBefore) {
    bool gone = false;
    for (const std::string& file : machine.removedPackages) {
      std::string name = file.substr(file.rfind('\\') + 1) + " ";
      gone = gone || line.compare(0, name.size(), name) == 0;
    }
    if (!gone) filesExpected.push_back(line);
  }
  EXPECT_EQ(filesBefore.size() - machine.removedPackages.size(), filesExpected.size());
  EXPECT_EQ(filesExpected, winsim::DumpTree("C:\\Windows\\Installer"));

  auto afterFirstRun = DumpAll();
  RunStep();
  EXPECT_EQ(afterFirstRun, DumpAll());
}

TEST_F(RegistryKeysSimTest, KeyThatCannotBeFullyDeletedStaysInPartAndLaterRowsStillGo) {
  winsim::CreateKey(HKEY_CURRENT_USER, "Software\\Velmora\\Locked").refuseDelete = true;
  winsim::CreateKey(HKEY_CURRENT_USER, "Software\\Velmora\\Free");
  winsim::CreateKey(HKEY_CURRENT_USER, "Software\\Velmora Imaging\\Settings");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, kExpectedRows[128].path);

  RunStep();

  EXPECT_TRUE(winsim::KeyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Locked"));
  EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Free"));
  EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, "Software\\Velmora Imaging"));
  EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, kExpectedRows[128].path));
  EXPECT_EQ(4u, winsim::TraceOf("step: ").size());
}

TEST_F(RegistryKeysSimTest, WholeRunDeletesTheCatalogueBetweenItsCaptionAndTheLogLine) {
  EXPECT_EQ(0, RunProgram("silent noreboot"));

  std::vector<std::string> actions = RegistryActions();
  auto first = std::find(actions.begin(), actions.end(), "caption: Deleting registry keys");
  ASSERT_NE(actions.end(), first);
  std::vector<std::string> expected = ExpectedActions(false);
  ASSERT_GE(static_cast<size_t>(actions.end() - first), expected.size());
  EXPECT_EQ(expected, std::vector<std::string>(first, first + expected.size()));
  EXPECT_EQ(1, std::count(actions.begin(), actions.end(), "caption: Deleting registry keys"));
  // After the shortcuts and the install directory, right before the libraries.
  auto shortcuts = std::find(actions.begin(), actions.end(), "caption: Deleting the Velmora Imaging shortcuts");
  EXPECT_TRUE(shortcuts < first);
  auto next = std::find_if(first + 1, actions.end(),
                           [](const std::string& a) { return a.compare(0, 9, "caption: ") == 0; });
  ASSERT_NE(actions.end(), next);
  EXPECT_EQ("caption: Deleting the Velmora Imaging dlls", *next);
  EXPECT_EQ(expected.size(), static_cast<size_t>(next - first));
  EXPECT_NE(std::string::npos, Log().find("Deleted Lum Directory \r\nDeleted Lum Registry Keys \r\n"));
}

}  // namespace
