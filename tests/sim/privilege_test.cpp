// Privileges on the simulated machine: what SetPrivilege prints and returns for
// each kind of token, and how the debug privilege is enabled in the thread's
// own impersonation token.
#include <windows.h>

#include <string>

#include "sim_fixture.h"
#include "system/system.h"

using winsim::M;

namespace {

class PrivilegeTest : public SimTest {
 protected:
  HANDLE OpenOwnToken(DWORD access) {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &token));
    return token;
  }

  // Runs SetPrivilege and returns what it printed.
  std::string PrintedBySetPrivilege(HANDLE token, const char* name, bool enable, bool* result) {
    testing::internal::CaptureStdout();
    *result = SetPrivilege(token, name, enable);
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(PrivilegeTest, EnablingAHeldPrivilegeEnablesItSilently) {
  HANDLE token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  bool result = false;
  EXPECT_EQ("", PrintedBySetPrivilege(token, "SeShutdownPrivilege", true, &result));
  EXPECT_TRUE(result);
  EXPECT_TRUE(M().tokens.processPrivileges["SeShutdownPrivilege"]);
  EXPECT_FALSE(M().tokens.processPrivileges["SeDebugPrivilege"]);  // only the one named
  CloseHandle(token);
}

TEST_F(PrivilegeTest, DisablingAHeldPrivilegeClearsItAndSucceeds) {
  M().tokens.processPrivileges["SeDebugPrivilege"] = true;
  HANDLE token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  bool result = false;
  EXPECT_EQ("", PrintedBySetPrivilege(token, "SeDebugPrivilege", false, &result));
  EXPECT_TRUE(result);
  EXPECT_FALSE(M().tokens.processPrivileges["SeDebugPrivilege"]);
  CloseHandle(token);
}

TEST_F(PrivilegeTest, UnknownNamePrintsTheLookupErrorWithCode1313) {
  HANDLE token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  bool result = true;
  EXPECT_EQ("LookupPrivilegeValue error: 1313\n",
            PrintedBySetPrivilege(token, "SeNoSuchPrivilege", true, &result));
  EXPECT_FALSE(result);
  CloseHandle(token);
}

TEST_F(PrivilegeTest, TokenWithoutThePrivilegeFailsAfterASuccessfulAdjustment) {
  M().tokens.processPrivileges.erase("SeDebugPrivilege");
  HANDLE token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  bool result = true;
  EXPECT_EQ("The token does not have the specified privilege. \n",
            PrintedBySetPrivilege(token, "SeDebugPrivilege", true, &result));
  EXPECT_FALSE(result);
  EXPECT_EQ(0u, M().tokens.processPrivileges.count("SeDebugPrivilege"));  // nothing granted
  CloseHandle(token);
}

TEST_F(PrivilegeTest, TokenOpenedWithoutAdjustRightPrintsAccessDenied) {
  HANDLE token = OpenOwnToken(TOKEN_QUERY);
  bool result = true;
  EXPECT_EQ("AdjustTokenPrivileges error: 5\n",
            PrintedBySetPrivilege(token, "SeShutdownPrivilege", true, &result));
  EXPECT_FALSE(result);
  EXPECT_FALSE(M().tokens.processPrivileges["SeShutdownPrivilege"]);
  CloseHandle(token);
}

TEST_F(PrivilegeTest, InvalidTokenHandlePrintsInvalidHandle) {
  bool result = true;
  EXPECT_EQ("AdjustTokenPrivileges error: 6\n",
            PrintedBySetPrivilege(nullptr, "SeShutdownPrivilege", true, &result));
  EXPECT_FALSE(result);
}

// ---- EnableDebugPrivilege ------------------------------------------------------

TEST_F(PrivilegeTest, ThreadWithoutTokenImpersonatesItselfAndKeepsImpersonating) {
  ASSERT_FALSE(M().tokens.threadImpersonating);

  EXPECT_TRUE(EnableDebugPrivilege());

  EXPECT_TRUE(M().tokens.threadImpersonating);
  EXPECT_EQ(SecurityImpersonation, M().tokens.threadLevel);
  EXPECT_TRUE(M().tokens.threadPrivileges["SeDebugPrivilege"]);
  EXPECT_FALSE(M().tokens.processPrivileges["SeDebugPrivilege"]);  // the process token is untouched
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(PrivilegeTest, LaterCallsUseTheExistingThreadToken) {
  ASSERT_TRUE(EnableDebugPrivilege());
  M().tokens.threadPrivileges["SeDebugPrivilege"] = false;  // as if something had turned it off

  EXPECT_TRUE(EnableDebugPrivilege());

  EXPECT_EQ(1u, winsim::TraceOf("impersonate-self").size());
  EXPECT_TRUE(M().tokens.threadPrivileges["SeDebugPrivilege"]);
}

TEST_F(PrivilegeTest, OtherOpenFailureFailsWithoutMessageOrImpersonation) {
  M().tokens.openThreadTokenError = ERROR_ACCESS_DENIED;

  EXPECT_FALSE(EnableDebugPrivilege());

  EXPECT_FALSE(M().tokens.threadImpersonating);
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(PrivilegeTest, FailedSelfImpersonationFailsWithoutMessage) {
  M().tokens.failImpersonateSelf = true;

  EXPECT_FALSE(EnableDebugPrivilege());

  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(PrivilegeTest, SecondOpenFailureShowsOpenThreadTokenBox) {
  M().tokens.failOpenThreadTokenAfterImpersonation = true;

  EXPECT_FALSE(EnableDebugPrivilege());

  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_EQ("OpenThreadToken failed !", M().ui.messageBoxes[0].text);
  EXPECT_EQ("Error!", M().ui.messageBoxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK), M().ui.messageBoxes[0].type);
  EXPECT_EQ(nullptr, M().ui.messageBoxes[0].owner);
}

TEST_F(PrivilegeTest, ProcessWithoutDebugPrivilegeShowsSetPrivilegeBox) {
  M().tokens.processPrivileges.erase("SeDebugPrivilege");

  testing::internal::CaptureStdout();
  EXPECT_FALSE(EnableDebugPrivilege());
  EXPECT_EQ("The token does not have the specified privilege. \n",
            testing::internal::GetCapturedStdout());

  ASSERT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_EQ("SetPrivilege", M().ui.messageBoxes[0].text);
  EXPECT_EQ("Error!", M().ui.messageBoxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK), M().ui.messageBoxes[0].type);
}

// ---- The simulated token calls behave as Windows documents ---------------------

TEST_F(PrivilegeTest, RevertedThreadTokenHandleNoLongerReachesTheThread) {
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &token));
  ASSERT_TRUE(RevertToSelf());

  EXPECT_TRUE(SetPrivilege(token, "SeDebugPrivilege", true));  // the detached token still holds it

  EXPECT_FALSE(M().tokens.threadImpersonating);
  EXPECT_FALSE(M().tokens.processPrivileges["SeDebugPrivilege"]);
  HANDLE again = nullptr;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &again));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), GetLastError());
  CloseHandle(token);
}

