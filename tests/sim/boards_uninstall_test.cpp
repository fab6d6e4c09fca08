// Board uninstall on the simulated machine: which board keys are taken up, in
// which order, with which command lines, what the run log says about them, and
// that the network server always runs at the end.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "driver_step_fixture.h"
#include "inventory/inventory.h"

using winsim::M;

namespace {

const std::string kNetworkServer =
    R"(C:\Program Files\Velmora Imaging\Tools\LumNetworkServer.exe --uninstall --resetfw_server)";
const std::string kBoardKey = R"(Software\Velmora\Imaging Board)";

std::string Drvmanage(const std::string& board) {
  return R"(C:\Tools\drvmanage.exe uninstall inf=)" + board + ".inf -log -quiet";
}

class BoardUninstallTest : public DriverStepTest {};

TEST_F(BoardUninstallTest, WithoutBoardKeyOnlyTheNetworkServerRuns) {
  RunBoardStep();

  EXPECT_EQ((std::vector<std::string>{"Uninstall all board", "Stopping LumNetworkServer.exe"}), Captions());
  EXPECT_EQ(2u, Steps());
  EXPECT_EQ(std::vector<std::string>{kNetworkServer}, Runs());
  EXPECT_EQ(std::vector<DWORD>{500}, Sleeps());
  EXPECT_EQ("", Log());
}

TEST_F(BoardUninstallTest, ANameNoCommandLineMayCarryIsPassedOverAndListedWithItsReason) {
  // A double quote would end an argument, a line break would forge a "Call to"
  // line of the log, and a name the code page cannot spell would reach the
  // tool as another board. Passed over, those boards' driver tools do not
  // run; what names no board (the monitor, the GigE filter and service) does.
  winsim::MakeFile(R"(C:\Windows\system32\pyxmon.exe)", "MZ");
  winsim::AddService("TrkServer");
  const std::vector<std::string> hostile = {"Parlow\"CL", "A\r\nCall to C:\\evil.exe", "Ob\xCE\xA9", "Tarvel\xCE\xA9",
                                            "DruvanGigE\x01"};
  for (const std::string& name : hostile) AddBoard(name);
  AddBoard("Plain");

  Inventory inventory = TakeInventory("");
  RunBoardStep();

  const std::vector<std::string> logged = {
      Drvmanage("Plain"),
      R"(C:\Tools\drvmanage.exe uninstall inf=vlxgigefilter.inf -log -quiet)",
      R"(C:\Program Files\Velmora Imaging\Tools\VlxGigeService.exe -blockme)",
      R"(C:\Windows\SysWOW64\sc stop vlxgigeservice)", R"(C:\Windows\SysWOW64\sc delete vlxgigeservice)"};
  std::vector<std::string> runs = Runs();
  runs.erase(std::remove(runs.begin(), runs.end(), "pyxmon.exe"), runs.end());
  std::vector<std::string> expected = logged;
  expected.push_back(kNetworkServer);
  std::sort(runs.begin(), runs.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, runs);
  EXPECT_EQ(std::string::npos, Log().find("evil")) << Log();
  EXPECT_EQ(std::string::npos, Log().find('"')) << Log();
  EXPECT_TRUE(M().services.services["TrkServer"].deleted);  // the Tarvel board's monitor all the same
  const std::vector<std::string> captions = Captions();
  for (const std::string& caption : captions) EXPECT_EQ(std::string::npos, caption.find("Call to")) << caption;
  EXPECT_EQ(1, std::count(captions.begin(), captions.end(), "Uninstall Plain"));

  // The reports list each with why; the registry step removes their keys.
  std::vector<std::string> reasons;
  for (const InventoryItem& item : inventory.items)
    if (item.kind == ItemKind::Board && !item.keptReason.empty())
      reasons.push_back(item.keptReason.substr(0, item.keptReason.find(',')));
  std::sort(reasons.begin(), reasons.end());
  EXPECT_EQ((std::vector<std::string>{"passed over: its name holds a character the ANSI code page cannot spell",
                                      "passed over: its name holds a character the ANSI code page cannot spell",
                                      "passed over: its name holds a control character",
                                      "passed over: its name holds a control character",
                                      "passed over: its name holds a double quote"}),
            reasons);
}

TEST_F(BoardUninstallTest, HostGpuAndVgaAreDeletedWithTheirContentAndAreNoBoards) {
  winsim::SetString(HKEY_LOCAL_MACHINE, kBoardKey + R"(\Host\Deep\Deeper)", "x", "1");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, kBoardKey + R"(\gpu)");
  winsim::SetString(HKEY_LOCAL_MACHINE, kBoardKey + R"(\VGA)", "Driver", "vga");
  winsim::SetString(HKEY_LOCAL_MACHINE, kBoardKey, "Kept", "value of the board key itself");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, R"(Software\Velmora\Host)");  // not below the board key

  RunBoardStep();

  ASSERT_TRUE(winsim::KeyExists(HKEY_LOCAL_MACHINE, kBoardKey));
  EXPECT_TRUE(winsim::FindKey(HKEY_LOCAL_MACHINE, kBoardKey)->subkeys.empty());
  EXPECT_NE(nullptr, winsim::FindValue(HKEY_LOCAL_MACHINE, kBoardKey, "Kept"));
  EXPECT_TRUE(winsim::KeyExists(HKEY_LOCAL_MACHINE, R"(Software\Velmora\Host)"));
  EXPECT_EQ(std::vector<std::string>{kNetworkServer}, Runs());
  EXPECT_EQ(2u, Steps());
  EXPECT_EQ("", Log());
}

