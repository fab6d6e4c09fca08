// The registry behaviour the clean-up relies on, stated against the Win32 API
// so that the simulation is held to what Windows (and Wine) do.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "registry_test_support.h"

namespace {

const char kRoot[] = "Software\\CleanLumTest\\RegistryApi";

class RegistryApiTest : public regtest::PrivateKeyTest {
 protected:
  RegistryApiTest() : PrivateKeyTest(kRoot) {}

  static std::vector<std::string> Children(const std::string& path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return names;
    for (DWORD index = 0;; ++index) {
      char name[256];
      DWORD length = sizeof name;
      if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        break;
      names.push_back(name);
    }
    RegCloseKey(key);
    return names;
  }
};

TEST_F(RegistryApiTest, KeyWithSubkeysIsNotDeletedByRegDeleteKey) {
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, At("Parent\\Child")));

  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, At("Parent").c_str()));
  EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, At("Parent\\Child")));

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, At("Parent\\Child").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, At("Parent").c_str()));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CURRENT_USER, At("Parent").c_str()));
}

TEST_F(RegistryApiTest, SubkeysEnumerateByNameWithoutRegardToCaseAndCloseUpAfterADeletion) {
  for (const char* name : {"delta", "Bravo", "charlie", "ALPHA"})
    ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, At(std::string("List\\") + name)));

  EXPECT_EQ((std::vector<std::string>{"ALPHA", "Bravo", "charlie", "delta"}), Children(At("List")));

  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, At("List\\alpha").c_str()));
  EXPECT_EQ((std::vector<std::string>{"Bravo", "charlie", "delta"}), Children(At("List")));
}

TEST_F(RegistryApiTest, EnumeratedNameThatDoesNotFitIsNotCopiedAndTheSizeIsKept) {
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, At("Names\\abcd")));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, At("Names").c_str(), 0, KEY_READ, &key));
  char name[16];
  std::memset(name, 0xbd, sizeof name);

  DWORD length = 4;  // the terminator does not fit
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(4u, length);
  EXPECT_EQ(static_cast<char>(0xbd), name[0]);

  length = 5;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(4u, length);
  EXPECT_STREQ("abcd", name);

  length = sizeof name;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(key, 1, name, &length, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, HandleToADeletedKeyAnswersKeyDeletedUntilItIsClosed) {
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, At("Gone"), "V", "x"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, At("Gone").c_str(), 0, KEY_ALL_ACCESS, &key));

  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, At("Gone").c_str()));

  char name[16];
  DWORD length = sizeof name;
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "V", nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
}

TEST_F(RegistryApiTest, SeparatorsBackslashOnlyTrailingAcceptedLeadingRefused) {
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, At("a/b")));
  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, At("a")));  // '/' is part of the name
  EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, At("a/b\\")));
  EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, At("a/b\\\\")));

  HKEY key = nullptr;
  EXPECT_EQ(ERROR_BAD_PATHNAME,
            RegOpenKeyExA(HKEY_CURRENT_USER, ("\\" + std::string(kRoot)).c_str(), 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, At("a/b\\").c_str()));
  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, At("a/b")));
}

TEST_F(RegistryApiTest, EmptyPathWithAnOpenKeyDeletesThatKeyButNeverAPredefinedRoot) {
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, At("Self")));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, At("Self").c_str(), 0, KEY_ALL_ACCESS, &key));

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, ""));
  RegCloseKey(key);
  EXPECT_FALSE(regtest::KeyExists(HKEY_CURRENT_USER, At("Self")));

  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
  EXPECT_TRUE(regtest::KeyExists(HKEY_CURRENT_USER, kRoot));
}

// The "A" functions convert the subkey path through a 261-character buffer.
TEST_F(RegistryApiTest, SubkeyPathLongerThan260CharactersFailsWithMoreData) {
  std::string fits = At(std::string(260 - std::strlen(kRoot) - 1, 'x'));
  std::string tooLong = fits + "y";
  ASSERT_EQ(260u, fits.size());
  HKEY key = nullptr;

  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, fits.c_str(), 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegCloseKey(key);
  EXPECT_EQ(ERROR_MORE_DATA, RegCreateKeyExA(HKEY_CURRENT_USER, tooLong.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_MORE_DATA, RegOpenKeyExA(HKEY_CURRENT_USER, tooLong.c_str(), 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_MORE_DATA, RegDeleteKeyA(HKEY_CURRENT_USER, tooLong.c_str()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, fits.c_str()));
}

TEST_F(RegistryApiTest, ValueTooLargeForTheBufferReportsItsSize) {
  // Binary data comes back exactly as stored; Wine adds a terminator to string
  // data written and read through the "A" functions, so strings are not used here.
  ASSERT_TRUE(regtest::SetBytes(HKEY_CURRENT_USER, kRoot, "Raw", REG_BINARY, "abcdef"));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &key));
  BYTE data[8];
  std::memset(data, 0xbd, sizeof data);

  DWORD length = 4;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "Raw", nullptr, nullptr, data, &length));
  EXPECT_EQ(6u, length);

  length = 6;
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "raw", nullptr, &type, data, &length));
  EXPECT_EQ(6u, length);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  EXPECT_EQ(0, std::memcmp(data, "abcdef", 6));
  EXPECT_EQ(0xbd, data[6]);
  RegCloseKey(key);
}

}  // namespace

namespace {

// A 64-bit program sees HKLM\SOFTWARE of 32-bit programs below WOW6432Node,
// and through it when it asks for the 32-bit view.
TEST(RegistryViewTest, ThirtyTwoBitViewOfSoftwareIsItsWow6432NodeKey) {
  const char kStored[] = "SOFTWARE\\WOW6432Node\\CleanLumTest\\View";
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\CleanLumTest");
  ASSERT_TRUE(regtest::CreateKey(HKEY_LOCAL_MACHINE, kStored));

  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLumTest\\View", 0, KEY_READ | KEY_WOW64_32KEY, &key));
  if (key) RegCloseKey(key);
  key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLumTest\\View", 0, KEY_READ | KEY_WOW64_64KEY, &key));
  if (key) RegCloseKey(key);
  SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\WOW6432Node\\CleanLumTest");
}

}  // namespace
