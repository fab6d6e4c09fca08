// The install-directory step on the simulated machine: given a library of one
// release or the other, with or without its registered directory and its
// background processes, after the step these files, folders, processes and
// registry values are gone and these are untouched.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files/files.h"
#include "inventory/inventory.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kDefaultFolder[] = "C:\\Program Files\\Velmora Imaging";
const char kGigeService[] = "C:\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe";
const char kNewerKey[] = "Software\\Velmora\\Velmora Imaging Library";
const char kOlderKey[] = "SOFTWARE\\Velmora\\KIP\\LUMRunTime";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kNewerCaption[] = "Deleting the Velmora Imaging directory";
const char kNoRegistryNewer[] = "No registry, Deleting the Velmora Imaging directory ";
const char kNoRegistryOlder[] = "No registry, deleting the Velmora Imaging directory ";

class InstallDirectoryTest : public StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    MsiMode = 0;
  }
  void TearDown() override { MsiMode = 0; }

  // The default installation with its service file.
  void InstallDefault(const std::string& drive = "C") {
    winsim::MakeFile(drive + ":\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe", "MZ");
    winsim::MakeFile(drive + ":\\Program Files\\Velmora Imaging\\bin\\lumcore.dll", "MZ");
  }

  void RegisterDirectory(const char* key, const std::string& directory) {
    winsim::SetString(HKEY_LOCAL_MACHINE, key, "Directory", directory);
  }

  // The three background processes, in list order; returns their identifiers.
  std::vector<DWORD> StartBackgroundProcesses() {
    return {winsim::AddProcess("vlxgigeservice.exe", "SYSTEM"), winsim::AddProcess("pyxMon.exe"),
            winsim::AddProcess("LumNetworkServer.exe", "SYSTEM")};
  }

  // Runs the step; returns what it printed.
  std::string Run(const char* revision) {
    traceStart_ = winsim::TraceLines().size();
    testing::internal::CaptureStdout();
    RemoveInstallDirectory(context_, revision);
    return testing::internal::GetCapturedStdout();
  }

  // The trace lines the step wrote with this prefix, prefix removed.
  std::vector<std::string> StepTrace(const std::string& prefix) const {
    std::vector<std::string> out;
    const auto& lines = winsim::TraceLines();
    for (size_t i = traceStart_; i < lines.size(); ++i)
      if (lines[i].compare(0, prefix.size(), prefix) == 0) out.push_back(lines[i].substr(prefix.size()));
    return out;
  }
  std::vector<std::string> Captions() const { return StepTrace("caption: "); }
  size_t Steps() const { return StepTrace("step: ").size(); }

  std::string RunOnceText() const {
    const winsim::RegValue* value = winsim::FindValue(HKEY_LOCAL_MACHINE, kRunOnce, "delLUMDIR");
    if (!value) return "<missing>";
    return std::string(value->data.begin(), value->data.end());
  }

  bool Running(DWORD pid) const { return winsim::FindProcess(pid)->running; }

  size_t traceStart_ = 0;
};

// ---- Release choice ------------------------------------------------------------

struct RevisionCase {
  const char* revision;
  bool newer;
};

class RevisionTest : public InstallDirectoryTest, public ::testing::WithParamInterface<RevisionCase> {};

TEST_P(RevisionTest, RevisionAbove7Point5SelectsTheNewerRelease) {
  winsim::MakeFile("C:\\Parlow\\data.bin");

  Run(GetParam().revision);

  if (GetParam().newer) {
    EXPECT_EQ(std::vector<std::string>{kNoRegistryNewer}, Captions());
    EXPECT_FALSE(winsim::PathExists("C:\\Parlow"));
  } else {
    EXPECT_EQ((std::vector<std::string>{kNewerCaption, kNoRegistryOlder}), Captions());
    EXPECT_TRUE(winsim::PathExists("C:\\Parlow\\data.bin"));
  }
  EXPECT_EQ(1u, Steps());
}

