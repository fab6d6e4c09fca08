// The vendor's Windows Installer products, found among the machine's products
// by publisher: they go with their cached packages, every other product and
// file stays. Runs on the simulation and on Wine (in its throw-away prefix).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "registry/registry.h"
#include "registry_expected_rows.h"
#include "registry_test_support.h"

namespace {

// Packed codes of the test's own products; they sort in this order.
const char* const kCodes[] = {
    "00C1EA00000000000000000000000001", "00C1EA00000000000000000000000002",
    "00C1EA00000000000000000000000003", "00C1EA00000000000000000000000004",
    "00C1EA00000000000000000000000005", "00C1EA00000000000000000000000006",
    "00C1EA00000000000000000000000007", "00C1EA00000000000000000000000008",
};

class VendorProductsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveAll();
    windows_ = regtest::WindowsDirectory();
    ASSERT_FALSE(windows_.empty());
    cache_ = windows_ + "\\Installer";
    CreateDirectoryA(cache_.c_str(), nullptr);
    MakeFolder("C:\\CleanLumTest");
  }
  void TearDown() override { RemoveAll(); }

  void RemoveAll() {
    for (const char* code : kCodes) regtest::RemoveKey(HKEY_LOCAL_MACHINE, Product(code));
    for (const std::string& file : files_) {
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(file.c_str());
    }
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder)
      RemoveDirectoryA(folder->c_str());
    files_.clear();
    folders_.clear();
  }

  void MakeFolder(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) folders_.push_back(path);
  }

  static std::string Product(const std::string& code) {
    return std::string(kMachineProducts) + "\\" + code;
  }
  static std::string Properties(const std::string& code) { return Product(code) + "\\InstallProperties"; }

  // A file that exists before the run; removed again after the test.
  std::string File(const std::string& path) {
    files_.push_back(path);
    EXPECT_TRUE(regtest::WriteFileText(path, "msi")) << path;
    return path;
  }
  std::string CachedFile(const std::string& name) { return File(cache_ + "\\" + name); }

  // A registered product as the Windows Installer leaves it.
  static void AddProduct(const std::string& code, const std::string& publisher,
                         const std::string& package) {
    ASSERT_TRUE(regtest::SetText(HKEY_LOCAL_MACHINE, Properties(code), "Publisher", publisher));
    if (!package.empty()) {
      ASSERT_TRUE(regtest::SetText(HKEY_LOCAL_MACHINE, Properties(code), "LocalPackage", package));
    }
    ASSERT_TRUE(regtest::SetText(HKEY_LOCAL_MACHINE, Properties(code), "DisplayName", "Product " + code));
    ASSERT_TRUE(regtest::SetText(HKEY_LOCAL_MACHINE, Product(code) + "\\Features", "Main", ""));
    ASSERT_TRUE(regtest::SetText(HKEY_LOCAL_MACHINE, Product(code) + "\\Usage", "Main", "1"));
  }

  static bool Registered(const std::string& code) {
    return regtest::KeyExists(HKEY_LOCAL_MACHINE, Product(code));
  }

  std::string windows_;
  std::string cache_;
  std::vector<std::string> files_;
  std::vector<std::string> folders_;
};

TEST_F(VendorProductsTest, VendorProductsGoWithTheirPackagesAndEveryOtherProductStays) {
  std::string first = CachedFile("CleanLumTest-1.msi");
  std::string second = CachedFile("CleanLumTest-2.msi");
  std::string lowerCase = CachedFile("CleanLumTest-4.msi");
  std::string foreign = CachedFile("CleanLumTest-6.msi");
  std::string last = CachedFile("CleanLumTest-7.msi");
  AddProduct(kCodes[0], "Velmora Imaging", first);
  AddProduct(kCodes[1], "The Velmora Imaging Company Ltd.", second);  // next to the first
  ASSERT_TRUE(regtest::SetText(HKEY_LOCAL_MACHINE, Product(kCodes[2]) + "\\Features", "Main", ""));
  AddProduct(kCodes[3], "velmora imaging", lowerCase);
  AddProduct(kCodes[4], "Velmora Imaging", "");  // no LocalPackage value
  AddProduct(kCodes[5], "Contoso", foreign);
  AddProduct(kCodes[6], "Velmora Imaging", last);
  std::vector<std::string> withoutProperties = regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[2]));
  std::vector<std::string> lowerCaseProduct = regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[3]));
  std::vector<std::string> foreignProduct = regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[5]));

  DeleteVendorInstallerProducts();

  EXPECT_FALSE(Registered(kCodes[0]));
  EXPECT_FALSE(Registered(kCodes[1]));
  EXPECT_FALSE(Registered(kCodes[4]));
  EXPECT_FALSE(Registered(kCodes[6]));
  EXPECT_FALSE(regtest::FileExists(first));
  EXPECT_FALSE(regtest::FileExists(second));
  EXPECT_FALSE(regtest::FileExists(last));

  EXPECT_EQ(withoutProperties, regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[2])));
  EXPECT_EQ(lowerCaseProduct, regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[3])));
  EXPECT_EQ(foreignProduct, regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[5])));
  EXPECT_TRUE(regtest::FileExists(lowerCase));
  EXPECT_TRUE(regtest::FileExists(foreign));
}

