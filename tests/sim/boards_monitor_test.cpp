// The board monitor shutdown for Tarvel boards: the monitor is started, told
// to release the boards and closed, its TrkServer service stopped and deleted,
// all before the board's own driver tool runs.
#include <ostream>
#include <string>
#include <vector>

#include "driver_step_fixture.h"

using winsim::M;

namespace {

const std::vector<std::string> kShutdownKinds = {"sleep: ", "message: ", "service-", "run: ", "run-failed: "};

// The program of every start of the monitor (its command line is its bare name).
std::vector<std::string> MonitorPrograms() {
  std::vector<std::string> programs;
  for (const winsim::ChildRun& run : M().processes.runs)
    if (run.commandLine == "pyxmon.exe") programs.push_back(run.applicationName);
  return programs;
}

class MonitorShutdownTest : public DriverStepTest {
 protected:
  // The monitor program opens its window when it starts, as the real one does.
  static void InstallMonitor(const std::string& path) {
    winsim::MakeFile(path, "MZ");
    winsim::SetProgramBehaviour("pyxmon.exe", [](const winsim::ChildRun&) {
      winsim::AddForeignWindow("PyxMonWnd", "pyxMon");
      return winsim::ChildOutcome{true, 0};
    });
  }
};

struct BranchCase {
  const char* name;
  DWORD major;
  DWORD platform;
  const char* board;
  const char* driverRun;  // "" when the branch runs no tool
};

void PrintTo(const BranchCase& c, std::ostream* os) { *os << c.name; }

class MonitorBranchTest : public MonitorShutdownTest, public ::testing::WithParamInterface<BranchCase> {};

TEST_P(MonitorBranchTest, MonitorIsClosedAndTrkServerRemovedBeforeTheDriverTool) {
  const BranchCase& c = GetParam();
  M().system.majorVersion = c.major;
  M().system.platformId = c.platform;
  InstallMonitor(R"(C:\Tools\pyxmon.exe)");
  winsim::AddService("TrkServer");
  AddBoard(c.board);

  RunBoardStep();

  std::vector<std::string> expected = {"run: pyxmon.exe",
                                       "sleep: 2000",
                                       "message: PyxMonWnd 273 32776 0",
                                       "sleep: 1000",
                                       "message: PyxMonWnd 16 0 0",
                                       "service-control: TrkServer 1",
                                       "service-delete: TrkServer"};
  if (*c.driverRun) expected.push_back(std::string("run: ") + c.driverRun);
  expected.push_back("sleep: 500");
  expected.push_back(
      R"(run: C:\Program Files\Velmora Imaging\Tools\LumNetworkServer.exe --uninstall --resetfw_server)");
  std::vector<std::string> trace = TraceOfKinds(kShutdownKinds);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ("sleep: 500", trace.front());  // after the key clean-up
  EXPECT_EQ(expected, std::vector<std::string>(trace.begin() + 1, trace.end()));

  EXPECT_TRUE(M().services.services["TrkServer"].deleted);
  EXPECT_FALSE(M().services.services["TrkServer"].running);
  EXPECT_EQ(nullptr, FindWindowA("PyxMonWnd", nullptr));
  // The monitor is started by full path without waiting; its command line is its name alone.
  EXPECT_EQ(std::vector<std::string>{R"(C:\Tools\pyxmon.exe)"}, MonitorPrograms());
  for (const winsim::ChildRun& run : M().processes.runs)
    if (run.commandLine == "pyxmon.exe") {
      EXPECT_FALSE(run.waited);
      EXPECT_FALSE(run.inheritHandles);
      EXPECT_EQ(0u, run.creationFlags);
    }
  EXPECT_EQ(*c.driverRun ? CallLines({c.driverRun}) : "", Log());
}

INSTANTIATE_TEST_SUITE_P(
    Branches, MonitorBranchTest,
    ::testing::Values(
        BranchCase{"Version6", 6, VER_PLATFORM_WIN32_NT, "Tarvel",
                   R"(C:\Tools\drvmanage.exe uninstall inf=Tarvel.inf -log -quiet)"},
        BranchCase{"Version4", 4, VER_PLATFORM_WIN32_NT, "TarvelCL4",
                   R"(C:\Tools\lumdrv.exe TarvelCL4 -remove -noinfo)"},
        BranchCase{"Nt5", 5, VER_PLATFORM_WIN32_NT, "Tarvel_X", R"(C:\Tools\drvinst.exe -remove Tarvel_X -noback)"},
        BranchCase{"NotNt5", 5, 1, "Tarvel", ""}),
    [](const ::testing::TestParamInfo<BranchCase>& info) { return std::string(info.param.name); });

TEST_F(MonitorShutdownTest, WithoutMonitorWindowNoMessageIsSentButTrkServerIsStillRemoved) {
  // No pyxmon.exe anywhere: the start fails silently and no window appears.
  winsim::AddService("TrkServer");
  AddBoard("Tarvel");

  RunBoardStep();

  EXPECT_EQ((std::vector<std::string>{"sleep: 500", "run-failed: pyxmon.exe", "sleep: 2000",
                                      "service-control: TrkServer 1", "service-delete: TrkServer",
                                      R"(run: C:\Tools\drvmanage.exe uninstall inf=Tarvel.inf -log -quiet)",
                                      "sleep: 500",
                                      R"(run: C:\Program Files\Velmora Imaging\Tools\LumNetworkServer.exe --uninstall --resetfw_server)"}),
            TraceOfKinds(kShutdownKinds));
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(MonitorShutdownTest, AMonitorAlreadyRunningIsClosedEvenWhenItsProgramIsNotFound) {
  std::vector<std::string> received;
  winsim::AddForeignWindow("PyxMonWnd", "pyxMon", [&received](UINT message, WPARAM wParam, LPARAM) {
    received.push_back(std::to_string(message) + " " + std::to_string(wParam));
    return static_cast<LRESULT>(0);
  });
  AddBoard("Tarvel");

  RunBoardStep();

  EXPECT_EQ((std::vector<std::string>{"273 32776", "16 0"}), received);
  EXPECT_EQ((std::vector<DWORD>{500, 2000, 1000, 500}), Sleeps());
}

TEST_F(MonitorShutdownTest, MonitorComesFromTheWorkingDirectoryElseTheSystemDirectoryNeverFromPath) {
  const std::string vendorTools = R"(C:\Program Files\Velmora Imaging\Tools)";
  M().system.environment["PATH"] = R"(C:\Windows\system32;)" + vendorTools;
  InstallMonitor(vendorTools + R"(\pyxmon.exe)");
  AddBoard("Tarvel");

  RunBoardStep();
  EXPECT_EQ(std::vector<std::string>{R"(C:\Windows\system32\pyxmon.exe)"}, MonitorPrograms());
  EXPECT_FALSE(M().processes.runs.front().started);  // not the one along PATH

  InstallMonitor(R"(C:\Windows\system32\pyxmon.exe)");
  M().processes.runs.clear();
  RunBoardStep();
  ASSERT_EQ(std::vector<std::string>{R"(C:\Windows\system32\pyxmon.exe)"}, MonitorPrograms());
  EXPECT_TRUE(M().processes.runs.front().started);

  InstallMonitor(R"(C:\Tools\pyxmon.exe)");
  M().processes.runs.clear();
  RunBoardStep();
  EXPECT_EQ(std::vector<std::string>{R"(C:\Tools\pyxmon.exe)"}, MonitorPrograms());
}

TEST_F(MonitorShutdownTest, StartedMonitorKeepsRunningBesideTheProgram) {
  InstallMonitor(R"(C:\Tools\pyxmon.exe)");
  AddBoard("Tarvel");

  RunBoardStep();

  EXPECT_EQ(std::vector<std::string>{"pyxmon.exe"}, winsim::RunningImageNames());
}

TEST_F(MonitorShutdownTest, UnreachableServiceManagerOrMissingTrkServerSkipsOnlyThatRemoval) {
  winsim::AddService("TrkServer");
  M().services.refuseManager = true;
  AddBoard("Tarvel");
  RunBoardStep();
  EXPECT_TRUE(winsim::TraceOf("service-").empty());
  EXPECT_FALSE(M().services.services["TrkServer"].deleted);
  EXPECT_EQ(1u, winsim::TraceOf(R"(run: C:\Tools\drvmanage.exe)").size());

  M().services.refuseManager = false;
  M().services.services["TrkServer"].refuseOpen = true;
  M().trace.clear();
  RunBoardStep();
  EXPECT_TRUE(winsim::TraceOf("service-").empty());
  EXPECT_EQ(1u, winsim::TraceOf(R"(run: C:\Tools\drvmanage.exe)").size());
}

}  // namespace
