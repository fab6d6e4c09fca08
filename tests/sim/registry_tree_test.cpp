// Registry tree deletion below keys that standard users can write: links,
// names outside the code page, depth, and keys that refuse, wherever they
// stand. The walk never leaves the tree, never follows a link, and ends.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kTree[] = "Software\\Velmora";  // a catalogued per-user key

class RegistryTreeSimTest : public SimTest {
 protected:
  // Another vendor's key, as a link below the catalogued key might name it.
  static void MakeOtherVendorsKey() {
    winsim::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Contoso\\Viewer", "Version", "4.1");
    winsim::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Contoso\\Viewer\\Plugins", "", "kept");
  }
};

TEST_F(RegistryTreeSimTest, LinksAreDeletedAsThemselvesAndWhatTheyNameStays) {
  MakeOtherVendorsKey();
  winsim::SetString(HKEY_CURRENT_USER, std::string(kTree) + "\\Lum\\Deeper", "V", "gone");
  winsim::CreateLink(HKEY_CURRENT_USER, std::string(kTree) + "\\Lum\\Viewer", "\\REGISTRY\\MACHINE\\SOFTWARE\\Contoso\\Viewer");
  winsim::CreateLink(HKEY_CURRENT_USER, std::string(kTree) + "\\Plugins", "\\REGISTRY\\MACHINE\\SOFTWARE\\Contoso\\Viewer\\Plugins");
  // The catalogued key itself a link.
  winsim::CreateLink(HKEY_CURRENT_USER, "Software\\Velmora Imaging", "\\REGISTRY\\MACHINE\\SOFTWARE\\Contoso");
  std::vector<std::string> machine = winsim::DumpRegistry(HKEY_LOCAL_MACHINE);

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, kTree));
  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, "Software\\Velmora Imaging"));

  EXPECT_EQ(std::vector<std::string>{"Software"}, winsim::DumpRegistry(HKEY_CURRENT_USER));
  EXPECT_EQ(machine, winsim::DumpRegistry(HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(winsim::TraceOf("regdeletekey: ").empty());  // nothing by path, which would follow a link
}

// Only administrators create keys below HKEY_LOCAL_MACHINE, and Windows keeps
// its own links there: a machine path goes through them. A user's hive is
// walked one key at a time, each as itself: a link on the way leads nowhere.
TEST_F(RegistryTreeSimTest, LinksOnTheWayAreFollowedOnlyBelowTheMachinesRoot) {
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\Sarnic\\Parameters");
  winsim::CreateLink(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", "\\REGISTRY\\MACHINE\\SYSTEM\\ControlSet001");
  std::string product = "Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8";
  winsim::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + product, "ProductName", "stays");
  winsim::CreateLink(HKEY_CURRENT_USER, "Software\\Microsoft\\Installer", "\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\Installer");

  EXPECT_TRUE(DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Sarnic"));
  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, ("Software\\Microsoft\\" + product).c_str()));

  EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services\\Sarnic"));
  EXPECT_TRUE(winsim::KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001\\Services"));
  EXPECT_NE(nullptr, winsim::FindValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + product, "ProductName"));
}

// Names a code page cannot spell, a fullwidth name that its best fit would
// read as "x/../../victim", and a chain far deeper than any path of 260 or
// 520 characters: all go, and so does the key above them; the neighbours stay.
TEST_F(RegistryTreeSimTest, NamesOutsideTheCodePageAndDeepChainsGoLikeAnyOther) {
  std::u16string tree = u"Software\\Velmora";
  for (const std::u16string& name : {std::u16string(u"\u65e5\u672c\u8a9e"), std::u16string(u"\u03a9\u03bc\u03ad\u03b3\u03b1"),
                                     std::u16string(u"\u0141\u00f3d\u017a"), std::u16string(u"\U0001F600"),
                                     std::u16string(u"x\uff0f\uff0e\uff0e\uff0f\uff0e\uff0e\uff0fvictim")})
    winsim::CreateKey(HKEY_CURRENT_USER, tree + u"\\" + name + u"\\" + name);
  std::u16string chain = tree + u"\\Chain";
  for (int level = 0; level < 40; ++level) chain += u"\\" + std::u16string(200, static_cast<char16_t>(u'a' + level % 26));
  winsim::CreateKey(HKEY_CURRENT_USER, chain);
  winsim::SetString(HKEY_CURRENT_USER, "Software\\x/../../victim", "Keep", "1");
  winsim::SetString(HKEY_CURRENT_USER, "Software\\Velmora2", "Keep", "1");
  std::vector<std::string> neighbours = winsim::DumpRegistry(HKEY_CURRENT_USER);
  neighbours.erase(std::remove_if(neighbours.begin(), neighbours.end(),
                                  [](const std::string& line) { return line.compare(0, 17, "Software\\Velmora\\") == 0 ||
                                                                       line == "Software\\Velmora"; }),
                   neighbours.end());

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, kTree));

  EXPECT_EQ(neighbours, winsim::DumpRegistry(HKEY_CURRENT_USER));
}

// Each key of a small tree refuses in turn, by its security (deletion, or
// opening at all): the walk steps past it, deletes everything else, ends,
// and names the key that stayed with its Win32 error. Its ancestors stay,
// since a key with a subkey cannot go; no key is asked to go more than twice.
TEST_F(RegistryTreeSimTest, AKeyThatRefusesInAnyPositionIsSteppedPastAndTheWalkEnds) {
  const std::vector<std::string> keys = {"a", "a\\a1", "a\\a2", "b", "c", "c\\c1", "c\\c1\\c2", "d"};
  for (const std::string& refused : keys)
    for (bool refuseOpen : {false, true}) {
      winsim::ResetMachine();
      for (const std::string& key : keys) winsim::SetString(HKEY_CURRENT_USER, std::string(kTree) + "\\" + key, "V", key);
      winsim::RegKey* key = winsim::FindKey(HKEY_CURRENT_USER, std::string(kTree) + "\\" + refused);
      (refuseOpen ? key->refuseOpen : key->refuseDelete) = true;
      RegistryKeyLeft left;

      EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, kTree, &left));

      std::string where = refused + (refuseOpen ? " (open)" : " (delete)");
      EXPECT_EQ(refused, left.key) << where;
      EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), left.error) << where;
      for (const std::string& other : keys) {
        bool ancestor = refused.compare(0, other.size() + 1, other + "\\") == 0;
        bool below = other.compare(0, refused.size() + 1, refused + "\\") == 0;
        bool stays = other == refused || ancestor || (refuseOpen && below);
        EXPECT_EQ(stays, winsim::KeyExists(HKEY_CURRENT_USER, std::string(kTree) + "\\" + other)) << where << ": " << other;
      }
      std::map<std::string, int> attempts;
      for (const std::string& line : winsim::TraceOf("ntdeletekey: ")) ++attempts[line.substr(0, line.find(" -> "))];
      for (const auto& attempt : attempts) EXPECT_LE(attempt.second, 2) << where << ": " << attempt.first;
      EXPECT_EQ(0u, winsim::OpenKeyHandles()) << where;
    }
}

TEST_F(RegistryTreeSimTest, WithoutNtdllsDeletionNothingIsTouched) {
  M().registry.ntDeleteKeyMissing = true;
  winsim::CreateKey(HKEY_CURRENT_USER, std::string(kTree) + "\\Lum");
  std::vector<std::string> before = winsim::DumpRegistry(HKEY_CURRENT_USER);
  RegistryKeyLeft left;

  EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, kTree, &left));

  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), left.error);
  EXPECT_EQ(before, winsim::DumpRegistry(HKEY_CURRENT_USER));
}

}  // namespace
