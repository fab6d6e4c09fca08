// The run as a whole: checks, command-line words, confirmation, log block,
// progress window and exit codes.
#include <windows.h>
#include <algorithm>

#include "run/cleanup_context.h"
#include "main/main_sequence.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const std::string kRule = "\r\n" + std::string(101, '=') + "\r\n";

std::string ExpectedBlock(const std::string& start, const std::string& end) {
  return kRule + "Riruv Lum started at " + start + "\r\n" +
         "Deleted Lum Shortcuts \r\n"
         "Deleted Lum Directory \r\n"
         "Deleted Lum Registry Keys \r\n"
         "Deleted Lum Dlls \r\n"
         "Deleted inf files \r\n"
         "Riruv Lum ended at " + end + kRule;
}

class MainSequenceTest : public SimTest {};

TEST_F(MainSequenceTest, NonAdministratorSeesOnlyTheRightsMessageAndNothingIsLogged) {
  M().system.isAdmin = false;
  winsim::FindNode("C:\\Tools")->children.clear();  // tools missing too

  EXPECT_EQ(1, RunProgram("silent noreboot"));

  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_EQ("Riruv Lum can't continue because you don't have administrator rights",
            M().ui.messageBoxes[0].text);
  EXPECT_EQ("Error!", M().ui.messageBoxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK), M().ui.messageBoxes[0].type);
  EXPECT_FALSE(winsim::PathExists("C:\\Temp\\LUMInstall.log"));
  EXPECT_EQ(nullptr, winsim::ProgressWindow());
}

struct ToolCase {
  DWORD major;
  WORD architecture;
  std::vector<std::string> present;
  std::string missingMessageTool;  // "" when the run goes on
};

class ToolCheckTest : public SimTest, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(ToolCheckTest, RequiredToolsDependOnVersionAndArchitecture) {
  const ToolCase& c = GetParam();
  winsim::FindNode("C:\\Tools")->children.clear();
  for (const auto& tool : c.present) winsim::MakeFile("C:\\Tools\\" + tool, "MZ");
  M().system.majorVersion = c.major;
  M().system.processorArchitecture = c.architecture;

  int code = RunProgram("silent noreboot");