// LocalPackage is only data: a value naming a file outside the installer's
// cache folder never makes the clean-up delete that file.
TEST_F(VendorProductsTest, PackageOutsideTheInstallerCacheStaysWhileTheRegistrationGoes) {
  MakeFolder(windows_ + "\\Installer2");
  std::string outside = File("C:\\CleanLumTest\\outside.msi");
  std::string parent = File(windows_ + "\\CleanLumTest-parent.msi");
  std::string lookAlike = File(windows_ + "\\Installer2\\CleanLumTest.msi");
  std::string otherCase = CachedFile("CleanLumTest-case.msi");
  struct Case {
    const char* code;
    std::string package;
  } cases[] = {
      {kCodes[0], outside},
      {kCodes[1], cache_ + "\\..\\CleanLumTest-parent.msi"},
      {kCodes[2], cache_ + "\\.\\..\\CleanLumTest-parent.msi"},
      {kCodes[3], cache_ + "2\\CleanLumTest.msi"},
      {kCodes[4], cache_ + "\\"},
      {kCodes[5], "CleanLumTest-parent.msi"},
      {kCodes[6], cache_ + "/../CleanLumTest-parent.msi"},
      {kCodes[7], windows_ + "\\INSTALLER\\CleanLumTest-case.msi"},
  };
  for (const Case& c : cases) AddProduct(c.code, "Velmora Imaging", c.package);

  DeleteVendorInstallerProducts();

  for (const Case& c : cases) EXPECT_FALSE(Registered(c.code)) << c.package;
  EXPECT_TRUE(regtest::FileExists(outside));
  EXPECT_TRUE(regtest::FileExists(parent));
  EXPECT_TRUE(regtest::FileExists(lookAlike));
  EXPECT_FALSE(regtest::FileExists(otherCase));  // the cache folder in other capitals
}

TEST_F(VendorProductsTest, CachedPackageOfOneProductGoesAndItsRegistrationStays) {
  std::string package = CachedFile("CleanLumTest-fixed.msi");
  std::string outside = File("C:\\CleanLumTest\\fixed.msi");
  AddProduct(kCodes[0], "Anyone", package);
  AddProduct(kCodes[1], "Velmora Imaging", outside);
  std::vector<std::string> registration = regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[0]));

  DeleteCachedPackage(kCodes[0]);
  DeleteCachedPackage(kCodes[1]);
  DeleteCachedPackage(kCodes[2]);  // not registered
  DeleteCachedPackage("");

  EXPECT_FALSE(regtest::FileExists(package));
  EXPECT_EQ(registration, regtest::Dump(HKEY_LOCAL_MACHINE, Product(kCodes[0])));
  EXPECT_TRUE(regtest::FileExists(outside));
  EXPECT_TRUE(Registered(kCodes[1]));
  EXPECT_FALSE(Registered(kCodes[2]));
}

// Values of 1024 bytes without a terminating zero fill the whole read buffer.
// Stored as binary data: Wine appends a terminator to string data read through
// the "A" functions, which would make these values 1025 bytes long.
// Values stored as Windows stores strings, without a terminating zero: read
// to the end of their 1024 characters, and no further.
TEST_F(VendorProductsTest, ValuesFillingTheWholeBufferAreReadToTheirEndAndNoFurther) {
  std::string package = CachedFile("CleanLumTest-long.msi");
  std::string publisherAtEnd = std::string(1024 - 15, '.') + "Velmora Imaging";
  std::string publisherCut = std::string(1024 - 14, '.') + "Velmora Imagin";
  std::string longPackage = package + std::string(1024 - package.size(), 'x');
  ASSERT_TRUE(regtest::SetWideBytes(HKEY_LOCAL_MACHINE, Properties(kCodes[0]), "Publisher", REG_SZ, publisherAtEnd));
  ASSERT_TRUE(regtest::SetWideBytes(HKEY_LOCAL_MACHINE, Properties(kCodes[0]), "LocalPackage", REG_SZ, longPackage));
  ASSERT_TRUE(regtest::SetWideBytes(HKEY_LOCAL_MACHINE, Properties(kCodes[1]), "Publisher", REG_SZ, publisherCut));

  DeleteVendorInstallerProducts();

  EXPECT_FALSE(Registered(kCodes[0]));
  EXPECT_TRUE(Registered(kCodes[1]));
  EXPECT_TRUE(regtest::FileExists(package));  // the value names a longer path
}

}  // namespace