INSTANTIATE_TEST_SUITE_P(Revisions, RevisionTest,
                         ::testing::Values(RevisionCase{"9.0", true}, RevisionCase{"10.0", true},
                                           RevisionCase{" 8.1 build 7", true},
                                           RevisionCase{"7.51", true}, RevisionCase{"7.5", false},
                                           RevisionCase{"7.0", false}, RevisionCase{"", false},
                                           RevisionCase{"Rev9", false}));

// ---- Newer release ------------------------------------------------------------------

TEST_F(InstallDirectoryTest, NewerReleaseDeletesTheRegisteredDirectoryAndTheServiceFile) {
  InstallDefault();
  winsim::MakeFile("D:\\Velmora\\Lum\\bin\\lum.dll", "MZ");
  winsim::MakeFile("D:\\Velmora\\keep.txt");
  RegisterDirectory(kNewerKey, "D:\\Velmora\\Lum");

  EXPECT_EQ("", Run("9.0"));

  EXPECT_EQ(std::vector<std::string>{kNewerCaption}, Captions());
  EXPECT_EQ(1u, Steps());
  EXPECT_FALSE(winsim::PathExists("D:\\Velmora\\Lum"));
  EXPECT_TRUE(winsim::PathExists("D:\\Velmora\\keep.txt"));
  EXPECT_FALSE(winsim::PathExists(kGigeService));
  // The default place is left to the command registered for the next logon.
  EXPECT_TRUE(winsim::PathExists("C:\\Program Files\\Velmora Imaging\\bin\\lumcore.dll"));
}

TEST_F(InstallDirectoryTest, NewerReleaseWithoutDirectoryDeletesTheDefaultPlace) {
  InstallDefault();
  winsim::MakeFile("C:\\Program Files\\Other Vendor\\app.exe");

  Run("10.0");

  EXPECT_EQ(std::vector<std::string>{kNoRegistryNewer}, Captions());
  EXPECT_EQ(1u, Steps());
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  EXPECT_TRUE(winsim::PathExists("C:\\Program Files\\Other Vendor\\app.exe"));
}

// A newer release's key that lets everyone read it but grants no more: the
// step, which asks for every right on it, takes the default place, and the
// inventory (the preview's and the result report's) names the same folder.
TEST_F(InstallDirectoryTest, AKeyGrantingOnlyReadingSendsTheRunAndTheInventoryToTheDefaultPlace) {
  InstallDefault();
  winsim::MakeFile("D:\\Velmora\\Lum\\bin\\lum.dll", "MZ");
  RegisterDirectory(kNewerKey, "D:\\Velmora\\Lum");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, kNewerKey).grantsReadOnly = true;

  Inventory inventory = TakeInventory("9.0");
  std::vector<std::string> folders;
  for (const InventoryItem& item : inventory.items)
    if (item.kind == ItemKind::Folder && item.step == "install directory") folders.push_back(item.path);
  Run("9.0");

  EXPECT_EQ(std::vector<std::string>{kNoRegistryNewer}, Captions());
  EXPECT_TRUE(winsim::PathExists("D:\\Velmora\\Lum\\bin\\lum.dll"));
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  EXPECT_NE(folders.end(), std::find(folders.begin(), folders.end(), std::string(kDefaultFolder)));
  EXPECT_EQ(folders.end(), std::find(folders.begin(), folders.end(), std::string("D:\\Velmora\\Lum")));
}

// The service file is deleted relative to its folder: a Tools folder that is
// a link leads the deletion nowhere, and only the link goes with the tree.
TEST_F(InstallDirectoryTest, AToolsFolderThatIsALinkKeepsTheServiceFileItPointsAt) {
  winsim::MakeFile("C:\\Program Files\\Velmora Imaging\\bin\\lumcore.dll", "MZ");
  winsim::MakeFile("C:\\Other\\Tools\\VlxGigeService.exe", "MZ other");
  winsim::MakeLink("C:\\Program Files\\Velmora Imaging\\Tools", "C:\\Other\\Tools", true);

  Run("10.0");

  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  EXPECT_EQ("MZ other", winsim::ReadFileText("C:\\Other\\Tools\\VlxGigeService.exe"));
}

