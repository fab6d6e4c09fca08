// Tree, pattern and forced deletion where the simulated machine shows more
// than Wine can: links, short names, access lists, over-long paths, open
// searches and the command lines run.
#include <windows.h>

#include <string>
#include <vector>

#include "files/files.h"
#include "system/system.h"
#include "sim_fixture.h"

using winsim::FindNode;
using winsim::M;
using winsim::MakeDirectory;
using winsim::MakeFile;
using winsim::MakeLink;
using winsim::PathExists;

namespace {

class TreeDeleteSimTest : public SimTest {
 protected:
  void TearDown() override { EXPECT_EQ(0, M().files.openSearches) << "a search was left open"; }
};

TEST_F(TreeDeleteSimTest, LinksInsideTheTreeGoAsLinksAndTheirTargetsStay) {
  MakeFile("C:\\Outside\\precious.txt");
  MakeFile("C:\\Outside\\sub\\more.txt", "", FILE_ATTRIBUTE_READONLY);
  MakeFile("C:\\Outside\\target.dll");
  MakeFile("C:\\Tree\\mine.txt");
  MakeLink("C:\\Tree\\junction", "C:\\Outside", true);
  MakeLink("C:\\Tree\\deep\\again", "C:\\Outside\\sub", true);
  MakeLink("C:\\Tree\\file.dll", "C:\\Outside\\target.dll", false);
  FindNode("C:\\Tree\\junction")->attributes |= FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const std::vector<std::string> outside = winsim::DumpTree("C:\\Outside");

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Tree"));

  EXPECT_FALSE(PathExists("C:\\Tree"));
  EXPECT_EQ(outside, winsim::DumpTree("C:\\Outside"));
}

TEST_F(TreeDeleteSimTest, ATreeThatIsItselfALinkLosesOnlyTheLink) {
  MakeFile("C:\\Real\\data.txt");
  MakeLink("C:\\Program Files\\Velmora Imaging", "C:\\Real", true);

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Program Files\\Velmora Imaging\\"));

  EXPECT_FALSE(PathExists("C:\\Program Files\\Velmora Imaging"));
  EXPECT_TRUE(PathExists("C:\\Real\\data.txt"));
}

TEST_F(TreeDeleteSimTest, FoldersReachedThroughALinkAboveTheTreeAreWalked) {
  // "Documents and Settings" is a junction on later Windows versions.
  MakeFile("C:\\ProgramData\\Start Menu\\Programs\\Velmora Imaging\\Lum.lnk", "", FILE_ATTRIBUTE_READONLY);
  MakeLink("C:\\Documents and Settings\\All Users", "C:\\ProgramData", true);

  EXPECT_EQ(0u, DeleteDirectoryTree(
                    "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Velmora Imaging"));

  EXPECT_FALSE(PathExists("C:\\ProgramData\\Start Menu\\Programs\\Velmora Imaging"));
  EXPECT_TRUE(PathExists("C:\\ProgramData\\Start Menu\\Programs"));
}

TEST_F(TreeDeleteSimTest, AFileThatDeniesAccessStopsTheWalkWithAccessDenied) {
  MakeFile("C:\\Tree\\a.txt");
  MakeFile("C:\\Tree\\b.sys").denyAccess = true;
  MakeFile("C:\\Tree\\c.txt");

  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), DeleteDirectoryTree("C:\\Tree"));

  EXPECT_FALSE(PathExists("C:\\Tree\\a.txt"));
  EXPECT_TRUE(PathExists("C:\\Tree\\b.sys"));
  EXPECT_TRUE(PathExists("C:\\Tree\\c.txt"));
}

TEST_F(TreeDeleteSimTest, AFolderThatCannotBeSearchedKeepsItsContentsAndItsParent) {
  MakeFile("C:\\Tree\\closed\\inside.txt");
  FindNode("C:\\Tree\\closed")->denyAccess = true;
  MakeFile("C:\\Tree\\open.txt");

  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), DeleteDirectoryTree("C:\\Tree"));

  EXPECT_TRUE(PathExists("C:\\Tree\\closed\\inside.txt"));
  EXPECT_FALSE(PathExists("C:\\Tree\\open.txt"));
}

