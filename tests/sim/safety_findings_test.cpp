// What the generated machines and the fuzzers found, each kept as a statement
// about the machine so that it cannot come back.
#include <string>
#include <vector>

#include "files/files.h"
#include "run/cleanup_context.h"
#include "run/progress_window.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kDriver[] = "C:\\Windows\\system32\\drivers\\Tarvel.sys";
const char kTarget[] = "C:\\Data\\Drivers\\ntcore.sys";

// A protected file of the system, owned by it and closed to administrators.
winsim::FsNode& ProtectedSystemFile(const std::string& path) {
  winsim::FsNode& file = winsim::MakeFile(path, "MZ system", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                                 FILE_ATTRIBUTE_SYSTEM);
  file.denyAccess = true;
  file.foreignOwner = true;
  return file;
}

class SafetyFindings : public SimTest {};

// takeown, cacls and attrib act on a link's target, as Windows' own commands
// do (attrib only with /L acts on the link); del removes the link itself.
TEST_F(SafetyFindings, TheCommandInterpreterActsOnWhatALinkPointsAt) {
  ProtectedSystemFile(kTarget);
  winsim::MakeLink(kDriver, kTarget, false);
  const std::string quoted = std::string("\"") + kDriver + "\"";
  for (const std::string& command : {"cmd.exe /c takeown /F " + quoted,
                                     "cmd.exe /c cacls " + quoted + " /g Administrators:F /Y",
                                     "cmd.exe /c attrib -r -h -a -s " + quoted}) {
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  const winsim::FsNode* target = winsim::FindNode(kTarget);
  ASSERT_NE(nullptr, target);
  EXPECT_FALSE(target->foreignOwner);
  EXPECT_FALSE(target->denyAccess);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), target->attributes);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT),
            winsim::FindNode(kDriver)->attributes);
}

// Found by the generated machines: a symbolic link where a board driver file
// would be made the forced deletion take ownership of, re-grant and clear the
// attributes of the link's target, a protected file that is not the
// vendor's. The link alone goes now, and no command runs for it.
TEST_F(SafetyFindings, ALinkWhereADriverWouldBeGoesAloneAndItsTargetIsUntouched) {
  ProtectedSystemFile(kTarget);
  winsim::MakeLink(kDriver, kTarget, false);
  winsim::MakeFile("C:\\Windows\\system32\\drivers\\Tuv.sys", "MZ vendor driver", FILE_ATTRIBUTE_READONLY);
  std::vector<std::string> before = winsim::DumpTree("C:\\Data");

  CleanupContext context;
  context.progressWindow = ProgressWindow::Create(reinterpret_cast<HINSTANCE>(0x400000));
  RemoveLibraryFiles(context);

  EXPECT_FALSE(winsim::PathExists(kDriver));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\system32\\drivers\\Tuv.sys"));
  EXPECT_EQ(before, winsim::DumpTree("C:\\Data"));
  const winsim::FsNode* target = winsim::FindNode(kTarget);
  ASSERT_NE(nullptr, target);
  EXPECT_TRUE(target->foreignOwner);
  EXPECT_TRUE(target->denyAccess);
  for (const winsim::ChildRun& run : M().processes.runs)
    EXPECT_EQ(std::string::npos, run.commandLine.find("Tarvel.sys")) << run.commandLine;
}

}  // namespace