TEST_F(InstallDirectoryTest, BackgroundProcessesAreStoppedInOrderBeforeTheDirectoryGoes) {
  InstallDefault();
  std::vector<DWORD> pids = StartBackgroundProcesses();
  DWORD unrelated = winsim::AddProcess("explorer.exe");

  Run("9.0");

  EXPECT_EQ((std::vector<std::string>{"vlxgigeservice.exe", "pyxMon.exe", "LumNetworkServer.exe"}),
            StepTrace("terminate: "));
  EXPECT_TRUE(Running(unrelated));
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
}

TEST_F(InstallDirectoryTest, ProcessRefusingToStopKeepsTheDirectoryButNotTheLaterSteps) {
  InstallDefault();
  RegisterDirectory(kNewerKey, kDefaultFolder);
  std::vector<DWORD> pids = StartBackgroundProcesses();
  winsim::FindProcess(pids[1])->refuseTerminate = true;
  winsim::MakeFile("C:\\Users\\Public\\Documents\\Velmora Imaging\\sample.tif");
  winsim::MakeFile("C:\\Windows\\Installer\\943df.msi");

  Run("9.0");

  EXPECT_FALSE(Running(pids[0]));
  EXPECT_TRUE(Running(pids[1]));
  EXPECT_TRUE(Running(pids[2]));  // never tried
  EXPECT_EQ(std::vector<std::string>{"vlxgigeservice.exe"}, StepTrace("terminate: "));
  EXPECT_TRUE(winsim::PathExists(kGigeService));
  EXPECT_TRUE(winsim::PathExists("C:\\Program Files\\Velmora Imaging\\bin\\lumcore.dll"));
  // Documents, installer entries and the deferred removal are handled as usual.
  EXPECT_FALSE(winsim::PathExists("C:\\Users\\Public\\Documents\\Velmora Imaging"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\943df.msi"));
  EXPECT_EQ(std::string("%comspec% /c rd /s /q \"C:\\Program Files\\Velmora Imaging\"") + '\0',
            RunOnceText());
  EXPECT_FALSE(M().tokens.threadImpersonating);
}

// ---- Older release ----------------------------------------------------------------------

TEST_F(InstallDirectoryTest, OlderReleaseWithDirectoryStopsNothingAndSweepsLumLibraries) {
  winsim::MakeFile("C:\\Velmora\\LUM\\lum.ini");
  RegisterDirectory(kOlderKey, "C:\\Velmora\\LUM");
  std::vector<DWORD> pids = StartBackgroundProcesses();
  winsim::MakeFile("C:\\Windows\\system32\\LUM.DLL", "MZ");
  winsim::MakeFile("C:\\Windows\\system32\\lumcore.dll", "MZ");
  winsim::MakeFile("C:\\Windows\\system32\\illumine.dll", "MZ");
  winsim::MakeFile("C:\\Windows\\system32\\lum.sys", "MZ");

  EXPECT_EQ("", Run("7.0"));

  EXPECT_EQ(std::vector<std::string>{kNewerCaption}, Captions());
  EXPECT_EQ(1u, Steps());
  for (DWORD pid : pids) EXPECT_TRUE(Running(pid));
  EXPECT_FALSE(winsim::PathExists("C:\\Velmora\\LUM"));
  EXPECT_TRUE(winsim::PathExists("C:\\Velmora"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\system32\\LUM.DLL"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\system32\\lumcore.dll"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\system32\\illumine.dll"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\system32\\lum.sys"));
}

TEST_F(InstallDirectoryTest, OlderReleaseWithoutDirectoryStopsProcessesAndDeletesTheDefaultPlace) {
  InstallDefault();
  std::vector<DWORD> pids = StartBackgroundProcesses();
  winsim::MakeFile("C:\\Windows\\system32\\lumcore.dll", "MZ");

  Run("");

  EXPECT_EQ((std::vector<std::string>{kNewerCaption, kNoRegistryOlder}), Captions());
  EXPECT_EQ(1u, Steps());
  for (DWORD pid : pids) EXPECT_FALSE(Running(pid));
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\system32\\lumcore.dll"));  // swept only with "Directory"
}

// ---- Locked files ------------------------------------------------------------------------

TEST_F(InstallDirectoryTest, LockedFileIsTriedFourTimesOnTheNewerRelease) {
  InstallDefault();
  winsim::MakeFile("C:\\Program Files\\Velmora Imaging\\bin\\zz.log").inUse = true;

  Run("9.0");

  EXPECT_EQ(4u, StepTrace("delete-in-use: ").size());
  EXPECT_TRUE(winsim::PathExists("C:\\Program Files\\Velmora Imaging\\bin\\zz.log"));
  EXPECT_FALSE(winsim::PathExists(kGigeService));
  EXPECT_EQ(std::string("%comspec% /c rd /s /q \"C:\\Program Files\\Velmora Imaging\"") + '\0',
            RunOnceText());
}

TEST_F(InstallDirectoryTest, LockedFileIsTriedOnceOnTheOlderRelease) {
  InstallDefault();
  winsim::MakeFile("C:\\Program Files\\Velmora Imaging\\bin\\zz.log").inUse = true;

  Run("7.0");

  EXPECT_EQ(1u, StepTrace("delete-in-use: ").size());
  EXPECT_TRUE(winsim::PathExists("C:\\Program Files\\Velmora Imaging\\bin\\zz.log"));
  EXPECT_EQ(std::string("%comspec% /c rd /s /q \"C:\\Program Files\\Velmora Imaging\"") + '\0',
            RunOnceText());
}

// ---- Other folders, the tool, the deferred removal --------------------------------------

TEST_F(InstallDirectoryTest, CachedPackageAndInstallerFoldersOfTheLibraryAreDeleted) {
  winsim::SetString(HKEY_LOCAL_MACHINE,
                    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
                    "Products\\1AA2C1FDC6EE8A564A38006F73D6564B\\InstallProperties",
                    "LocalPackage", "C:\\Windows\\Installer\\5f1a2.msi");
  winsim::MakeFile("C:\\Windows\\Installer\\5f1a2.msi");
  winsim::MakeFile("C:\\Windows\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}\\ARPPRODUCTICON.exe");
  winsim::MakeFile(
      "C:\\Program Files (x86)\\InstallShield Installation Information\\"
      "{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}\\setup.ini");
  winsim::MakeFile("C:\\Windows\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}\\icon.ico");
  winsim::MakeFile("C:\\Windows\\Installer\\{17179814-FAD5-235E-BC1A-1306E659E09B}\\icon.ico");
  winsim::MakeFile("C:\\Windows\\Installer\\943df.msi");
  winsim::MakeFile("C:\\Windows\\Installer\\7c3e1.msi");
  winsim::MakeFile("C:\\Documents and Settings\\All Users\\Documents\\Velmora Imaging\\a.tif");
  winsim::MakeFile("C:\\Users\\Public\\Documents\\Velmora Imaging\\b.tif");
  winsim::MakeFile("C:\\Users\\Public\\Documents\\Other\\c.tif");

  Run("9.0");

  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\5f1a2.msi"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}"));
  EXPECT_FALSE(winsim::PathExists(
      "C:\\Program Files (x86)\\InstallShield Installation Information\\"
      "{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\{17179814-FAD5-235E-BC1A-1306E659E09B}"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\943df.msi"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\Installer\\7c3e1.msi"));
  EXPECT_FALSE(winsim::PathExists("C:\\Users\\Public\\Documents\\Velmora Imaging"));
  EXPECT_TRUE(winsim::PathExists("C:\\Users\\Public\\Documents\\Other\\c.tif"));
  // From Vista on only the shell's own documents folder counts: the old path
  // reaches it only through a junction, or through folders a user could make.
  EXPECT_TRUE(winsim::PathExists("C:\\Documents and Settings\\All Users\\Documents\\Velmora Imaging"));
  M().system.majorVersion = 5;
  Run("9.0");
  EXPECT_FALSE(winsim::PathExists("C:\\Documents and Settings\\All Users\\Documents\\Velmora Imaging"));
}

