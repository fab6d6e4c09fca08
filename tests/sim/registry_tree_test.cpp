// Registry tree deletion where the simulated machine can refuse what Windows
// refuses through security settings, and shows every deletion it is asked for.
#include <string>
#include <vector>

#include "registry/registry.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kTree[] = "Software\\Vendor\\Tree";

class RegistryTreeSimTest : public SimTest {
 protected:
  static std::vector<std::string> Deletions() { return winsim::TraceOf("regdeletekey: "); }
  static size_t AttemptsOn(const std::string& path) {
    size_t count = 0;
    for (const std::string& line : Deletions())
      if (line.compare(0, path.size() + 4, path + " -> ") == 0) ++count;
    return count;
  }
};

TEST_F(RegistryTreeSimTest, ChildThatRefusesDeletionStopsTheWalkWithoutLooping) {
  std::string tree = kTree;
  winsim::CreateKey(HKEY_CURRENT_USER, tree + "\\a\\deeper");
  winsim::CreateKey(HKEY_CURRENT_USER, tree + "\\b").refuseDelete = true;
  winsim::SetString(HKEY_CURRENT_USER, tree + "\\c", "V", "stays");
  winsim::SetString(HKEY_CURRENT_USER, tree, "V", "stays");

  EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, kTree));

  EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, tree + "\\a"));
  EXPECT_TRUE(winsim::KeyExists(HKEY_CURRENT_USER, tree + "\\b"));
  EXPECT_NE(nullptr, winsim::FindValue(HKEY_CURRENT_USER, tree + "\\c", "V"));
  EXPECT_NE(nullptr, winsim::FindValue(HKEY_CURRENT_USER, tree, "V"));
  // Once at the start of its own walk, once at its end: never again.
  EXPECT_EQ(2u, AttemptsOn("HKCU\\" + tree + "\\b"));
  EXPECT_EQ(0u, AttemptsOn("HKCU\\" + tree + "\\c"));
  // The tree key keeps b: after its first attempt no call is spent on it.
  EXPECT_EQ(1u, AttemptsOn("HKCU\\" + tree));
}

TEST_F(RegistryTreeSimTest, KeyThatCannotBeOpenedKeepsItsSubtreeAndGivesFalse) {
  std::string tree = kTree;
  winsim::CreateKey(HKEY_CURRENT_USER, tree + "\\Locked\\Inside");
  winsim::FindKey(HKEY_CURRENT_USER, tree + "\\Locked")->refuseOpen = true;
  std::vector<std::string> before = winsim::DumpRegistry(HKEY_CURRENT_USER);

  EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, (tree + "\\Locked").c_str()));
  EXPECT_EQ(before, winsim::DumpRegistry(HKEY_CURRENT_USER));

  // A leaf goes with the first call, whether or not it could be opened.
  winsim::FindKey(HKEY_CURRENT_USER, tree + "\\Locked\\Inside")->refuseOpen = true;
  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, (tree + "\\Locked\\Inside").c_str()));
}

TEST_F(RegistryTreeSimTest, EveryKeyGoesAfterItsChildrenAndALeafCostsOneCall) {
  std::string tree = kTree;
  winsim::CreateKey(HKEY_CURRENT_USER, tree + "\\a\\x");
  winsim::SetString(HKEY_CURRENT_USER, tree + "\\b", "V", "leaf");
  std::string given = tree + "\\";

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, given.c_str()));

  std::string at = "HKCU\\" + tree;
  EXPECT_EQ((std::vector<std::string>{at + "\\ -> 5", at + "\\a -> 5", at + "\\a\\x -> 0",
                                      at + "\\a -> 0", at + "\\b -> 0", at + " -> 0"}),
            Deletions());
  EXPECT_TRUE(winsim::KeyExists(HKEY_CURRENT_USER, "Software\\Vendor"));
}

}  // namespace
