// System facts as a program without a compatibility manifest sees them, and
// the bounded reads of the directories. Runs on the simulation and on Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "system/system_facts.h"
#include "system/text.h"

TEST(SystemFactsTest, VersionRecordIsFilledWithItsSizeField) {
  OSVERSIONINFOA version = QueryVersion();
  EXPECT_EQ(148u, version.dwOSVersionInfoSize);
  EXPECT_GE(version.dwMajorVersion, 4u);
  EXPECT_LE(version.dwMajorVersion, 6u);  // no manifest: Vista and later report 6
  EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), version.dwPlatformId);
}

TEST(SystemFactsTest, GetVersionExRefusesAWrongSizeField) {
  OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = 100;
  SetLastError(0xdeadbeef);
  EXPECT_FALSE(GetVersionExA(&version));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST(SystemFactsTest, DirectoryThatDoesNotFitReportsTheSizeItNeeds) {
  char full[MAX_PATH];
  UINT length = GetWindowsDirectoryA(full, sizeof full);
  ASSERT_GT(length, 3u);
  char small[4];
  std::memset(small, 0xbd, sizeof small);
  EXPECT_EQ(length + 1, GetWindowsDirectoryA(small, sizeof small));

  char cwd[MAX_PATH];
  DWORD cwdLength = GetCurrentDirectoryA(sizeof cwd, cwd);
  ASSERT_GT(cwdLength, 2u);
  EXPECT_EQ(cwdLength + 1, GetCurrentDirectoryA(2, small));
}

TEST(SystemFactsTest, BoundedQueriesRefuseRatherThanCut) {
  char tiny[3];
  std::memset(tiny, 'x', sizeof tiny);
  EXPECT_FALSE(QueryWindowsDirectory(tiny));
  EXPECT_EQ('\0', tiny[0]);
  EXPECT_FALSE(QueryCurrentDirectory(tiny));
  EXPECT_EQ('\0', tiny[0]);

  char windows[MAX_PATH];
  ASSERT_TRUE(QueryWindowsDirectory(windows));
  EXPECT_EQ(':', windows[1]);
}

TEST(TextTest, CopyAndAppendRefuseTextsThatDoNotFitAndLeaveTheBufferUntouched) {
  char buffer[8];
  EXPECT_TRUE(CopyText(buffer, "abc"));
  EXPECT_FALSE(AppendText(buffer, "defgh"));  // 3 + 5 + terminator > 8
  EXPECT_STREQ("abc", buffer);
  EXPECT_TRUE(AppendText(buffer, "defg"));
  EXPECT_STREQ("abcdefg", buffer);
  EXPECT_FALSE(CopyText(buffer, "12345678"));
  EXPECT_STREQ("abcdefg", buffer);
}

TEST(TextTest, BuildTextEmptiesTheBufferWhenTheWholeDoesNotFit) {
  char buffer[10];
  EXPECT_TRUE(BuildText(buffer, "C:", "\\", "tool"));
  EXPECT_STREQ("C:\\tool", buffer);
  EXPECT_FALSE(BuildText(buffer, "C:", "\\", "toolname"));
  EXPECT_STREQ("", buffer);
}

TEST(TextTest, ContainsIsCaseSensitiveAndFindsWordsInsideWords) {
  EXPECT_TRUE(ContainsText("C:\\msitools\\x.exe", "msi"));
  EXPECT_TRUE(ContainsText("a presilently b", "silent"));
  EXPECT_FALSE(ContainsText("SILENT", "silent"));
  EXPECT_FALSE(ContainsText(nullptr, "silent"));
}

static std::string UpperCopy(const char* text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

TEST(SystemFactsTest, ShellReportsTheWindowsAndSystemFoldersAndRefusesAnUnknownOne) {
  char windows[MAX_PATH];
  char system[MAX_PATH];
  ASSERT_TRUE(QueryWindowsDirectory(windows));
  ASSERT_TRUE(QuerySystemDirectory(system));
  char path[MAX_PATH];
  ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_WINDOWS, nullptr, SHGFP_TYPE_CURRENT, path));
  EXPECT_EQ(UpperCopy(windows), UpperCopy(path));
  ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, CSIDL_SYSTEM, nullptr, SHGFP_TYPE_CURRENT, path));
  EXPECT_EQ(UpperCopy(system), UpperCopy(path));
  EXPECT_TRUE(FAILED(SHGetFolderPathA(nullptr, 0xFE, nullptr, SHGFP_TYPE_CURRENT, path)));
}

TEST(SystemFactsTest, EnvironmentReferencesExpandAndUnknownOnesStayAsWritten) {
  ASSERT_TRUE(SetEnvironmentVariableA("CLEANLUM_TEST_DIR", "C:\\Data"));
  const char source[] = "%cleanlum_test_dir%\\App %CLEANLUM_NO_SUCH% 100%";
  const std::string expected = "C:\\Data\\App %CLEANLUM_NO_SUCH% 100%";
  char out[MAX_PATH];
  EXPECT_EQ(expected.size() + 1, ExpandEnvironmentStringsA(source, out, sizeof out));
  EXPECT_EQ(expected, out);
  // Asked without a buffer, it tells the size the text needs.
  EXPECT_GE(ExpandEnvironmentStringsA(source, nullptr, 0), expected.size() + 1);
  SetEnvironmentVariableA("CLEANLUM_TEST_DIR", nullptr);
}