TEST_F(PrivilegeTest, IdentificationLevelTokenOpensOnlyAsSelf) {
  ASSERT_TRUE(ImpersonateSelf(SecurityIdentification));
  HANDLE token = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
  EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_IMPERSONATION_LEVEL), GetLastError());
  EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  CloseHandle(token);
}

TEST_F(PrivilegeTest, FormerStateListsOnlyChangedPrivilegesAndNeedsRoom) {
  M().tokens.processPrivileges["SeBackupPrivilege"] = true;
  HANDLE token = OpenOwnToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  TOKEN_PRIVILEGES request;
  request.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &request.Privileges[0].Luid));
  request.Privileges[0].Attributes = 0;

  TOKEN_PRIVILEGES former;
  DWORD needed = 0;
  EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &request, 4, &former, &needed));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(static_cast<DWORD>(sizeof(TOKEN_PRIVILEGES)), needed);
  EXPECT_TRUE(M().tokens.processPrivileges["SeBackupPrivilege"]);  // unchanged by the failed call

  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &request, sizeof former, &former, &needed));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  ASSERT_EQ(1u, former.PrivilegeCount);
  EXPECT_EQ(static_cast<DWORD>(SE_PRIVILEGE_ENABLED), former.Privileges[0].Attributes);
  EXPECT_FALSE(M().tokens.processPrivileges["SeBackupPrivilege"]);

  // Asking again changes nothing, so the former state is empty.
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &request, sizeof former, &former, &needed));
  EXPECT_EQ(0u, former.PrivilegeCount);
  CloseHandle(token);
}

}  // namespace
