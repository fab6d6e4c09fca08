// Vendor product discovery on machines only the simulation can build: a
// registration that refuses deletion, and string values stored as Windows
// keeps them, without a terminating zero.
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
  for (const std::string& line : winsim::TraceOf("regdeletekey: "))
    if (line.find("\\A2\\InstallProperties -> ") != std::string::npos) ++attempts;
  EXPECT_EQ(2u, attempts);
}

TEST_F(VendorProductsSimTest, StringsStoredWithoutTerminatorAreTakenToEndWithTheData) {
  auto raw = [](const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); };
  // Short values: the text ends where the data ends, not at what follows in the buffer.
  winsim::SetValue(HKEY_LOCAL_MACHINE, Properties("B1"), "Publisher", REG_SZ, raw("Velmora Imaging"));
  winsim::SetValue(HKEY_LOCAL_MACHINE, Properties("B1"), "LocalPackage", REG_SZ,
                   raw("C:\\Windows\\Installer\\b1.msi"));
  winsim::MakeFile("C:\\Windows\\Installer\\b1.msi", "msi");
  // Values that fill all 1024 bytes.
  std::string longPackage = "C:\\Windows\\Installer\\b2.msi";
  longPackage += std::string(1024 - longPackage.size(), 'x');
  winsim::SetValue(HKEY_LOCAL_MACHINE, Properties("B2"), "Publisher", REG_SZ,
                   raw(std::string(1009, ' ') + "Velmora Imaging"));
  winsim::SetValue(HKEY_LOCAL_MACHINE, Properties("B2"), "LocalPackage", REG_SZ, raw(longPackage));
  winsim::MakeFile("C:\\Windows\\Installer\\b2.msi", "msi");
  winsim::SetValue(HKEY_LOCAL_MACHINE, Properties("B3"), "Publisher", REG_SZ,
                   raw(std::string(1010, ' ') + "Velmora Imagin"));
  // One byte too many for the buffer: the read fails, the product is not the vendor's.
  winsim::SetValue(HKEY_LOCAL_MACHINE, Properties("B4"), "Publisher", REG_SZ,
                   raw("Velmora Imaging" + std::string(1010, ' ')));

  DeleteVendorInstallerProducts();

  EXPECT_FALSE(Registered("B1"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Installer\\b1.msi"));
  EXPECT_FALSE(Registered("B2"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\Installer\\b2.msi"));
  EXPECT_TRUE(Registered("B3"));
  EXPECT_TRUE(Registered("B4"));
}

}  // namespace
