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

TEST_F(RegistryTreeTest, WorkerCutsItsBufferBackToTheKeyItWasGiven) {
  MakeThreeLevelTree();
  char buffer[520];
  std::string given = At("Tree\\");
  std::memcpy(buffer, given.c_str(), given.size() + 1);

  EXPECT_TRUE(DeleteRegistryTreeRecursive(HKEY_CURRENT_USER, buffer, sizeof buffer));
  // The key had to be walked: the trailing separator it was given is gone.
  EXPECT_EQ(At("Tree"), std::string(buffer));

  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, At("Leaf")));
  std::string leaf = At("Leaf");
  std::memcpy(buffer, leaf.c_str(), leaf.size() + 1);
  EXPECT_TRUE(DeleteRegistryTreeRecursive(HKEY_CURRENT_USER, buffer, sizeof buffer));
  EXPECT_EQ(leaf, std::string(buffer));
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
  char empty[8] = "";
  EXPECT_FALSE(DeleteRegistryTreeRecursive(root, empty, sizeof empty));

  RegCloseKey(root);
  EXPECT_EQ(before, regtest::Dump(HKEY_CURRENT_USER, kRoot));
}

// Level names of 255 characters make the tree deeper than the 520-character
// work buffer. The "A" registry functions already refuse a subkey path of more
// than 260 characters (ERROR_MORE_DATA, on Windows and Wine alike), so the walk
// stops at the first level it cannot reach: false, nothing below it touched.
TEST_F(RegistryTreeTest, TreeDeeperThanAnyPathTheWalkCanNameStopsWithFalse) {
  std::string a(255, 'a');
  std::string b(255, 'b');
  std::string c(255, 'c');
  std::string deep = At("Deep");
  HKEY level = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, deep.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &level, nullptr));
  for (const std::string* name : {&a, &b, &c}) {
    HKEY next = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(level, name->c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &next, nullptr));
    RegCloseKey(level);
    level = next;
  }
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(level, "V", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2));
  RegCloseKey(level);
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, deep + "\\0first", "V", "gone"));
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, deep + "\\zlast", "V", "stays"));
  std::vector<std::string> deepChain = {"\\" + a, "\\" + a + "\\" + b, "\\" + a + "\\" + b + "\\" + c,
                                        "\\" + a + "\\" + b + "\\" + c + ":V=1:7800"};

  EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, deep.c_str()));

  std::vector<std::string> left = regtest::Dump(HKEY_CURRENT_USER, deep);
  for (const std::string& line : deepChain)
    EXPECT_NE(left.end(), std::find(left.begin(), left.end(), line)) << line.substr(0, 40);
  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, deep + "\\0first"));
  EXPECT_TRUE(regtest::ValueExists(HKEY_CURRENT_USER, deep + "\\zlast", "V"));
}

// The worker is told its buffer's size: a child whose name would not fit behind
// the path is refused (false), the walk stops there, and nothing is written
// past the size it was given.
TEST_F(RegistryTreeTest, WorkerRefusesChildThatWouldNotFitItsBuffer) {
  std::string key = At("Small");
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, key + "\\ab\\c"));
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, key + "\\long name"));
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, key + "\\zz"));
  // Room for the path, a separator and four characters more.
  size_t size = key.size() + 1 + 4 + 1;
  char buffer[128];
  std::memset(buffer, 0xbd, sizeof buffer);
  std::memcpy(buffer, key.c_str(), key.size() + 1);

  EXPECT_FALSE(DeleteRegistryTreeRecursive(HKEY_CURRENT_USER, buffer, size));

  EXPECT_EQ(key, std::string(buffer));
  for (size_t i = size; i < sizeof buffer; ++i) ASSERT_EQ(static_cast<char>(0xbd), buffer[i]) << i;
  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, key + "\\ab"));
  EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, key + "\\long name"));
  EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, key + "\\zz"));

  // A path that does not fit the caller's buffer at all is refused outright.
  EXPECT_FALSE(DeleteRegistryTree(HKEY_CURRENT_USER, (key + "\\" + std::string(600, 'x')).c_str()));
  EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, key));
}

}  // namespace
