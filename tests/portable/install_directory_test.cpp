// The install-directory step against the platform's own registry and token:
// the logon command read back as written, and the thread's impersonation ended.
// It touches only the vendor's fixed paths, so it runs only where no library
// is installed (a throw-away prefix); its RunOnce value is removed before and after.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "files/files.h"
#include "run/cleanup_context.h"
#include "system/system.h"

namespace {

const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

void DeleteLogonCommand() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, "delLUMDIR");
  RegCloseKey(key);
}

class InstallDirectoryPortableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_GT(length, 2u);
    ASSERT_LT(length, static_cast<UINT>(sizeof windows));
    drive_ = windows[0];
    std::string library = std::string(1, drive_) + ":\\Program Files\\Velmora Imaging";
    if (GetFileAttributesA(library.c_str()) != INVALID_FILE_ATTRIBUTES)
      GTEST_SKIP() << "a Velmora Imaging installation is present";
    DeleteLogonCommand();
  }
  void TearDown() override {
    DeleteLogonCommand();
    RevertToSelf();
  }

  char drive_ = 'C';
};

TEST_F(InstallDirectoryPortableTest, LogonCommandReadsBackAndImpersonationEnds) {
  ASSERT_TRUE(EnableDebugPrivilege());  // as after a process listing
  CleanupContext context;
  MsiMode = 0;

  testing::internal::CaptureStdout();
  RemoveInstallDirectory(context, "7.0");
  EXPECT_EQ("", testing::internal::GetCapturedStdout());

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_QUERY_VALUE, &key));
  char data[256];
  std::memset(data, 0xbd, sizeof data);
  DWORD type = 0;
  DWORD size = sizeof data;
  LONG status = RegQueryValueExA(key, "delLUMDIR", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  ASSERT_EQ(ERROR_SUCCESS, status);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
  std::string expected =
      std::string("%comspec% /c rd /s /q \"") + drive_ + ":\\Program Files\\Velmora Imaging\"";
  ASSERT_EQ(expected.size() + 1, size);
  EXPECT_EQ(expected + '\0', std::string(data, size));

  HANDLE token = nullptr;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_TOKEN), GetLastError());
}

}  // namespace
