// What the program loads and starts cannot be swapped through the search
// paths a standard user can write to: every child names its program by full
// path (the command line each child receives stays as it always was), the DLL
// search is limited to System32, and comctl32 comes from System32 by full
// path, its absence costing only the bar.
#include <string>
#include <utility>
#include <vector>

#include "sim_fixture.h"
#include "system/system_library.h"

using winsim::M;

namespace {

class HardenedProcessTest : public SimTest {};

typedef std::vector<std::pair<std::string, std::string>> Children;  // program, command line

Children StartedChildren() {
  Children children;
  for (const winsim::ChildRun& run : M().processes.runs) children.emplace_back(run.applicationName, run.commandLine);
  return children;
}

TEST_F(HardenedProcessTest, EveryChildOfARunIsStartedByTheFullPathOfItsProgram) {
  // Windows in D:\WINNT, so that the fixed "D:\Windows\..." texts of the sc
  // command lines name a folder a standard user could create; programs planted
  // there, in PATH, and beside this program are never the ones run.
  winsim::SystemState& system = M().system;
  system.windowsDirectory = "D:\\WINNT";
  system.systemDirectory = "D:\\WINNT\\system32";
  system.majorVersion = 5;  // the NT branch: sc stop from SysWOW64, sc delete from system32
  system.environment["PATH"] = "C:\\Planted;D:\\WINNT\\system32";
  for (const char* program : {"D:\\WINNT\\system32\\cmd.exe", "D:\\WINNT\\system32\\sc.exe",
                              "D:\\WINNT\\SysWOW64\\sc.exe", "D:\\WINNT\\system32\\pyxmon.exe",
                              "C:\\Tools\\drvinst.exe", "C:\\Tools\\LumNetworkServer.exe",
                              "C:\\Tools\\MsiCleanup\\MsiCleanup.exe",
                              "D:\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe",
                              "D:\\Program Files\\Velmora Imaging\\Tools\\LumNetworkServer.exe",
                              // Look-alikes that a search would find first.
                              "D:\\Windows\\system32\\sc.exe", "D:\\Windows\\SysWOW64\\sc.exe", "C:\\Tools\\cmd.exe",
                              "C:\\Planted\\pyxmon.exe", "C:\\Tools\\sc.exe"})
    winsim::MakeFile(program, "MZ");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\DruvanGigE");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\TarvelX");
  // A driver that only the forced deletion removes.
  winsim::FsNode& driver = winsim::MakeFile("D:\\WINNT\\System32\\drivers\\Druvan.sys", "MZ");
  driver.denyAccess = true;
  driver.foreignOwner = true;
  // cmd.exe looks for takeown and the others along PATH only, never in its current directory.
  std::vector<bool> currentDirectorySearched;
  winsim::ProgramBehaviour interpreter = M().processes.behaviours["cmd.exe"];
  winsim::SetProgramBehaviour("cmd.exe", [&](const winsim::ChildRun& run) {
    currentDirectorySearched.push_back(M().system.environment.count("NoDefaultCurrentDirectoryInExePath") == 0);
    return interpreter(run);
  });

  ASSERT_EQ(0, RunProgram("silent noreboot msi"));

