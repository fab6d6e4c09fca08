// The end of a run: the restart warnings, the shutdown privilege, the forced
// reboot request and what the run leaves in its log when it gets that far.
#include <windows.h>

#include <algorithm>

#include "sim_fixture.h"

using winsim::M;

namespace {

const std::string kRule = "\r\n" + std::string(101, '=') + "\r\n";
const std::string kUntilInfLine = kRule + "Riruv Lum started at 9:5:3\r\n"
                                  "Deleted Lum Shortcuts \r\n"
                                  "Deleted Lum Directory \r\n"
                                  "Deleted Lum Registry Keys \r\n"
                                  "Deleted Lum Dlls \r\n"
                                  "Deleted inf files \r\n";
const std::string kWholeBlock = kUntilInfLine + "Riruv Lum ended at 9:5:3" + kRule;

const char kRebootWarning[] =
    "Riruv Lum will now restart your computer.\n"
    "Please save your work and close all open programs,\n"
    "or you risk losing data.";

class RestartTest : public SimTest {
 protected:
  bool ShutdownPrivilegeEnabled() { return M().tokens.processPrivileges[SE_SHUTDOWN_NAME]; }
  bool RestartRequested() {
    return M().ui.exitWindowsCalls == std::vector<std::pair<UINT, DWORD>>{{6u, 0u}};
  }
  // The trace from the finishing caption on.
  std::vector<std::string> FinishTrace() {
    const auto& lines = winsim::TraceLines();
    auto finish = std::find(lines.begin(), lines.end(), "caption: Finish Uninstalling Lum");
    return std::vector<std::string>(finish, lines.end());
  }
};

TEST_F(RestartTest, InteractiveRunWarnsTwiceEnablesThePrivilegeAndRequestsAForcedReboot) {
  EXPECT_EQ(0, RunProgram(""));

  ASSERT_EQ(3u, M().ui.messageBoxes.size());  // the confirmation, then the two warnings
  const winsim::MessageBoxCall& notice = M().ui.messageBoxes[1];
  EXPECT_EQ("You must reboot your system.", notice.text);
  EXPECT_EQ("Velmora Imaging Setup", notice.caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), notice.type);
  EXPECT_EQ(nullptr, notice.owner);
  const winsim::MessageBoxCall& warning = M().ui.messageBoxes[2];
  EXPECT_EQ(kRebootWarning, warning.text);
  EXPECT_EQ("Velmora Imaging Setup", warning.caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONWARNING), warning.type);
  EXPECT_EQ(nullptr, warning.owner);

  EXPECT_TRUE(ShutdownPrivilegeEnabled());
  EXPECT_TRUE(RestartRequested());
  EXPECT_EQ((std::vector<std::string>{
                "caption: Finish Uninstalling Lum",
                "msgbox: Velmora Imaging Setup: You must reboot your system.",
                std::string("msgbox: Velmora Imaging Setup: ") + kRebootWarning,
                "exitwindows: 6 0",
                "destroy: msctls_progress32",
            }),
            FinishTrace());
  EXPECT_EQ(kWholeBlock, Log());
}

TEST_F(RestartTest, NorebootSkipsWarningsPrivilegeAndRestartAndCompletesTheLog) {
  EXPECT_EQ(0, RunProgram("noreboot"));

  ASSERT_EQ(1u, M().ui.messageBoxes.size());  // only the confirmation
  EXPECT_TRUE(M().ui.exitWindowsCalls.empty());
  EXPECT_FALSE(ShutdownPrivilegeEnabled());
  EXPECT_EQ(kWholeBlock, Log());
  ASSERT_NE(nullptr, winsim::ProgressWindow());
  EXPECT_TRUE(winsim::ProgressWindow()->destroyed);
}

TEST_F(RestartTest, SilentAloneRestartsWithoutAnyBox) {
  EXPECT_EQ(0, RunProgram("silent"));

  EXPECT_TRUE(M().ui.messageBoxes.empty());
  EXPECT_TRUE(RestartRequested());
  EXPECT_TRUE(ShutdownPrivilegeEnabled());
  EXPECT_EQ(kWholeBlock, Log());
}

TEST_F(RestartTest, NorebootInTheProgramPathDoesNotPreventTheRestart) {
  EXPECT_EQ(0, RunProgram("silent", "C:\\noreboot\\CleanLum.exe"));
  EXPECT_TRUE(RestartRequested());
}

