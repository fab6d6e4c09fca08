// Registry tree deletion on a private key of the current user: whole subtrees
// go, neighbours stay, and what cannot be walked safely is refused. Runs on the
// simulation and on Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "registry_test_support.h"

namespace {

const char kRoot[] = "Software\\CleanLumTest\\RegistryTree";

class RegistryTreeTest : public regtest::PrivateKeyTest {
 protected:
  RegistryTreeTest() : PrivateKeyTest(kRoot) {}

  // Three levels below Tree, three children at each; names grow in length so
  // that an enumeration not told its full size again finds the next one too long.
  void MakeThreeLevelTree() const {
    const char* names[] = {"k", "kk", "kkk"};
    for (const char* a : names)
      for (const char* b : names)
        for (const char* c : names) {
          std::string leaf = At(std::string("Tree\\") + a + "\\" + b + "\\" + c);
          ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, leaf, "Data", leaf));
          ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, At(std::string("Tree\\") + a), "", "x"));
        }
    ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, At("Tree"), "Top", "value"));
  }

  // Keys next to Tree whose names share its beginning, and its parent's values.
  void MakeNeighbours() const {
    ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, At("Tree2\\k"), "Keep", "1"));
    ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, At("Tree Extra"), "Keep", "2"));
    ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, At("Tre"), "Keep", "3"));
    ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, kRoot, "Keep", "4"));
  }

  static std::vector<std::string> Neighbours() {
    std::vector<std::string> all = regtest::Dump(HKEY_CURRENT_USER, kRoot);
    std::vector<std::string> kept;
    for (const std::string& line : all)
      if (line.compare(0, 6, "\\Tree\\") != 0 && line.compare(0, 6, "\\Tree:") != 0 && line != "\\Tree")
        kept.push_back(line);
    return kept;
  }
};

TEST_F(RegistryTreeTest, ThreeLevelTreeGoesCompletelyAndItsNeighboursStay) {
  MakeThreeLevelTree();
  MakeNeighbours();
  std::vector<std::string> neighbours = Neighbours();
  ASSERT_NE(neighbours.end(),
            std::find(neighbours.begin(), neighbours.end(), "\\Tree2\\k:Keep=1:3100"));

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, At("Tree").c_str()));

  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, At("Tree")));
  EXPECT_EQ(neighbours, regtest::Dump(HKEY_CURRENT_USER, kRoot));
}

TEST_F(RegistryTreeTest, TrailingSeparatorIsAcceptedAndTheCallersTextIsUntouched) {
  MakeThreeLevelTree();
  MakeNeighbours();
  std::vector<std::string> neighbours = Neighbours();
  std::string given = At("Tree\\");
  char path[600];
  std::memset(path, 0xbd, sizeof path);
  std::memcpy(path, given.c_str(), given.size() + 1);

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, path));

  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, At("Tree")));
  EXPECT_EQ(neighbours, regtest::Dump(HKEY_CURRENT_USER, kRoot));
  EXPECT_EQ(given, std::string(path));
  EXPECT_EQ(static_cast<char>(0xbd), path[given.size() + 1]);
}

TEST_F(RegistryTreeTest, MissingKeyCountsAsDeletedAndChangesNothing) {
  MakeNeighbours();
  std::vector<std::string> before = regtest::Dump(HKEY_CURRENT_USER, kRoot);

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, At("Missing").c_str()));
  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, At("Missing\\Below\\Deeper").c_str()));

  EXPECT_EQ(before, regtest::Dump(HKEY_CURRENT_USER, kRoot));
}

TEST_F(RegistryTreeTest, KeyWithValuesOnlyIsDeleted) {
  MakeNeighbours();
  std::vector<std::string> before = regtest::Dump(HKEY_CURRENT_USER, kRoot);
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, At("Values"), "", "default"));
  ASSERT_TRUE(regtest::SetBytes(HKEY_CURRENT_USER, At("Values"), "Raw", REG_BINARY, "\x01\x02"));

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, At("Values").c_str()));

  EXPECT_EQ(before, regtest::Dump(HKEY_CURRENT_USER, kRoot));
}

TEST_F(RegistryTreeTest, PathNamingTheRootItselfIsRefusedAndNothingIsWalked) {
  MakeThreeLevelTree();
  MakeNeighbours();
  std::vector<std::string> before = regtest::Dump(HKEY_CURRENT_USER, kRoot);
  // An empty path given with an open key names that key itself.
  HKEY root = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kRoot, 0, KEY_ALL_ACCESS, &root));

  EXPECT_FALSE(DeleteRegistryTree(root, ""));
  EXPECT_FALSE(DeleteRegistryTree(root, "\\"));
  EXPECT_FALSE(DeleteRegistryTree(root, "\\\\"));
  EXPECT_FALSE(DeleteRegistryTree(root, nullptr));

  RegCloseKey(root);
  EXPECT_EQ(before, regtest::Dump(HKEY_CURRENT_USER, kRoot));
}

// Level names of 255 characters make the tree deeper than any path the "A"
// registry functions can name (they refuse more than 260 characters): the
// walk names nothing below the key it was given, so it goes all the same.
TEST_F(RegistryTreeTest, TreeDeeperThanAnyPathTheNarrowCallsCanNameGoesCompletely) {
  std::string deep = At("Deep");
  HKEY level = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, deep.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &level, nullptr));
  for (char letter : std::string("abcdefgh")) {
    HKEY next = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(level, std::string(255, letter).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &next, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(next, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2));
    RegCloseKey(level);
    level = next;
  }
  RegCloseKey(level);
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, deep + "\\0first", "V", "gone"));
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, deep + "\\zlast", "V", "gone"));
  MakeNeighbours();
  std::vector<std::string> neighbours = regtest::Dump(HKEY_CURRENT_USER, kRoot);
  neighbours.erase(std::remove_if(neighbours.begin(), neighbours.end(),
                                  [](const std::string& line) { return line.compare(0, 5, "\\Deep") == 0; }),
                   neighbours.end());

  EXPECT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, deep.c_str()));

  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, deep));
  EXPECT_EQ(neighbours, regtest::Dump(HKEY_CURRENT_USER, kRoot));
}

}  // namespace
