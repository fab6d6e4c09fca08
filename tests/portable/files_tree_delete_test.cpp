// Tree and pattern deletion on a real file system: what goes, what stays, and
// the code that comes back. Runs on the simulation and on Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "files/files.h"
#include "system/wide_text.h"
#include "files_test_support.h"

using files_test::AttributesOf;
using files_test::Exists;
using files_test::MakeDir;
using files_test::MakeFile;

namespace {

class TreeDeleteTest : public files_test::PrivateFolderTest {
 protected:
  TreeDeleteTest() : PrivateFolderTest("TreeDelete") {}
};

TEST_F(TreeDeleteTest, MissingDirectoryAndFilePathGiveZeroAndChangeNothing) {
  MakeFile(Path("plain.txt"));

  EXPECT_EQ(0u, DeleteDirectoryTree(Path("missing").c_str()));
  EXPECT_EQ(0u, DeleteDirectoryTree(Path("missing\\deeper").c_str()));
  EXPECT_EQ(0u, DeleteDirectoryTree(Path("plain.txt").c_str()));

  EXPECT_TRUE(Exists(Path("plain.txt")));
}

TEST_F(TreeDeleteTest, EmptyDirectoryIsRemoved) {
  MakeDir(Path("empty"));
  EXPECT_EQ(0u, DeleteDirectoryTree(Path("empty").c_str()));
  EXPECT_FALSE(Exists(Path("empty")));
  EXPECT_TRUE(Exists(Root()));
}

TEST_F(TreeDeleteTest, ProtectedFilesAndReadOnlyFoldersGoAndNeighboursStay) {
  MakeDir(Path("tree"));
  MakeFile(Path("tree\\readonly.dll"), FILE_ATTRIBUTE_READONLY);
  MakeFile(Path("tree\\hidden.ini"), FILE_ATTRIBUTE_HIDDEN);
  MakeFile(Path("tree\\system.sys"), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
  MakeDir(Path("tree\\sub"));
  MakeDir(Path("tree\\sub\\deeper"));
  MakeFile(Path("tree\\sub\\deeper\\all.txt"),
           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  ASSERT_TRUE(SetFileAttributesA(Path("tree\\sub\\deeper").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetFileAttributesA(Path("tree\\sub").c_str(), FILE_ATTRIBUTE_READONLY));
  // A neighbour whose name begins with the tree's name.
  MakeDir(Path("tree2"));
  MakeFile(Path("tree2\\keep.txt"), FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(0u, DeleteDirectoryTree(Path("tree").c_str()));

  EXPECT_FALSE(Exists(Path("tree")));
  EXPECT_TRUE(Exists(Path("tree2\\keep.txt")));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
            AttributesOf(Path("tree2\\keep.txt")) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(TreeDeleteTest, TrailingSeparatorIsAccepted) {
  MakeDir(Path("tree"));
  MakeFile(Path("tree\\a.txt"));
  EXPECT_EQ(0u, DeleteDirectoryTree((Path("tree") + "\\").c_str()));
  EXPECT_FALSE(Exists(Path("tree")));
}

TEST_F(TreeDeleteTest, SvnFoldersGoAtAnyDepthOtherDotNamesKeepTheirChain) {
  MakeDir(Path("svn"));
  MakeDir(Path("svn\\.svn"));
  MakeFile(Path("svn\\.svn\\entries"), FILE_ATTRIBUTE_READONLY);
  MakeDir(Path("svn\\src"));
  MakeDir(Path("svn\\src\\.svn"));
  MakeDir(Path("svn\\src\\.svn\\pristine"));
  MakeFile(Path("svn\\src\\.svn\\pristine\\x.svn-base"), FILE_ATTRIBUTE_READONLY);
  MakeFile(Path("svn\\src\\main.c"));

  EXPECT_EQ(0u, DeleteDirectoryTree(Path("svn").c_str()));
  EXPECT_FALSE(Exists(Path("svn")));

  MakeDir(Path("git"));
  MakeDir(Path("git\\a"));
  MakeDir(Path("git\\a\\b"));
  MakeFile(Path("git\\a\\b\\.gitignore"));
  MakeFile(Path("git\\a\\b\\code.c"));
  MakeFile(Path("git\\a\\other.c"));
  MakeDir(Path("git\\c"));
  MakeFile(Path("git\\c\\z.txt"));

  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), DeleteDirectoryTree(Path("git").c_str()));
  EXPECT_TRUE(Exists(Path("git\\a\\b\\.gitignore")));
  EXPECT_FALSE(Exists(Path("git\\a\\b\\code.c")));
  // The walk stopped at the first level that could not be removed.
  EXPECT_TRUE(Exists(Path("git\\a\\other.c")));
  EXPECT_TRUE(Exists(Path("git\\c\\z.txt")));
}

TEST_F(TreeDeleteTest, FileInUseStopsTheWholeWalkWithItsCode) {
  MakeDir(Path("busy"));
  MakeDir(Path("busy\\a"));
  MakeDir(Path("busy\\a\\b"));
  MakeFile(Path("busy\\a\\b\\first.txt"));
  MakeFile(Path("busy\\a\\b\\second.txt"));
  MakeFile(Path("busy\\a\\b\\third.txt"));
  MakeFile(Path("busy\\a\\b\\zz_after.txt"));
  MakeFile(Path("busy\\z_sibling.txt"));
  // Held open without delete sharing, as a running program holds its files.
  HANDLE held = CreateFileA(Path("busy\\a\\b\\third.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  DWORD result = DeleteDirectoryTree(Path("busy").c_str());
  CloseHandle(held);

  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), result);
  EXPECT_FALSE(Exists(Path("busy\\a\\b\\first.txt")));
  EXPECT_FALSE(Exists(Path("busy\\a\\b\\second.txt")));
  EXPECT_TRUE(Exists(Path("busy\\a\\b\\third.txt")));
  EXPECT_TRUE(Exists(Path("busy\\a\\b\\zz_after.txt")));
  EXPECT_TRUE(Exists(Path("busy\\z_sibling.txt")));
}

TEST_F(TreeDeleteTest, NothingBehindADirectoryLinkIsDeleted) {
  MakeDir(Path("outside"));
  MakeFile(Path("outside\\precious.txt"));
  MakeDir(Path("outside\\sub"));
  MakeFile(Path("outside\\sub\\more.txt"));
  MakeDir(Path("tree"));
  MakeFile(Path("tree\\mine.txt"));
  if (!files_test::MakeDirectoryLink(Path("tree\\link"), Path("outside")))
    GTEST_SKIP() << "no directory links on this platform";
  ASSERT_NE(0u, AttributesOf(Path("tree\\link")) & FILE_ATTRIBUTE_REPARSE_POINT);

  // The link named as the tree: only the link may go.
  DWORD linkResult = DeleteDirectoryTree(Path("tree\\link").c_str());
  EXPECT_TRUE(Exists(Path("outside\\precious.txt")));
  EXPECT_TRUE(Exists(Path("outside\\sub\\more.txt")));
  if (files_test::RunningUnderWine()) {
    EXPECT_EQ(4395u, linkResult);  // refused: listed as a link, opened as its target
  } else {
    EXPECT_EQ(0u, linkResult);
    EXPECT_FALSE(Exists(Path("tree\\link")));
    ASSERT_TRUE(files_test::MakeDirectoryLink(Path("tree\\link"), Path("outside")));
  }

  DWORD result = DeleteDirectoryTree(Path("tree").c_str());

  EXPECT_TRUE(Exists(Path("outside\\precious.txt")));
  EXPECT_TRUE(Exists(Path("outside\\sub\\more.txt")));
  if (files_test::RunningUnderWine()) {
    // Wine lists a link as one but opens what it points at even with
    // FILE_OPEN_REPARSE_POINT: the walk leaves such an entry, and stops there.
    EXPECT_EQ(4395u, result);  // ERROR_REPARSE_POINT_ENCOUNTERED
    EXPECT_TRUE(Exists(Path("tree\\link")));
    files_test::RemoveDirectoryLink(Path("tree\\link"));  // before its target goes
  } else {
    EXPECT_EQ(0u, result);
    EXPECT_FALSE(Exists(Path("tree")));
  }
}

// Wide paths, "\\?\" ones past MAX_PATH.
WideString Wide(const std::string& path) { return WideFromAnsi(path.c_str()); }
void MakeWideFolder(const WideString& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError(); }
void MakeWideFile(const WideString& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file) << GetLastError();
  CloseHandle(file);
}
bool WideExists(const WideString& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST_F(TreeDeleteTest, NamesOutsideTheCodePageAndPathsPast260GoAndWhatTheyReadAsStays) {
  const WideString tree = Wide(Path("tree"));
  MakeWideFolder(tree);
  MakeWideFolder(tree + WIDE_TEXT("\\\x65E5\x672C\x8A9E"));                          // Japanese
  MakeWideFile(tree + WIDE_TEXT("\\\x65E5\x672C\x8A9E\\\x03B1\x03C1\x03C7\x03B5\x03AF\x03BF.txt"));  // Greek
  MakeWideFile(tree + WIDE_TEXT("\\\x0141\x00F3") WIDE_TEXT("d\x017A \xD83D\xDCF7.txt"));  // Polish, an emoji
  // "x／．．／．．／victim": the code page's best fit reads it as "x/../../victim".
  MakeWideFolder(tree + WIDE_TEXT("\\x\xFF0F\xFF0E\xFF0E\xFF0F\xFF0E\xFF0E\xFF0Fvictim"));
  MakeWideFile(tree + WIDE_TEXT("\\x\xFF0F\xFF0E\xFF0E\xFF0F\xFF0E\xFF0E\xFF0Fvictim\\board.cfg"));
  MakeDir(Path("victim"));
  MakeFile(Path("victim\\keep.txt"));
  WideString deep = WIDE_TEXT("\\\\?\\") + tree;
  for (int level = 0; level < 5; ++level) {
    deep += WIDE_TEXT("\\") + WideString(60, WCHAR('a' + level));
    MakeWideFolder(deep);
  }
  MakeWideFile(deep + WIDE_TEXT("\\end.txt"));
  ASSERT_GT(deep.size(), 300u);

  EXPECT_EQ(0u, DeleteDirectoryTree(Path("tree").c_str()));

  EXPECT_FALSE(WideExists(tree));
  EXPECT_TRUE(Exists(Path("victim\\keep.txt")));
}

TEST_F(TreeDeleteTest, PatternDeletionIgnoresCaseAndLeavesReadOnlyFilesAndFolders) {
  MakeFile(Path("LUM.DLL"));
  MakeFile(Path("lumcore.dll"));
  MakeFile(Path("LumAux.Dll"));
  MakeFile(Path("lumlocked.dll"), FILE_ATTRIBUTE_READONLY);
  MakeDir(Path("lumfolder.dll"));
  MakeFile(Path("lumfolder.dll\\inside.dll"));
  MakeFile(Path("Pyxlib.dll"));
  MakeFile(Path("xlum.dll"));
  MakeFile(Path("lum.txt"));

  DeleteFilesByPattern(Root().c_str(), "lum*.dll");

  EXPECT_FALSE(Exists(Path("LUM.DLL")));
  EXPECT_FALSE(Exists(Path("lumcore.dll")));
  EXPECT_FALSE(Exists(Path("LumAux.Dll")));
  EXPECT_TRUE(Exists(Path("lumlocked.dll")));
  EXPECT_TRUE(Exists(Path("lumfolder.dll\\inside.dll")));
  EXPECT_TRUE(Exists(Path("Pyxlib.dll")));
  EXPECT_TRUE(Exists(Path("xlum.dll")));
  EXPECT_TRUE(Exists(Path("lum.txt")));

  DeleteFilesByPattern(Path("missing").c_str(), "lum*.dll");  // nothing to do, no failure
}

TEST_F(TreeDeleteTest, EmptyRelativeAndRootPathsAreRefusedUntouched) {
  MakeFile(Path("keep.dll"));
  // The current directory is where a relative or empty path would lead.
  char saved[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof saved, saved), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(Root().c_str()));

  const char* refused[] = {"", ".", "keep.dll", "..\\TreeDelete", "\\CleanLumTest\\TreeDelete",
                           "C:", "C:\\", "C:\\\\", "C:\\.", "C:\\CleanLumTest\\..",
                           "C:\\CleanLumTest\\TreeDelete\\..\\.."};
  for (const char* path : refused) {
    SCOPED_TRACE(path);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), DeleteDirectoryTree(path));
    DeleteFilesByPattern(path, "*.dll");
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), DeleteDirectoryTree(nullptr));
  DeleteFilesByPattern(nullptr, "*.dll");
  // A pattern may not reach into another folder.
  MakeDir(Path("sub"));
  DeleteFilesByPattern(Path("sub").c_str(), "..\\*.dll");
  DeleteFilesByPattern(Path("sub").c_str(), "");

  SetCurrentDirectoryA(saved);
  EXPECT_TRUE(Exists(Path("keep.dll")));
  EXPECT_TRUE(Exists(Root()));
}

TEST_F(TreeDeleteTest, ForcedDeletionRemovesAHiddenSystemDriverAndPassesOverAMissingOne) {
  // Under Wine, cmd.exe has no takeown, its cacls does nothing and its del
  // refuses read-only files, so this proves the hidden and system case only;
  // the read-only, system-owned case is proven on the simulation.
  MakeDir(Path("drivers"));
  MakeFile(Path("drivers\\Tarvel.sys"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  MakeFile(Path("drivers\\Tuv.sys"));

  ForceDeleteFile(Path("drivers\\Tarvel.sys").c_str());
  ForceDeleteFile(Path("drivers\\Missing.sys").c_str());

  EXPECT_FALSE(Exists(Path("drivers\\Tarvel.sys")));
  EXPECT_FALSE(Exists(Path("drivers\\Missing.sys")));
  EXPECT_TRUE(Exists(Path("drivers\\Tuv.sys")));
}

}  // namespace
