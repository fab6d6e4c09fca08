// The command runner against the platform: the program named in full is the
// one that runs, and the child receives the command line as it was given,
// whatever its first token says; what a failed start and a time-out do, and
// where the child starts. Each test uses the private folder C:\CleanLumRunTest.
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
  static RunResult Run(const std::string& program, const std::string& commandLine, DWORD flags,
                       DWORD timeoutMs) {
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    return RunAndWait(program.c_str(), buffer.data(), flags, timeoutMs).result;
  }
};

TEST_F(RunAndWaitTest, ProgramPathWithBlanksRunsAndTheChildGetsItsCommandLineUnchanged) {
  const std::string program = kRoot + "\\Program Files\\Velmora Test\\Tools\\probe.exe";
  ASSERT_TRUE(InstallProbeChild(program));
  // A prefix of the unquoted path that a search by the command line would try first.
  ASSERT_TRUE(InstallProbeChild(kRoot + "\\Program.exe"));
  const std::string commandLine = program + " " + kRecord + " 0";

  EXPECT_EQ(RunResult::Finished, Run(program, commandLine, 0, 30000));

  ProbeRecord record = ReadProbeRecord(kRecord);
  ASSERT_TRUE(record.exists);
  EXPECT_TRUE(record.ended);  // the runner waited for the end
  EXPECT_TRUE(EqualsIgnoringCase(program, record.module)) << record.module;
  EXPECT_EQ(commandLine, record.commandLine);
}

TEST_F(RunAndWaitTest, TheNamedProgramRunsEvenWhereTheCommandLineNamesAnother) {
  // As the service controller runs: the text names "...\\SysWOW64\\sc"; a file of
  // that name and a bare-name look-alike in the working directory stay unrun.
  const std::string program = kRoot + "\\system32\\sc.exe";
  ASSERT_TRUE(InstallProbeChild(program));
  ASSERT_TRUE(InstallProbeChild(kRoot + "\\SysWOW64\\sc.exe"));
  const std::string commandLine = kRoot + "\\SysWOW64\\sc " + kRecord + " 0";

  EXPECT_EQ(RunResult::Finished, Run(program, commandLine, CREATE_NO_WINDOW, INFINITE));

  ProbeRecord record = ReadProbeRecord(kRecord);
  EXPECT_EQ(commandLine, record.commandLine);
  EXPECT_TRUE(EqualsIgnoringCase(program, record.module)) << record.module;
  EXPECT_TRUE(record.ended);
}

TEST_F(RunAndWaitTest, AMissingProgramIsNotLookedForElsewhere) {
  // The command line's first token names a program that exists; the program
  // given does not: nothing runs.
  ASSERT_TRUE(InstallProbeChild(kRoot + "\\Tools\\drvmanage.exe"));
  const std::string commandLine = kRoot + "\\Tools\\drvmanage.exe " + kRecord + " 0";
  std::vector<char> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back('\0');

  EXPECT_EQ(RunResult::NotStarted,
            RunAndWait((kRoot + "\\Elsewhere\\drvmanage.exe").c_str(), buffer.data(), 0, INFINITE).result);
  EXPECT_EQ(commandLine, std::string(buffer.data()));
  EXPECT_EQ(RunResult::NotStarted, RunAndWait("", buffer.data(), 0, INFINITE).result);
  EXPECT_EQ(RunResult::NotStarted, RunAndWait(nullptr, buffer.data(), 0, INFINITE).result);
  EXPECT_FALSE(ReadProbeRecord(kRecord).exists);

  char empty[1] = "";
  EXPECT_EQ(RunResult::NotStarted, RunAndWait((kRoot + "\\Tools\\drvmanage.exe").c_str(), empty, 0, INFINITE).result);
}

TEST_F(RunAndWaitTest, ChildOutlivingAShortTimeOutIsLeftRunning) {
  ASSERT_TRUE(InstallProbeChild(kRoot + "\\Tools\\slow.exe"));

  EXPECT_EQ(RunResult::TimedOut,
            Run(kRoot + "\\Tools\\slow.exe", kRoot + "\\Tools\\slow.exe " + kRecord + " 60000", CREATE_NO_WINDOW, 100));

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

  RunResult result = Run(kRoot + "\\Tools\\probe.exe", kRoot + "\\Tools\\probe.exe " + kRecord + " 0", 0, 30000);
  SetCurrentDirectoryA(previous);

  EXPECT_EQ(RunResult::Finished, result);
  EXPECT_EQ(work, ReadProbeRecord(kRecord).workingDirectory);
}

}  // namespace
