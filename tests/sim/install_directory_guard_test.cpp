// The install-directory guard on the simulated machine: given a machine with
// its well-known folders, profiles and other applications, these "Directory"
// values are refused by this rule, naming this folder, and these are accepted.
#include <windows.h>

#include <string>

#include "files/drive_path.h"
#include "files/files.h"
#include "files/install_directory_guard.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

using Rule = InstallDirectoryRule;

const char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kUninstall32[] = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

const int kWellKnown[] = {
    CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_COMMON_APPDATA, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_DOCUMENTS, CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP, CSIDL_COMMON_TEMPLATES, CSIDL_COMMON_PICTURES,
    CSIDL_COMMON_MUSIC, CSIDL_COMMON_VIDEO, CSIDL_FONTS, CSIDL_PROFILE, CSIDL_DESKTOPDIRECTORY,
    CSIDL_PERSONAL, CSIDL_MYPICTURES, CSIDL_MYMUSIC, CSIDL_MYVIDEO, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA,
    CSIDL_STARTMENU, CSIDL_PROGRAMS, CSIDL_STARTUP, CSIDL_TEMPLATES, CSIDL_WINDOWS, CSIDL_SYSTEM,
    CSIDL_SYSTEMX86};

class InstallDirectoryGuardTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    // Every well-known folder exists, as on an installed Windows.
    for (int csidl : kWellKnown) {
      char path[MAX_PATH];
      ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path));
    }
    winsim::SetString(HKEY_LOCAL_MACHINE, kProfileList, "ProfilesDirectory", "%SystemDrive%\\Users", REG_EXPAND_SZ);
    Profile("S-1-5-18", "%systemroot%\\system32\\config\\systemprofile");
    Profile("S-1-5-21-1-1001", "C:\\Users\\Alice");
    Profile("S-1-5-21-1-1002", "D:\\Profiles\\Bob");

    Application(kUninstall, "Other Scope", "Contoso Ltd.", "C:\\Tools\\Other Scope\\");
    Application(kUninstall, "{LUM-9}", "Velmora Imaging, Inc.", "D:\\Velmora\\Lum\\bin");
    Application(kUninstall, "Lower Case", "velmora imaging", "G:\\Lower\\App");
    Application(kUninstall, "No Publisher", nullptr, "G:\\Anonymous\\App");
    Application(kUninstall, "Expanded", "Contoso Ltd.", "%SystemDrive%\\Expanded App", REG_EXPAND_SZ);
    Application(kUninstall, "Quoted", "Contoso Ltd.", "\"H:\\Quoted App\"");
    Application(kUninstall, "Empty", "Contoso Ltd.", "");
    Application(kUninstall, "Relative", "Contoso Ltd.", "Relative App");
    Application(kUninstall, "Rooted", "Contoso Ltd.", "\\Rooted App");
    Application(kUninstall, "Huge", "Contoso Ltd.", "J:\\" + std::string(40000, 'h'));
    Application(kUninstall, "No Location", "Contoso Ltd.", nullptr);
    winsim::CreateKey(HKEY_LOCAL_MACHINE, std::string(kUninstall) + "Refused").refuseOpen = true;
    winsim::MakeDirectory("K:\\Long Folder Name\\App").shortName = "APP";
    winsim::FindNode("K:\\Long Folder Name")->shortName = "LONGFO~1";
    Application(kUninstall, "Short Names", "Contoso Ltd.", "K:\\LONGFO~1\\App");
    Application(kUninstall32, "Legacy Tool", "Contoso Ltd.", "E:\\Legacy\\Tool");
    // Listed under a name the code page cannot spell.
    Application(kUninstall, u8"\u753b\u50cf\u30d3\u30e5\u30fc\u30a2", "Contoso Ltd.", "L:\\Viewer");
    winsim::SetString(HKEY_CURRENT_USER, std::string("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") +
                                             "Sketch", "InstallLocation", "F:\\UserApps\\Sketch");
  }

  void Profile(const std::string& sid, const std::string& path) {
    winsim::SetString(HKEY_LOCAL_MACHINE, std::string(kProfileList) + "\\" + sid, "ProfileImagePath", path,
                      REG_EXPAND_SZ);
  }

  void Application(const char* key, const std::string& name, const char* publisher, const char* location,
                   DWORD type = REG_SZ) {
    Application(key, name, publisher, location ? std::string(location) : std::string(), type, location != nullptr);
  }
  void Application(const char* key, const std::string& name, const char* publisher, const std::string& location,
                   DWORD type = REG_SZ, bool withLocation = true) {
    std::string path = std::string(key) + name;
    winsim::CreateKey(HKEY_LOCAL_MACHINE, path);
    winsim::SetString(HKEY_LOCAL_MACHINE, path, "DisplayName", name);
    if (publisher) winsim::SetString(HKEY_LOCAL_MACHINE, path, "Publisher", publisher);
    if (withLocation) winsim::SetString(HKEY_LOCAL_MACHINE, path, "InstallLocation", location, type);
  }

  static std::string Canonical(const std::string& path) {
    char out[1024];
    return CanonicalDrivePath(path.c_str(), out, sizeof out, nullptr) ? out : "<not a drive path>";
  }
};

