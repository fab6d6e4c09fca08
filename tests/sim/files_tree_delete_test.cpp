// Tree, pattern and forced deletion where the simulated machine shows more
// than Wine can: links, races, names the code page cannot spell, short names,
// access lists, owners, long paths, open handles and the command lines run.
#include <windows.h>

#include <string>
#include <vector>

#include "files/files.h"
#include "files/tree_walk.h"
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
  void TearDown() override {
    EXPECT_EQ(0, M().files.openSearches) << "a search was left open";
    EXPECT_EQ(0u, winsim::OpenFileHandles()) << "a handle was left open";
  }
  // The machine outside the trees a test deletes, to compare before and after.
  void MakeOutside() {
    MakeFile("C:\\Outside\\precious.txt", "precious", FILE_ATTRIBUTE_READONLY);
    MakeFile("C:\\Outside\\sub\\more.txt", "more");
    MakeFile("C:\\victim\\keep.txt", "keep");
    MakeFile("C:\\precious.txt", "root file");
    outside_ = winsim::DumpTree("C:\\");
  }
  // Everything of the outside is as it was; whatever else changed is inside the trees.
  void ExpectOutsideUnchanged() {
    std::vector<std::string> now;
    for (const std::string& line : winsim::DumpTree("C:\\"))
      if (line.compare(0, 4, "Tree") != 0 && line.compare(0, 6, "Parlow") != 0) now.push_back(line);
    std::vector<std::string> before;
    for (const std::string& line : outside_)
      if (line.compare(0, 4, "Tree") != 0 && line.compare(0, 6, "Parlow") != 0) before.push_back(line);
    EXPECT_EQ(before, now);
  }
  // An entry of any name, made the way a file system that allows it would show it.
  static void MakeRawEntry(const std::string& folder, const std::string& utf8Name) {
    auto node = std::make_shared<winsim::FsNode>();
    node->name = utf8Name;
    node->content = "odd";
    MakeDirectory(folder).children[utf8Name] = node;
  }
  std::vector<std::string> outside_;
};