TEST_F(InstallDirectoryTest, InstallerScriptToolRunsHiddenOnlyInMsiMode) {
  winsim::MakeFile("C:\\Tools\\MsiCleanup\\MsiCleanup.exe", "MZ");

  Run("9.0");
  EXPECT_TRUE(M().processes.runs.empty());
  for (const std::string& caption : Captions()) EXPECT_NE("Deleting script files", caption);

  MsiMode = 1;
  Run("9.0");
  EXPECT_EQ((std::vector<std::string>{kNoRegistryNewer, "Deleting script files"}), Captions());
  EXPECT_EQ(1u, Steps());
  ASSERT_EQ(1u, M().processes.runs.size());
  const winsim::ChildRun& run = M().processes.runs[0];
  EXPECT_EQ("C:\\Tools\\MsiCleanup\\MsiCleanup.exe silent", run.commandLine);
  EXPECT_EQ(static_cast<DWORD>(CREATE_NO_WINDOW), run.creationFlags);
  EXPECT_EQ(60000u, run.timeoutMs);
}

TEST_F(InstallDirectoryTest, LogonCommandIsAnExpandableStringWithItsTerminator) {
  winsim::SetString(HKEY_LOCAL_MACHINE, kRunOnce, "delLUMDIR", "old command");
  winsim::SetString(HKEY_LOCAL_MACHINE, kRunOnce, "OtherApp", "other.exe");

  EXPECT_EQ("", Run("7.0"));

  const winsim::RegValue* value = winsim::FindValue(HKEY_LOCAL_MACHINE, kRunOnce, "delLUMDIR");
  ASSERT_NE(nullptr, value);
  EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), value->type);
  const std::string expected = "%comspec% /c rd /s /q \"C:\\Program Files\\Velmora Imaging\"";
  EXPECT_EQ(expected.size() + 1, value->data.size());
  EXPECT_EQ(expected + '\0', RunOnceText());
  EXPECT_NE(nullptr, winsim::FindValue(HKEY_LOCAL_MACHINE, kRunOnce, "OtherApp"));
}