TEST_F(RestartTest, SilentOnlyInTheProgramPathSkipsTheConfirmationButNotTheWarnings) {
  EXPECT_EQ(0, RunProgram("", "C:\\silent\\CleanLum.exe"));

  ASSERT_EQ(2u, M().ui.messageBoxes.size());
  EXPECT_EQ("You must reboot your system.", M().ui.messageBoxes[0].text);
  EXPECT_EQ(kRebootWarning, M().ui.messageBoxes[1].text);
  EXPECT_TRUE(RestartRequested());
}

TEST_F(RestartTest, WordsInCapitalsAreNotTheWords) {
  EXPECT_EQ(0, RunProgram("silent NOREBOOT"));
  EXPECT_TRUE(RestartRequested());
}

TEST_F(RestartTest, TokenWithoutShutdownPrivilegeEndsTheRunWithOneAndAnOpenLog) {
  M().tokens.processPrivileges.erase(SE_SHUTDOWN_NAME);

  EXPECT_EQ(1, RunProgram("silent"));

  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_EQ("Couldn't adjust privilege", M().ui.messageBoxes[0].text);
  EXPECT_EQ("Error!", M().ui.messageBoxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK), M().ui.messageBoxes[0].type);
  EXPECT_TRUE(M().ui.exitWindowsCalls.empty());
  EXPECT_EQ(kUntilInfLine, Log());  // no end line, no closing rule
  ASSERT_NE(nullptr, winsim::ProgressWindow());
  EXPECT_FALSE(winsim::ProgressWindow()->destroyed);  // left to go with the process
}

TEST_F(RestartTest, TokenThatCannotBeOpenedEndsTheRunWithOne) {
  M().tokens.failOpenProcessToken = true;

  EXPECT_EQ(1, RunProgram("silent"));

  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_EQ("Couldn't open current access control token", M().ui.messageBoxes[0].text);
  EXPECT_EQ("Error!", M().ui.messageBoxes[0].caption);
  EXPECT_TRUE(M().ui.exitWindowsCalls.empty());
  EXPECT_EQ(kUntilInfLine, Log());
}

TEST_F(RestartTest, NonNtPlatformRequestsTheRestartWithoutTokenWork) {
  M().system.platformId = VER_PLATFORM_WIN32_WINDOWS;

  EXPECT_EQ(0, RunProgram("silent"));

  EXPECT_FALSE(ShutdownPrivilegeEnabled());  // untouched: no token work
  EXPECT_TRUE(RestartRequested());
  EXPECT_EQ(kWholeBlock, Log());
}

TEST_F(RestartTest, RefusedRestartStillEndsTheRunNormally) {
  M().ui.failExitWindows = true;

  EXPECT_EQ(0, RunProgram("silent"));

  EXPECT_EQ(1u, M().ui.exitWindowsCalls.size());
  EXPECT_EQ(kWholeBlock, Log());
  ASSERT_NE(nullptr, winsim::ProgressWindow());
  EXPECT_TRUE(winsim::ProgressWindow()->destroyed);
}

// The privilege is enabled in the process token; a thread still impersonating
// (its revert failed earlier in the run) asks with its own token, without it.
TEST_F(RestartTest, ThreadLeftImpersonatingIsRefusedTheRestartAndTheRunEndsNormally) {
  M().tokens.threadImpersonating = true;
  M().tokens.threadPrivileges = M().tokens.processPrivileges;
  M().tokens.failRevertToSelf = true;
  bool granted = false;
  M().ui.onExitWindows = [&] { granted = true; };

  EXPECT_EQ(0, RunProgram("silent"));

  EXPECT_TRUE(ShutdownPrivilegeEnabled());
  EXPECT_EQ(1u, M().ui.exitWindowsCalls.size());
  EXPECT_FALSE(granted);
  EXPECT_EQ(kWholeBlock, Log());
}

// A forced restart can end the program as soon as it is requested: by then
// the log already holds everything up to the INF line.
TEST_F(RestartTest, LogIsOnDiskWhenTheRestartIsRequested) {
  std::string onDisk = "(restart not requested)";
  M().ui.onExitWindows = [&] { onDisk = Log(); };

  EXPECT_EQ(0, RunProgram("silent"));

  EXPECT_EQ(kUntilInfLine, onDisk);
  EXPECT_EQ(kWholeBlock, Log());
}

}  // namespace