// Both walks: links inside a tree go as links, their targets stay.
TEST_F(TreeDeleteSimTest, LinksInsideTheTreeGoAsLinksAndTheirTargetsStay) {
  for (bool byHandle : {true, false}) {
    SCOPED_TRACE(byHandle ? "by handle" : "by path");
    if (!byHandle) M().loader.missingExports.insert("NtCreateFile");
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
}

TEST_F(TreeDeleteSimTest, ATreeThatIsItselfALinkLosesOnlyTheLink) {
  MakeFile("C:\\Real\\data.txt");
  MakeLink("C:\\Program Files\\Velmora Imaging", "C:\\Real", true);

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Program Files\\Velmora Imaging\\"));

  EXPECT_FALSE(PathExists("C:\\Program Files\\Velmora Imaging"));
  EXPECT_TRUE(PathExists("C:\\Real\\data.txt"));
}

TEST_F(TreeDeleteSimTest, ARootReachedThroughALinkOrAUsersFolderIsRefusedUntouchedAndTheReportsSayWhy) {
  // "Documents and Settings" is a junction on later Windows versions: the
  // folder reached through it is not the one named.
  const std::string group = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\Velmora Imaging";
  MakeFile("C:\\ProgramData\\Start Menu\\Programs\\Velmora Imaging\\Lum.lnk");
  MakeLink("C:\\Documents and Settings\\All Users", "C:\\ProgramData", true);
  // A folder a standard user made above the root.
  MakeFile("C:\\Apps\\Velmora Imaging\\lum.dll");
  winsim::SetSecurity("C:\\Apps", "O:S-1-5-21-1-2-3-1099D:(A;OICI;FA;;;BA)");  // a standard user's
  const auto before = winsim::DumpTree("C:\\");

  EXPECT_EQ(4395u, DeleteDirectoryTree(group.c_str()));
  EXPECT_EQ(1307u, DeleteDirectoryTree("C:\\Apps\\Velmora Imaging"));
  DeleteFilesByPattern("C:\\Apps\\Velmora Imaging", "*.dll");
  EXPECT_EQ(before, winsim::DumpTree("C:\\"));

  WalkRootVerdict elsewhere = JudgeWalkRoot(group.c_str());
  EXPECT_TRUE(elsewhere.refused);
  EXPECT_EQ(group + " leads to C:\\ProgramData\\Start Menu\\Programs\\Velmora Imaging", elsewhere.reason);
  EXPECT_NE(std::string::npos, JudgeWalkRoot("C:\\Apps\\Velmora Imaging").reason.find("C:\\Apps on the way is owned"));
  // Where Windows cannot tell a handle's final path, the link on the way is seen all the same.
  M().loader.missingExports.insert("GetFinalPathNameByHandleW");
  EXPECT_EQ(4395u, DeleteDirectoryTree(group.c_str()));
  EXPECT_EQ(before, winsim::DumpTree("C:\\"));
  // The account running the program owns what it made.
  winsim::SetSecurity("C:\\Apps", "O:" + M().tokens.userSid + "D:(A;OICI;FA;;;BA)");
  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Apps\\Velmora Imaging"));
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

// ---- Names: best fits, characters no path may hold, lengths ------------------------

// "x／．．／．．／victim": the code page's best fit reads it as "x/../../victim".
const std::u16string kFullwidthVictim = u"x\uFF0F\uFF0E\uFF0E\uFF0F\uFF0E\uFF0E\uFF0Fvictim";
const std::u16string kFullwidthFile = u"x\uFF0F\uFF0E\uFF0E\uFF0F\uFF0E\uFF0E\uFF0Fprecious.txt";

TEST_F(TreeDeleteSimTest, AFolderOrFileWhoseNameReadsAsAPathDeletesItselfAndNothingItSeemsToName) {
  for (bool byHandle : {true, false}) {
    SCOPED_TRACE(byHandle ? "by handle" : "by path");
    if (!byHandle) M().loader.missingExports.insert("NtQueryDirectoryFile");
    MakeFile(u"C:\\Parlow\\" + kFullwidthVictim + u"\\board.cfg");
    MakeFile(u"C:\\Parlow\\" + kFullwidthFile, "vendor");
    MakeFile(u"C:\\Parlow\\\u65E5\u672C\u8A9E\\\u0141\u00F3d\u017A.txt");  // Japanese, Polish
    MakeOutside();

    DWORD result = DeleteDirectoryTree("C:\\Parlow");

    ExpectOutsideUnchanged();
    if (byHandle) {
      EXPECT_EQ(0u, result);
      EXPECT_FALSE(PathExists("C:\\Parlow"));
    } else {
      // A name the code page cannot spell cannot be walked by path: left, and the walk stops.
      EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), result);
      EXPECT_TRUE(PathExists(u"C:\\Parlow\\" + kFullwidthFile));
    }
  }
}

