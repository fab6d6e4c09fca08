// The shortcut and library-file steps: given this machine, after the step,
// these groups and files are gone, these are untouched, and the progress bar
// moved by two.
#include <windows.h>

#include <string>
#include <vector>

#include "files/files.h"
#include "sim_fixture.h"

using winsim::M;
using winsim::MakeFile;
using winsim::PathExists;

namespace {

class FileStepTest : public StepTest {
 protected:
  // What the step showed: its caption and step lines, in order.
  std::vector<std::string> Progress() const {
    std::vector<std::string> lines;
    for (const std::string& line : winsim::TraceLines())
      if (line.rfind("caption: ", 0) == 0 || line.rfind("step: ", 0) == 0) lines.push_back(line);
    return lines;
  }
};

// ---- Shortcuts -----------------------------------------------------------------

const char* const kNt4Groups[] = {"Velmora Imaging Products", "Velmora Imaging",
                                  "Velmora Tarvel Native Library", "Parlow Native Library 2.0",
                                  "Parlow Native Library 2.2", "Parlow Native Library 3.1"};

const char* const kProfileGroups[] = {
    "Velmora Imaging",           "Velmora Imaging Products",  "Velmora Tarvel Native Library",
    "Parlow Native Library",     "Parlow Native Library 2.0", "Parlow Native Library 2.1",
    "Parlow Native Library 2.2", "Parlow Native Library 3.01", "Parlow Native Library 3.1",
    "Parlow Native Library 3.23", "Parlow Native Library 3.25", "Falcro-II Digital 2.2",
    "Falcro-II Digital 3.0",     "Falcro-II Digital-CL 2.2",  "Falcro-II Digital-CL 3.0"};

const std::vector<std::string> kShortcutProgress = {
    "caption: Deleting the Velmora Imaging shortcuts", "step: 20", "step: 30"};

// Every group and shortcut the step knows, in both profile layouts, on one
// drive, with an unrelated group and shortcut beside them.
void SeedShortcuts(char drive, const std::string& windowsDirectory) {
  const std::string profile = std::string(1, drive) + ":\\Documents and Settings\\All Users";
  for (const char* group : kProfileGroups)
    MakeFile(profile + "\\Start Menu\\Programs\\" + group + "\\Lum.lnk", "", FILE_ATTRIBUTE_READONLY);
  MakeFile(profile + "\\Menu D\xE9" "marrer\\Programmes\\Velmora Imaging\\Lum.lnk");
  MakeFile(profile + "\\Desktop\\Lum Control Center.lnk");
  MakeFile(profile + "\\Bureau\\Lum Control Center.lnk", "", FILE_ATTRIBUTE_READONLY);
  MakeFile(profile + "\\Start Menu\\Programs\\Velmora Imaging Tools\\Other.lnk");
  MakeFile(profile + "\\Start Menu\\Programs\\Parlow Native Library 4.0\\Other.lnk");
  MakeFile(profile + "\\Desktop\\Other.lnk");
  const std::string nt4 = windowsDirectory + "\\Profiles\\All Users\\Start Menu\\Programs\\";
  for (const char* group : kNt4Groups) MakeFile(nt4 + group + "\\Lum.lnk");
  MakeFile(nt4 + "Parlow Native Library 2.1\\Lum.lnk");  // a group NT 4 never had
  MakeFile(windowsDirectory + "\\Profiles\\All Users\\Desktop\\Lum Control Center.lnk");
}

TEST_F(FileStepTest, FromVistaOnTheGroupsAndDesktopShortcutGoFromTheFoldersTheShellReports) {
  // The known folders, as a French Windows names them, hold the vendor's
  // groups; the old fixed paths lead only to folders a user could have made.
  M().system.shellFolders[CSIDL_COMMON_PROGRAMS] = "C:\\ProgramData\\Microsoft\\Windows\\Menu D\xE9marrer\\Programmes";
  M().system.shellFolders[CSIDL_COMMON_DESKTOPDIRECTORY] = "C:\\Users\\Public\\Bureau";
  const std::string programs = M().system.shellFolders[CSIDL_COMMON_PROGRAMS];
  for (const char* group : kProfileGroups) MakeFile(programs + "\\" + group + "\\Lum.lnk", "", FILE_ATTRIBUTE_READONLY);
  MakeFile(programs + "\\Velmora Imaging Tools\\Other.lnk");
  MakeFile("C:\\Users\\Public\\Bureau\\Lum Control Center.lnk");
  MakeFile("C:\\Users\\Public\\Bureau\\Other.lnk");
  SeedShortcuts('C', "C:\\Windows");
  const auto oldPlaces = winsim::DumpTree("C:\\Documents and Settings");
  const auto nt4Before = winsim::DumpTree("C:\\Windows\\Profiles");

  RemoveShortcuts(context_);

  for (const char* group : kProfileGroups) EXPECT_FALSE(PathExists(programs + "\\" + group)) << group;
  EXPECT_TRUE(PathExists(programs + "\\Velmora Imaging Tools\\Other.lnk"));
  EXPECT_FALSE(PathExists("C:\\Users\\Public\\Bureau\\Lum Control Center.lnk"));
  EXPECT_TRUE(PathExists("C:\\Users\\Public\\Bureau\\Other.lnk"));
  EXPECT_EQ(oldPlaces, winsim::DumpTree("C:\\Documents and Settings"));
  EXPECT_EQ(nt4Before, winsim::DumpTree("C:\\Windows\\Profiles"));
  EXPECT_EQ(kShortcutProgress, Progress());
}

TEST_F(FileStepTest, OnMajorVersionFiveWithWindowsOnDEveryPathIsOnD) {
  M().system.majorVersion = 5;
  M().system.minorVersion = 1;
  M().system.windowsDirectory = "D:\\WINDOWS";
  SeedShortcuts('C', "C:\\WINDOWS");
  SeedShortcuts('D', "D:\\WINDOWS");
  const auto driveC = winsim::DumpTree("C:\\");

  RemoveShortcuts(context_);

  EXPECT_EQ(driveC, winsim::DumpTree("C:\\"));
  const std::string profile = "D:\\Documents and Settings\\All Users";
  for (const char* group : kProfileGroups)
    EXPECT_FALSE(PathExists(profile + "\\Start Menu\\Programs\\" + group)) << group;
  EXPECT_FALSE(PathExists(profile + "\\Menu D\xE9" "marrer\\Programmes\\Velmora Imaging"));
  EXPECT_FALSE(PathExists(profile + "\\Desktop\\Lum Control Center.lnk"));
  EXPECT_TRUE(PathExists(profile + "\\Desktop\\Other.lnk"));
  EXPECT_TRUE(PathExists("D:\\WINDOWS\\Profiles\\All Users\\Start Menu\\Programs\\Velmora Imaging"));
  EXPECT_EQ(kShortcutProgress, Progress());
}

TEST_F(FileStepTest, OnMajorVersionFourOnlyTheSixProfilesGroupsGo) {
  M().system.majorVersion = 4;
  M().system.minorVersion = 0;
  M().system.windowsDirectory = "C:\\WINNT";
  SeedShortcuts('C', "C:\\WINNT");
  const auto profiles = winsim::DumpTree("C:\\Documents and Settings");

  RemoveShortcuts(context_);

  const std::string nt4 = "C:\\WINNT\\Profiles\\All Users\\Start Menu\\Programs\\";
  for (const char* group : kNt4Groups) EXPECT_FALSE(PathExists(nt4 + group)) << group;
  EXPECT_TRUE(PathExists(nt4 + "Parlow Native Library 2.1\\Lum.lnk"));
  EXPECT_TRUE(PathExists("C:\\WINNT\\Profiles\\All Users\\Desktop\\Lum Control Center.lnk"));
  EXPECT_EQ(profiles, winsim::DumpTree("C:\\Documents and Settings"));
  EXPECT_EQ(kShortcutProgress, Progress());
}

TEST_F(FileStepTest, OnAnyOtherMajorVersionNothingIsRemoved) {
  SeedShortcuts('C', "C:\\Windows");
  const auto before = winsim::DumpTree("C:\\");
  for (DWORD major : {3u, 7u, 10u}) {
    M().system.majorVersion = major;
    M().trace.clear();
    RemoveShortcuts(context_);
    EXPECT_EQ(before, winsim::DumpTree("C:\\")) << major;
    EXPECT_EQ("caption: Deleting the Velmora Imaging shortcuts", Progress().at(0));
    EXPECT_EQ(3u, Progress().size());
  }
}

// ---- Library and driver files ------------------------------------------------------

const char* const kBoardDrivers[] = {"AmbrelGE51.sys", "AmbrelGX51.sys", "AmbrelGE60.sys",
                                     "AmbrelGX60.sys", "DruvanGigeNic.sys", "DruvanGigE.sys",
                                     "Druvan.sys",     "Plenth.sys",     "PlenthQxt.sys",
                                     "Tuv.sys",        "Tarvel.sys"};

const char* const kLibraryFiles[] = {
    "Pyxlib.dll",  "lum.dll",      "lum1394.dll",    "LumAux.dll",   "LumBlob.dll",
    "lumbufferallocator.dll",      "Lumcal.dll",     "Lumcode.dll",  "lumcor.dll",
    "lumcore.dll", "lumcor2.dll",  "LumHexanPlus.dll", "Lumedge.dll", "lumprl.dll",
    "Lumsarnic.dll", "Lumim.dll",  "LumMeas.dll",    "lumfcr2.dll",  "lumfcr2cl.dll",
    "lumfcr2d.dll", "lummod.dll",  "LumMon.dll",     "Lumocr.dll",   "Lumzor.dll",
    "lumquovin.dll", "Lumpat.dll", "LumVlxApi.dll",  "LUMVC.dll"};

std::vector<std::string> ExpectedDriverRuns(const std::string& windowsDirectory) {
  std::vector<std::string> lines;
  for (const char* driver : kBoardDrivers) {
    std::string path = windowsDirectory + "\\System32\\drivers\\" + driver;
    lines.push_back("cmd.exe /c takeown /F \"" + path + "\"");
    lines.push_back("cmd.exe /c cacls \"" + path + "\" /g Administrators:F /Y");
    lines.push_back("cmd.exe /c attrib -r -h -a -s \"" + path + "\"");
    lines.push_back("cmd.exe /c del /q \"" + path + "\"");
  }
  return lines;
}

// Drivers as the board installers leave them: owned by the system, denying
// administrators, read-only, hidden and system.
void SeedDrivers(const std::string& folder) {
  for (const char* driver : kBoardDrivers) {
    winsim::FsNode& node = MakeFile(folder + "\\" + driver, "MZ",
                                    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    node.denyAccess = true;
    node.foreignOwner = true;
  }
}

TEST_F(FileStepTest, LibraryAndDriverFilesGoFromSystem32AndNothingElseDoes) {
  const std::string system32 = "C:\\Windows\\System32";
  for (const char* library : kLibraryFiles) MakeFile(system32 + "\\" + library);
  MakeFile(system32 + "\\lumextra.dll");  // only the pattern names it
  MakeFile(system32 + "\\LUMVC.DLL");     // the row's case does not matter
  MakeFile(system32 + "\\drivers\\vlxdma0.sys", "", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SeedDrivers(system32 + "\\drivers");
  // Unrelated files beside them, and the 32-bit copies in SysWOW64.
  MakeFile(system32 + "\\kernel32.dll");
  MakeFile(system32 + "\\Pyxlib2.dll");
  MakeFile(system32 + "\\lum.txt");
  MakeFile(system32 + "\\sub\\lum.dll");
  MakeFile(system32 + "\\drivers\\ntfs.sys", "", FILE_ATTRIBUTE_SYSTEM);
  MakeFile(system32 + "\\drivers\\vlxdma1.sys");
  for (const char* library : kLibraryFiles) MakeFile("C:\\Windows\\SysWOW64\\" + std::string(library));
  SeedDrivers("C:\\Windows\\SysWOW64\\drivers");
  MakeFile("C:\\Windows\\SysWOW64\\drivers\\vlxdma0.sys");
  const auto wow64 = winsim::DumpTree("C:\\Windows\\SysWOW64");

  RemoveLibraryFiles(context_);

  for (const char* library : kLibraryFiles) EXPECT_FALSE(PathExists(system32 + "\\" + library)) << library;
  for (const char* driver : kBoardDrivers)
    EXPECT_FALSE(PathExists(system32 + "\\drivers\\" + driver)) << driver;
  EXPECT_FALSE(PathExists(system32 + "\\lumextra.dll"));
  EXPECT_FALSE(PathExists(system32 + "\\drivers\\vlxdma0.sys"));
  EXPECT_EQ((std::vector<std::string>{"Pyxlib2.dll 0020 0", "cmd.exe 0020 2", "drivers 0010 0",
                                      "drivers\\ntfs.sys 0004 0", "drivers\\vlxdma1.sys 0020 0",
                                      "kernel32.dll 0020 0", "lum.txt 0020 0", "sub 0010 0",
                                      "sub\\lum.dll 0020 0"}),
            winsim::DumpTree(system32));
  EXPECT_EQ(wow64, winsim::DumpTree("C:\\Windows\\SysWOW64"));
}

TEST_F(FileStepTest, AReadOnlyLibrarySurvivesAndPyxlibGoesByItsRowOnly) {
  const std::string system32 = "C:\\Windows\\System32";
  MakeFile(system32 + "\\lumcore.dll", "", FILE_ATTRIBUTE_READONLY);
  MakeFile(system32 + "\\Pyxlib.dll");
  MakeFile(system32 + "\\drivers\\Tarvel.sys").inUse = true;

  // The pattern alone leaves Pyxlib.dll; the step's row removes it.
  DeleteFilesByPattern(system32.c_str(), "lum*.dll");
  ASSERT_TRUE(PathExists(system32 + "\\Pyxlib.dll"));
  RemoveLibraryFiles(context_);

  EXPECT_TRUE(PathExists(system32 + "\\lumcore.dll"));
  EXPECT_FALSE(PathExists(system32 + "\\Pyxlib.dll"));
  EXPECT_TRUE(PathExists(system32 + "\\drivers\\Tarvel.sys"));  // in use: passed over
}

TEST_F(FileStepTest, ProtectedDriversTake44HiddenRunsInOrderBetweenTheTwoSteps) {
  M().system.windowsDirectory = "D:\\WINNT";
  M().system.systemDirectory = "D:\\WINNT\\system32";
  winsim::MakeFile("D:\\WINNT\\system32\\cmd.exe", "MZ");
  SeedDrivers("D:\\WINNT\\System32\\drivers");

  RemoveLibraryFiles(context_);

  std::vector<std::string> runs;
  for (const winsim::ChildRun& run : M().processes.runs) {
    runs.push_back(run.commandLine);
    EXPECT_EQ(static_cast<DWORD>(CREATE_NO_WINDOW), run.creationFlags);
    EXPECT_EQ(static_cast<DWORD>(INFINITE), run.timeoutMs);
    EXPECT_TRUE(run.waited);
    EXPECT_FALSE(run.inheritHandles);
  }
  EXPECT_EQ(ExpectedDriverRuns("D:\\WINNT"), runs);
  const auto& trace = winsim::TraceLines();
  ASSERT_EQ(47u, trace.size());
  EXPECT_EQ("caption: Deleting the Velmora Imaging dlls", trace.front());
  EXPECT_EQ("step: 20", trace[1]);
  EXPECT_EQ("step: 30", trace.back());
}

}  // namespace
