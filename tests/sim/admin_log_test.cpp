// The administrator's log: every line of a whole run in the format CMTrace
// reads, and in it the version, the arguments, the account, each step, each
// child with its exit code, the outcome and where the reports are.
#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "run/admin_log.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

struct Line {
  std::string message, time, bias, date, component, type, thread;
};

// Parses the whole file; a line that is not in the format fails the test.
std::vector<Line> ParseLog(const std::string& content) {
  std::vector<Line> lines;
  EXPECT_EQ(0u, content.find("\xEF\xBB\xBF")) << "UTF-8 with its byte order mark";
  static const std::regex format(
      "<!\\[LOG\\[([^\\r\\n]*)\\]LOG\\]!><time=\"(\\d\\d:\\d\\d:\\d\\d\\.\\d{3})([+-]\\d{3})\" "
      "date=\"(\\d{1,2}-\\d{1,2}-\\d{4})\" component=\"([^\"]*)\" context=\"\" type=\"([123])\" "
      "thread=\"(\\d+)\" file=\"\">");
  size_t at = 3;
  while (at < content.size()) {
    size_t end = content.find("\r\n", at);
    EXPECT_NE(std::string::npos, end) << "every line ends with CR LF";
    if (end == std::string::npos) break;
    std::string text = content.substr(at, end - at);
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, format)) << text;
    if (m.size() == 8) lines.push_back({m[1], m[2], m[3], m[4], m[5], m[6], m[7]});
    at = end + 2;
  }
  return lines;
}

const Line* Find(const std::vector<Line>& lines, const std::string& text) {
  for (const Line& line : lines)
    if (line.message.find(text) != std::string::npos) return &line;
  return nullptr;
}

class AdminLogTest : public SimTest {};

TEST_F(AdminLogTest, AWholeRunsLogNamesEveryChildWithItsExitCodeInCmTraceLines) {
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\Parlow-CL", "", "");
  winsim::MakeFile("C:\\Tools\\MsiCleanup\\MsiCleanup.exe", "MZ");
  winsim::SetProgramBehaviour("drvmanage.exe", [](const winsim::ChildRun& run) {
    winsim::ChildOutcome outcome;
    outcome.exitCode = run.commandLine.find("inf=") != std::string::npos ? 1603 : 0;
    return outcome;
  });
  M().tokens.user = "SYSTEM";
  M().system.localTime.wMilliseconds = 42;

  EXPECT_EQ(0, RunProgram("silent noreboot msi bogus reportdir=C:\\Logs"));

  std::vector<Line> lines = ParseLog(winsim::ReadFileText("C:\\Logs\\CleanLum-20261208-090503.log"));
  ASSERT_GT(lines.size(), 20u);
  for (const Line& line : lines) {
    EXPECT_EQ("09:05:03.042", line.time);
    EXPECT_EQ("-060", line.bias);  // Central European time: UTC = local time - 60 minutes
    EXPECT_EQ("12-8-2026", line.date);
    EXPECT_EQ("4242", line.thread);
  }
  EXPECT_EQ("CleanLum 1.0.0 started", lines[0].message);
  EXPECT_NE(nullptr, Find(lines, "Arguments: silent noreboot msi bogus reportdir=C:\\Logs"));
  const Line* ignored = Find(lines, "Argument not understood, passed over: \"bogus\"");
  ASSERT_NE(nullptr, ignored);
  EXPECT_EQ("2", ignored->type);
  EXPECT_NE(nullptr, Find(lines, "Account: SYSTEM; administrator rights: yes; elevated: yes"));

  // Each step between its two lines, and every child the run started, with its exit code.
  for (const char* step : {"boards", "dma", "shortcuts", "install directory", "registry", "library files", "inf"}) {
    size_t started = 0, done = 0;
    for (const Line& line : lines)
      if (line.component == step) {
        started += line.message.find(": started") != std::string::npos;
        done += line.message.find(": done after ") != std::string::npos;
      }
    EXPECT_EQ(1u, started) << step;
    EXPECT_EQ(1u, done) << step;
  }
  ASSERT_FALSE(M().processes.runs.empty());
  for (const winsim::ChildRun& run : M().processes.runs) {
    const Line* child = Find(lines, ": " + run.commandLine);
    ASSERT_NE(nullptr, child) << run.commandLine;
    if (!run.started) {
      EXPECT_EQ(0u, child->message.find("Could not start (Win32 error 2)")) << child->message;
      EXPECT_EQ("3", child->type);
      continue;
    }
    bool failed = run.commandLine.find("inf=") != std::string::npos;
    EXPECT_EQ(0u, child->message.find(failed ? "Exit code 1603 after 0.000 s" : "Exit code 0 after 0.000 s"))
        << child->message;
    EXPECT_EQ(failed ? "2" : "1", child->type);
  }
  EXPECT_NE(nullptr, Find(lines, "Wrote the logon command HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\"
                                 "delLUMDIR = "));
  EXPECT_NE(nullptr, Find(lines, "Result report: C:\\Logs\\CleanLum-result-20261208-090503.txt and "
                                 "C:\\Logs\\CleanLum-result-20261208-090503.json"));
  EXPECT_NE(nullptr, Find(lines, "Registry backup: C:\\Logs\\CleanLum-registry-backup-20261208-090503.reg"));
  EXPECT_EQ("No restart: the arguments say noreboot", lines[lines.size() - 2].message);
  EXPECT_EQ("Outcome: the run completed; no restart (noreboot); exit code 0", lines.back().message);
}

TEST_F(AdminLogTest, AFailedRestartPreparationSaysWhatFailedAndEndsWithCodeOne) {
  M().ui.visibleWindowStation = false;
  M().tokens.processPrivileges.erase(SE_SHUTDOWN_NAME);
  EXPECT_EQ(1, RunProgram("silent"));
  EXPECT_TRUE(M().ui.messageBoxes.empty());  // nobody could have answered it
  std::vector<Line> lines = ParseLog(winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-20261208-090503.log"));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("No restart: Couldn't adjust privilege (Win32 error 1300)", lines[lines.size() - 2].message);
  EXPECT_EQ("Outcome: the restart could not be prepared; exit code 1", lines.back().message);
  EXPECT_EQ("3", lines.back().type);
}

TEST(CmTraceLine, AMessageStaysOneMessageOnOneLineAndTheBiasKeepsWindowsSign) {
  SYSTEMTIME time = {2026, 1, 0, 5, 23, 4, 9, 7};
  std::string line = CmTraceLine(LogType::Error, "boards", "a]LOG]!>b\r\n<![LOG[c", time, 420, 7);
  EXPECT_EQ("<![LOG[a)LOG]!>b  <![LOG[c]LOG]!><time=\"23:04:09.007+420\" date=\"1-5-2026\" component=\"boards\" "
            "context=\"\" type=\"3\" thread=\"7\" file=\"\">",
            line);
  EXPECT_NE(std::string::npos, CmTraceLine(LogType::Info, "x", "", time, 0, 1).find("time=\"23:04:09.007+000\""));
}

}  // namespace
