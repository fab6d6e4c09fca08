// The vendor's INF packages in the Windows INF directory: what goes, what
// stays, and what is never even opened.
#include <windows.h>

#include <algorithm>
#include <tuple>
#include <set>

#include "drivers/drivers.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kInfDirectory[] = "C:\\Windows\\inf";

std::string Inf(const std::string& strings, const std::string& extra = "") {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%Mfg%\r\n" + extra +
         "[Strings]\r\n" + strings;
}
const std::string kVendorInf = Inf("Mfg = \"Velmorex Ltd.- Imaging\"\r\n");
const std::string kOtherInf = Inf("Mfg = \"Contoso Cameras\"\r\n");

class InfDirectoryTest : public SimTest {
 protected:
  void Put(const std::string& name, const std::string& content) {
    winsim::MakeFile(std::string(kInfDirectory) + "\\" + name, content);
  }
  std::vector<std::string> Left() { return winsim::DumpTree(kInfDirectory); }
  std::vector<std::string> Opened() { return winsim::TraceOf("inf-open: "); }
};

TEST_F(InfDirectoryTest, FullRunRemovesTheVendorPackageAndKeepsTheRest) {
  Put("oem3.inf", kOtherInf);
  Put("oem3.PNF", "pnf");
  Put("oem12.inf", kVendorInf);
  Put("oem12.PNF", "pnf");
  Put("machine.inf", kVendorInf);  // not an OEM copy: never looked at

  EXPECT_EQ(0, RunProgram("silent noreboot"));

  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem12.inf"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem12.PNF"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem3.inf"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem3.PNF"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\machine.inf"));
  // The run's inventory reads them too: only the OEM copies are ever opened.
  std::vector<std::string> opened = Opened();
  EXPECT_EQ((std::set<std::string>{"C:\\Windows\\inf\\oem12.inf", "C:\\Windows\\inf\\oem3.inf"}),
            std::set<std::string>(opened.begin(), opened.end()));
}

TEST_F(InfDirectoryTest, OnlyNamesMatchingThePatternAreOpened) {
  for (const char* name : {"oem1.txt", "xoem2.inf", "oem3.inf.bak", "vendor.inf", "oem4"})
    Put(name, kVendorInf);
  winsim::MakeDirectory(std::string(kInfDirectory) + "\\oem5.inf");  // a folder, not a file

  DeleteVendorInfs(kInfDirectory, "oem*.inf");

  EXPECT_TRUE(Opened().empty());
  EXPECT_EQ(6u, Left().size());
}

// The search also yields names whose 8.3 alias matches: oem1.infx (OEM1~1.INF)
// is the vendor's own file, but oem1.PNF belongs to oem1.inf, which is not.
TEST_F(InfDirectoryTest, NameMatchedThroughItsShortAliasDoesNotCostAnotherInfItsCompanion) {
  Put("oem1.inf", kOtherInf);
  Put("oem1.PNF", "pnf");
  Put("oem1.infx", kVendorInf);
  winsim::FindNode("C:\\Windows\\inf\\oem1.infx")->shortName = "OEM1~1.INF";

  DeleteVendorInfs(kInfDirectory, "oem*.inf");

  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem1.infx"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem1.inf"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem1.PNF"));
}

TEST_F(InfDirectoryTest, CompanionGoesEvenWhenTheInfItselfCannotBeDeleted) {
  Put("oem7.inf", kVendorInf);
  Put("oem7.PNF", "pnf");
  winsim::FindNode("C:\\Windows\\inf\\oem7.inf")->inUse = true;
  Put("oem8.inf", kVendorInf);

  DeleteVendorInfs(kInfDirectory, "oem*.inf");

  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem7.inf"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem7.PNF"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem8.inf"));  // the scan went on
}

// A path of 260 characters or more is passed over rather than cut short.
TEST_F(InfDirectoryTest, PathsThatDoNotFitAreNeverCutShort) {
  std::string folder = "C:\\" + std::string(240, 'd');  // 243 characters
  winsim::MakeFile(folder + "\\oem1.inf", kVendorInf);              // 252: fits
  winsim::MakeFile(folder + "\\oem1.PNF", "pnf");
  winsim::MakeFile(folder + "\\oem1234567890123.inf", kVendorInf);  // 264: does not fit
  winsim::MakeFile(folder + "\\oem1234567890123.PNF", "pnf");

  DeleteVendorInfs(folder.c_str(), "oem*.inf");

  EXPECT_EQ((std::vector<std::string>{"oem1234567890123.PNF 0020 3",
                                      "oem1234567890123.inf 0020 " + std::to_string(kVendorInf.size())}),
            winsim::DumpTree(folder));
  EXPECT_EQ(std::vector<std::string>{folder + "\\oem1.inf"}, Opened());

  std::string tooDeep = "C:\\" + std::string(252, 'e');  // the search itself would not fit
  winsim::MakeFile(tooDeep + "\\oem1.inf", kVendorInf);
  DeleteVendorInfs(tooDeep.c_str(), "oem*.inf");
  EXPECT_TRUE(winsim::PathExists(tooDeep + "\\oem1.inf"));
}