struct GuardCase {
  const char* value;
  Rule rule;
  const char* folder;  // the protected folder named, as read; null when any
};

TEST_F(InstallDirectoryGuardTest, EachRuleRefusesItsFoldersAndWhatHoldsThemAndNothingElse) {
  const GuardCase cases[] = {
      // Well-known folders of the machine and of the user, and the TEMP folder.
      {"C:\\Program Files\\Common Files", Rule::kWellKnownFolder, "C:\\Program Files\\Common Files"},
      {"c:/program files (x86)/common files/", Rule::kWellKnownFolder, "C:\\Program Files (x86)\\Common Files"},
      {"C:\\Users\\Public", Rule::kWellKnownFolder, nullptr},
      {"C:\\Users\\Public\\Documents", Rule::kWellKnownFolder, "C:\\Users\\Public\\Documents"},
      {"C:\\ProgramData\\Microsoft", Rule::kWellKnownFolder, nullptr},
      {"C:\\Users\\User\\AppData", Rule::kWellKnownFolder, nullptr},
      {"C:\\Temp", Rule::kWellKnownFolder, "C:\\Temp"},
      // Profiles: the root, each profile (expanded), wherever it lies.
      {"C:\\Users\\Alice\\", Rule::kUserProfile, "C:\\Users\\Alice"},
      {"D:\\Profiles", Rule::kUserProfile, "D:\\Profiles\\Bob"},
      {"D:\\Profiles\\BOB", Rule::kUserProfile, "D:\\Profiles\\Bob"},
      // Other applications: at and above their location, in every view.
      {"C:\\Tools", Rule::kOtherApplication, "C:\\Tools\\Other Scope\\"},
      {"C:\\Tools\\Other Scope", Rule::kOtherApplication, "C:\\Tools\\Other Scope\\"},
      {"E:\\Legacy", Rule::kOtherApplication, "E:\\Legacy\\Tool"},
      {"F:\\UserApps\\Sketch", Rule::kOtherApplication, "F:\\UserApps\\Sketch"},
      {"G:\\Lower", Rule::kOtherApplication, "G:\\Lower\\App"},
      {"G:\\Anonymous\\App", Rule::kOtherApplication, "G:\\Anonymous\\App"},
      {"C:\\Expanded App", Rule::kOtherApplication, "C:\\Expanded App"},
      {"H:\\Quoted App", Rule::kOtherApplication, "H:\\Quoted App"},
      {"K:\\Long Folder Name", Rule::kOtherApplication, "K:\\Long Folder Name\\App"},
      {"L:\\Viewer", Rule::kOtherApplication, "L:\\Viewer"},
      // The forms refused before any fact is looked at.
      {"C:\\Tools\\.\\Velmora Imaging", Rule::kNotAPlainDrivePath, ""},
      {"C:\\Windows\\Temp\\Lum", Rule::kWindowsDirectory, "C:\\Windows"},
      {"C:\\Users", Rule::kSharedTopLevelFolder, "C:\\Users"},
      // Accepted: inside a protected folder, beside one, or above only the
      // vendor's own product or locations that protect nothing.
      {"C:\\Users\\Public\\Documents\\Velmora Imaging", Rule::kAccepted, ""},
      {"D:\\Profiles\\Bob\\Velmora", Rule::kAccepted, ""},
      {"C:\\Tools\\Other Scope\\Velmora", Rule::kAccepted, ""},
      {"C:\\Tool", Rule::kAccepted, ""},
      {"C:\\Tools\\Other", Rule::kAccepted, ""},
      {"C:\\Tools\\Other Scope2", Rule::kAccepted, ""},
      {"D:\\Velmora", Rule::kAccepted, ""},
      {"C:\\Tools\\Relative App", Rule::kAccepted, ""},
      {"C:\\Rooted App", Rule::kAccepted, ""},
      {"J:\\", Rule::kDriveRoot, ""},
      {"J:\\Data", Rule::kAccepted, ""},
      {"C:\\Program Files\\Velmora Imaging", Rule::kAccepted, ""},
  };
  const InstallDirectoryFacts facts = ReadInstallDirectoryFacts();
  for (const GuardCase& c : cases) {
    SCOPED_TRACE(c.value);
    InstallDirectoryVerdict verdict = JudgeInstallDirectory(c.value, facts);
    EXPECT_EQ(c.rule == Rule::kAccepted, verdict.accepted);
    EXPECT_EQ(InstallDirectoryRuleText(c.rule), std::string(InstallDirectoryRuleText(verdict.rule)));
    if (c.folder) {
      EXPECT_EQ(c.folder, verdict.protectedFolder);
    } else {
      // Some folder at or below the value.
      EXPECT_TRUE(IsSameOrAncestorPath(Canonical(c.value).c_str(), Canonical(verdict.protectedFolder).c_str()))
          << verdict.protectedFolder;
    }
  }
}

