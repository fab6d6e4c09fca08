// Board uninstall by Windows branch: the driver tool of each version, the GigE
// filter and service removal with the sc folder of each branch and
// architecture, and the case-sensitive board kinds.
#include <ostream>
#include <string>
#include <vector>

#include "driver_step_fixture.h"

using winsim::M;

namespace {

const std::string kNetworkServer =
    R"(C:\Program Files\Velmora Imaging\Tools\LumNetworkServer.exe --uninstall --resetfw_server)";
const std::string kBlock = R"(C:\Program Files\Velmora Imaging\Tools\VlxGigeService.exe -blockme)";
const std::string kStopWow64 = R"(C:\Windows\SysWOW64\sc stop vlxgigeservice)";
const std::string kStop32 = R"(C:\Windows\system32\sc stop vlxgigeservice)";
const std::string kDeleteWow64 = R"(C:\Windows\SysWOW64\sc delete vlxgigeservice)";
const std::string kDelete32 = R"(C:\Windows\system32\sc delete vlxgigeservice)";

struct BranchCase {
  const char* name;
  DWORD major;
  DWORD platform;
  WORD architecture;
  std::vector<std::string> logged;  // the runs for the GigE board "DruvanGigE-2", all logged
};

void PrintTo(const BranchCase& c, std::ostream* os) { *os << c.name; }

const DWORD kNt = VER_PLATFORM_WIN32_NT;
const DWORD kWindows9x = 1;  // VER_PLATFORM_WIN32_WINDOWS

const std::string kV6Board = R"(C:\Tools\drvmanage.exe uninstall inf=DruvanGigE-2.inf -log -quiet)";
const std::string kV6Filter = R"(C:\Tools\drvmanage.exe uninstall inf=vlxgigefilter.inf -log -quiet)";
const std::string kV4Board = R"(C:\Tools\lumdrv.exe DruvanGigE-2 -remove -noinfo)";
const std::string kV4Filter = R"(C:\Tools\lumdrv.exe vlxgigefilter -remove -noinfo)";
const std::string kNtBoard = R"(C:\Tools\drvinst.exe -remove DruvanGigE-2 -noback)";
const std::string kNtFilter = R"(C:\Tools\drvinst.exe -remove vlxgigefilter -noback)";

class BoardBranchTest : public DriverStepTest, public ::testing::WithParamInterface<BranchCase> {};

TEST_P(BoardBranchTest, GigeBoardRunsTheBranchToolsAndScFromTheBranchFolders) {
  const BranchCase& c = GetParam();
  M().system.majorVersion = c.major;
  M().system.platformId = c.platform;
  M().system.processorArchitecture = c.architecture;
  AddBoard("DruvanGigE-2");

  RunBoardStep();

  std::vector<std::string> runs = c.logged;
  runs.push_back(kNetworkServer);
  EXPECT_EQ(runs, Runs());
  EXPECT_EQ(CallLines(c.logged), Log());
  bool gigeRemoved = !c.logged.empty();
  const std::vector<DWORD> sleeps =
      gigeRemoved ? std::vector<DWORD>{500, 75000, 500} : std::vector<DWORD>{500, 500};
  EXPECT_EQ(sleeps, Sleeps());
  std::vector<std::string> captions = {"Uninstall all board", "Uninstall DruvanGigE-2"};
  if (gigeRemoved) captions.push_back("Stopping the vlxgigeservice");
  captions.push_back("Stopping LumNetworkServer.exe");
  EXPECT_EQ(captions, Captions());
  EXPECT_EQ(2u, Steps());
}

INSTANTIATE_TEST_SUITE_P(
    Branches, BoardBranchTest,
    ::testing::Values(
        BranchCase{"V6Amd64", 6, kNt, 9, {kV6Board, kV6Filter, kBlock, kStopWow64, kDeleteWow64}},
        BranchCase{"V6X86", 6, kNt, 0, {kV6Board, kV6Filter, kBlock, kStop32, kDelete32}},
        BranchCase{"V6NotNt", 6, kWindows9x, 0, {kV6Board, kV6Filter, kBlock, kStop32, kDelete32}},
        BranchCase{"V4Amd64", 4, kNt, 9, {kV4Board, kV4Filter, kBlock, kStop32, kDelete32}},
        BranchCase{"V4NotNt", 4, kWindows9x, 0, {kV4Board, kV4Filter, kBlock, kStop32, kDelete32}},
        BranchCase{"Nt5Amd64", 5, kNt, 9, {kNtBoard, kNtFilter, kBlock, kStopWow64, kDelete32}},
        BranchCase{"Nt5X86", 5, kNt, 0, {kNtBoard, kNtFilter, kBlock, kStop32, kDelete32}},
        BranchCase{"Nt10Amd64", 10, kNt, 9, {kNtBoard, kNtFilter, kBlock, kStopWow64, kDelete32}},
        BranchCase{"V5NotNt", 5, kWindows9x, 9, {}}),
    [](const ::testing::TestParamInfo<BranchCase>& info) { return std::string(info.param.name); });

TEST_F(BoardBranchTest, TwoGigeBoardsOnNt5EachGetTheirFilterAndServiceRemoval) {
  M().system.majorVersion = 5;
  AddBoard("DruvanGigE");
  AddBoard("vlxGigE_Quad");

  RunBoardStep();

  const std::vector<std::string> logged = {
      R"(C:\Tools\drvinst.exe -remove DruvanGigE -noback)", kNtFilter, kBlock, kStopWow64, kDelete32,
      R"(C:\Tools\drvinst.exe -remove vlxGigE_Quad -noback)", kNtFilter, kBlock, kStopWow64, kDelete32};
  std::vector<std::string> runs = logged;
  runs.push_back(kNetworkServer);
  EXPECT_EQ(runs, Runs());
  EXPECT_EQ(CallLines(logged), Log());
  EXPECT_EQ((std::vector<DWORD>{500, 75000, 500, 75000, 500}), Sleeps());
  // The pause lies between the stop and the delete of each removal.
  const std::vector<std::string> order = TraceOfKinds({"run: ", "sleep: 75000"});
  ASSERT_EQ(13u, order.size());
  EXPECT_EQ("run: " + kStopWow64, order[3]);
  EXPECT_EQ("sleep: 75000", order[4]);
  EXPECT_EQ("run: " + kDelete32, order[5]);
}

TEST_F(BoardBranchTest, BoardKindsAreMatchedByCaseSensitivePrefix) {
  for (const char* name : {"druvangige", "VLXGIGE", "vlxgig", "xDruvanGigE", "tarvel", "ATarvel"})
    AddBoard(name);

  RunBoardStep();

  // Registry order is by upper-cased name.
  std::vector<std::string> logged;
  for (const char* name : {"ATarvel", "druvangige", "tarvel", "vlxgig", "VLXGIGE", "xDruvanGigE"})
    logged.push_back(std::string(R"(C:\Tools\drvmanage.exe uninstall inf=)") + name + ".inf -log -quiet");
  std::vector<std::string> runs = logged;
  runs.push_back(kNetworkServer);
  EXPECT_EQ(runs, Runs());
  EXPECT_EQ(CallLines(logged), Log());
  EXPECT_TRUE(M().processes.spawns.empty());  // no monitor shutdown
  EXPECT_EQ(7u, Sleeps().size());             // no 75000 ms pause either
}

}  // namespace