// 250 characters: "C:\Long\" and a folder name of 242 letters.
const std::string kLongFolder = "C:\\Long\\" + std::string(242, 'd');

TEST_F(TreeDeleteSimTest, AnEntryWhosePathDoesNotFitStopsTheWalkUncut) {
  ASSERT_EQ(250u, kLongFolder.size());
  MakeFile(kLongFolder + "\\a.txt");              // 256 characters: fits
  MakeFile(kLongFolder + "\\b23456789.txt");      // 264 characters: does not
  MakeFile(kLongFolder + "\\c.txt");

  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), DeleteDirectoryTree(kLongFolder.c_str()));

  EXPECT_FALSE(PathExists(kLongFolder + "\\a.txt"));
  EXPECT_TRUE(PathExists(kLongFolder + "\\b23456789.txt"));
  EXPECT_TRUE(PathExists(kLongFolder + "\\c.txt"));
}

TEST_F(TreeDeleteSimTest, ASubfolderWhoseSearchPatternDoesNotFitStopsTheWalk) {
  MakeFile(kLongFolder + "\\sub123\\x.txt");  // folder path 257 characters, pattern 261

  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), DeleteDirectoryTree(kLongFolder.c_str()));
  EXPECT_TRUE(PathExists(kLongFolder + "\\sub123\\x.txt"));

  std::string tooLong = kLongFolder + "\\sub123";
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), DeleteDirectoryTree(tooLong.c_str()));
  EXPECT_TRUE(PathExists(kLongFolder + "\\sub123\\x.txt"));
}

TEST_F(TreeDeleteSimTest, PatternDeletionSkipsNamesThatDoNotFitAndGoesOn) {
  MakeFile(kLongFolder + "\\lum.dll");
  MakeFile(kLongFolder + "\\lumcore1.dll");  // 263 characters
  MakeFile(kLongFolder + "\\lumz.dll");

  DeleteFilesByPattern(kLongFolder.c_str(), "lum*.dll");

  EXPECT_FALSE(PathExists(kLongFolder + "\\lum.dll"));
  EXPECT_TRUE(PathExists(kLongFolder + "\\lumcore1.dll"));
  EXPECT_FALSE(PathExists(kLongFolder + "\\lumz.dll"));
}

TEST_F(TreeDeleteSimTest, PatternMatchesShortNamesAndRemovesFileLinksAsLinks) {
  // As on Windows, "lum*.dll" also matches through the 8.3 alias.
  MakeFile("C:\\Sys\\lumcore.dll.old").shortName = "LUMCOR~1.DLL";
  MakeFile("C:\\Sys\\lumcore.dllx").shortName = "LUMCOR~2.DLL";
  MakeFile("C:\\Sys\\lumcore.dat").shortName = "LUMCOR~1.DAT";
  MakeFile("C:\\Elsewhere\\lumreal.dll");
  MakeLink("C:\\Sys\\lumlink.dll", "C:\\Elsewhere\\lumreal.dll", false);

  DeleteFilesByPattern("C:\\Sys", "lum*.dll");

  EXPECT_FALSE(PathExists("C:\\Sys\\lumcore.dll.old"));
  EXPECT_FALSE(PathExists("C:\\Sys\\lumcore.dllx"));
  EXPECT_TRUE(PathExists("C:\\Sys\\lumcore.dat"));
  EXPECT_FALSE(PathExists("C:\\Sys\\lumlink.dll"));
  EXPECT_TRUE(PathExists("C:\\Elsewhere\\lumreal.dll"));
}

