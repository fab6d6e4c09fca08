// The vendor INF clean-up over real INF files: the platform's own parser
// decides what a "Strings" line reads. Runs on the simulation and under Wine.
#include "inf_fixture.h"

#include <setupapi.h>

#include "drivers/drivers.h"
#include "system/system_facts.h"

#include <vector>

namespace {

#ifdef _WIN32
const bool kOnWindows = true;  // Windows itself or Wine
#else
const bool kOnWindows = false;
#endif

const char kVendorStrings[] = "[Strings]\r\nMfg = \"Velmorex Ltd.- Imaging\"\r\n";

struct InfCase {
  const char* name;
  std::string content;
  bool withCompanion;  // an oemNN.PNF next to it
  bool vendors;        // expected to go, with its companion
};

const InfCase kDirectory[] = {
    {"oem1.inf", Win4Inf(kVendorStrings), true, true},
    {"oem2.inf", Win4Inf("[Strings]\r\nAnyKey=Velmorex Ltd.- Imaging\r\n"), true, true},
    {"oem3.inf", Utf16(Win4Inf(kVendorStrings)), true, true},
    {"OEM4.INF", Win4Inf("[strings]\r\nDisk = \"Disk 1\"\r\nVelmorex Ltd.- Imaging\r\n"), true, true},
    {"oem5.inf", Win4Inf(kVendorStrings), false, true},  // no companion: the scan goes on
    {"oem6.inf", Win4Inf("[Strings]\r\nMfg = \"velmorex ltd.- imaging\"\r\n"), true, false},
    {"oem7.inf", Win4Inf("[Strings]\r\nMfg = \"Velmorex Ltd.- Imaging Inc.\"\r\n"), true, false},
    {"oem8.inf", Win4Inf("[Strings]\r\nMfg = \"The Velmorex Ltd.- Imaging\"\r\n"), true, false},
    {"oem9.inf", Win4Inf("[Strings]\r\nMfg = Velmorex Ltd.- Imaging, Rev 2\r\n"), true, false},
    {"oem10.inf",
     Win4Inf("[Manufacturer]\r\n\"Velmorex Ltd.- Imaging\"=Models\r\n"
             "[Strings]\r\nMfg = \"Contoso\"\r\n"),
     true, false},
    {"oem11.inf", Win4Inf("[Models]\r\nVelmorex Ltd.- Imaging\r\n"), true, false},  // no Strings
    {"oem12.inf", kVendorStrings, true, false},  // not Windows-4 style
    {"oem13.inf", Win4Inf("[Strings]\r\nMfg = \"Velmorex Ltd.-  Imaging\"\r\n"), true, false},
};

std::string CompanionOf(const std::string& infName) { return infName.substr(0, infName.size() - 3) + "PNF"; }

class InfCleanupTest : public InfFolderTest {
 protected:
  InfCleanupTest() : InfFolderTest("C:\\CleanLumTests\\inf_cleanup") {}
};

TEST_F(InfCleanupTest, OnlyInfsWhoseStringsSectionNamesTheVendorGoWithTheirCompanions) {
  for (const InfCase& c : kDirectory) {
    Put(c.name, c.content);
    if (c.withCompanion) Put(CompanionOf(c.name), "PNF");
  }

  DeleteVendorInfs(Root().c_str(), "oem*.inf");

  for (const InfCase& c : kDirectory) {
    EXPECT_EQ(!c.vendors, Has(c.name)) << c.name;
    if (c.withCompanion) {
      EXPECT_EQ(!c.vendors, Has(CompanionOf(c.name))) << c.name;
    }
  }
}

TEST_F(InfCleanupTest, FilesOutsideThePatternStayWhateverTheyHold) {
  const std::string vendor = Win4Inf(kVendorStrings);
  for (const char* name : {"vendor.inf", "oem1.txt", "xoem2.inf", "oem3.inf.old", "oem4"}) Put(name, vendor);
  Put("oem1.PNF", "PNF");

  DeleteVendorInfs(Root().c_str(), "oem*.inf");

  for (const char* name : {"vendor.inf", "oem1.txt", "xoem2.inf", "oem3.inf.old", "oem4", "oem1.PNF"})
    EXPECT_TRUE(Has(name)) << name;
}

TEST_F(InfCleanupTest, EmptyOrMissingDirectoryIsPassedOver) {
  DeleteVendorInfs(Root().c_str(), "oem*.inf");
  EXPECT_TRUE(Exists(Root()));

  std::string missing = Path("missing");
  DeleteVendorInfs(missing.c_str(), "oem*.inf");
  EXPECT_FALSE(Exists(missing));
}

// The Windows INF directory itself (on Wine: the throw-away test prefix's).
class WindowsInfDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QueryWindowsDirectory(windows_));
    infDirectory_ = std::string(windows_) + "\\inf";
    TearDown();
  }
  void TearDown() override {
    for (const char* name : {"oem99001.inf", "oem99001.PNF", "oem99002.inf", "oem99002.PNF"})
      DeleteFileA((infDirectory_ + "\\" + name).c_str());
  }
  std::string In(const char* name) const { return infDirectory_ + "\\" + name; }

  char windows_[MAX_PATH];
  std::string infDirectory_;
};

TEST_F(WindowsInfDirectoryTest, VendorPackageLeavesAndTheOtherStays) {
  WriteBytes(In("oem99001.inf"), Win4Inf(kVendorStrings));
  WriteBytes(In("oem99001.PNF"), "PNF");
  WriteBytes(In("oem99002.inf"), Win4Inf("[Strings]\r\nMfg = \"Contoso Cameras\"\r\n"));
  WriteBytes(In("oem99002.PNF"), "PNF");

  std::vector<VendorInfOutcome> outcomes;
  DeleteVendorInfs(
      infDirectory_.c_str(), "oem*.inf",
      [](const VendorInfOutcome& outcome, void* context) {
        static_cast<std::vector<VendorInfOutcome>*>(context)->push_back(outcome);
      },
      &outcomes);

  ASSERT_EQ(1u, outcomes.size());
  EXPECT_FALSE(outcomes[0].infLeft);
  if (test_folders::RunningUnderWine()) {
    // Wine's SetupUninstallOEMInfA deletes the INF it is named (Wine has no
    // driver store) but leaves the PNF, which the file deletion then takes.
    EXPECT_EQ(InfRemoval::DriverStore, outcomes[0].removal);
  } else if (!kOnWindows) {
    // The simulation's store publishes no package under this name.
    EXPECT_EQ(InfRemoval::FilesAfterRefusal, outcomes[0].removal);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_AN_INSTALLED_OEM_INF), outcomes[0].error);
  }
  EXPECT_FALSE(Exists(In("oem99001.inf")));
  EXPECT_FALSE(Exists(In("oem99001.PNF")));
  EXPECT_TRUE(Exists(In("oem99002.inf")));
  EXPECT_TRUE(Exists(In("oem99002.PNF")));
}

}  // namespace