// Only a whole line of the "Strings" section counts, as the parser returns it.
TEST_F(InfDirectoryTest, StringsLineLongerThanTheBufferIsSkippedAndTheNextOneRead) {
  std::string longLine = "Padding = \"Velmorex Ltd.- Imaging" + std::string(1100, ' ') + "x\"\r\n";
  winsim::MakeFile("C:\\Test\\long.inf", Inf(longLine));
  winsim::MakeFile("C:\\Test\\longthenvendor.inf", Inf(longLine + "Mfg = Velmorex Ltd.- Imaging\r\n"));

  EXPECT_FALSE(IsVendorInf("C:\\Test\\long.inf"));
  EXPECT_TRUE(IsVendorInf("C:\\Test\\longthenvendor.inf"));
}

TEST_F(InfDirectoryTest, ProviderTextReachedThroughSubstitutionCounts) {
  winsim::MakeFile("C:\\Test\\a.inf",
                   Inf("Company = \"Velmorex Ltd.- Imaging\"\r\nMfg = %Company%\r\n"));
  winsim::MakeFile("C:\\Test\\b.inf", Inf("Mfg = \"%Company%\"\r\n"));  // nothing to substitute
  EXPECT_TRUE(IsVendorInf("C:\\Test\\a.inf"));
  EXPECT_FALSE(IsVendorInf("C:\\Test\\b.inf"));
  EXPECT_FALSE(IsVendorInf("C:\\Test\\missing.inf"));
  EXPECT_FALSE(IsVendorInf(nullptr));
}

// ---- The driver store ------------------------------------------------------------

const char kStore[] = "C:\\Windows\\system32\\DriverStore\\FileRepository";

// Each package's outcome as "name removal error left", in the order they come.
void Collect(const VendorInfOutcome& outcome, void* context) {
  static const char* const kRemoval[] = {"store", "files-after-refusal", "files-only"};
  static_cast<std::vector<std::string>*>(context)->push_back(
      std::string(outcome.inf.publishedName) + " " + kRemoval[static_cast<int>(outcome.removal)] + " " +
      std::to_string(outcome.error) + (outcome.infLeft ? " left" : " gone"));
}

class DriverStoreTest : public InfDirectoryTest {
 protected:
  std::vector<std::string> RemoveAndCollect(const char* directory = kInfDirectory) {
    std::vector<std::string> outcomes;
    DeleteVendorInfs(directory, "oem*.inf", Collect, &outcomes);
    return outcomes;
  }
  std::vector<std::string> Calls() { return winsim::TraceOf("uninstall-oem-inf: "); }
  std::vector<std::string> Store() { return winsim::DumpTree(kStore); }
};

