// Where reports and the registry backup go, and that nobody but the system
// and administrators can have chosen or changed what is written there: the
// folder's owner and access list, files that are always new, and the backup's
// SHA-256 from Windows' own cryptography.
#include <windows.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "inventory/report.h"
#include "inventory/report_folder.h"
#include "sim_fixture.h"
#include "system/file_digest.h"
#include "system/new_file.h"

using winsim::M;

namespace {

const std::string kDefault = "C:\\Windows\\Logs\\CleanLum";
const std::string kPrivateSecurity = "O:S-1-5-32-544D:P(A;OICI;0x1f01ff;;;S-1-5-18)(A;OICI;0x1f01ff;;;S-1-5-32-544)";
const std::string kOtherUser = "S-1-5-21-1004336348-1177238915-682003330-1002";
const char kStamp[] = "20261208-090503";

class ReportFolderTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\Parlow-CL");
    winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Revision", "8.2");
  }

  // The names of the files in folder, sorted.
  static std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& line : winsim::DumpTree(folder)) names.push_back(line.substr(0, line.find(' ')));
    return names;
  }

  static nlohmann::json Json(const std::string& path) { return nlohmann::json::parse(winsim::ReadFileText(path)); }
};

struct FolderCase {
  const char* name;
  const char* security;  // SDDL of the existing folder C:\Reports ("" : as made under C:\ by an administrator)
  const char* concern;   // a part of the reports' warning; "" when the folder is private
};

void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class ExistingFolderTest : public ReportFolderTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(ExistingFolderTest, AnExistingFolderIsJudgedByItsOwnerAndItsAccessList) {
  const FolderCase& c = GetParam();
  winsim::MakeDirectory("C:\\Reports");
  if (*c.security) winsim::SetSecurity("C:\\Reports", c.security);

  ReportFolder folder = ChooseReportFolder("C:\\Reports", true);

  EXPECT_EQ("C:\\Reports", folder.reports.path);
  EXPECT_TRUE(folder.checked);
  EXPECT_EQ(!*c.concern, folder.isPrivate) << folder.concern;
  if (*c.concern) {
    EXPECT_NE(std::string::npos, folder.concern.find(c.concern)) << folder.concern;
    // The backup never lies where someone else could change it first.
    EXPECT_EQ(kDefault, folder.backup.path);
    EXPECT_EQ(kPrivateSecurity, winsim::SecurityText(kDefault));
    EXPECT_NE(std::string::npos, folder.backupConcern.find("went to " + kDefault + " instead"));
  } else {
    EXPECT_EQ("", folder.concern);
    EXPECT_EQ("C:\\Reports", folder.backup.path);
    EXPECT_FALSE(winsim::PathExists(kDefault));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ExistingFolderTest,
    ::testing::Values(
        FolderCase{"MadeUnderTheDriveRoot", "",
                   "NT AUTHORITY\\Authenticated Users (S-1-5-11) may add, change or delete files in it"},
        FolderCase{"OwnedByAnotherUser", "O:S-1-5-21-1004336348-1177238915-682003330-1002D:P(A;OICI;FA;;;SY)",
                   "owned by S-1-5-21-1004336348-1177238915-682003330-1002"},
        FolderCase{"UsersMayWriteItsFiles", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OIIO;FW;;;BU)",
                   "BUILTIN\\Users (S-1-5-32-545)"},
        FolderCase{"EveryoneMayDeleteInIt", "O:BAD:P(A;OICI;FA;;;BA)(A;;0x40;;;WD)", "Everyone (S-1-1-0)"},
        FolderCase{"ADenialTakesNothingAway", "O:BAD:P(D;OICI;FA;;;BU)(A;OICI;FA;;;BA)(A;;FW;;;BU)",
                   "BUILTIN\\Users"},
        FolderCase{"Protected", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", ""},
        FolderCase{"EveryoneMayOnlyRead", "O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;WD)", ""},
        FolderCase{"RulesForSubfoldersAndCreatorsOnly",
                   "O:BAD:P(A;OICI;FA;;;BA)(A;CIIO;FW;;;BU)(A;OICIIO;GA;;;CO)", ""},
        FolderCase{"OwnedByTrustedInstaller",
                   "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P(A;OICI;FA;;;BA)", ""},
        FolderCase{"OwnedByTheAccountThatRuns",
                   "O:S-1-5-21-1004336348-1177238915-682003330-1001D:P"
                   "(A;OICI;FA;;;S-1-5-21-1004336348-1177238915-682003330-1001)",
                   ""}),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.name); });