TEST_F(TreeDeleteSimTest, EveryWayOutClosesItsSearch) {
  // The fixture checks that no search is left open after each of these.
  MakeFile("C:\\Busy\\x\\held.dll").inUse = true;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), DeleteDirectoryTree("C:\\Busy"));
  MakeFile("C:\\Dot\\y\\.keep");
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), DeleteDirectoryTree("C:\\Dot"));
  MakeFile("C:\\Denied\\z.sys").denyAccess = true;
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), DeleteDirectoryTree("C:\\Denied"));
  MakeFile(kLongFolder + "\\overlong-name.txt");
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), DeleteDirectoryTree(kLongFolder.c_str()));
  MakeFile("C:\\Pattern\\lum.dll", "", FILE_ATTRIBUTE_READONLY);
  DeleteFilesByPattern("C:\\Pattern", "lum*.dll");
  EXPECT_TRUE(PathExists("C:\\Pattern\\lum.dll"));
}

// ---- Forced deletion ------------------------------------------------------------

std::vector<std::string> ForceLines(const std::string& path) {
  return {"cmd.exe /c takeown /F \"" + path + "\"",
          "cmd.exe /c cacls \"" + path + "\" /g Administrators:F /Y",
          "cmd.exe /c attrib -r -h -a -s \"" + path + "\"", "cmd.exe /c del /q \"" + path + "\""};
}

std::vector<std::string> RunLines() {
  std::vector<std::string> lines;
  for (const winsim::ChildRun& run : M().processes.runs) lines.push_back(run.commandLine);
  return lines;
}

class ForceDeleteSimTest : public SimTest {};

TEST_F(ForceDeleteSimTest, ASystemOwnedReadOnlyDriverDenyingAdministratorsIsGone) {
  const std::string path = "C:\\Program Files\\Velmora Imaging\\drivers\\Plenth.sys";
  winsim::FsNode& driver = MakeFile(path, "MZ",
                                    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  driver.denyAccess = true;
  driver.foreignOwner = true;
  MakeFile("C:\\Program Files\\Velmora Imaging\\drivers\\Plenth.sys.bak");
  ASSERT_FALSE(DeleteFileA(path.c_str()));  // what an ordinary deletion meets

  ForceDeleteFile(path.c_str());

  EXPECT_FALSE(PathExists(path));
  EXPECT_TRUE(PathExists("C:\\Program Files\\Velmora Imaging\\drivers\\Plenth.sys.bak"));
  EXPECT_EQ(ForceLines(path), RunLines());
  for (const winsim::ChildRun& run : M().processes.runs) {
    EXPECT_EQ("C:\\Windows\\system32\\cmd.exe", run.program);
    EXPECT_EQ(static_cast<DWORD>(CREATE_NO_WINDOW), run.creationFlags);
    EXPECT_EQ(static_cast<DWORD>(INFINITE), run.timeoutMs);
    EXPECT_TRUE(run.waited);
  }
}

TEST_F(ForceDeleteSimTest, EachOfTheFourCommandsIsNeededForAProtectedDriver) {
  // Leaving out any one command leaves the driver in place, so the test above
  // proves the whole sequence.
  const std::string path = "C:\\D\\Druvan.sys";
  const std::vector<std::string> lines = ForceLines(path);
  for (size_t left = 0; left < lines.size(); ++left) {
    winsim::FsNode& driver =
        MakeFile(path, "MZ", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    driver.denyAccess = true;
    driver.foreignOwner = true;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i == left) continue;
      std::string line = lines[i];
      RunAndWait("C:\\Windows\\system32\\cmd.exe", &line[0], CREATE_NO_WINDOW, INFINITE);
    }
    EXPECT_TRUE(PathExists(path)) << "without " << lines[left];
  }
}

