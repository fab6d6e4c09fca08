// What an administrator meets first: help and version on each way out, and no
// message box where nobody can see one.
#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim_fixture.h"

using winsim::M;

namespace {

const char kBoard[] = "Software\\Velmora\\Imaging Board\\Parlow-CL";

class HelpTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    M().system.isAdmin = false;  // neither needs administrator rights
    winsim::SetString(HKEY_LOCAL_MACHINE, kBoard, "", "");
    before_ = Snapshot();
  }

  std::vector<std::string> Snapshot() {
    std::vector<std::string> state = winsim::DumpTree("C:");
    for (const std::string& line : winsim::DumpRegistry(HKEY_LOCAL_MACHINE)) state.push_back(line);
    return state;
  }

  // Nothing happened but the text: no change, no run, no window, no restart.
  void ExpectNothingElse(const std::vector<std::string>& allowedNew = {}) {
    std::vector<std::string> after = Snapshot();
    for (const std::string& line : allowedNew) after.erase(std::remove(after.begin(), after.end(), line), after.end());
    EXPECT_EQ(before_, after);
    EXPECT_TRUE(M().processes.runs.empty());
    EXPECT_EQ(nullptr, winsim::ProgressWindow());
    EXPECT_TRUE(M().ui.exitWindowsCalls.empty());
  }

  std::vector<std::string> before_;
};

TEST_F(HelpTest, EverySpellingPrintsTheUsageToTheRedirectedOutput) {
  for (const char* word : {"/?", "-?", "/h", "-H", "--help", "HELP"}) {
    M().system.standardOutputFile = "C:\\Temp\\out.txt";
    EXPECT_EQ(0, RunProgram(std::string(word) + " silent noreboot")) << word;
    std::string text = winsim::ReadFileText("C:\\Temp\\out.txt");
    EXPECT_EQ(0u, text.find("CleanLum 1.")) << word;
    for (const char* listed : {"silent", "noreboot", "msi", "preview", "managed", "reportdir=PATH", "restorepoint",
                               "version", "--help", "3010", "1603", "1618", "740", "4294967295",
                               "CleanLum-YYYYMMDD-HHMMSS.log", "LUMInstall.log"})
      EXPECT_NE(std::string::npos, text.find(listed)) << word << " lacks " << listed;
    EXPECT_EQ(std::string::npos, text.find("\n\n")) << "line ends are CR LF";
    EXPECT_TRUE(M().ui.messageBoxes.empty());
    winsim::FindNode("C:\\Temp")->children.erase("out.txt");
  }
  ExpectNothingElse();
}

TEST_F(HelpTest, VersionGoesToTheParentsConsoleWithoutRedirection) {
  M().system.parentConsole = true;
  EXPECT_EQ(0, RunProgram("Version"));
  EXPECT_EQ("\r\nCleanLum 1.0.0\r\n", M().system.consoleOutput);
  EXPECT_FALSE(M().system.consoleAttached);  // detached again
  EXPECT_TRUE(M().ui.messageBoxes.empty());
  ExpectNothingElse();
}

TEST_F(HelpTest, WithoutOutputOrConsoleABoxShowsItWhereOneCanBeSeenElseNothing) {
  EXPECT_EQ(0, RunProgram("/?"));
  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_EQ("CleanLum", M().ui.messageBoxes[0].caption);
  EXPECT_EQ(0u, M().ui.messageBoxes[0].text.find("CleanLum 1."));
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), M().ui.messageBoxes[0].type);

  M().ui.messageBoxes.clear();
  M().ui.visibleWindowStation = false;
  EXPECT_EQ(0, RunProgram("version"));
  EXPECT_TRUE(M().ui.messageBoxes.empty());
  ExpectNothingElse();
}

// Under a deployment engine without "managed": none of the three boxes is
// shown, the run ends at once with the code it would have led to, the result
// report says why, and the run log stays unwritten.
struct UnseenCase {
  const char* name;
  const char* arguments;
  std::function<void()> arrange;
  int exitCode;
  const char* outcome;
};

class UnseenBoxTest : public SimTest, public ::testing::WithParamInterface<UnseenCase> {};

TEST_P(UnseenBoxTest, EndsAtOnceAndSaysWhyInItsReport) {
  const UnseenCase& c = GetParam();
  M().ui.visibleWindowStation = false;
  winsim::SetString(HKEY_LOCAL_MACHINE, kBoard, "", "");
  if (c.arrange) c.arrange();
  std::vector<std::string> registry = winsim::DumpRegistry(HKEY_LOCAL_MACHINE);

  EXPECT_EQ(c.exitCode, RunProgram(c.arguments));

  EXPECT_TRUE(M().ui.messageBoxes.empty());
  EXPECT_TRUE(M().processes.runs.empty());
  EXPECT_EQ(registry, winsim::DumpRegistry(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(winsim::PathExists("C:\\Temp\\LUMInstall.log"));
  // A run without administrator rights reports to the user's TEMP, others to the private default folder.
  std::string folder = M().system.isAdmin ? "C:\\Windows\\Logs\\CleanLum" : "C:\\Temp";
  nlohmann::json report =
      nlohmann::json::parse(winsim::ReadFileText(folder + "\\CleanLum-result-20261208-090503.json"));
  EXPECT_EQ(static_cast<DWORD>(c.exitCode), report["exitCode"].get<DWORD>());
  std::string outcome = report["outcome"];
  EXPECT_EQ(0u, outcome.find(c.outcome)) << outcome;
  EXPECT_NE(std::string::npos, outcome.find("no message box on an invisible window station")) << outcome;
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, UnseenBoxTest,
    ::testing::Values(
        UnseenCase{"NotAdministrator", "silent noreboot", [] { M().system.isAdmin = false; }, 1,
                   "not started with administrator rights"},
        UnseenCase{"ToolMissing", "silent noreboot", [] { winsim::FindNode("C:\\Tools")->children.clear(); }, -1,
                   "drvmanage.exe is missing from the working directory"},
        UnseenCase{"Confirmation", "noreboot", nullptr, 0, "the confirmation could not be asked"}),
    [](const ::testing::TestParamInfo<UnseenCase>& info) { return std::string(info.param.name); });

}  // namespace