TEST_F(ReportFolderTest, MissingFoldersAreMadePrivateAndMissingParentsAsWindowsMakesThem) {
  ReportFolder byDefault = ChooseReportFolder("", true);
  EXPECT_EQ(kDefault, byDefault.reports.path);
  EXPECT_TRUE(byDefault.isPrivate);
  EXPECT_EQ(kDefault, byDefault.backup.path);
  EXPECT_EQ(kPrivateSecurity, winsim::SecurityText(kDefault));
  // Logs inherits the Windows folder's list: only reading for Users.
  EXPECT_EQ(std::string::npos, winsim::SecurityText("C:\\Windows\\Logs").find("P("));

  // A relative reportdir= is taken against the working directory, never left relative.
  ReportFolder requested = ChooseReportFolder("Lum\\Reports", true);
  EXPECT_EQ("C:\\Tools\\Lum\\Reports", requested.reports.path);
  EXPECT_TRUE(requested.isPrivate) << requested.concern;
  EXPECT_EQ(kPrivateSecurity, winsim::SecurityText("C:\\Tools\\Lum\\Reports"));
  EXPECT_NE(std::string::npos, winsim::SecurityText("C:\\Tools\\Lum").find("S-1-5-11"));  // inherited
}

TEST_F(ReportFolderTest, AFolderReachedThroughALinkIsNotPrivate) {
  winsim::MakeDirectory("C:\\Private");
  winsim::SetSecurity("C:\\Private", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  winsim::MakeLink("C:\\Reports", "C:\\Private", true);

  ReportFolder folder = ChooseReportFolder("C:\\Reports", true);

  EXPECT_FALSE(folder.isPrivate);
  EXPECT_NE(std::string::npos, folder.concern.find("through a link or under another name, as C:\\Private"))
      << folder.concern;
  EXPECT_EQ(kDefault, folder.backup.path);
}

TEST_F(ReportFolderTest, ASquattedDefaultFolderGetsItsWarningAndNoBackup) {
  winsim::MakeDirectory(kDefault);
  winsim::SetSecurity(kDefault, "O:" + kOtherUser + "D:P(A;OICI;FA;;;" + kOtherUser + ")");

  ReportFolder folder = ChooseReportFolder("", true);

  EXPECT_EQ(kDefault, folder.reports.path);
  EXPECT_FALSE(folder.isPrivate);
  EXPECT_EQ("", folder.backup.path);
  EXPECT_EQ("No registry backup was written: the report folder is not private.", folder.backupConcern);
}

TEST_F(ReportFolderTest, WithoutAdministratorRightsTheUsersOwnTempServesAndIsNeverRelative) {
  EXPECT_EQ("C:\\Temp", ChooseReportFolder("", false).reports.path);
  M().system.environment["TEMP"] = "Temp";  // relative: Windows' own answer instead
  M().system.environment["TMP"] = "C:\\Users\\User\\AppData\\Local\\Temp";
  EXPECT_EQ("C:\\Users\\User\\AppData\\Local\\Temp\\", ChooseReportFolder("", false).reports.path);
  M().system.environment.erase("TEMP");
  EXPECT_EQ("C:\\Users\\User\\AppData\\Local\\Temp\\", ChooseReportFolder("", false).reports.path);
  EXPECT_FALSE(winsim::PathExists(kDefault));
}

TEST_F(ReportFolderTest, AnUnusableReportdirSendsTheReportsToTheDefaultFolder) {
  winsim::MakeFile("C:\\Blocked", "a file where the folder would be");

  ReportFolder folder = ChooseReportFolder("C:\\Blocked\\Reports", true);

  EXPECT_EQ(kDefault, folder.reports.path);
  EXPECT_TRUE(folder.isPrivate);
  EXPECT_NE(std::string::npos, folder.concern.find("reportdir=C:\\Blocked\\Reports cannot be used"));
  EXPECT_NE(std::string::npos, folder.concern.find("the reports went to the default folder"));
}

TEST_F(ReportFolderTest, ARunIntoAnOpenFolderSaysSoAndPutsTheBackupAside) {
  winsim::MakeDirectory("C:\\ProgramData\\CleanLum");  // made by a standard user first
  winsim::SetSecurity("C:\\ProgramData\\CleanLum", "O:" + kOtherUser + "D:(A;OICI;FA;;;" + kOtherUser + ")");

  ASSERT_EQ(0, RunProgram("silent noreboot \"reportdir=C:\\ProgramData\\CleanLum\""));

  std::string base = std::string("C:\\ProgramData\\CleanLum\\CleanLum-result-") + kStamp;
  std::string text = winsim::ReadFileText(base + ".txt");
  EXPECT_NE(std::string::npos,
            text.find("Report folder: C:\\ProgramData\\CleanLum\r\n  WARNING: This folder is not private: it is "
                      "owned by " +
                      kOtherUser + ", who can give anyone the right to change it."))
      << text;
  nlohmann::json report = Json(base + ".json");
  EXPECT_EQ(false, report["reportFolder"]["private"]);
  std::string backup = kDefault + "\\CleanLum-registry-backup-" + kStamp + ".reg";
  EXPECT_EQ(backup, report["backup"]["file"]);
  EXPECT_TRUE(winsim::PathExists(backup));
  EXPECT_NE(std::string::npos, text.find("The registry backup went to " + kDefault + " instead"));
  EXPECT_EQ(std::vector<std::string>{}, Files(kDefault + "\\CleanLum-result"));
}

TEST_F(ReportFolderTest, NamesThatExistedBeforeTheRunAreLeftAloneAndTheNextNumberIsUsed) {
  // A file planted at the JSON report's name and a hard link at the backup's:
  // never opened, and both report files move to the next name together.
  winsim::MakeFile(kDefault + "\\CleanLum-result-" + kStamp + ".json", "planted");
  winsim::MakeFile(kDefault + "\\CleanLum-registry-backup-" + kStamp + ".reg", "SAM hive").hardLinks = 2;
  // And a hard link made to the next report file the moment it exists: that
  // file is deleted through its handle and the name after it is used.
  M().files.afterCreate = [](const std::string& path, winsim::FsNode& file) {
    if (path == kDefault + "\\CleanLum-result-" + kStamp + "-2.txt") file.hardLinks = 2;
  };

  ASSERT_EQ(3010, RunProgram("managed"));

  EXPECT_EQ((std::vector<std::string>{"CleanLum-" + std::string(kStamp) + ".log",  // the administrator's log
                                      "CleanLum-registry-backup-" + std::string(kStamp) + "-2.reg",
                                      "CleanLum-registry-backup-" + std::string(kStamp) + ".reg",
                                      "CleanLum-result-" + std::string(kStamp) + "-3.json",
                                      "CleanLum-result-" + std::string(kStamp) + "-3.txt",
                                      "CleanLum-result-" + std::string(kStamp) + ".json"}),
            Files(kDefault));
  EXPECT_EQ("planted", winsim::ReadFileText(kDefault + "\\CleanLum-result-" + kStamp + ".json"));
  EXPECT_EQ("SAM hive", winsim::ReadFileText(kDefault + "\\CleanLum-registry-backup-" + kStamp + ".reg"));
  // The first text report was given up with its name when the JSON's was taken.
  EXPECT_EQ((std::vector<std::string>{kDefault + "\\CleanLum-result-" + kStamp + ".txt",
                                      kDefault + "\\CleanLum-result-" + kStamp + "-2.txt"}),
            winsim::TraceOf("delete-by-handle: "));

  // The marker names the files that were written, with the backup's digest.
  const winsim::RegValue* reportValue = winsim::FindValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLum", "Report");
  const winsim::RegValue* backupValue = winsim::FindValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLum", "Backup");
  const winsim::RegValue* digestValue = winsim::FindValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLum", "BackupSha256");
  ASSERT_TRUE(reportValue && backupValue && digestValue);
  std::string backup = kDefault + "\\CleanLum-registry-backup-" + kStamp + "-2.reg";
  EXPECT_EQ(kDefault + "\\CleanLum-result-" + kStamp + "-3.json",
            std::string(reportValue->data.begin(), reportValue->data.end() - 1));
  EXPECT_EQ(backup, std::string(backupValue->data.begin(), backupValue->data.end() - 1));
  std::string content = winsim::ReadFileText(backup);
  std::string digest;
  ASSERT_TRUE(ComputeSha256(content.data(), content.size(), digest));
  EXPECT_EQ(digest, std::string(digestValue->data.begin(), digestValue->data.end() - 1));
  nlohmann::json report = Json(kDefault + "\\CleanLum-result-" + kStamp + "-3.json");
  EXPECT_EQ(digest, report["backup"]["sha256"]);
  EXPECT_NE(std::string::npos,
            winsim::ReadFileText(kDefault + "\\CleanLum-result-" + kStamp + "-3.txt").find("  SHA-256: " + digest));
}

TEST_F(ReportFolderTest, AFileWrittenAsTheRunGoesIsNewToo) {
  ReportFolder folder = ChooseReportFolder("", true);
  winsim::MakeFile(kDefault + "\\CleanLum-" + kStamp + ".log", "planted");

  HANDLE log = INVALID_HANDLE_VALUE;
  std::string path;
  ASSERT_TRUE(OpenNewFile(folder.reports, std::string("CleanLum-") + kStamp, ".log", log, path));
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(log, "line\r\n", 6, &written, nullptr));
  CloseHandle(log);

  EXPECT_EQ(kDefault + "\\CleanLum-" + kStamp + "-2.log", path);
  EXPECT_EQ("line\r\n", winsim::ReadFileText(path));
  EXPECT_EQ("planted", winsim::ReadFileText(kDefault + "\\CleanLum-" + kStamp + ".log"));
}

