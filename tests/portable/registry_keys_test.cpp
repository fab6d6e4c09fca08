// The registry step on a machine holding every catalogued key, the vendor's
// installer products and the library's environment values, beside keys,
// values, products and files that are not the vendor's. Runs on the
// simulation and on Wine (in its throw-away prefix).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "run/cleanup_context.h"
#include "registry/registry.h"
#include "registry_catalogue_machine.h"

namespace {

class RegistryKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine_.Remove();
    machine_.Build();
  }
  void TearDown() override { machine_.Remove(); }

  regtest::CatalogueMachine machine_;
};

TEST_F(RegistryKeysTest, EveryCatalogueKeyGoesAndEverythingBesideItStays) {
  // Every row can be created here, except that a machine may refuse new keys
  // directly under HKEY_USERS (row 23 names an account that is not loaded).
  ASSERT_GE(machine_.seededRows.size(), 128u);
  ASSERT_FALSE(machine_.keptKeys.empty());
  CleanupContext context;

  DeleteRegistryKeys(context);

  for (const ExpectedRow* row : machine_.seededRows)
    EXPECT_FALSE(regtest::KeyExists(RootOf(row->root), row->path)) << "row " << row->number;
  for (const regtest::RegistryKey& key : machine_.keptKeys)
    EXPECT_TRUE(regtest::ValueExists(key.root, key.path, "Keep")) << key.path;
  EXPECT_FALSE(regtest::KeyExists(HKEY_LOCAL_MACHINE,
                                  std::string(kMachineProducts) + "\\" + regtest::kDiscoveredProduct));
  for (const std::string& file : machine_.keptPackages) EXPECT_TRUE(regtest::FileExists(file)) << file;
  for (const std::string& file : machine_.removedPackages) EXPECT_FALSE(regtest::FileExists(file)) << file;

  for (const char* name : regtest::kEnvironmentNamesRemoved)
    EXPECT_FALSE(regtest::ValueExists(HKEY_LOCAL_MACHINE, kSystemEnvironment, name)) << name;
  for (const char* name : regtest::kEnvironmentNamesKept)
    EXPECT_TRUE(regtest::ValueExists(HKEY_LOCAL_MACHINE, kSystemEnvironment, name)) << name;
  EXPECT_TRUE(regtest::ValueExists(HKEY_LOCAL_MACHINE, std::string(kSystemEnvironment) + "\\CleanLumTest",
                                   "lum_path"));
  EXPECT_FALSE(regtest::ValueExists(HKEY_LOCAL_MACHINE, kControlSet003Environment, "Lum_Path"));
  EXPECT_TRUE(regtest::ValueExists(HKEY_LOCAL_MACHINE, kControlSet003Environment, "CleanLumTestPath"));
}

}  // namespace