TEST_F(InstallDirectoryTest, LogonCommandNamesTheDefaultPlaceEvenWithARegisteredDirectory) {
  RegisterDirectory(kNewerKey, "E:\\Imaging");

  Run("9.0");

  EXPECT_EQ(std::string("%comspec% /c rd /s /q \"C:\\Program Files\\Velmora Imaging\"") + '\0',
            RunOnceText());
}

TEST_F(InstallDirectoryTest, RunOnceKeyThatCannotBeOpenedIsReported) {
  winsim::CreateKey(HKEY_LOCAL_MACHINE, kRunOnce).refuseOpen = true;

  EXPECT_EQ("Could not create the registry key.", Run("9.0"));

  EXPECT_EQ("<missing>", RunOnceText());
}

TEST_F(InstallDirectoryTest, LogonCommandThatCannotBeWrittenIsReportedAndTheStepStillEnds) {
  winsim::SetString(HKEY_LOCAL_MACHINE, kRunOnce, "delLUMDIR", "an earlier command");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, kRunOnce).refuseSetValue = true;
  RegisterDirectory(kNewerKey, kDefaultFolder);
  InstallDefault();
  winsim::AddProcess("pyxMon.exe");  // stopping it starts the impersonation

  EXPECT_EQ("Could not set the event message file.", Run("9.0"));

  EXPECT_EQ(std::string("an earlier command") + '\0', RunOnceText());  // left as it was
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  EXPECT_EQ(1u, StepTrace("revert-to-self").size());
  EXPECT_FALSE(M().tokens.threadImpersonating);
}

