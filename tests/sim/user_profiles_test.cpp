// Every user's traces: a machine with profiles of every kind (a logged-on
// user whose hives are loaded, one whose hives lie in files, a damaged hive,
// a profile without its hive file, the system and a service account), each
// holding the vendor's per-user keys beside other vendors' and look-alikes.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "registry/registry.h"
#include "registry/user_profiles.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char kAlice[] = "S-1-5-21-7-7-7-1001";   // logged on: hives loaded
const char kBob[] = "S-1-5-21-7-7-7-1002";     // not logged on: hives in files
const char kCarol[] = "S-1-5-21-7-7-7-1003";   // a damaged NTUSER.DAT
const char kDave[] = "S-1-5-21-7-7-7-1004";    // no NTUSER.DAT at all
const char kService[] = "S-1-5-80-1-2-3-4-5";  // a service's own profile
const char kBobHive[] = "C:\\Users\\Bob\\NTUSER.DAT";
const char kBobClasses[] = "C:\\Users\\Bob\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";
const char kClsid[] = "CLSID\\{1BE3A785-8017-545C-62F3-D5C10ACC50BD}";  // a catalogued class

class UserProfilesTest : public StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    Profile("S-1-5-18", "%systemroot%\\system32\\config\\systemprofile");
    Profile(kAlice, "C:\\Users\\Alice");
    Profile(kBob, "%SystemDrive%\\Users\\Bob");
    Profile(kCarol, "C:\\Users\\Carol");
    Profile(kDave, "C:\\Users\\Dave");
    Profile(kService, "C:\\Windows\\ServiceProfiles\\Svc");
    Profile(std::string(kAlice) + ".bak", "C:\\Users\\Alice.old");

    // Every hive holds the vendor's keys and others'.
    for (const std::string& file : {std::string("C:\\Windows\\system32\\config\\systemprofile\\NTUSER.DAT"),
                                    std::string("C:\\Users\\Alice\\NTUSER.DAT"), std::string(kBobHive),
                                    std::string("C:\\Users\\Carol\\NTUSER.DAT"),
                                    std::string("C:\\Windows\\ServiceProfiles\\Svc\\NTUSER.DAT"),
                                    std::string("C:\\Users\\Alice.old\\NTUSER.DAT")})
      FillUserHive(winsim::AddHiveFile(file).root);
    for (const std::string& file : {std::string("C:\\Users\\Alice\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat"),
                                    std::string(kBobClasses)}) {
      winsim::RegKey& root = *winsim::AddHiveFile(file).root;
      winsim::KeyAt(root, std::string(kClsid) + "\\InprocServer32");
      winsim::KeyAt(root, "CLSID\\{00000000-0000-0000-0000-000000000001}");
      winsim::KeyAt(root, "RemoteClientActiveX.RemoteClientActiveX");
      winsim::KeyAt(root, "RemoteClientActiveX.RemoteClientActiveX.2");
    }
    M().registry.hiveFiles["C:\\Users\\Carol\\NTUSER.DAT"].damaged = true;
    // Alice is logged on: her hives are loaded under her SID.
    winsim::MountHive("C:\\Users\\Alice\\NTUSER.DAT", kAlice);
    winsim::MountHive("C:\\Users\\Alice\\AppData\\Local\\Microsoft\\Windows\\UsrClass.dat",
                      std::string(kAlice) + "_Classes");
    winsim::MountHive("C:\\Windows\\system32\\config\\systemprofile\\NTUSER.DAT", "S-1-5-18");
    M().trace.clear();
  }

  static void Profile(const std::string& sid, const std::string& folder) {
    winsim::SetString(HKEY_LOCAL_MACHINE, std::string(kProfileList) + "\\" + sid, "ProfileImagePath", folder,
                      REG_EXPAND_SZ);
  }

  static void FillUserHive(const std::shared_ptr<winsim::RegKey>& root) {
    winsim::KeyAt(*root, "Software\\Velmora\\Lum\\Settings").values.push_back({"LastBoard", REG_SZ, {'P', 0}, false});
    winsim::KeyAt(*root, "Software\\Velmora Imaging\\Recent");
    winsim::KeyAt(*root, "Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8");
    winsim::KeyAt(*root, "Software\\Microsoft\\Installer\\Products\\00C1EA00000000000000000000000001");
    winsim::KeyAt(*root, "Software\\Velmora2");                // look-alikes
    winsim::KeyAt(*root, "Software\\Velmora Imaging Viewer");
    winsim::KeyAt(*root, "Software\\Contoso\\Viewer");         // another vendor's
  }

  // A hive's keys as "path" lines, sorted.
  static std::vector<std::string> Keys(const winsim::RegKey& key, const std::string& path = "") {
    std::vector<std::string> out;
    for (const auto& [name, child] : key.subkeys) {
      std::string childPath = path.empty() ? child->name : path + "\\" + child->name;
      out.push_back(childPath);
      std::vector<std::string> below = Keys(*child, childPath);
      out.insert(out.end(), below.begin(), below.end());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::vector<std::string> HiveKeys(const std::string& file) { return Keys(*M().registry.hiveFiles[file].root); }

  static std::vector<std::string> Without(std::vector<std::string> keys, const std::vector<std::string>& gone) {
    keys.erase(std::remove_if(keys.begin(), keys.end(),
                              [&](const std::string& key) {
                                for (const std::string& g : gone)
                                  if (key == g || key.compare(0, g.size() + 1, g + "\\") == 0) return true;
                                return false;
                              }),
               keys.end());
    return keys;
  }

  static void Tell(const std::string& item, const std::string& keyLeft, DWORD error, void*) {
    told_.push_back(item + (keyLeft.empty() ? "" : " > " + keyLeft) + ": " + std::to_string(error));
  }
  static std::vector<std::string> told_;
};

std::vector<std::string> UserProfilesTest::told_;

const std::vector<std::string> kVendorUserKeys = {"Software\\Velmora", "Software\\Velmora Imaging",
                                                   "Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8"};
const std::vector<std::string> kVendorClasses = {kClsid, "RemoteClientActiveX.RemoteClientActiveX"};

TEST_F(UserProfilesTest, EveryRealUsersHivesLoseExactlyTheVendorsKeysAndAreLeftAsTheyWere) {
  std::map<std::string, std::vector<std::string>> before;
  for (const auto& [file, hive] : M().registry.hiveFiles) before[file] = HiveKeys(file);
  // Bob's hive holds a key that refuses deletion: it stays, and the hive is unloaded all the same.
  winsim::KeyAt(*M().registry.hiveFiles[kBobHive].root, "Software\\Velmora Imaging\\Recent").refuseDelete = true;
  told_.clear();
  context_.everyProfile = true;
  context_.registryKeyLeft = &Tell;

  DeleteRegistryKeys(context_);

  for (const auto& [file, keys] : before) {
    bool alice = file.find("Alice\\") != std::string::npos;
    bool bob = file.find("Bob\\") != std::string::npos;
    std::vector<std::string> expected = keys;
    if (alice || bob) {
      bool classes = file.find("UsrClass") != std::string::npos;
      expected = Without(keys, classes ? kVendorClasses : kVendorUserKeys);
      if (bob && !classes) expected.insert(expected.end(), {"Software\\Velmora Imaging", "Software\\Velmora Imaging\\Recent"});
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(expected, HiveKeys(file)) << file;
  }
  // Bob's hives were loaded for the run and are not any more; Alice's and
  // SYSTEM's stay loaded as they were; Dave's missing hive was not created.
  EXPECT_TRUE(M().registry.hiveFiles[kBobHive].mountedAs.empty());
  EXPECT_TRUE(M().registry.hiveFiles[kBobClasses].mountedAs.empty());
  EXPECT_EQ(kAlice, M().registry.hiveFiles["C:\\Users\\Alice\\NTUSER.DAT"].mountedAs);
  std::vector<std::string> mounted;
  for (const auto& [name, key] : M().registry.users->subkeys) mounted.push_back(key->name);
  EXPECT_EQ((std::vector<std::string>{"S-1-5-18", kAlice, std::string(kAlice) + "_Classes"}), mounted);
  EXPECT_FALSE(winsim::PathExists("C:\\Users\\Dave\\NTUSER.DAT"));
  EXPECT_EQ(2u, winsim::TraceOf("regunloadkey: ").size());
  // The privileges are off again, and no handle is left open.
  EXPECT_FALSE(M().tokens.processPrivileges["SeBackupPrivilege"]);
  EXPECT_FALSE(M().tokens.processPrivileges["SeRestorePrivilege"]);
  EXPECT_EQ(0u, winsim::OpenKeyHandles());
  EXPECT_EQ((std::vector<std::string>{
                std::string("HKU\\") + kBob + "\\Software\\Velmora Imaging > Recent: 5",
                std::string("HKU\\") + kCarol + ": " + std::to_string(ERROR_BADDB)}),
            told_);
}

// What the user owns may steer or hold a hive: a link in the profile's own
// folders is never loaded through, and a hive another process holds open a
// moment is unloaded once it lets go; one held on is reported, the privileges
// released all the same.
TEST_F(UserProfilesTest, AHiveBehindALinkIsNotLoadedAndAnUnloadIsRetriedThenReported) {
  const std::string erin = "S-1-5-21-7-7-7-1005";
  Profile(erin, "C:\\Users\\Erin");
  FillUserHive(winsim::AddHiveFile("C:\\Users\\Erin\\NTUSER.DAT").root);
  // Erin's classes hive place leads into Bob's folder.
  winsim::MakeLink("C:\\Users\\Erin\\AppData\\Local\\Microsoft", "C:\\Users\\Bob\\AppData\\Local\\Microsoft", true);
  M().registry.hiveFiles[kBobHive].refuseUnload = 2;
  M().registry.hiveFiles[kBobClasses].refuseUnload = 100;
  told_.clear();
  context_.everyProfile = true;
  context_.registryKeyLeft = &Tell;

  DeleteRegistryKeys(context_);

  for (const std::string& load : winsim::TraceOf("regloadkey: "))
    EXPECT_EQ(std::string::npos, load.find("Erin\\AppData")) << load;
  EXPECT_EQ(Without(HiveKeys("C:\\Users\\Erin\\NTUSER.DAT"), kVendorUserKeys).size(),
            HiveKeys("C:\\Users\\Erin\\NTUSER.DAT").size());
  EXPECT_EQ(Without(HiveKeys(kBobClasses), kVendorClasses), HiveKeys(kBobClasses));
  EXPECT_TRUE(M().registry.hiveFiles[kBobHive].mountedAs.empty());
  EXPECT_FALSE(M().registry.hiveFiles[kBobClasses].mountedAs.empty());
  EXPECT_FALSE(M().tokens.processPrivileges["SeBackupPrivilege"]);
  EXPECT_FALSE(M().tokens.processPrivileges["SeRestorePrivilege"]);
  EXPECT_EQ((std::vector<std::string>{std::string("HKU\\") + kBob + "_Classes > HKU\\CleanLum " + kBob + "_Classes: " +
                                          std::to_string(ERROR_ACCESS_DENIED),
                                      std::string("HKU\\") + kCarol + ": " + std::to_string(ERROR_BADDB),
                                      "HKU\\" + erin + "_Classes: " + std::to_string(ERROR_CANT_ACCESS_FILE)}),
            told_);
}

TEST_F(UserProfilesTest, WithoutTheWordNoProfileIsLookedAt) {
  std::map<std::string, std::vector<std::string>> before;
  for (const auto& [file, hive] : M().registry.hiveFiles) before[file] = HiveKeys(file);

  DeleteRegistryKeys(context_);

  for (const auto& [file, keys] : before) EXPECT_EQ(keys, HiveKeys(file)) << file;
  EXPECT_TRUE(winsim::TraceOf("regloadkey: ").empty());
}

TEST_F(UserProfilesTest, OnlyRealUsersSidsAreProfilesToClean) {
  for (const char* sid : {"S-1-5-21-1-2-3-1001", "S-1-12-1-11-22-33-44"}) EXPECT_TRUE(IsUserProfileSid(sid)) << sid;
  for (const char* sid : {"S-1-5-18", "S-1-5-19", "S-1-5-20", "S-1-5-80-1-2", "S-1-5-21-1-2-3-1001.bak",
                          "S-1-5-21-", "S-1-5-21-1--2", "S-1-5-21-1\\..\\x", "s-1-5-21-1-2"})
    EXPECT_FALSE(IsUserProfileSid(sid)) << sid;
}

// A run with "allusers": the preview and the result report list the keys per
// profile, the backup writes them under HKEY_USERS\<SID> and says how to
// restore those of a hive that was not loaded.
TEST_F(UserProfilesTest, ReportsListTheKeysPerProfileAndTheBackupNamesThemByTheUsersSid) {
  // The account the vendor's installers named is a logged-on user here: its
  // registration is listed once, by its own row.
  const std::string fixed = "S-1-5-21-30521874-61932045-287340916-5120";
  Profile(fixed, "C:\\Users\\Lab");
  FillUserHive(winsim::AddHiveFile("C:\\Users\\Lab\\NTUSER.DAT").root);
  winsim::MountHive("C:\\Users\\Lab\\NTUSER.DAT", fixed);

  EXPECT_EQ(0, RunProgram("silent noreboot ALLUSERS"));

  std::string folder = "C:\\Windows\\Logs\\CleanLum\\";
  nlohmann::json report = nlohmann::json::parse(winsim::ReadFileText(folder + "CleanLum-result-20261208-090503.json"));
  std::vector<std::string> profileItems;
  for (const auto& item : report["items"])
    if (item.contains("profile"))
      profileItems.push_back(item["path"].get<std::string>() + " " + item["status"].get<std::string>() + " " +
                             item["profile"]["hive"].get<std::string>() + " " +
                             item["profile"]["folder"].get<std::string>());
  std::string bob = std::string("HKU\\") + kBob;
  EXPECT_NE(profileItems.end(), std::find(profileItems.begin(), profileItems.end(),
                                          bob + "\\Software\\Velmora removed user C:\\Users\\Bob"));
  EXPECT_NE(profileItems.end(), std::find(profileItems.begin(), profileItems.end(),
                                          bob + "_Classes\\" + kClsid + " removed classes C:\\Users\\Bob"));
  EXPECT_NE(profileItems.end(), std::find(profileItems.begin(), profileItems.end(),
                                          std::string("HKU\\") + kCarol + " unreadable user C:\\Users\\Carol"));
  // Dave's profile has no hive file: listed for the record, not counted as left.
  EXPECT_NE(profileItems.end(), std::find(profileItems.begin(), profileItems.end(),
                                          std::string("HKU\\") + kDave + " remaining user C:\\Users\\Dave"));
  EXPECT_EQ(1u, report["summary"]["unreadable"]);
  std::string registration = "HKU\\" + fixed + "\\Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8";
  EXPECT_EQ(1, std::count_if(report["items"].begin(), report["items"].end(),
                             [&](const nlohmann::json& item) { return item["path"] == registration; }));
  for (const std::string& item : profileItems) EXPECT_EQ(std::string::npos, item.find(kService)) << item;

  const nlohmann::json& backup = report["backup"];
  ASSERT_EQ(2u, backup["loadedHives"].size());
  EXPECT_EQ("HKEY_USERS\\" + std::string(kBob), backup["loadedHives"][0]["key"]);
  EXPECT_EQ(kBobHive, backup["loadedHives"][0]["file"]);
  std::string file = winsim::ReadFileText(backup["file"].get<std::string>());
  std::u16string wide(file.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i)
    wide[i] = static_cast<char16_t>(static_cast<unsigned char>(file[2 * i]) | static_cast<unsigned char>(file[2 * i + 1]) << 8);
  std::string text = winsim::Utf8FromWide(wide);
  EXPECT_NE(std::string::npos, text.find("[HKEY_USERS\\" + std::string(kBob) + "\\Software\\Velmora\\Lum\\Settings]"));
  EXPECT_NE(std::string::npos, text.find("[HKEY_USERS\\" + std::string(kAlice) + "_Classes\\" + kClsid + "]"));
  EXPECT_EQ(std::string::npos, text.find("CleanLum S-"));  // never the temporary name
  std::string summary = winsim::ReadFileText(folder + "CleanLum-result-20261208-090503.txt");
  EXPECT_NE(std::string::npos, summary.find("reg load HKU\\" + std::string(kBob) + " \"" + kBobHive + "\""));
  EXPECT_TRUE(M().registry.hiveFiles[kBobHive].mountedAs.empty());
  EXPECT_EQ(0u, winsim::OpenKeyHandles());

  // The administrator's log names each profile's outcome, a warning where something stayed.
  std::string log = winsim::ReadFileText(folder + "CleanLum-20261208-090503.log");
  auto logLine = [&log](const std::string& text) {
    size_t at = log.find("[LOG[" + text + "]LOG]");
    return at == std::string::npos ? std::string() : log.substr(at, log.find("\r\n", at) - at);
  };
  EXPECT_NE(std::string::npos, logLine("Profile " + std::string(kBob) + " (C:\\Users\\Bob): 5 of the vendor's keys removed, 0 left")
                                   .find("type=\"1\""));
  EXPECT_NE(std::string::npos,
            logLine("Profile " + std::string(kCarol) + " (C:\\Users\\Carol): no keys of the vendor's; NTUSER.DAT could not be loaded (Win32 error " +
                    std::to_string(ERROR_BADDB) + ")")
                .find("type=\"2\""));
  EXPECT_NE(std::string(), logLine("Profile " + std::string(kDave) + " (C:\\Users\\Dave): no keys of the vendor's; no NTUSER.DAT"));
  EXPECT_EQ(std::string::npos, log.find(kService));
}

}  // namespace