TEST_F(TreeDeleteSimTest, ANameThatCannotBeOneComponentIsLeftAndReportedAndTheWalkStopsThere) {
  struct Case {
    std::string name;
    DWORD result;  // 0: opened and deleted as itself
  };
  std::vector<Case> cases = {{"a\\b", ERROR_INVALID_NAME}, {"a/b", ERROR_INVALID_NAME}, {"a:b", ERROR_INVALID_NAME},
                             {"", ERROR_INVALID_NAME},     {"a*b", ERROR_INVALID_NAME}, {"a?b", ERROR_INVALID_NAME},
                             {"a<b", ERROR_INVALID_NAME},  {"a>b", ERROR_INVALID_NAME}, {"a|b", ERROR_INVALID_NAME},
                             {"a\"b", ERROR_INVALID_NAME}, {"a\x01" "b", 0},            {"a\x1F" "b", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("name " + c.name);
    winsim::ResetMachine();
    MakeFile("C:\\Tree\\a");
    MakeFile("C:\\Tree\\sub\\b");
    MakeRawEntry("C:\\Tree\\sub", c.name);
    MakeOutside();

    EXPECT_EQ(c.result, DeleteDirectoryTree("C:\\Tree"));

    ExpectOutsideUnchanged();
    EXPECT_EQ(c.result == 0, !PathExists("C:\\Tree"));
    std::string path, reason;
    EXPECT_EQ(c.result != 0, FindBlockedEntry("C:\\Tree", path, reason));
    if (c.result != 0) {
      EXPECT_EQ("C:\\Tree\\sub\\" + c.name, path);
    }
  }
}

// A chain of folders far past MAX_PATH, with a file at its end.
std::string LongChain(const std::string& root, size_t levels) {
  std::string path = root;
  for (size_t i = 0; i < levels; ++i) path += "\\" + std::string(60, static_cast<char>('a' + i % 26));
  return path;
}

TEST_F(TreeDeleteSimTest, NoLengthLimitBelowTheRootOrOfTheRoot) {
  const std::string deep = LongChain("C:\\Tree", 12);  // about 740 characters
  MakeFile(deep + "\\lum.dll", "", FILE_ATTRIBUTE_READONLY);
  MakeFile(deep + "\\lumcore.dll");
  const std::string folder = LongChain("C:\\Tree", 5);
  MakeFile(folder + "\\" + std::string(200, 'n') + ".txt");

  DeleteFilesByPattern(deep.c_str(), "lum*.dll");
  EXPECT_TRUE(PathExists(deep + "\\lum.dll"));  // read-only: the pattern deletion leaves it
  EXPECT_FALSE(PathExists(deep + "\\lumcore.dll"));
  unsigned long long files = 0, bytes = 0;
  CountTree("C:\\Tree", files, bytes);
  EXPECT_EQ(2u, files);

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Tree"));
  EXPECT_FALSE(PathExists("C:\\Tree"));
}

// ---- Races ------------------------------------------------------------------------------

TEST_F(TreeDeleteSimTest, AFolderSwappedForAJunctionAfterTheListingGoesAsTheJunction) {
  MakeFile("C:\\Tree\\sub\\mine.txt");
  MakeFile("C:\\Tree\\zz.txt");
  MakeOutside();
  bool swapped = false;
  M().files.hook = [&](const std::string& event, const std::string& path) {
    if (event == "listed" && path == "C:\\Tree") swapped = winsim::ReplaceByLink("C:\\Tree\\sub", "C:\\Outside", true);
  };

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Tree"));

  EXPECT_TRUE(swapped);
  EXPECT_FALSE(PathExists("C:\\Tree"));
  ExpectOutsideUnchanged();
}

TEST_F(TreeDeleteSimTest, AFileSwappedForAHardLinkLosesOnlyItsNameAndTheOtherFileKeepsEverything) {
  for (bool dispositionEx : {true, false}) {
    SCOPED_TRACE(dispositionEx ? "POSIX deletion ignoring read-only" : "ordinary deletion");
    winsim::ResetMachine();
    M().files.dispositionEx = dispositionEx;
    MakeFile("C:\\Tree\\a.txt");
    MakeOutside();
    M().files.hook = [](const std::string& event, const std::string& path) {
      if (event == "listed" && path == "C:\\Tree")
        winsim::ReplaceByHardLink("C:\\Tree\\a.txt", "C:\\Outside\\precious.txt");
    };

    DWORD result = DeleteDirectoryTree("C:\\Tree");

    ExpectOutsideUnchanged();  // content, and the read-only attribute both names share
    // Without POSIX deletion the read-only name could only go by clearing the
    // attribute of the file outside too: it stays, and the walk says so.
    EXPECT_EQ(dispositionEx ? 0u : static_cast<DWORD>(ERROR_ACCESS_DENIED), result);
  }
}

TEST_F(TreeDeleteSimTest, WhatTheWalkHoldsCannotBeSwappedBeforeItIsDeleted) {
  MakeFile("C:\\Tree\\sub\\mine.txt");
  MakeOutside();
  std::vector<std::string> refused;
  M().files.hook = [&](const std::string& event, const std::string& path) {
    if (event != "deleting") return;
    // The entry being deleted, and the folder holding it, are held without
    // delete sharing: a user can neither rename them nor put a link there.
    for (const std::string& target : {path, std::string("C:\\Tree\\sub")})
      if (PathExists(target) && !winsim::ReplaceByLink(target, "C:\\Outside", true)) refused.push_back(target);
  };

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Tree"));

  EXPECT_FALSE(PathExists("C:\\Tree"));
  ExpectOutsideUnchanged();
  EXPECT_FALSE(refused.empty());
  for (const std::string& path : refused) EXPECT_EQ(0u, path.find("C:\\Tree")) << path;
}

TEST_F(TreeDeleteSimTest, ARootSwappedForALinkJustBeforeItIsOpenedLosesOnlyTheLink) {
  MakeFile("C:\\Tree\\mine.txt");
  MakeOutside();
  M().files.hook = [](const std::string& event, const std::string& path) {
    if (event == "opening" && path == "C:\\Tree") winsim::ReplaceByLink("C:\\Tree", "C:\\Outside", true);
  };

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Tree"));

  EXPECT_FALSE(PathExists("C:\\Tree"));
  ExpectOutsideUnchanged();
}

// ---- Older Windows ------------------------------------------------------------------------

TEST_F(TreeDeleteSimTest, WithoutPosixDeletionReadOnlyFilesAndFoldersStillGo) {
  M().files.dispositionEx = false;
  MakeFile("C:\\Tree\\ro.dll", "", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  MakeDirectory("C:\\Tree\\folder").attributes |= FILE_ATTRIBUTE_READONLY;
  MakeFile("C:\\Tree\\folder\\x.txt", "", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);

  EXPECT_EQ(0u, DeleteDirectoryTree("C:\\Tree"));
  EXPECT_FALSE(PathExists("C:\\Tree"));
}

TEST_F(TreeDeleteSimTest, WithoutAnNtdllEntryPointTheWalkByPathRunsAndSaysSo) {
  std::string why;
  EXPECT_TRUE(FileWalkByHandle(&why));
  M().loader.missingExports.insert("NtQueryDirectoryFile");
  EXPECT_FALSE(FileWalkByHandle(&why));
  EXPECT_NE(std::string::npos, why.find("NtQueryDirectoryFile"));

  // The walk by path keeps to its buffers: a path that does not fit stops it uncut.
  const std::string folder = "C:\\Long\\" + std::string(242, 'd');  // 250 characters
  MakeFile(folder + "\\a.txt");          // 256: fits
  MakeFile(folder + "\\b23456789.txt");  // 264: does not
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), DeleteDirectoryTree(folder.c_str()));
  EXPECT_FALSE(PathExists(folder + "\\a.txt"));
  EXPECT_TRUE(PathExists(folder + "\\b23456789.txt"));
  MakeFile(folder + "\\lum1.dll");
  MakeFile(folder + "\\lumcore1.dll");  // 263
  DeleteFilesByPattern(folder.c_str(), "lum*.dll");
  EXPECT_FALSE(PathExists(folder + "\\lum1.dll"));
  EXPECT_TRUE(PathExists(folder + "\\lumcore1.dll"));
}

