// "restorepoint": a restore point of an application's removal begun before
// the first change and ended after the last; whatever Windows answers, the
// run goes on, and the reports say what became of it.
#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <string>

#include "main/main_sequence.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kBoard[] = "Software\\Velmora\\Imaging Board\\Parlow-CL";

struct RestoreCase {
  const char* name;
  std::function<void()> arrange;
  size_t calls;          // SRSetRestorePointW calls
  const char* reported;  // the start of what the reports say
};

class RestorePointTest : public SimTest, public ::testing::WithParamInterface<RestoreCase> {};

TEST_P(RestorePointTest, IsAskedForBeforeTheFirstChangeAndNeverStopsTheRun) {
  const RestoreCase& c = GetParam();
  winsim::SetString(HKEY_LOCAL_MACHINE, kBoard, "", "");
  if (c.arrange) c.arrange();

  EXPECT_EQ(0, RunProgram("silent noreboot RestorePoint"));

  EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, kBoard));  // the run went on
  const auto& loads = M().loader.loads;
  EXPECT_NE(loads.end(), std::find(loads.begin(), loads.end(), "C:\\Windows\\system32\\srclient.dll"));
  const auto& calls = M().administration.restoreCalls;
  ASSERT_EQ(c.calls, calls.size());
  if (c.calls > 0) {
    EXPECT_EQ(100u, calls[0].eventType);  // BEGIN_SYSTEM_CHANGE
    EXPECT_EQ(1u, calls[0].restorePointType);  // APPLICATION_UNINSTALL
    EXPECT_EQ("CleanLum: removal of the Velmora imaging library", calls[0].description);
    // Before the first child and the first deletion.
    const auto& trace = winsim::TraceLines();
    auto begin = std::find_if(trace.begin(), trace.end(),
                              [](const std::string& l) { return l.compare(0, 14, "restore-point:") == 0; });
    auto change = std::find_if(trace.begin(), trace.end(), [](const std::string& l) {
      return l.compare(0, 5, "run: ") == 0 || l.compare(0, 11, "regdelete") == 0 || l.compare(0, 7, "delete") == 0;
    });
    EXPECT_LT(begin - trace.begin(), change - trace.begin());
  }
  if (c.calls == 2) {
    EXPECT_EQ(101u, calls[1].eventType);  // END_SYSTEM_CHANGE of the point begun
    EXPECT_EQ(71, calls[1].sequenceNumber);
  }
  nlohmann::json report =
      nlohmann::json::parse(winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-result-20261208-090503.json"));
  std::string said = report["restorePoint"];
  EXPECT_EQ(0u, said.find(c.reported)) << said;
  std::string text = winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-result-20261208-090503.txt");
  EXPECT_NE(std::string::npos, text.find("Restore point: " + said));
  EXPECT_NE(std::string::npos,
            winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-20261208-090503.log").find("Restore point " + said));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RestorePointTest,
    ::testing::Values(
        RestoreCase{"Created", nullptr, 2, "created (sequence number 71)"},
        RestoreCase{"TurnedOff", [] { M().administration.restoreStatus = ERROR_SERVICE_DISABLED; }, 1,
                    "not made: System Restore is turned off on this machine, by policy or by hand (status 1058)"},
        RestoreCase{"NoSystemRestore", [] { M().loader.missingModules.insert("srclient.dll"); }, 0,
                    "not made: this Windows has no System Restore (Win32 error 126)"},
        RestoreCase{"Refused", [] { M().administration.restoreStatus = ERROR_DISK_FULL; }, 1,
                    "not made: System Restore refused it (status 112)"}),
    [](const ::testing::TestParamInfo<RestoreCase>& info) { return std::string(info.param.name); });

TEST(RestorePointWord, WithoutItNothingIsAskedAndTheReportSaysNothing) {
  winsim::ResetMachine();
  winsim::MakeFile("C:\\Tools\\drvmanage.exe", "MZ");
  M().system.commandLine = "C:\\Tools\\CleanLum.exe silent noreboot";
  EXPECT_EQ(0, RunCleanLum(nullptr, "silent noreboot"));
  EXPECT_TRUE(M().administration.restoreCalls.empty());
  EXPECT_TRUE(M().loader.loads.empty() ||
              std::none_of(M().loader.loads.begin(), M().loader.loads.end(),
                           [](const std::string& l) { return l.find("srclient") != std::string::npos; }));
  nlohmann::json report =
      nlohmann::json::parse(winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-result-20261208-090503.json"));
  EXPECT_FALSE(report.contains("restorePoint"));
}

}  // namespace
