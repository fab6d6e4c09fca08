// The simulated machine starts programs where Windows would: a bare name is
// looked for in the program's folder, the current directory, system32, the
// 16-bit System folder, the Windows folder and then PATH; an unquoted path
// with blanks is tried by ever longer prefixes, each with ".exe" added.
#include <windows.h>

#include <string>

#include "sim_fixture.h"

using winsim::M;

namespace {

class ChildProcessTest : public SimTest {
 protected:
  // The program file CreateProcessA resolved the command line to, "" when none.
  static std::string Resolve(std::string commandLine) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
      return "";
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return M().processes.runs.back().program;
  }
};

TEST_F(ChildProcessTest, BareNamesFollowTheDocumentedSearchOrder) {
  M().system.environment["PATH"] = R"(C:\Bin)";
  winsim::MakeFile(R"(C:\Bin\tool.exe)", "MZ");
  EXPECT_EQ(R"(C:\Bin\tool.exe)", Resolve("tool -x"));
  winsim::MakeFile(R"(C:\Windows\tool.exe)", "MZ");
  EXPECT_EQ(R"(C:\Windows\tool.exe)", Resolve("tool -x"));
  winsim::MakeFile(R"(C:\Windows\System\tool.exe)", "MZ");
  EXPECT_EQ(R"(C:\Windows\System\tool.exe)", Resolve("tool -x"));
  winsim::MakeFile(R"(C:\Windows\system32\tool.exe)", "MZ");
  EXPECT_EQ(R"(C:\Windows\system32\tool.exe)", Resolve("tool -x"));
  winsim::MakeFile(R"(C:\Tools\tool.exe)", "MZ");  // the current directory
  EXPECT_EQ(R"(C:\Tools\tool.exe)", Resolve("tool -x"));
  M().system.commandLine = R"(D:\Own\CleanLum.exe silent)";
  winsim::MakeFile(R"(D:\Own\tool.exe)", "MZ");
  EXPECT_EQ(R"(D:\Own\tool.exe)", Resolve("tool -x"));
}

TEST_F(ChildProcessTest, UnquotedPathsAreTriedByPrefixAndOnlyNamesWithoutExtensionGetExe) {
  winsim::MakeFile(R"(C:\Program Files\Sub Dir\program name.exe)", "MZ");
  EXPECT_EQ(R"(C:\Program Files\Sub Dir\program name.exe)", Resolve(R"(C:\Program Files\Sub Dir\program name)"));
  winsim::MakeFile(R"(C:\Program Files\Sub.exe)", "MZ");  // an earlier prefix wins
  EXPECT_EQ(R"(C:\Program Files\Sub.exe)", Resolve(R"(C:\Program Files\Sub Dir\program name)"));

  winsim::MakeFile(R"(C:\Tools\tool.com)", "MZ");
  EXPECT_EQ(R"(C:\Tools\tool.com)", Resolve(R"(C:\Tools\tool.com /q)"));
  EXPECT_EQ("", Resolve(R"(C:\Tools\tool /q)"));  // tool.exe is not there
  winsim::MakeFile(R"(C:\Tools\plain)", "MZ");
  EXPECT_EQ(R"(C:\Tools\plain)", Resolve(R"(C:\Tools\plain. /q)"));  // a final period adds nothing
}

}  // namespace