TEST_F(InstallDirectoryTest, ImpersonationIsEndedAndAFailedRevertIsReported) {
  winsim::AddProcess("pyxMon.exe");
  Run("9.0");
  EXPECT_FALSE(M().tokens.threadImpersonating);
  EXPECT_EQ(1u, StepTrace("revert-to-self").size());

  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  M().tokens.failRevertToSelf = true;
  EXPECT_EQ("RevertToSelf failed!", Run("9.0"));
}

TEST_F(InstallDirectoryTest, WindowsOnDriveDMovesEveryPathButBeforeVistaTheFixedInstallerFolders) {
  for (DWORD major : {6u, 5u}) {
    SCOPED_TRACE("major version " + std::to_string(major));
    winsim::ResetMachine();
    context_.progressWindow = ProgressWindow::Create(reinterpret_cast<HINSTANCE>(0x400000));
    M().system.majorVersion = major;
    M().system.windowsDirectory = "D:\\Windows";
    M().system.systemDirectory = "D:\\Windows\\system32";
    winsim::MakeDirectory("D:\\Windows\\system32");
    InstallDefault("C");
    InstallDefault("D");
    winsim::MakeFile("C:\\Parlow\\a");
    winsim::MakeFile("D:\\Parlow\\a");
    winsim::MakeFile("C:\\WINDOWS\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}\\a");
    winsim::MakeFile("D:\\Windows\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}\\a");
    winsim::MakeFile("C:\\Windows\\Installer\\943df.msi");
    winsim::MakeFile("D:\\Windows\\Installer\\943df.msi");
    winsim::MakeFile("C:\\Users\\Public\\Documents\\Velmora Imaging\\a");
    winsim::MakeFile("D:\\Users\\Public\\Documents\\Velmora Imaging\\a");

    Run("9.0");

    // Before Vista the installer's folders of the product code are fixed on C;
    // from Vista on they follow the Windows directory, as the cache does.
    EXPECT_EQ(major == 6, winsim::PathExists("C:\\WINDOWS\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}"));
    EXPECT_EQ(major == 5, winsim::PathExists("D:\\Windows\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}"));
    EXPECT_TRUE(winsim::PathExists("C:\\Parlow\\a"));
    EXPECT_FALSE(winsim::PathExists("D:\\Parlow"));
    EXPECT_TRUE(winsim::PathExists(kGigeService));
    EXPECT_FALSE(winsim::PathExists("D:\\Program Files\\Velmora Imaging"));
    EXPECT_TRUE(winsim::PathExists("C:\\Windows\\Installer\\943df.msi"));
    EXPECT_FALSE(winsim::PathExists("D:\\Windows\\Installer\\943df.msi"));
    EXPECT_TRUE(winsim::PathExists("C:\\Users\\Public\\Documents\\Velmora Imaging\\a"));
    EXPECT_FALSE(winsim::PathExists("D:\\Users\\Public\\Documents\\Velmora Imaging"));
    EXPECT_EQ(std::string("%comspec% /c rd /s /q \"D:\\Program Files\\Velmora Imaging\"") + '\0',
              RunOnceText());
  }
}

TEST_F(InstallDirectoryTest, SilentRunStopsTheProcessesAndRemovesTheRegisteredDirectory) {
  winsim::SetString(HKEY_LOCAL_MACHINE, kNewerKey, "Revision", "9.2");
  RegisterDirectory(kNewerKey, "C:\\Program Files\\Velmora Imaging");
  InstallDefault();
  std::vector<DWORD> pids = StartBackgroundProcesses();

  testing::internal::CaptureStdout();
  EXPECT_EQ(0, RunProgram("silent noreboot"));
  testing::internal::GetCapturedStdout();

  for (DWORD pid : pids) EXPECT_FALSE(Running(pid));
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  EXPECT_EQ(std::string("%comspec% /c rd /s /q \"C:\\Program Files\\Velmora Imaging\"") + '\0',
            RunOnceText());
  EXPECT_FALSE(M().tokens.threadImpersonating);
  EXPECT_NE(std::string::npos, Log().find("Deleted Lum Directory \r\n"));
}

