// Ending real processes by name: two copies of this test program are started
// under a private name and ended one per call. Needs real processes, so it runs
// under Wine (and Windows) only; the simulation's process list has its own tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "system/system.h"

namespace {

// Started as a child by the test below; waits to be ended.
TEST(ProcessesChild, DISABLED_WaitsToBeEnded) { Sleep(60000); }

#if defined(_WIN32)

class ProcessesPortableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char self[MAX_PATH];
    char temp[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    DWORD length = GetTempPathA(sizeof temp, temp);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(sizeof temp));
    baseName_ = "cleanlum_victim_" + std::to_string(GetCurrentProcessId()) + ".exe";
    copy_ = std::string(temp) + baseName_;
    DeleteFileA(copy_.c_str());
    ASSERT_TRUE(CopyFileA(self, copy_.c_str(), FALSE));
  }

  void TearDown() override {
    for (PROCESS_INFORMATION& child : children_) {
      if (WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, 5000);
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
    }
    RevertToSelf();
    DeleteFileA(copy_.c_str());
  }

  PROCESS_INFORMATION Start() {
    std::string commandLine = "\"" + copy_ +
                              "\" --gtest_also_run_disabled_tests "
                              "--gtest_filter=ProcessesChild.DISABLED_WaitsToBeEnded";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    EXPECT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &child));
    if (child.hProcess) children_.push_back(child);
    return child;
  }

  // The child's executable is listed once the process has loaded it.
  bool WaitUntilListed(DWORD pid) {
    for (int i = 0; i < 100; ++i) {
      if (GetProcessBaseName(pid, nullptr, 0) > 1) return true;
      Sleep(50);
    }
    return false;
  }

  static bool Ended(const PROCESS_INFORMATION& child) {
    return WaitForSingleObject(child.hProcess, 10000) == WAIT_OBJECT_0;
  }

  std::string baseName_;
  std::string copy_;
  std::vector<PROCESS_INFORMATION> children_;
};

TEST_F(ProcessesPortableTest, FirstProcessOfTheNameIsEndedPerCallWhateverTheCase) {
  PROCESS_INFORMATION first = Start();
  ASSERT_NE(nullptr, first.hProcess);
  ASSERT_TRUE(WaitUntilListed(first.dwProcessId));
  PROCESS_INFORMATION second = Start();
  ASSERT_NE(nullptr, second.hProcess);
  ASSERT_TRUE(WaitUntilListed(second.dwProcessId));

  std::string upper = baseName_;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);

  // Which one goes first is the platform's order; exactly one goes per call.
  EXPECT_TRUE(TerminateProcessByName(upper.c_str()));
  bool firstEnded = WaitForSingleObject(first.hProcess, 10000) == WAIT_OBJECT_0;
  bool secondEnded = WaitForSingleObject(second.hProcess, 0) == WAIT_OBJECT_0;
  if (!firstEnded) secondEnded = WaitForSingleObject(second.hProcess, 10000) == WAIT_OBJECT_0;
  EXPECT_NE(firstEnded, secondEnded);
  DWORD code = 1;
  const PROCESS_INFORMATION& gone = firstEnded ? first : second;
  EXPECT_TRUE(GetExitCodeProcess(gone.hProcess, &code));
  EXPECT_EQ(0u, code);

  EXPECT_TRUE(TerminateProcessByName(baseName_.c_str()));
  EXPECT_TRUE(Ended(first));
  EXPECT_TRUE(Ended(second));

  EXPECT_TRUE(TerminateProcessByName(baseName_.c_str()));  // none left: still a success
}

TEST_F(ProcessesPortableTest, NameOfARunningProcessIsReadWithItsTerminator) {
  PROCESS_INFORMATION child = Start();
  ASSERT_NE(nullptr, child.hProcess);
  ASSERT_TRUE(WaitUntilListed(child.dwProcessId));

  int size = GetProcessBaseName(child.dwProcessId, nullptr, 0);
  ASSERT_EQ(static_cast<int>(baseName_.size()) + 1, size);
  std::string name(static_cast<size_t>(size), '\xbd');
  EXPECT_EQ(size, GetProcessBaseName(child.dwProcessId, &name[0], static_cast<DWORD>(size)));
  EXPECT_EQ(baseName_ + '\0', name);
}

#endif  // _WIN32

}  // namespace