  if (c.missingMessageTool.empty()) {
    EXPECT_EQ(0, code);
    EXPECT_TRUE(M().ui.messageBoxes.empty());
  } else {
    EXPECT_EQ(-1, code);
    ASSERT_EQ(1u, M().ui.messageBoxes.size());
    EXPECT_EQ("Riruv Lum can't continue because " + c.missingMessageTool +
                  " is missing from your Riruv Lum directory!",
              M().ui.messageBoxes[0].text);
    EXPECT_EQ("Error!", M().ui.messageBoxes[0].caption);
    EXPECT_FALSE(winsim::PathExists("C:\\Temp\\LUMInstall.log"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Systems, ToolCheckTest,
    ::testing::Values(
        ToolCase{6, 0, {"drvmanage.exe"}, ""},
        ToolCase{5, 9, {"drvmanage.exe"}, ""},
        ToolCase{6, 9, {}, "drvmanage.exe"},
        ToolCase{5, 0, {"drvmanage.exe", "lumdrv.exe"}, "drvinst.exe"},
        ToolCase{5, 0, {"drvmanage.exe", "drvinst.exe"}, "lumdrv.exe"},
        ToolCase{4, 0, {"drvinst.exe", "lumdrv.exe"}, "drvmanage.exe"},
        ToolCase{5, 0, {}, "drvinst.exe"},
        ToolCase{5, 0, {"drvinst.exe", "lumdrv.exe", "drvmanage.exe"}, ""}));

TEST_F(MainSequenceTest, WorkingDirectoryTooLongForItsBufferCountsAsMissingTool) {
  std::string deep = "C:\\" + std::string(120, 'a') + "\\" + std::string(140, 'b');
  winsim::MakeFile(deep + "\\drvmanage.exe", "MZ");
  winsim::MakeFile("C:\\drvmanage.exe", "MZ");  // must not be found at the drive root instead
  M().system.currentDirectory = deep;

  EXPECT_EQ(-1, RunProgram("silent noreboot"));
  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_NE(std::string::npos, M().ui.messageBoxes[0].text.find("drvmanage.exe"));
}

TEST_F(MainSequenceTest, CancelAtConfirmationEndsWithZeroAndNoLog) {
  M().ui.messageBoxAnswers.push_back(IDCANCEL);

  EXPECT_EQ(0, RunProgram("noreboot"));

  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_EQ("Are you sure you want to uninstall LUM?", M().ui.messageBoxes[0].text);
  EXPECT_EQ("Velmora Imaging Uninstall", M().ui.messageBoxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL), M().ui.messageBoxes[0].type);
  EXPECT_EQ(nullptr, M().ui.messageBoxes[0].owner);
  EXPECT_FALSE(winsim::PathExists("C:\\Temp\\LUMInstall.log"));
  EXPECT_EQ(nullptr, winsim::ProgressWindow());
}

// A service, session 0 or a remote shell: the confirmation could never be
// answered, so it counts as Cancel; "silent" asks nothing and runs as usual.
TEST_F(MainSequenceTest, InvisibleWindowStationCancelsUnlessSilent) {
  M().ui.visibleWindowStation = false;
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\Parlow-CL", "", "");
  auto before = winsim::DumpRegistry(HKEY_LOCAL_MACHINE);

  EXPECT_EQ(0, RunProgram("noreboot"));
  EXPECT_TRUE(M().ui.messageBoxes.empty());
  EXPECT_TRUE(M().processes.runs.empty());
  EXPECT_EQ(before, winsim::DumpRegistry(HKEY_LOCAL_MACHINE));
  EXPECT_FALSE(winsim::PathExists("C:\\Temp\\LUMInstall.log"));

  EXPECT_EQ(0, RunProgram("silent noreboot"));
  EXPECT_TRUE(M().ui.messageBoxes.empty());
  EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board"));
  EXPECT_NE(std::string::npos, Log().find("Call to C:\\Tools\\drvmanage.exe uninstall inf=Parlow-CL.inf"));
}

TEST_F(MainSequenceTest, OkAtConfirmationRunsTheWholeSequence) {
  M().ui.messageBoxAnswers.push_back(IDOK);
  EXPECT_EQ(0, RunProgram("noreboot"));
  EXPECT_EQ(ExpectedBlock("9:5:3", "9:5:3"), Log());
}

TEST_F(MainSequenceTest, SilentFoundOnlyInProgramPathSkipsConfirmation) {
  winsim::MakeFile("C:\\silent\\drvmanage.exe", "MZ");
  M().system.currentDirectory = "C:\\silent";
  EXPECT_EQ(0, RunProgram("noreboot", "C:\\silent\\CleanLum.exe"));
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(MainSequenceTest, SilentInCapitalsIsNotTheWord) {
  M().ui.messageBoxAnswers.push_back(IDCANCEL);
  EXPECT_EQ(0, RunProgram("SILENT noreboot"));
  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_FALSE(winsim::PathExists("C:\\Temp\\LUMInstall.log"));
}

TEST_F(MainSequenceTest, SilentRunAppendsExactlyOneBlock) {
  M().system.localTime.wHour = 0;
  M().system.localTime.wMinute = 0;
  M().system.localTime.wSecond = 7;

  EXPECT_EQ(0, RunProgram("silent noreboot"));

  EXPECT_EQ(ExpectedBlock("0:0:7", "0:0:7"), Log());
  EXPECT_EQ("\r\n", Log().substr(0, 2));
}

TEST_F(MainSequenceTest, TwoRunsLeaveTwoBlocksSeparatedByAnEmptyLine) {
  winsim::MakeFile("C:\\Temp\\LUMInstall.log", "earlier text");
  EXPECT_EQ(0, RunProgram("silent noreboot"));
  M().system.localTime.wHour = 23;
  M().system.localTime.wMinute = 59;
  M().system.localTime.wSecond = 10;
  EXPECT_EQ(0, RunProgram("silent noreboot"));

  EXPECT_EQ("earlier text" + ExpectedBlock("9:5:3", "9:5:3") + ExpectedBlock("23:59:10", "23:59:10"),
            Log());
}

TEST_F(MainSequenceTest, MissingTempDirectoryMeansNoLogButAFullRun) {
  winsim::FindNode("C:\\")->children.erase("Temp");
  EXPECT_EQ(0, RunProgram("silent noreboot"));
  EXPECT_FALSE(winsim::PathExists("C:\\Temp\\LUMInstall.log"));
  EXPECT_EQ("Finish Uninstalling Lum", winsim::TraceOf("caption: ").back());
}

TEST_F(MainSequenceTest, UndefinedTempLogsAtTheRootOfTheCurrentDrive) {
  M().system.environment.erase("TEMP");
  EXPECT_EQ(0, RunProgram("silent noreboot"));
  EXPECT_EQ(ExpectedBlock("9:5:3", "9:5:3"), winsim::ReadFileText("C:\\LUMInstall.log"));
}

TEST_F(MainSequenceTest, TempTooLongForTheLogPathMeansNoLogRatherThanAShortenedPath) {
  std::string longTemp = "C:\\" + std::string(250, 't');  // 253 + 15 > 259 characters
  winsim::MakeDirectory(longTemp);
  M().system.environment["TEMP"] = longTemp;

  EXPECT_EQ(0, RunProgram("silent noreboot"));

  for (const std::string& line : winsim::DumpTree("C:\\"))
    EXPECT_EQ(std::string::npos, line.find("LUMInstall")) << line;
  EXPECT_EQ("Finish Uninstalling Lum", winsim::TraceOf("caption: ").back());
}

TEST_F(MainSequenceTest, ProgressWindowIsCreatedAsSpecifiedAndDestroyedAtTheEnd) {
  EXPECT_EQ(0, RunProgram("silent noreboot"));

  ASSERT_NE(nullptr, winsim::ProgressWindow());
  const winsim::SimWindow& w = *winsim::ProgressWindow();
  EXPECT_EQ(0x80C80000u, w.style);
  EXPECT_EQ(0u, w.exStyle);
  EXPECT_EQ(200, w.x);
  EXPECT_EQ(200, w.y);
  EXPECT_EQ(340, w.width);
  EXPECT_EQ(50, w.height);
  EXPECT_EQ(nullptr, w.parent);
  EXPECT_EQ(reinterpret_cast<HINSTANCE>(0x400000), w.instance);
  EXPECT_EQ(0, w.rangeMin);
  EXPECT_EQ(160, w.rangeMax);
  EXPECT_EQ(10, w.stepSize);
  EXPECT_TRUE(w.destroyed);
  EXPECT_TRUE(M().ui.commonControlsInitialised);
  // Its class comes from comctl32, loaded from System32 by full path just before.
  const std::vector<std::string>& trace = winsim::TraceLines();
  auto window = std::find(trace.begin(), trace.end(), "window: msctls_progress32 \"Velmora Imaging Uninstall\"");
  ASSERT_NE(trace.end(), window);
  ASSERT_NE(trace.begin(), window);
  EXPECT_EQ("load-library: C:\\Windows\\system32\\comctl32.dll", *(window - 1));
  EXPECT_EQ(1, std::count(trace.begin(), trace.end(), "load-library: C:\\Windows\\system32\\comctl32.dll"));
  EXPECT_EQ("destroy: msctls_progress32", winsim::TraceLines().back());
}

TEST_F(MainSequenceTest, MsiWordRunsTheScriptToolHiddenWithItsTimeOut) {
  winsim::MakeFile("C:\\Tools\\MsiCleanup\\MsiCleanup.exe", "MZ");
  EXPECT_EQ(0, RunProgram("silent msi noreboot"));

  const auto& runs = M().processes.runs;
  ASSERT_FALSE(runs.empty());
  const winsim::ChildRun& last = runs.back();
  EXPECT_EQ("C:\\Tools\\MsiCleanup\\MsiCleanup.exe silent", last.commandLine);
  EXPECT_EQ(static_cast<DWORD>(CREATE_NO_WINDOW), last.creationFlags);
  EXPECT_EQ(60000u, last.timeoutMs);
  EXPECT_FALSE(last.inheritHandles);
  EXPECT_EQ("C:\\Tools\\MsiCleanup\\MsiCleanup.exe", last.applicationName);
  auto captions = winsim::TraceOf("caption: ");
  ASSERT_GE(captions.size(), 2u);
  EXPECT_EQ("Deleting script files", captions[captions.size() - 2]);
}

TEST_F(MainSequenceTest, MsiInProgramPathOrInsideAWordSetsMsiMode) {
  winsim::MakeFile("C:\\msitools\\drvmanage.exe", "MZ");
  M().system.currentDirectory = "C:\\msitools";
  EXPECT_EQ(0, RunProgram("silent noreboot", "C:\\msitools\\CleanLum.exe"));
  EXPECT_EQ(1, MsiMode);
  auto captions = winsim::TraceOf("caption: ");
  EXPECT_NE(captions.end(), std::find(captions.begin(), captions.end(), "Deleting script files"));
}

TEST_F(MainSequenceTest, MsiInCapitalsDoesNotSetMsiMode) {
  EXPECT_EQ(0, RunProgram("silent MSI noreboot"));
  EXPECT_EQ(0, MsiMode);
  EXPECT_TRUE(M().processes.runs.empty() ||
              M().processes.runs.back().commandLine.find("MsiCleanup") == std::string::npos);
}

TEST_F(MainSequenceTest, RevisionIsReadFromTheLibraryKey) {
  // The revision reaches the steps; with a missing key the text is empty and
  // the run still completes.
  EXPECT_EQ(0, RunProgram("silent noreboot"));
  EXPECT_EQ(ExpectedBlock("9:5:3", "9:5:3"), Log());
}

TEST_F(MainSequenceTest, WindowCreationFailureDoesNotStopTheRun) {
  M().ui.failCreateWindow = true;
  EXPECT_EQ(0, RunProgram("silent noreboot"));
  EXPECT_EQ(ExpectedBlock("9:5:3", "9:5:3"), Log());
  EXPECT_TRUE(winsim::TraceOf("step: ").empty());
}

}  // namespace