TEST_F(InstallDirectoryGuardTest, EveryWellKnownFolderAndItsParentAreRefused) {
  const InstallDirectoryFacts facts = ReadInstallDirectoryFacts();
  for (int csidl : kWellKnown) {
    char path[MAX_PATH];
    ASSERT_EQ(S_OK, SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path));
    std::string folder = path;
    for (const std::string& value : {folder, folder.substr(0, folder.rfind('\\'))}) {
      SCOPED_TRACE(value);
      EXPECT_FALSE(JudgeInstallDirectory(value.c_str(), facts).accepted);
    }
  }
}

TEST_F(InstallDirectoryGuardTest, FolderWindowsCannotReportIsSkippedAndTheOthersStillCount) {
  M().system.shellFolders[CSIDL_PROGRAM_FILES_COMMON] = "";  // E_FAIL
  RemoveDirectoryA("C:\\Users\\User\\Music");                // S_FALSE: does not exist
  char path[MAX_PATH] = "junk";
  EXPECT_EQ(S_FALSE, SHGetFolderPathA(nullptr, CSIDL_MYMUSIC, nullptr, SHGFP_TYPE_CURRENT, path));
  EXPECT_STREQ("", path);

  const InstallDirectoryFacts facts = ReadInstallDirectoryFacts();

  EXPECT_TRUE(JudgeInstallDirectory("C:\\Program Files\\Common Files", facts).accepted);
  EXPECT_TRUE(JudgeInstallDirectory("C:\\Users\\User\\Music", facts).accepted);
  EXPECT_FALSE(JudgeInstallDirectory("C:\\Users\\User\\Videos", facts).accepted);
  EXPECT_FALSE(JudgeInstallDirectory("C:\\Program Files (x86)\\Common Files", facts).accepted);
}

TEST_F(InstallDirectoryGuardTest, WithoutTheSystemDirectoriesNoValueIsUsedAndTheDefaultPlaceGoes) {
  M().system.systemDirectory = "C:\\" + std::string(300, 's');  // does not fit: cannot be read
  const InstallDirectoryFacts facts = ReadInstallDirectoryFacts();
  EXPECT_FALSE(facts.haveSystemDirectories);
  EXPECT_EQ(Rule::kNoSystemDirectories, JudgeInstallDirectory("D:\\Velmora\\Lum", facts).rule);

  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Revision", "9.0");
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Directory", "D:\\Velmora\\Lum");
  winsim::MakeFile("D:\\Velmora\\Lum\\lum.dll", "MZ");
  winsim::MakeFile("C:\\Program Files\\Velmora Imaging\\lum.dll", "MZ");
  CleanupContext context;
  RemoveInstallDirectory(context, "9.0");
  EXPECT_TRUE(winsim::PathExists("D:\\Velmora\\Lum\\lum.dll"));
  EXPECT_FALSE(winsim::PathExists("C:\\Program Files\\Velmora Imaging"));
}

TEST_F(InstallDirectoryGuardTest, SilentRunKeepsTheSharedFolderAndRemovesTheDefaultPlace) {
  winsim::MakeFile("C:\\Program Files\\Common Files\\Contoso\\shared.dll", "MZ shared");
  winsim::MakeFile("C:\\Tools\\Other Scope\\scope.exe", "MZ scope");
  winsim::MakeFile("C:\\Program Files\\Velmora Imaging\\bin\\lumcore.dll", "MZ");
  for (const char* value : {"C:\\Program Files\\Common Files", "C:\\Tools"}) {
    SCOPED_TRACE(value);
    winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Revision", "9.0");
    winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Directory", value);
    winsim::MakeFile("C:\\Program Files\\Velmora Imaging\\bin\\lumcore.dll", "MZ");

    EXPECT_EQ(0, RunProgram("silent noreboot"));

    EXPECT_EQ("MZ shared", winsim::ReadFileText("C:\\Program Files\\Common Files\\Contoso\\shared.dll"));
    EXPECT_EQ("MZ scope", winsim::ReadFileText("C:\\Tools\\Other Scope\\scope.exe"));
    EXPECT_FALSE(winsim::PathExists("C:\\Program Files\\Velmora Imaging"));
  }
}

}  // namespace