TEST_F(TreeDeleteSimTest, PatternMatchesShortNamesAndRemovesFileLinksAsLinks) {
  for (bool byHandle : {true, false}) {
    SCOPED_TRACE(byHandle ? "by handle" : "by path");
    if (!byHandle) M().loader.missingExports.insert("NtCreateFile");
    // As on Windows, "lum*.dll" also matches through the 8.3 alias.
    MakeFile("C:\\Sys\\lumcore.dll.old").shortName = "LUMCOR~1.DLL";
    MakeFile("C:\\Sys\\lumcore.dllx").shortName = "LUMCOR~2.DLL";
    MakeFile("C:\\Sys\\lumcore.dat").shortName = "LUMCOR~1.DAT";
    MakeFile("C:\\Sys\\LUM.DLL");
    MakeFile("C:\\Elsewhere\\lumreal.dll");
    MakeLink("C:\\Sys\\lumlink.dll", "C:\\Elsewhere\\lumreal.dll", false);
    MakeDirectory("C:\\Sys\\lumdir.dll");

    DeleteFilesByPattern("C:\\Sys", "lum*.dll");

    EXPECT_FALSE(PathExists("C:\\Sys\\lumcore.dll.old"));
    EXPECT_FALSE(PathExists("C:\\Sys\\lumcore.dllx"));
    EXPECT_FALSE(PathExists("C:\\Sys\\LUM.DLL"));
    EXPECT_TRUE(PathExists("C:\\Sys\\lumcore.dat"));
    EXPECT_FALSE(PathExists("C:\\Sys\\lumlink.dll"));
    EXPECT_TRUE(PathExists("C:\\Sys\\lumdir.dll"));
    EXPECT_TRUE(PathExists("C:\\Elsewhere\\lumreal.dll"));
  }
}