// Read through the code page's best fit, "D:\Apps\Łódź" would be "D:\Apps\Lodz"
// and "D:\Apps\x／．．" would climb: a character the code page lacks makes the
// value no plain path, and only the default folder goes.
TEST_F(InstallDirectoryTest, ADirectoryValueTheCodePageCannotSpellNamesNoOtherFolder) {
  for (const std::u16string& directory : {std::u16string(u"D:\\Apps\\\u0141\u00F3d\u017A"),
                                          std::u16string(u"D:\\Apps\\x\uFF0F\uFF0E\uFF0E\uFF0FLodz")}) {
    winsim::MakeFile("D:\\Apps\\Lodz\\other.dll", "MZ");
    winsim::MakeFile("D:\\Apps\\keep.txt", "other vendor");
    winsim::MakeFile(u"D:\\Apps\\\u0141\u00F3d\u017A\\lum.dll", "MZ");
    InstallDefault();
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNewerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    const std::u16string data = directory + u'\0';
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"Directory", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                                            static_cast<DWORD>(data.size() * sizeof(char16_t))));
    RegCloseKey(key);

    Run("9.0");

    EXPECT_TRUE(winsim::PathExists("D:\\Apps\\Lodz\\other.dll"));
    EXPECT_TRUE(winsim::PathExists("D:\\Apps\\keep.txt"));
    EXPECT_TRUE(winsim::PathExists(u"D:\\Apps\\\u0141\u00F3d\u017A\\lum.dll"));
    EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  }
}

TEST_F(InstallDirectoryTest, SilentRunWhoseLogonCommandIsRefusedReportsItAndCarriesOnToTheRestart) {
  winsim::CreateKey(HKEY_LOCAL_MACHINE, kRunOnce).refuseSetValue = true;
  winsim::SetString(HKEY_LOCAL_MACHINE, kNewerKey, "Revision", "9.2");
  InstallDefault();

  testing::internal::CaptureStdout();
  EXPECT_EQ(0, RunProgram("silent"));
  EXPECT_EQ("Could not set the event message file.", testing::internal::GetCapturedStdout());

  EXPECT_EQ("<missing>", RunOnceText());
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  // The steps after this one ran and logged, and the run ended with its restart.
  EXPECT_NE(std::string::npos, Log().find("Deleted Lum Directory \r\nDeleted Lum Registry Keys \r\n"
                                          "Deleted Lum Dlls \r\nDeleted inf files \r\nRiruv Lum ended at "));
  EXPECT_EQ(nullptr, winsim::FindKey(HKEY_LOCAL_MACHINE, kNewerKey));
  EXPECT_EQ((std::vector<std::pair<UINT, DWORD>>{{EWX_REBOOT | EWX_FORCE, 0u}}), M().ui.exitWindowsCalls);
}

// ---- The registered directory is used only when it is safe to delete ----------------------

class UnsafeDirectoryTest : public InstallDirectoryTest,
                            public ::testing::WithParamInterface<std::string> {};

