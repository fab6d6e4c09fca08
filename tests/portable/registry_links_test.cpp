// Registry links and names outside the code page, as Windows has them: the
// behaviour a walk over keys that standard users can write must not be
// steered by. Stated against the Win32 API, on the simulation and on Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "registry_test_support.h"
#include "system/wide_text.h"

namespace {

const WCHAR kRoot[] = WIDE_TEXT("SOFTWARE\\CleanLumTest\\Links");
const char kRootAnsi[] = "SOFTWARE\\CleanLumTest\\Links";
// The same key as a link names it.
const WCHAR kRootTarget[] = WIDE_TEXT("\\REGISTRY\\MACHINE\\SOFTWARE\\CleanLumTest\\Links");

typedef LONG(NTAPI* NtDeleteKeyCall)(HANDLE key);

WideString At(const WCHAR* relative) { return WideString(kRoot) + WIDE_TEXT("\\") + relative; }

bool Exists(const WideString& path, DWORD options = 0) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), options, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool Create(const WideString& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// A link at path to target, made as Windows makes one: the key created as a
// link, then its target, without a terminating zero, as a REG_LINK value.
bool CreateLink(const WideString& path, const WideString& target) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                      KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExW(key, WIDE_TEXT("SymbolicLinkValue"), 0, REG_LINK,
                           reinterpret_cast<const BYTE*>(target.data()), static_cast<DWORD>(target.size() * sizeof(WCHAR)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

class RegistryLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveLinks();
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, kRootAnsi);
    ASSERT_TRUE(Create(kRoot));
  }
  void TearDown() override {
    RemoveLinks();
    SHDeleteKeyA(HKEY_LOCAL_MACHINE, kRootAnsi);
  }

  // Links first, each as itself: a deletion by path would reach its target.
  void RemoveLinks() {
    NtDeleteKeyCall deleteKey = NtDeleteKeyFunction();
    for (const WCHAR* name : {WIDE_TEXT("Link"), WIDE_TEXT("Other")}) {
      HKEY key = nullptr;
      if (deleteKey && RegOpenKeyExW(HKEY_LOCAL_MACHINE, At(name).c_str(), REG_OPTION_OPEN_LINK, DELETE, &key) ==
                           ERROR_SUCCESS) {
        deleteKey(reinterpret_cast<HANDLE>(key));
        RegCloseKey(key);
      }
    }
  }

  static NtDeleteKeyCall NtDeleteKeyFunction() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<NtDeleteKeyCall>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtDeleteKey")))
                 : nullptr;
  }
};

TEST_F(RegistryLinksTest, LinkIsFollowedUnlessOpenedAsALinkAndOnlyNtDeleteKeyRemovesTheLinkItself) {
  ASSERT_TRUE(Create(At(WIDE_TEXT("Target\\Inside"))));
  ASSERT_TRUE(CreateLink(At(WIDE_TEXT("Link")), WideString(kRootTarget) + WIDE_TEXT("\\Target")));

  // Opened normally, and in the middle of a path, the link leads to its target.
  EXPECT_TRUE(Exists(At(WIDE_TEXT("Link\\Inside"))));
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, At(WIDE_TEXT("Link")).c_str(), 0, KEY_READ, &key));
  WCHAR name[256];
  DWORD length = 256;
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  RegCloseKey(key);

  // Opened as a link, it is a key of its own with no children.
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, At(WIDE_TEXT("Link")).c_str(), REG_OPTION_OPEN_LINK,
                                         KEY_READ | DELETE, &key));
  length = 256;
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr));
  DWORD type = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, WIDE_TEXT("SymbolicLinkValue"), nullptr, &type, nullptr, nullptr));
  EXPECT_EQ(static_cast<DWORD>(REG_LINK), type);

  // Deleting by path follows the link: the target's leaf would go, not the link.
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, At(WIDE_TEXT("Link\\Inside")).c_str()));
  EXPECT_FALSE(Exists(At(WIDE_TEXT("Target\\Inside"))));

  // NtDeleteKey on the handle opened as a link deletes the link and nothing else.
  NtDeleteKeyCall deleteKey = NtDeleteKeyFunction();
  ASSERT_NE(nullptr, deleteKey);
  EXPECT_EQ(0, deleteKey(reinterpret_cast<HANDLE>(key)));
  RegCloseKey(key);
  EXPECT_FALSE(Exists(At(WIDE_TEXT("Link")), REG_OPTION_OPEN_LINK));
  EXPECT_TRUE(Exists(At(WIDE_TEXT("Target"))));
}

TEST_F(RegistryLinksTest, DeletingALinkByPathDeletesItsTarget) {
  ASSERT_TRUE(Create(At(WIDE_TEXT("Target"))));
  ASSERT_TRUE(CreateLink(At(WIDE_TEXT("Link")), WideString(kRootTarget) + WIDE_TEXT("\\Target")));

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, At(WIDE_TEXT("Link")).c_str()));

  EXPECT_FALSE(Exists(At(WIDE_TEXT("Target"))));
  EXPECT_TRUE(Exists(At(WIDE_TEXT("Link")), REG_OPTION_OPEN_LINK));
}

// A name outside the code page: the "A" listing spells it with '?' (or a best
// fit), which names no key; the wide calls list, open and delete it.
TEST_F(RegistryLinksTest, NameOutsideTheCodePageRoundTripsOnlyThroughTheWideCalls) {
  const WCHAR kName[] = {0x65E5, 0x672C, 0x0141, 0xD83D, 0xDE00, 0};  // Japanese, Polish L with stroke, an emoji
  ASSERT_TRUE(Create(At(kName)));

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_READ, &key));
  char ansi[256];
  DWORD ansiLength = sizeof ansi;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 0, ansi, &ansiLength, nullptr, nullptr, nullptr, nullptr));
  EXPECT_NE(nullptr, std::strchr(ansi, '?'));
  EXPECT_FALSE(regtest::KeyExists(HKEY_LOCAL_MACHINE, std::string(kRootAnsi) + "\\" + ansi));

  WCHAR wide[256];
  DWORD wideLength = 256;
  ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key, 0, wide, &wideLength, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(WideString(kName), WideString(wide, wideLength));
  DWORD subKeys = 0, longest = 0;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &longest, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(1u, subKeys);
  EXPECT_EQ(5u, longest);  // UTF-16 characters
  RegCloseKey(key);

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, At(kName).c_str()));
  EXPECT_FALSE(Exists(At(kName)));
}

}  // namespace
