// The vendor's INF packages in the Windows INF directory: what goes, what
// stays, and what is never even opened.
#include <windows.h>

#include <algorithm>
#include <set>

#include "drivers/drivers.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kInfDirectory[] = "C:\\Windows\\inf";

std::string Inf(const std::string& strings, const std::string& extra = "") {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nProvider=%Mfg%\r\n" + extra +
         "[Strings]\r\n" + strings;
}
const std::string kVendorInf = Inf("Mfg = \"Velmorex Ltd.- Imaging\"\r\n");
const std::string kOtherInf = Inf("Mfg = \"Contoso Cameras\"\r\n");

class InfDirectoryTest : public SimTest {
 protected:
  void Put(const std::string& name, const std::string& content) {
    winsim::MakeFile(std::string(kInfDirectory) + "\\" + name, content);
  }
  std::vector<std::string> Left() { return winsim::DumpTree(kInfDirectory); }
  std::vector<std::string> Opened() { return winsim::TraceOf("inf-open: "); }
};

TEST_F(InfDirectoryTest, FullRunRemovesTheVendorPackageAndKeepsTheRest) {
  Put("oem3.inf", kOtherInf);
  Put("oem3.PNF", "pnf");
  Put("oem12.inf", kVendorInf);
  Put("oem12.PNF", "pnf");
  Put("machine.inf", kVendorInf);  // not an OEM copy: never looked at

  EXPECT_EQ(0, RunProgram("silent noreboot"));

  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem12.inf"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem12.PNF"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem3.inf"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem3.PNF"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\machine.inf"));
  // The run's inventory reads them too: only the OEM copies are ever opened.
  std::vector<std::string> opened = Opened();
  EXPECT_EQ((std::set<std::string>{"C:\\Windows\\inf\\oem12.inf", "C:\\Windows\\inf\\oem3.inf"}),
            std::set<std::string>(opened.begin(), opened.end()));
}

TEST_F(InfDirectoryTest, OnlyNamesMatchingThePatternAreOpened) {
  for (const char* name : {"oem1.txt", "xoem2.inf", "oem3.inf.bak", "vendor.inf", "oem4"})
    Put(name, kVendorInf);
  winsim::MakeDirectory(std::string(kInfDirectory) + "\\oem5.inf");  // a folder, not a file

  DeleteVendorInfs(kInfDirectory, "oem*.inf");

  EXPECT_TRUE(Opened().empty());
  EXPECT_EQ(6u, Left().size());
}

// The search also yields names whose 8.3 alias matches: oem1.infx (OEM1~1.INF)
// is the vendor's own file, but oem1.PNF belongs to oem1.inf, which is not.
TEST_F(InfDirectoryTest, NameMatchedThroughItsShortAliasDoesNotCostAnotherInfItsCompanion) {
  Put("oem1.inf", kOtherInf);
  Put("oem1.PNF", "pnf");
  Put("oem1.infx", kVendorInf);
  winsim::FindNode("C:\\Windows\\inf\\oem1.infx")->shortName = "OEM1~1.INF";

  DeleteVendorInfs(kInfDirectory, "oem*.inf");

  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem1.infx"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem1.inf"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem1.PNF"));
}

TEST_F(InfDirectoryTest, CompanionGoesEvenWhenTheInfItselfCannotBeDeleted) {
  Put("oem7.inf", kVendorInf);
  Put("oem7.PNF", "pnf");
  winsim::FindNode("C:\\Windows\\inf\\oem7.inf")->inUse = true;
  Put("oem8.inf", kVendorInf);

  DeleteVendorInfs(kInfDirectory, "oem*.inf");

  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\inf\\oem7.inf"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem7.PNF"));
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\inf\\oem8.inf"));  // the scan went on
}

// A path of 260 characters or more is passed over rather than cut short.
TEST_F(InfDirectoryTest, PathsThatDoNotFitAreNeverCutShort) {
  std::string folder = "C:\\" + std::string(240, 'd');  // 243 characters
  winsim::MakeFile(folder + "\\oem1.inf", kVendorInf);              // 252: fits
  winsim::MakeFile(folder + "\\oem1.PNF", "pnf");
  winsim::MakeFile(folder + "\\oem1234567890123.inf", kVendorInf);  // 264: does not fit
  winsim::MakeFile(folder + "\\oem1234567890123.PNF", "pnf");

  DeleteVendorInfs(folder.c_str(), "oem*.inf");

  EXPECT_EQ((std::vector<std::string>{"oem1234567890123.PNF 0020 3",
                                      "oem1234567890123.inf 0020 " + std::to_string(kVendorInf.size())}),
            winsim::DumpTree(folder));
  EXPECT_EQ(std::vector<std::string>{folder + "\\oem1.inf"}, Opened());

  std::string tooDeep = "C:\\" + std::string(252, 'e');  // the search itself would not fit
  winsim::MakeFile(tooDeep + "\\oem1.inf", kVendorInf);
  DeleteVendorInfs(tooDeep.c_str(), "oem*.inf");
  EXPECT_TRUE(winsim::PathExists(tooDeep + "\\oem1.inf"));
}

// Only a whole line of the "Strings" section counts, as the parser returns it.
TEST_F(InfDirectoryTest, StringsLineLongerThanTheBufferIsSkippedAndTheNextOneRead) {
  std::string longLine = "Padding = \"Velmorex Ltd.- Imaging" + std::string(1100, ' ') + "x\"\r\n";
  winsim::MakeFile("C:\\Test\\long.inf", Inf(longLine));
  winsim::MakeFile("C:\\Test\\longthenvendor.inf", Inf(longLine + "Mfg = Velmorex Ltd.- Imaging\r\n"));

  EXPECT_FALSE(IsVendorInf("C:\\Test\\long.inf"));
  EXPECT_TRUE(IsVendorInf("C:\\Test\\longthenvendor.inf"));
}

TEST_F(InfDirectoryTest, ProviderTextReachedThroughSubstitutionCounts) {
  winsim::MakeFile("C:\\Test\\a.inf",
                   Inf("Company = \"Velmorex Ltd.- Imaging\"\r\nMfg = %Company%\r\n"));
  winsim::MakeFile("C:\\Test\\b.inf", Inf("Mfg = \"%Company%\"\r\n"));  // nothing to substitute
  EXPECT_TRUE(IsVendorInf("C:\\Test\\a.inf"));
  EXPECT_FALSE(IsVendorInf("C:\\Test\\b.inf"));
  EXPECT_FALSE(IsVendorInf("C:\\Test\\missing.inf"));
  EXPECT_FALSE(IsVendorInf(nullptr));
}

}  // namespace
