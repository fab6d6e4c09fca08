// Process termination by name on the simulated machine: which process of a
// name is ended, which are not seen, and what the result says.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim_fixture.h"
#include "system/system.h"

using winsim::M;

namespace {

class ProcessesTest : public SimTest {
 protected:
  bool Running(DWORD pid) { return winsim::FindProcess(pid)->running; }
};

TEST_F(ProcessesTest, NoProcessOfTheNameIsASuccessAndEndsNothing) {
  DWORD other = winsim::AddProcess("explorer.exe");

  EXPECT_TRUE(TerminateProcessByName("pyxMon.exe"));

  EXPECT_TRUE(Running(other));
  EXPECT_TRUE(winsim::TraceOf("terminate: ").empty());
}

TEST_F(ProcessesTest, OnlyTheFirstOfTwoProcessesOfOneNameIsEnded) {
  DWORD first = winsim::AddProcess("pyxMon.exe");
  DWORD second = winsim::AddProcess("pyxMon.exe");

  EXPECT_TRUE(TerminateProcessByName("pyxMon.exe"));

  EXPECT_FALSE(Running(first));
  EXPECT_EQ(0u, winsim::FindProcess(first)->exitCode);
  EXPECT_TRUE(Running(second));

  // The next call ends the next one.
  EXPECT_TRUE(TerminateProcessByName("pyxMon.exe"));
  EXPECT_FALSE(Running(second));
}

TEST_F(ProcessesTest, NamesMatchWholeAndWithoutRegardToAsciiCase) {
  DWORD upper = winsim::AddProcess("VLXGIGESERVICE.EXE");
  DWORD longer = winsim::AddProcess("vlxgigeservice.exe.bak");
  DWORD shorter = winsim::AddProcess("gigeservice.exe");

  EXPECT_TRUE(TerminateProcessByName("vlxgigeservice.exe"));

  EXPECT_FALSE(Running(upper));
  EXPECT_TRUE(Running(longer));
  EXPECT_TRUE(Running(shorter));
  EXPECT_TRUE(TerminateProcessByName("vlxgigeservice"));  // no extension added: nothing matches
  EXPECT_TRUE(Running(longer));
}

TEST_F(ProcessesTest, OtherUsersProcessIsEndedThroughTheDebugPrivilege) {
  DWORD service = winsim::AddProcess("LumNetworkServer.exe", "SYSTEM");

  EXPECT_TRUE(TerminateProcessByName("LumNetworkServer.exe"));

  EXPECT_FALSE(Running(service));
  EXPECT_TRUE(M().tokens.threadImpersonating);  // left for the install-directory step to end
}

TEST_F(ProcessesTest, WithoutTheDebugPrivilegeOtherUsersProcessIsNotSeen) {
  M().tokens.processPrivileges.erase("SeDebugPrivilege");
  DWORD service = winsim::AddProcess("LumNetworkServer.exe", "SYSTEM");
  DWORD own = winsim::AddProcess("LumNetworkServer.exe");  // not seen either: the listing is empty

  testing::internal::CaptureStdout();
  EXPECT_TRUE(TerminateProcessByName("LumNetworkServer.exe"));
  testing::internal::GetCapturedStdout();

  EXPECT_TRUE(Running(service));
  EXPECT_TRUE(Running(own));
  // One box for each of the two listings.
  EXPECT_EQ((std::vector<std::string>{"Error!: SetPrivilege", "Error!: SetPrivilege"}),
            winsim::TraceOf("msgbox: "));
}

TEST_F(ProcessesTest, MatchThatRefusesTerminationIsAFailure) {
  DWORD guarded = winsim::AddProcess("pyxMon.exe");
  winsim::FindProcess(guarded)->refuseTerminate = true;

  EXPECT_FALSE(TerminateProcessByName("pyxMon.exe"));

  EXPECT_TRUE(Running(guarded));
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(ProcessesTest, ProtectedProcessIsPassedOverAndTheNextOfTheNameEnded) {
  DWORD shielded = winsim::AddProcess("pyxMon.exe");
  winsim::FindProcess(shielded)->isProtected = true;
  DWORD plain = winsim::AddProcess("pyxMon.exe");

  EXPECT_TRUE(TerminateProcessByName("pyxMon.exe"));

  EXPECT_TRUE(Running(shielded));
  EXPECT_FALSE(Running(plain));
}

TEST_F(ProcessesTest, ProcessEndingBetweenTheTwoListingsLeavesNoStaleEntry) {
  DWORD leaving = winsim::AddProcess("pyxMon.exe");
  DWORD staying = winsim::AddProcess("pyxMon.exe");
  int listings = 0;
  M().processes.afterEnumProcesses = [&] {
    if (++listings == 1) winsim::FindProcess(leaving)->running = false;
  };

  EXPECT_TRUE(TerminateProcessByName("pyxMon.exe"));

  EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), winsim::FindProcess(leaving)->exitCode);  // not ended by us
  EXPECT_FALSE(Running(staying));
  EXPECT_EQ(std::vector<std::string>{"pyxMon.exe"}, winsim::TraceOf("terminate: "));
}