TEST_F(ForceDeleteSimTest, AFileInUseRunsAllFourAMissingOneRunsNothingAndNothingElseHappens) {
  MakeFile("C:\\D\\busy.sys", "", FILE_ATTRIBUTE_READONLY).inUse = true;

  ForceDeleteFile("C:\\D\\busy.sys");
  ForceDeleteFile("C:\\D\\missing.sys");
  ForceDeleteFile("C:\\Missing\\missing.sys");

  EXPECT_TRUE(PathExists("C:\\D\\busy.sys"));
  EXPECT_EQ(ForceLines("C:\\D\\busy.sys"), RunLines());
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(ForceDeleteSimTest, AFileTheOrdinaryDeletionReachesGoesWithoutAProcessKeepingNoAttribute) {
  MakeFile("C:\\D\\Tuv.sys", "MZ", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile("C:\\D\\Tarvel.sys", "MZ", FILE_ATTRIBUTE_ARCHIVE);

  ForceDeleteFile("C:\\D\\Tuv.sys");
  ForceDeleteFile("C:\\D\\Tarvel.sys");

  EXPECT_FALSE(PathExists("C:\\D\\Tuv.sys"));
  EXPECT_FALSE(PathExists("C:\\D\\Tarvel.sys"));
  EXPECT_TRUE(M().processes.runs.empty());
}

TEST_F(ForceDeleteSimTest, WithoutACommandInterpreterFourStartsFailAndTheFileStays) {
  FindNode("C:\\Windows\\system32")->children.erase("cmd.exe");
  MakeFile("C:\\D\\Tuv.sys", "", FILE_ATTRIBUTE_READONLY).denyAccess = true;

  ForceDeleteFile("C:\\D\\Tuv.sys");

  EXPECT_TRUE(PathExists("C:\\D\\Tuv.sys"));
  EXPECT_EQ(4u, winsim::TraceOf("run-failed: ").size());
}

TEST_F(ForceDeleteSimTest, LongestPathThatFitsTheCommandBufferRunsOneCharacterMoreRunsNothing) {
  // The cacls line adds 42 characters: 217 is the most a path may have.
  const std::string folder = "C:\\F\\" + std::string(200, 'f');
  const std::string fits = folder + "\\" + std::string(217 - folder.size() - 1, 'x');
  const std::string tooLong = fits + "y";
  ASSERT_EQ(217u, fits.size());
  MakeFile(fits).denyAccess = true;  // only the commands reach it
  MakeFile(tooLong).denyAccess = true;

  ForceDeleteFile(tooLong.c_str());
  EXPECT_TRUE(M().processes.runs.empty());
  EXPECT_TRUE(PathExists(tooLong));

  ForceDeleteFile(fits.c_str());
  EXPECT_EQ(ForceLines(fits), RunLines());
  EXPECT_FALSE(PathExists(fits));
  EXPECT_TRUE(PathExists(tooLong));
}

TEST_F(ForceDeleteSimTest, PathsThatCannotBeNamedExactlyOrNameAFolderRunNothing) {
  MakeFile("C:\\Windows\\System32\\drivers\\ntfs.sys");
  MakeFile("C:\\D\\a%PATH%.sys");
  const char* refused[] = {"",
                           "Tuv.sys",
                           "\\Windows\\System32\\drivers\\Tuv.sys",
                           "C:\\Windows\\System32\\drivers",
                           "C:\\Windows\\System32\\drivers\\",
                           "C:\\Windows\\System32\\drivers\\*.sys",
                           "C:\\Windows\\System32\\drivers\\Tuv?.sys",
                           "C:\\D\\a%PATH%.sys",
                           "C:\\D\\a!PATH!.sys",
                           "C:\\D\\a.sys\n& del C:\\Windows\\System32\\drivers\\ntfs.sys",
                           "C:\\D\\x\" & del /q \"C:\\Windows\\System32\\drivers\\ntfs.sys"};
  for (const char* path : refused) ForceDeleteFile(path);
  ForceDeleteFile(nullptr);

  EXPECT_TRUE(M().processes.runs.empty());
  EXPECT_TRUE(PathExists("C:\\Windows\\System32\\drivers\\ntfs.sys"));
  EXPECT_TRUE(PathExists("C:\\D\\a%PATH%.sys"));
}

}  // namespace