TEST_F(BoardUninstallTest, BoardsAreUninstalledInRegistryOrderEachFollowedByItsPause) {
  AddBoard("B");
  AddBoard("A");
  AddBoard("Host");  // removed first, never taken up

  RunBoardStep();

  EXPECT_EQ((std::vector<std::string>{Drvmanage("A"), Drvmanage("B"), kNetworkServer}), Runs());
  EXPECT_EQ((std::vector<std::string>{"Uninstall all board", "Uninstall A", "Uninstall B",
                                      "Stopping LumNetworkServer.exe"}),
            Captions());
  EXPECT_EQ((std::vector<DWORD>{500, 500, 500}), Sleeps());
  EXPECT_EQ((std::vector<std::string>{"sleep: 500", "step: 20", "run: " + Drvmanage("A"),
                                      "sleep: 500", "run: " + Drvmanage("B"), "sleep: 500",
                                      "run: " + kNetworkServer, "step: 30"}),
            TraceOfKinds({"run: ", "sleep: ", "step: "}));
  // Logged after each board run; the network server's run is not logged.
  EXPECT_EQ(CallLines({Drvmanage("A"), Drvmanage("B")}), Log());
  // The board key and its board subkeys stay for the registry clean-up.
  EXPECT_TRUE(winsim::KeyExists(HKEY_LOCAL_MACHINE, kBoardKey + R"(\A)"));
}

TEST_F(BoardUninstallTest, EveryToolRunsInItsOwnConsoleWithoutTimeOutOrInheritedHandles) {
  AddBoard("DruvanGigE");
  M().system.majorVersion = 5;

  RunBoardStep();

  ASSERT_EQ(6u, M().processes.runs.size());
  for (const auto& run : M().processes.runs) {
    EXPECT_EQ(0u, run.creationFlags) << run.commandLine;
    EXPECT_FALSE(run.inheritHandles) << run.commandLine;
    EXPECT_TRUE(run.started && run.waited) << run.commandLine;
    EXPECT_EQ(INFINITE, run.timeoutMs) << run.commandLine;
    EXPECT_EQ(R"(C:\Tools)", run.currentDirectory) << run.commandLine;
  }
}

TEST_F(BoardUninstallTest, AMissingToolIsStillLoggedAsCalledAndTheNextBoardFollows) {
  winsim::FindNode(R"(C:\Tools)")->children.clear();  // no tool at all
  winsim::FindNode(R"(C:\Program Files)")->children.clear();
  AddBoard("A");
  AddBoard("B");

  RunBoardStep();

  EXPECT_EQ((std::vector<std::string>{Drvmanage("A"), Drvmanage("B"), kNetworkServer}), Runs());
  EXPECT_EQ(3u, winsim::TraceOf("run-failed: ").size());
  EXPECT_EQ(CallLines({Drvmanage("A"), Drvmanage("B")}), Log());
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(BoardUninstallTest, OnlyTheFirst512BoardsAreTakenUp) {
  std::vector<std::string> names;
  for (int i = 0; i < 600; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "Board%03d", i);
    names.push_back(name);
    AddBoard(name);
  }

  RunBoardStep();

  std::vector<std::string> expected;
  for (int i = 0; i < 512; ++i) expected.push_back(Drvmanage(names[i]));
  expected.push_back(kNetworkServer);
  EXPECT_EQ(expected, Runs());
  EXPECT_EQ(513u, Sleeps().size());
  EXPECT_EQ(2u, Steps());
}

TEST_F(BoardUninstallTest, CommandLinesAndLogCarryTheDriveOfTheWindowsDirectory) {
  M().system.windowsDirectory = R"(D:\Windows)";
  M().system.systemDirectory = R"(D:\Windows\system32)";
  M().system.majorVersion = 4;
  AddBoard("vlxGigE");

  RunBoardStep();

  const std::vector<std::string> logged = {
      R"(C:\Tools\lumdrv.exe vlxGigE -remove -noinfo)",
      R"(C:\Tools\lumdrv.exe vlxgigefilter -remove -noinfo)",
      R"(D:\Program Files\Velmora Imaging\Tools\VlxGigeService.exe -blockme)",
      R"(D:\Windows\system32\sc stop vlxgigeservice)",
      R"(D:\Windows\system32\sc delete vlxgigeservice)"};
  std::vector<std::string> all = logged;
  all.push_back(R"(D:\Program Files\Velmora Imaging\Tools\LumNetworkServer.exe --uninstall --resetfw_server)");
  EXPECT_EQ(all, Runs());
  EXPECT_EQ(CallLines(logged), Log());
}