TEST_F(ReportFolderTest, AFolderSwappedForALinkAfterItsCheckGetsNoFile) {
  ReportFolder folder = ChooseReportFolder("C:\\Reports", true);
  ASSERT_TRUE(folder.isPrivate);
  winsim::MakeDirectory("C:\\Elsewhere");
  winsim::FindNode("C:\\")->children.erase("Reports");
  winsim::MakeLink("C:\\Reports", "C:\\Elsewhere", true);

  std::string path;
  EXPECT_FALSE(WriteNewFile(folder.reports, "CleanLum-result", ".txt", "report", path));
  EXPECT_EQ(std::vector<std::string>{}, Files("C:\\Elsewhere"));
}

TEST_F(ReportFolderTest, TheDigestComesFromCngElseCryptoApiElseIsNotClaimed) {
  // FIPS 180-4's example "abc".
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::string digest;
  ASSERT_TRUE(ComputeSha256("abc", 3, digest));
  EXPECT_EQ(abc, digest);
  M().loader.missingModules.insert("bcrypt.dll");
  digest.clear();
  ASSERT_TRUE(ComputeSha256("abc", 3, digest));
  EXPECT_EQ(abc, digest);
  EXPECT_EQ((std::vector<std::string>{"cng", "cryptoapi"}), winsim::TraceOf("hash: "));

  M().loader.cryptoApiWithoutAes = true;
  EXPECT_FALSE(ComputeSha256("abc", 3, digest));
  ASSERT_EQ(0, RunProgram("silent noreboot"));
  std::string text = winsim::ReadFileText(kDefault + "\\CleanLum-result-" + kStamp + ".txt");
  EXPECT_NE(std::string::npos,
            text.find("  SHA-256: not computed: this Windows offers neither CNG nor CryptoAPI's AES provider"));
  EXPECT_TRUE(Json(kDefault + "\\CleanLum-result-" + kStamp + ".json")["backup"]["sha256"].is_null());
}

}  // namespace