  const std::string driverPath = "\"D:\\WINNT\\System32\\drivers\\Druvan.sys\"";
  const std::string tools = "D:\\Program Files\\Velmora Imaging\\Tools\\";
  const std::string cmd = "D:\\WINNT\\system32\\cmd.exe";
  const std::string msiCleanup = "C:\\Tools\\MsiCleanup\\MsiCleanup.exe";
  const Children expected = {
      {"C:\\Tools\\drvinst.exe", "C:\\Tools\\drvinst.exe -remove DruvanGigE -noback"},
      {"C:\\Tools\\drvinst.exe", "C:\\Tools\\drvinst.exe -remove vlxgigefilter -noback"},
      {tools + "VlxGigeService.exe", tools + "VlxGigeService.exe -blockme"},
      {"D:\\WINNT\\SysWOW64\\sc.exe", "D:\\Windows\\SysWOW64\\sc stop vlxgigeservice"},
      {"D:\\WINNT\\system32\\sc.exe", "D:\\Windows\\system32\\sc delete vlxgigeservice"},
      {"D:\\WINNT\\system32\\pyxmon.exe", "pyxmon.exe"},
      {"C:\\Tools\\drvinst.exe", "C:\\Tools\\drvinst.exe -remove TarvelX -noback"},
      {tools + "LumNetworkServer.exe", tools + "LumNetworkServer.exe --uninstall --resetfw_server"},
      {"C:\\Tools\\drvmanage.exe", "C:\\Tools\\drvmanage.exe uninstall -log -quiet"},
      {"C:\\Tools\\LumNetworkServer.exe", "C:\\Tools\\LumNetworkServer.exe --uninstall --resetfw_server"},
      {msiCleanup, msiCleanup + " silent"},
      {cmd, "cmd.exe /c takeown /F " + driverPath},
      {cmd, "cmd.exe /c cacls " + driverPath + " /g Administrators:F /Y"},
      {cmd, "cmd.exe /c attrib -r -h -a -s " + driverPath},
      {cmd, "cmd.exe /c del /q " + driverPath},
      {msiCleanup, msiCleanup + " silent"},
  };
  EXPECT_EQ(expected, StartedChildren());
  for (const winsim::ChildRun& run : M().processes.runs) EXPECT_TRUE(run.started) << run.commandLine;
  EXPECT_FALSE(winsim::PathExists("D:\\WINNT\\System32\\drivers\\Druvan.sys"));
  EXPECT_EQ(std::vector<bool>(4, false), currentDirectorySearched);
  EXPECT_EQ(0u, M().system.environment.count("NoDefaultCurrentDirectoryInExePath"));  // only for cmd.exe
}

TEST_F(HardenedProcessTest, AProgramThatCannotBeNamedInFullIsNotStartedAtAll) {
  // An unreadable system directory: no cmd.exe or sc.exe is looked for elsewhere.
  M().system.systemDirectory = "";
  winsim::MakeFile("C:\\Tools\\cmd.exe", "MZ");
  winsim::FsNode& driver = winsim::MakeFile("C:\\Windows\\System32\\drivers\\Tuv.sys", "MZ");
  driver.denyAccess = true;

  ASSERT_EQ(0, RunProgram("silent noreboot"));

  for (const winsim::ChildRun& run : M().processes.runs)
    EXPECT_EQ(std::string::npos, run.commandLine.find("cmd.exe")) << run.commandLine;
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\System32\\drivers\\Tuv.sys"));
}

TEST_F(HardenedProcessTest, DllSearchIsLimitedToSystem32WhereWindowsHasTheCall) {
  RestrictDllSearch();
  EXPECT_EQ(0x800u, M().loader.defaultDllDirectories);  // LOAD_LIBRARY_SEARCH_SYSTEM32
  EXPECT_TRUE(M().loader.dllDirectories.empty());

  // Before the call existed: the working directory at least leaves the search.
  winsim::ResetMachine();
  M().loader.missingExports.insert("SetDefaultDllDirectories");
  RestrictDllSearch();
  EXPECT_EQ(0u, M().loader.defaultDllDirectories);
  EXPECT_EQ(std::vector<std::string>{""}, M().loader.dllDirectories);
}

TEST_F(HardenedProcessTest, WithoutComctl32TheRunKeepsItsCaptionsAndLogButLosesTheBar) {
  M().loader.missingModules.insert("comctl32.dll");

  ASSERT_EQ(0, RunProgram("silent noreboot"));

  EXPECT_EQ(nullptr, winsim::ProgressWindow());
  ASSERT_EQ(1u, M().ui.windows.size());
  const winsim::SimWindow& window = M().ui.windows.front();
  EXPECT_EQ("STATIC", window.className);
  EXPECT_EQ(0x80C80000u, window.style);
  EXPECT_TRUE(window.destroyed);
  std::vector<std::string> captions = winsim::TraceOf("caption: ");
  ASSERT_FALSE(captions.empty());
  EXPECT_EQ("Uninstall all board", captions.front());
  EXPECT_EQ("Finish Uninstalling Lum", captions.back());
  EXPECT_NE(std::string::npos, Log().find("Deleted inf files \r\nRiruv Lum ended at "));
}

}  // namespace
