// Vendor product discovery on machines only the simulation can build: a
// registration that refuses deletion, and string values stored as Windows
// keeps them, without a terminating zero.
#include <algorithm>
#include <string>
#include <vector>

#include "registry/registry.h"
#include "sim_fixture.h"

namespace {

const std::string kProducts =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";

class VendorProductsSimTest : public SimTest {
 protected:
  static std::string Properties(const std::string& code) {
    return kProducts + "\\" + code + "\\InstallProperties";
  }
  static void AddProduct(const std::string& code, const std::string& package) {
    winsim::SetString(HKEY_LOCAL_MACHINE, Properties(code), "Publisher", "Velmora Imaging");
    winsim::SetString(HKEY_LOCAL_MACHINE, Properties(code), "LocalPackage", package);
    winsim::MakeFile(package, "msi");
  }
  static bool Registered(const std::string& code) {
    return winsim::KeyExists(HKEY_LOCAL_MACHINE, kProducts + "\\" + code);
  }
};

TEST_F(VendorProductsSimTest, RegistrationThatRefusesDeletionIsPassedOnceAndTheWalkGoesOn) {
  AddProduct("A1", "C:\\Windows\\Installer\\a1.msi");
  AddProduct("A2", "C:\\Windows\\Installer\\a2.msi");
  AddProduct("A3", "C:\\Windows\\Installer\\a3.msi");
  winsim::FindKey(HKEY_LOCAL_MACHINE, Properties("A2"))->refuseDelete = true;

  DeleteVendorInstallerProducts();

  EXPECT_FALSE(Registered("A1"));
  EXPECT_TRUE(winsim::KeyExists(HKEY_LOCAL_MACHINE, Properties("A2")));
  EXPECT_FALSE(Registered("A3"));
  // Its package was deleted before its registration was tried.
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\a2.msi"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\a3.msi"));
  size_t attempts = 0;
  for (const std::string& line : winsim::TraceOf("ntdeletekey: "))
    if (line.find("\\A2\\InstallProperties -> ") != std::string::npos) ++attempts;
  EXPECT_EQ(2u, attempts);
}

// A product key that is a link to another vendor's registration is read
// through, as Windows opens a path, and deleted as the link: what it names
// stays. A product whose name the code page cannot spell goes like any other.
TEST_F(VendorProductsSimTest, LinkedProductGoesAsTheLinkAndAWideNameIsNoObstacle) {
  winsim::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Contoso\\Registration\\InstallProperties", "Publisher",
                    "Velmora Imaging");
  winsim::CreateLink(HKEY_LOCAL_MACHINE, kProducts + "\\C1", "\\REGISTRY\\MACHINE\\SOFTWARE\\Contoso\\Registration");
  std::string wide = winsim::Utf8FromWide(u"C2\u0141\u00f3d\u017a\u65e5");
  winsim::SetString(HKEY_LOCAL_MACHINE, Properties(wide), "Publisher", "Velmora Imaging");
  AddProduct("C3", "C:\\Windows\\Installer\\c3.msi");
  auto contoso = [] {
    std::vector<std::string> lines = winsim::DumpRegistry(HKEY_LOCAL_MACHINE);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find("Contoso") == std::string::npos; }),
                lines.end());
    return lines;
  };
  std::vector<std::string> before = contoso();
  ASSERT_FALSE(before.empty());

  DeleteVendorInstallerProducts();

  EXPECT_FALSE(Registered("C1"));
  EXPECT_FALSE(Registered(wide));
  EXPECT_FALSE(Registered("C3"));
  EXPECT_EQ(before, contoso());
}

}  // namespace