TEST_F(TreeDeleteSimTest, EveryWayOutClosesItsSearchesAndHandles) {
  // The fixture checks that nothing is left open after each of these.
  MakeFile("C:\\Busy\\x\\held.dll").inUse = true;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), DeleteDirectoryTree("C:\\Busy"));
  MakeFile("C:\\Dot\\y\\.keep");
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), DeleteDirectoryTree("C:\\Dot"));
  MakeFile("C:\\Denied\\z.sys").denyAccess = true;
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), DeleteDirectoryTree("C:\\Denied"));
  MakeRawEntry("C:\\Odd\\w", "a:b");
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), DeleteDirectoryTree("C:\\Odd"));
  MakeFile("C:\\Pattern\\lum.dll", "", FILE_ATTRIBUTE_READONLY);
  DeleteFilesByPattern("C:\\Pattern", "lum*.dll");
  EXPECT_TRUE(PathExists("C:\\Pattern\\lum.dll"));
  M().loader.missingExports.insert("NtCreateFile");
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), DeleteDirectoryTree("C:\\Busy"));
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

// takeown, cacls and attrib act on what a link points at, and on the file a
// hard link shares: such a name goes by itself or stays, and no command runs.
TEST_F(ForceDeleteSimTest, ALinkOrAHardLinkIsDeletedAsItselfOrLeftAndNoCommandActsOnItsTarget) {
  winsim::FsNode& target = MakeFile("C:\\Outside\\ntfs.sys", "MZ", FILE_ATTRIBUTE_READONLY);
  target.denyAccess = true;
  target.foreignOwner = true;
  MakeFile("C:\\Outside\\shared.sys", "MZ shared", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  const auto outside = winsim::DumpTree("C:\\Outside");
  // A link whose own deletion fails (its ACL denies it), a link that goes, a hard link.
  MakeLink("C:\\Windows\\system32\\drivers\\Tuv.sys", "C:\\Outside\\ntfs.sys", false).denyAccess = true;
  MakeLink("C:\\Windows\\system32\\drivers\\Druvan.sys", "C:\\Outside\\ntfs.sys", false);
  winsim::MakeHardLink("C:\\Windows\\system32\\drivers\\Tarvel.sys", "C:\\Outside\\shared.sys");

  for (const char* name : {"Tuv.sys", "Druvan.sys", "Tarvel.sys"})
    ForceDeleteFile((std::string("C:\\Windows\\system32\\drivers\\") + name).c_str());

  EXPECT_TRUE(M().processes.runs.empty());
  EXPECT_TRUE(PathExists("C:\\Windows\\system32\\drivers\\Tuv.sys"));
  EXPECT_FALSE(PathExists("C:\\Windows\\system32\\drivers\\Druvan.sys"));
  EXPECT_FALSE(PathExists("C:\\Windows\\system32\\drivers\\Tarvel.sys"));
  EXPECT_EQ(outside, winsim::DumpTree("C:\\Outside"));
  EXPECT_TRUE(FindNode("C:\\Outside\\ntfs.sys")->denyAccess);
  EXPECT_TRUE(FindNode("C:\\Outside\\ntfs.sys")->foreignOwner);
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
