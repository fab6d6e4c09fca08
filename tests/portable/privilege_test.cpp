// Privileges and impersonation through the real token calls: what SetPrivilege
// prints for each failure, and the thread's self-impersonation from start to
// RevertToSelf. Runs on the simulation and on Wine; every test leaves the
// process token's privileges and the thread's impersonation as it found them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "system/system.h"

namespace {

struct OwnToken {
  HANDLE handle = nullptr;
  explicit OwnToken(DWORD access) { OpenProcessToken(GetCurrentProcess(), access, &handle); }
  ~OwnToken() {
    if (handle) CloseHandle(handle);
  }
};

std::string Printed(HANDLE token, const char* name, bool enable, bool* result) {
  testing::internal::CaptureStdout();
  *result = SetPrivilege(token, name, enable);
  return testing::internal::GetCapturedStdout();
}

bool ThreadHasToken() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return false;
  CloseHandle(token);
  return true;
}

class PrivilegePortableTest : public ::testing::Test {
 protected:
  void SetUp() override { RevertToSelf(); }
  void TearDown() override { RevertToSelf(); }
};

TEST_F(PrivilegePortableTest, UnknownPrivilegeNamePrintsLookupError1313) {
  OwnToken token(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  ASSERT_NE(nullptr, token.handle);
  bool result = true;
  EXPECT_EQ("LookupPrivilegeValue error: 1313\n",
            Printed(token.handle, "SeNoSuchPrivilege", true, &result));
  EXPECT_FALSE(result);
}

TEST_F(PrivilegePortableTest, TokenWithoutAdjustRightPrintsAccessDenied) {
  OwnToken token(TOKEN_QUERY);
  ASSERT_NE(nullptr, token.handle);
  bool result = true;
  EXPECT_EQ("AdjustTokenPrivileges error: 5\n",
            Printed(token.handle, "SeShutdownPrivilege", true, &result));
  EXPECT_FALSE(result);
}

// No administrator's token holds the right to create tokens.
TEST_F(PrivilegePortableTest, PrivilegeTheTokenDoesNotHoldPrintsTheNotAssignedLine) {
  OwnToken token(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  ASSERT_NE(nullptr, token.handle);
  bool result = true;
  EXPECT_EQ("The token does not have the specified privilege. \n",
            Printed(token.handle, "SeCreateTokenPrivilege", true, &result));
  EXPECT_FALSE(result);
}

TEST_F(PrivilegePortableTest, HeldPrivilegeIsEnabledAndDisabledAgain) {
  OwnToken token(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
  ASSERT_NE(nullptr, token.handle);
  bool result = false;
  EXPECT_EQ("", Printed(token.handle, "SeShutdownPrivilege", true, &result));
  EXPECT_TRUE(result);
  EXPECT_EQ("", Printed(token.handle, "SeShutdownPrivilege", false, &result));
  EXPECT_TRUE(result);
}

TEST_F(PrivilegePortableTest, DebugPrivilegeLeavesTheThreadImpersonatingUntilRevertToSelf) {
  ASSERT_FALSE(ThreadHasToken());
  SetLastError(0xdeadbeef);
  HANDLE none = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &none));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), GetLastError());

  EXPECT_TRUE(EnableDebugPrivilege());
  EXPECT_TRUE(ThreadHasToken());
  EXPECT_TRUE(EnableDebugPrivilege());  // the existing token serves again

  EXPECT_TRUE(RevertToSelf());
  EXPECT_FALSE(ThreadHasToken());
  EXPECT_TRUE(RevertToSelf());  // also when the thread does not impersonate
}

}  // namespace