TEST_F(DriverStoreTest, FullRunRemovesTheVendorPackagesFromTheStoreAndLeavesTheOthers) {
  winsim::DriverPackage& board = winsim::AddDriverPackage("oem12.inf", "Parlow-CL.inf", kVendorInf);
  winsim::DriverPackage& dma = winsim::AddDriverPackage("OEM13.INF", "vlxdma.inf", kVendorInf);
  dma.inUse = true;  // the board tool uninstalled the devices; Windows still counts the package in use
  winsim::DriverPackage& other = winsim::AddDriverPackage("oem3.inf", "contoso.inf", kOtherInf);
  other.inUse = true;
  // The provider text in the wrong place, and an INF outside the pattern.
  const std::string lookAlike = Inf("Mfg = \"Velmorex Ltd.- Imaging Plus\"\r\n");
  winsim::AddDriverPackage("oem4.inf", "lookalike.inf", lookAlike);
  winsim::AddDriverPackage("machine.inf", "machine.inf", kVendorInf);
  std::vector<std::string> otherStore = winsim::DumpTree(other.storeFolder);

  EXPECT_EQ(0, RunProgram("silent noreboot"));

  EXPECT_EQ((std::vector<std::string>{"oem12.inf 1 -> 0", "OEM13.INF 1 -> 0"}), Calls());
  for (const winsim::DriverPackage* gone : {&board, &dma}) {
    EXPECT_FALSE(winsim::PathExists(gone->storeFolder)) << gone->publishedName;
    EXPECT_TRUE(gone->removed);
  }
  EXPECT_EQ((std::vector<std::string>{"machine.PNF 0020 3", "machine.inf 0020 " + std::to_string(kVendorInf.size()),
                                      "oem3.PNF 0020 3", "oem3.inf 0020 " + std::to_string(kOtherInf.size()),
                                      "oem4.PNF 0020 3", "oem4.inf 0020 " + std::to_string(lookAlike.size())}),
            Left());
  EXPECT_EQ(otherStore, winsim::DumpTree(other.storeFolder));
  std::vector<std::string> store = Store();
  // The folders of the three packages that are not the vendor's, nothing else.
  EXPECT_EQ(3, std::count_if(store.begin(), store.end(),
                             [](const std::string& entry) { return entry.find('\\') == std::string::npos; }));
  EXPECT_NE(std::string::npos, Log().find("Deleted Lum Dlls \r\nDeleted inf files \r\n"));
}

// A refusal, or a vendor INF that no package publishes, goes as files; the
// refused package's store copy stays, as Windows kept it.
TEST_F(DriverStoreTest, RefusalFallsBackToDeletingTheFiles) {
  winsim::DriverPackage& refused = winsim::AddDriverPackage("oem20.inf", "Tarvel-X4.inf", kVendorInf);
  refused.refuseError = ERROR_ACCESS_DENIED;
  Put("oem21.inf", kVendorInf);  // copied by hand: no package behind it
  Put("oem21.PNF", "pnf");
  winsim::AddDriverPackage("oem22.inf", "Druvan.inf", kVendorInf);

  std::vector<std::string> outcomes = RemoveAndCollect();

  const std::string notPublished = std::to_string(ERROR_NOT_AN_INSTALLED_OEM_INF);
  EXPECT_EQ((std::vector<std::string>{"oem20.inf files-after-refusal 5 gone",
                                      "oem21.inf files-after-refusal " + notPublished + " gone",
                                      "oem22.inf store 0 gone"}),
            outcomes);
  EXPECT_TRUE(Left().empty());
  EXPECT_TRUE(winsim::PathExists(refused.storeFolder));
  EXPECT_FALSE(refused.removed);
}

// Before Windows XP (or wherever the entry point is missing) the run does
// what it always did: the files go, the call is never made.
TEST_F(DriverStoreTest, WithoutTheEntryPointOnlyTheFilesGo) {
  for (auto version : {std::make_tuple(4u, 0u, false), std::make_tuple(5u, 0u, false), std::make_tuple(6u, 2u, true)}) {
    winsim::ResetMachine();
    winsim::M().system.majorVersion = std::get<0>(version);
    winsim::M().system.minorVersion = std::get<1>(version);
    winsim::M().driverStore.uninstallEntryMissing = std::get<2>(version);
    winsim::DriverPackage& package = winsim::AddDriverPackage("oem12.inf", "Parlow-CL.inf", kVendorInf);
    Put("oem3.inf", kOtherInf);

    EXPECT_EQ((std::vector<std::string>{"oem12.inf files-only " + std::to_string(ERROR_PROC_NOT_FOUND) + " gone"}),
              RemoveAndCollect());
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(std::vector<std::string>{"oem3.inf 0020 " + std::to_string(kOtherInf.size())}, Left());
    EXPECT_TRUE(winsim::PathExists(package.storeFolder));
  }
  winsim::M().system.minorVersion = 1;  // Windows XP has the call
  winsim::M().driverStore.uninstallEntryMissing = false;
  HMODULE setupapi = GetModuleHandleA("SETUPAPI");
  EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(setupapi, "SetupUninstallOEMInfA")));
  winsim::M().system.majorVersion = 5;
  winsim::M().system.minorVersion = 0;
  EXPECT_EQ(nullptr, reinterpret_cast<void*>(GetProcAddress(setupapi, "SetupUninstallOEMInfA")));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
}