TEST_F(ProcessesTest, ProcessAppearingBetweenTheListingsIsNotExamined) {
  winsim::AddProcess("explorer.exe");
  DWORD late = 0;
  int listings = 0;
  M().processes.afterEnumProcesses = [&] {
    if (++listings == 1) late = winsim::AddProcess("pyxMon.exe");
  };

  EXPECT_TRUE(TerminateProcessByName("pyxMon.exe"));

  EXPECT_TRUE(Running(late));
}

TEST_F(ProcessesTest, OnlyTheFirst1024ProcessesAreSeen) {
  for (int i = 0; i < 1024; ++i) winsim::AddProcess("svchost.exe");
  DWORD beyond = winsim::AddProcess("pyxMon.exe");

  EXPECT_TRUE(TerminateProcessByName("pyxMon.exe"));

  EXPECT_TRUE(Running(beyond));
}

TEST_F(ProcessesTest, ChildThatOutlivedItsWaitIsEndedByName) {
  winsim::MakeFile("C:\\Tools\\pyxMon.exe", "MZ");
  winsim::SetProgramBehaviour("pyxMon.exe", [](const winsim::ChildRun&) {
    winsim::ChildOutcome outcome;
    outcome.keepsRunning = true;
    return outcome;
  });
  char commandLine[] = "C:\\Tools\\pyxMon.exe";
  ASSERT_EQ(RunResult::TimedOut, RunAndWait(commandLine, commandLine, 0, 1000).result);
  ASSERT_EQ(std::vector<std::string>{"pyxMon.exe"}, winsim::RunningImageNames());

  EXPECT_TRUE(TerminateProcessByName("PYXMON.EXE"));

  EXPECT_TRUE(winsim::RunningImageNames().empty());
}

// ---- The building blocks -------------------------------------------------------

TEST_F(ProcessesTest, ListingCountsEveryAccessibleProcessButStoresAtMostCapacity) {
  DWORD a = winsim::AddProcess("a.exe");
  DWORD shielded = winsim::AddProcess("b.exe");
  winsim::FindProcess(shielded)->isProtected = true;
  DWORD c = winsim::AddProcess("c.exe");
  winsim::AddProcess("d.exe");

  EXPECT_EQ(3u, ListAccessibleProcesses(nullptr, 0));
  DWORD ids[3] = {0xbdbdbdbd, 0xbdbdbdbd, 0xbdbdbdbd};
  EXPECT_EQ(3u, ListAccessibleProcesses(ids, 2));
  EXPECT_EQ(a, ids[0]);
  EXPECT_EQ(c, ids[1]);
  EXPECT_EQ(0xbdbdbdbdu, ids[2]);
}

TEST_F(ProcessesTest, ListingIsEmptyWhenThePrivilegeStepFails) {
  winsim::AddProcess("a.exe");
  M().tokens.openThreadTokenError = ERROR_ACCESS_DENIED;
  DWORD ids[1] = {0xbdbdbdbd};

  EXPECT_EQ(0u, ListAccessibleProcesses(ids, 1));

  EXPECT_EQ(0xbdbdbdbdu, ids[0]);
}

TEST_F(ProcessesTest, BaseNameIsMeasuredThenReadWithItsTerminator) {
  DWORD pid = winsim::AddProcess("pyxMon.exe");

  EXPECT_EQ(11, GetProcessBaseName(pid, nullptr, 0));
  char name[11];
  std::memset(name, 0xbd, sizeof name);
  EXPECT_EQ(11, GetProcessBaseName(pid, name, sizeof name));
  EXPECT_STREQ("pyxMon.exe", name);
}

TEST_F(ProcessesTest, BaseNameThatCannotBeReadGivesMinusOne) {
  DWORD shielded = winsim::AddProcess("pyxMon.exe");
  winsim::FindProcess(shielded)->isProtected = true;
  DWORD ended = winsim::AddProcess("pyxMon.exe");
  winsim::FindProcess(ended)->running = false;
  DWORD pid = winsim::AddProcess("pyxMon.exe");

  EXPECT_EQ(-1, GetProcessBaseName(shielded, nullptr, 0));
  EXPECT_EQ(-1, GetProcessBaseName(ended, nullptr, 0));
  EXPECT_EQ(-1, GetProcessBaseName(0x7fff0000, nullptr, 0));
  // A buffer too small for name and terminator: the cut name is not returned.
  char small[10];
  EXPECT_EQ(-1, GetProcessBaseName(pid, small, sizeof small));
  EXPECT_EQ(-1, GetProcessBaseName(pid, small, 0));
}

}  // namespace
