// The command runner against the platform: how an unquoted command line finds
// its program, what a failed start and a time-out do, and where the child
// starts. Each test uses the private folder C:\CleanLumRunTest.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "probe_child.h"
#include "system/system.h"
#include "test_folders.h"

namespace {

const std::string kRoot = "C:\\CleanLumRunTest";
const std::string kRecord = kRoot + "\\record.txt";

class RunAndWaitTest : public test_folders::PrivateFolderTest {
 protected:
  RunAndWaitTest() : PrivateFolderTest(kRoot) {}

  // The runner takes a writable buffer the caller owns.
  static RunResult Run(const std::string& commandLine, DWORD flags, DWORD timeoutMs) {
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    return RunAndWait(buffer.data(), flags, timeoutMs).result;
  }
};

TEST_F(RunAndWaitTest, UnquotedProgramPathWithBlanksStartsTheProgramItNames) {
  const std::string program = kRoot + "\\Program Files\\Velmora Test\\Tools\\probe.exe";
  ASSERT_TRUE(InstallProbeChild(program));
  const std::string commandLine = program + " " + kRecord + " 0";

  EXPECT_EQ(RunResult::Finished, Run(commandLine, 0, 30000));

  ProbeRecord record = ReadProbeRecord(kRecord);
  ASSERT_TRUE(record.exists);
  EXPECT_TRUE(record.ended);  // the runner waited for the end
  // Windows hands the child its command line unchanged. Wine (8.0) puts quotes
  // around a program path with blanks that it found by trying prefixes.
  const std::string passedOn =
      test_folders::RunningUnderWine() ? "\"" + program + "\" " + kRecord + " 0" : commandLine;
  EXPECT_EQ(passedOn, record.commandLine);
}

TEST_F(RunAndWaitTest, ProgramNamedWithoutExtensionRunsItsExeFile) {
  ASSERT_TRUE(InstallProbeChild(kRoot + "\\system32\\sc.exe"));
  const std::string commandLine = kRoot + "\\system32\\sc " + kRecord + " 0";

  EXPECT_EQ(RunResult::Finished, Run(commandLine, CREATE_NO_WINDOW, INFINITE));

  ProbeRecord record = ReadProbeRecord(kRecord);
  EXPECT_EQ(commandLine, record.commandLine);
  EXPECT_TRUE(record.ended);
}

TEST_F(RunAndWaitTest, MissingToolIsNotStartedAndLeavesTheCommandLineAsItWas) {
  const std::string commandLine = kRoot + "\\Tools\\drvmanage.exe uninstall -log -quiet";
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');

  EXPECT_EQ(RunResult::NotStarted, RunAndWait(buffer.data(), 0, INFINITE).result);
  EXPECT_EQ(commandLine, std::string(buffer.data()));

  char empty[1] = "";
  EXPECT_EQ(RunResult::NotStarted, RunAndWait(empty, 0, INFINITE).result);
}

TEST_F(RunAndWaitTest, ChildOutlivingAShortTimeOutIsLeftRunning) {
  ASSERT_TRUE(InstallProbeChild(kRoot + "\\Tools\\slow.exe"));

  EXPECT_EQ(RunResult::TimedOut, Run(kRoot + "\\Tools\\slow.exe " + kRecord + " 60000", CREATE_NO_WINDOW, 100));

  ProbeRecord record = AwaitProbeRecord(kRecord);
  ASSERT_NE(0u, record.pid);
  EXPECT_TRUE(ProbeIsRunning(record.pid));
  EXPECT_FALSE(record.ended);
  EndProbe(record.pid);
  EXPECT_FALSE(ProbeIsRunning(record.pid));
}

TEST_F(RunAndWaitTest, ChildStartsInTheProgramsWorkingDirectory) {
  ASSERT_TRUE(InstallProbeChild(kRoot + "\\Tools\\probe.exe"));
  const std::string work = kRoot + "\\Work Folder";
  ASSERT_TRUE(CreateDirectoryA(work.c_str(), nullptr));
  char previous[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(length > 0 && length < sizeof previous);
  ASSERT_TRUE(SetCurrentDirectoryA(work.c_str()));

  RunResult result = Run(kRoot + "\\Tools\\probe.exe " + kRecord + " 0", 0, 30000);
  SetCurrentDirectoryA(previous);

  EXPECT_EQ(RunResult::Finished, result);
  EXPECT_EQ(work, ReadProbeRecord(kRecord).workingDirectory);
}

}  // namespace