// The call takes a bare name and acts on the Windows INF directory: a vendor
// INF anywhere else, or found through its 8.3 alias, is never named to it,
// even when the store publishes a package of that name.
TEST_F(DriverStoreTest, CallIsOnlyMadeForPublishedNamesOfTheWindowsInfDirectory) {
  winsim::DriverPackage& foreign = winsim::AddDriverPackage("oem12.inf", "contoso.inf", kOtherInf);
  winsim::MakeFile("C:\\Test\\oem12.inf", kVendorInf);
  Put("oem1.infx", kVendorInf);
  winsim::FindNode("C:\\Windows\\inf\\oem1.infx")->shortName = "OEM1~1.INF";
  Put("oem1.inf", kOtherInf);

  EXPECT_EQ(std::vector<std::string>{"oem12.inf files-only 0 gone"}, RemoveAndCollect("C:\\Test"));
  EXPECT_EQ(std::vector<std::string>{"oem1.infx files-only 0 gone"}, RemoveAndCollect());
  // The Windows INF directory spelt in other capitals is the same directory.
  winsim::AddDriverPackage("oem30.inf", "Parlow-CL.inf", kVendorInf);
  EXPECT_EQ(std::vector<std::string>{"oem30.inf store 0 gone"}, RemoveAndCollect("c:\\WINDOWS\\INF"));

  EXPECT_EQ(std::vector<std::string>{"oem30.inf 1 -> 0"}, Calls());
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem12.inf"));
  EXPECT_TRUE(winsim::PathExists(foreign.storeFolder));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem1.inf"));
}

// The walk that the inventory shares lists exactly what the clean-up removes,
// and changes nothing itself.
TEST_F(DriverStoreTest, WalkListsWhatTheCleanUpRemovesAndChangesNothing) {
  winsim::AddDriverPackage("oem12.inf", "Parlow-CL.inf", kVendorInf);
  winsim::AddDriverPackage("oem3.inf", "contoso.inf", kOtherInf);
  Put("oem1.infx", kVendorInf);
  winsim::FindNode("C:\\Windows\\inf\\oem1.infx")->shortName = "OEM1~1.INF";
  Put("OEM7.INF", kVendorInf);
  std::vector<std::string> before = Left();

  std::vector<std::string> walked;
  ForEachVendorInf(
      kInfDirectory, "oem*.inf",
      [](const VendorInf& inf, void* context) {
        static_cast<std::vector<std::string>*>(context)->push_back(std::string(inf.publishedName) + " " +
                                                                   inf.infPath + " [" + inf.companionPath + "]");
      },
      &walked);

  EXPECT_EQ(before, Left());
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ((std::vector<std::string>{"oem1.infx C:\\Windows\\inf\\oem1.infx []",
                                      "oem12.inf C:\\Windows\\inf\\oem12.inf [C:\\Windows\\inf\\oem12.PNF]",
                                      "OEM7.INF C:\\Windows\\inf\\OEM7.INF [C:\\Windows\\inf\\OEM7.PNF]"}),
            walked);
  std::vector<std::string> removed;
  for (const std::string& outcome : RemoveAndCollect()) removed.push_back(outcome.substr(0, outcome.find(' ')));
  EXPECT_EQ((std::vector<std::string>{"oem1.infx", "oem12.inf", "OEM7.INF"}), removed);
}

// The simulated call itself, as Microsoft documents it.
TEST_F(DriverStoreTest, SimulatedCallRefusesAsWindowsDoes) {
  winsim::DriverPackage& inUse = winsim::AddDriverPackage("oem5.inf", "Tarvel-X4.inf", kVendorInf);
  inUse.inUse = true;

  EXPECT_FALSE(SetupUninstallOEMInfA("oem5.inf", 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INF_IN_USE_BY_DEVICES), GetLastError());
  EXPECT_FALSE(SetupUninstallOEMInfA("C:\\Windows\\inf\\oem5.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(SetupUninstallOEMInfA(nullptr, SUOI_FORCEDELETE, nullptr));
  winsim::M().system.isAdmin = false;
  EXPECT_FALSE(SetupUninstallOEMInfA("oem5.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
  winsim::M().system.isAdmin = true;
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem5.PNF"));

  EXPECT_TRUE(SetupUninstallOEMInfA("OEM5.INF", SUOI_FORCEDELETE, nullptr));
  EXPECT_TRUE(Left().empty());
  EXPECT_TRUE(Store().empty());
  EXPECT_FALSE(SetupUninstallOEMInfA("oem5.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_AN_INSTALLED_OEM_INF), GetLastError());
}

}  // namespace