TEST_P(UnsafeDirectoryTest, ValueIsTakenAsNotReadAndTheDefaultPlaceIsUsed) {
  M().system.windowsDirectory = "C:\\OS\\Windows";
  M().system.systemDirectory = "C:\\OS\\Windows\\system32";
  winsim::MakeFile("C:\\OS\\Windows\\system32\\kernel32.dll", "MZ");
  winsim::MakeFile("C:\\OS\\Windows\\Temp\\Lum\\x.tmp");
  winsim::MakeFile("C:\\OS\\other.txt");
  winsim::MakeFile("C:\\Program Files\\Other Vendor\\app.exe");
  winsim::MakeFile("C:\\Program Files (x86)\\Other Vendor\\app.exe");
  winsim::MakeFile("C:\\ProgramData\\Other Vendor\\data.bin");
  winsim::MakeFile("C:\\Users\\Someone\\file.txt");
  winsim::MakeFile("C:\\Documents and Settings\\Someone\\file.txt");
  winsim::MakeFile("D:\\Users\\Someone\\file.txt");
  winsim::MakeFile("C:\\root.txt");
  winsim::MakeFile("C:\\Tools\\Velmora Imaging\\x.txt");
  InstallDefault();
  RegisterDirectory(kNewerKey, GetParam());

  Run("9.0");

  EXPECT_EQ(std::vector<std::string>{kNoRegistryNewer}, Captions());
  EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  for (const char* kept :
       {"C:\\OS\\Windows\\system32\\kernel32.dll", "C:\\OS\\Windows\\Temp\\Lum\\x.tmp",
        "C:\\OS\\other.txt", "C:\\Program Files\\Other Vendor\\app.exe",
        "C:\\Program Files (x86)\\Other Vendor\\app.exe", "C:\\ProgramData\\Other Vendor\\data.bin",
        "C:\\Users\\Someone\\file.txt", "C:\\Documents and Settings\\Someone\\file.txt",
        "D:\\Users\\Someone\\file.txt", "C:\\root.txt", "C:\\Tools\\Velmora Imaging\\x.txt"})
    EXPECT_TRUE(winsim::PathExists(kept)) << kept;
}

INSTANTIATE_TEST_SUITE_P(
    RefusedForms, UnsafeDirectoryTest,
    ::testing::Values(
        // empty, not an absolute drive path, or climbing out
        "", "Program Files\\Velmora Imaging", "\\Program Files\\Velmora Imaging",
        "C:Program Files\\Velmora Imaging", "\\\\server\\share\\Velmora Imaging",
        "\\\\?\\C:\\Program Files\\Velmora Imaging", "C:\\Program Files\\Velmora Imaging\\..",
        "C:\\Tools\\..\\Tools\\Velmora Imaging", "C:\\Tools\\.\\Velmora Imaging",
        // drive roots
        "C:", "C:\\", "c:\\\\", "C:/", "D:\\", "C:\\.",
        // the Windows and system directories, inside them and above them
        "C:\\OS\\Windows", "c:\\os\\windows\\", "C:\\OS\\Windows\\system32",
        "C:\\OS\\WINDOWS\\Temp\\Lum", "C:\\OS", "C:\\OS\\", "C:\\OS\\Windows.",
        "C:\\OS\\Windows \\", "C:\\OS//Windows",
        // shared top-level folders themselves, on any drive
        "C:\\Program Files", "c:\\program files\\", "C:\\Program Files (x86)", "C:\\ProgramData",
        "C:\\Users", "D:\\Users\\", "C:\\Documents and Settings",
        // names that alias or are not names at all
        "C:\\PROGRA~1", "C:\\OS\\Windows::$INDEX_ALLOCATION", "C:\\Program Files\\Velmora*",
        std::string("C:\\") + std::string(300, 'a')));

TEST_F(InstallDirectoryTest, LibraryFolderIsAcceptedWithOrWithoutTrailingSeparator) {
  for (const char* value : {"C:\\Program Files\\Velmora Imaging\\", "c:\\program files\\velmora imaging"}) {
    SCOPED_TRACE(value);
    InstallDefault();
    RegisterDirectory(kNewerKey, value);

    Run("9.0");

    EXPECT_EQ(std::vector<std::string>{kNewerCaption}, Captions());
    EXPECT_FALSE(winsim::PathExists(kDefaultFolder));
  }
}

TEST_F(InstallDirectoryTest, UnsafeValueOnTheOlderReleaseSweepsNothing) {
  winsim::MakeFile("C:\\Windows\\system32\\lumcore.dll", "MZ");
  winsim::MakeFile("C:\\Windows\\notepad.exe", "MZ");
  RegisterDirectory(kOlderKey, "C:\\Windows");

  Run("7.0");

  EXPECT_EQ((std::vector<std::string>{kNewerCaption, kNoRegistryOlder}), Captions());
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\notepad.exe"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\system32\\lumcore.dll"));
}

}  // namespace