// A working directory or board name that would not fit the 1024-character
// command line is never cut: that run is skipped and not logged.
TEST_F(BoardUninstallTest, CommandLinesThatWouldNotFitAreSkippedAndNotLogged) {
  M().system.currentDirectory = "C:\\" + std::string(960, 'd');
  const std::string cwd = M().system.currentDirectory;
  const std::string longName(20, 'L');
  AddBoard(longName);
  AddBoard("Short");
  AddBoard("vlxGigE");
  const std::string longRun = cwd + R"(\drvmanage.exe uninstall inf=)" + longName + ".inf -log -quiet";
  const std::string shortRun = cwd + R"(\drvmanage.exe uninstall inf=Short.inf -log -quiet)";
  const std::string gigeRun = cwd + R"(\drvmanage.exe uninstall inf=vlxGigE.inf -log -quiet)";
  const std::string filterRun = cwd + R"(\drvmanage.exe uninstall inf=vlxgigefilter.inf -log -quiet)";
  ASSERT_GE(longRun.size(), 1024u);
  ASSERT_LT(std::max({shortRun.size(), gigeRun.size(), filterRun.size()}), 1024u);

  RunBoardStep();

  const std::vector<std::string> logged = {
      shortRun, gigeRun, filterRun,
      R"(C:\Program Files\Velmora Imaging\Tools\VlxGigeService.exe -blockme)",
      R"(C:\Windows\SysWOW64\sc stop vlxgigeservice)", R"(C:\Windows\SysWOW64\sc delete vlxgigeservice)"};
  std::vector<std::string> runs = logged;
  runs.push_back(kNetworkServer);
  EXPECT_EQ(runs, Runs());
  EXPECT_EQ(CallLines(logged), Log());
  // The skipped board is still taken up: its caption and its pause.
  EXPECT_EQ((std::vector<std::string>{"Uninstall all board", "Uninstall " + longName, "Uninstall Short",
                                      "Uninstall vlxGigE", "Stopping the vlxgigeservice",
                                      "Stopping LumNetworkServer.exe"}),
            Captions());
  EXPECT_EQ((std::vector<DWORD>{500, 500, 500, 75000, 500}), Sleeps());
}

TEST_F(BoardUninstallTest, AWorkingDirectoryThatCannotBeReadInFullRunsNothingFromIt) {
  M().system.currentDirectory = "C:\\" + std::string(1100, 'd');  // GetCurrentDirectoryA reports the size it needs
  M().system.majorVersion = 5;
  AddBoard("DruvanGigE");

  RunBoardStep();

  const std::vector<std::string> service = {
      R"(C:\Program Files\Velmora Imaging\Tools\VlxGigeService.exe -blockme)",
      R"(C:\Windows\SysWOW64\sc stop vlxgigeservice)", R"(C:\Windows\system32\sc delete vlxgigeservice)"};
  std::vector<std::string> expectedRuns = service;
  expectedRuns.push_back(kNetworkServer);
  EXPECT_EQ(expectedRuns, Runs());
  EXPECT_EQ(CallLines(service), Log());
}

}  // namespace

namespace {

class DriverStepsInTheRunTest : public DriverStepTest {};

TEST_F(DriverStepsInTheRunTest, BoardCallLinesOpenTheLogBlockAndTheDmaStepFollowsTheBoards) {
  AddBoard("Tarvel");
  AddBoard("ClassicPCI");

  ASSERT_EQ(0, RunProgram("silent noreboot"));

  const std::vector<std::string> boardRuns = {
      R"(C:\Tools\drvmanage.exe uninstall inf=ClassicPCI.inf -log -quiet)",
      R"(C:\Tools\drvmanage.exe uninstall inf=Tarvel.inf -log -quiet)"};
  const std::string log = Log();
  const std::string opening = "Riruv Lum started at 9:5:3\r\n";
  size_t start = log.find(opening);
  size_t end = log.find("Deleted Lum Shortcuts \r\n");
  ASSERT_NE(std::string::npos, start);
  ASSERT_NE(std::string::npos, end);
  EXPECT_EQ(CallLines(boardRuns), log.substr(start + opening.size(), end - start - opening.size()));

  std::vector<std::string> expected = boardRuns;
  expected.insert(expected.begin() + 1, "pyxmon.exe");  // the monitor's start for the Tarvel board
  expected.push_back(kNetworkServer);
  expected.push_back(R"(C:\Tools\drvmanage.exe uninstall -log -quiet)");
  expected.push_back(R"(C:\Tools\LumNetworkServer.exe --uninstall --resetfw_server)");
  std::vector<std::string> runs = Runs();
  ASSERT_GE(runs.size(), expected.size());
  EXPECT_EQ(expected, std::vector<std::string>(runs.begin(), runs.begin() + expected.size()));
}

}  // namespace
