// The registry backup of a whole run on the simulated machine: it holds what
// the run deletes, services deleted through the service manager included, and
// nothing a registry link would lead it to.
#include <string>

#include "sim_fixture.h"
#include "system/wide_text.h"

using winsim::M;

namespace {

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services\\";

class RegistryBackupTest : public SimTest {
 protected:
  // The backup of the run, as text (UTF-16 read back as UTF-8).
  static std::string Backup() {
    std::string bytes =
        winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-registry-backup-20261208-090503.reg");
    WideString units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      units += static_cast<WCHAR>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
    return Utf8FromWide(units);
  }
};

TEST_F(RegistryBackupTest, ServicesTheRunDeletesAreBackedUpAndLinksAreNotFollowed) {
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\TarvelX");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\vlxGigE2");
  winsim::AddService("TrkServer");
  winsim::AddService("vlxgigeservice");
  winsim::SetString(HKEY_LOCAL_MACHINE, kServices + "TrkServer", "ImagePath", "C:\\Velmora\\trk.exe");
  winsim::SetString(HKEY_LOCAL_MACHINE, kServices + "vlxgigeservice\\Parameters", "Port", "3956");
  winsim::SetString(HKEY_LOCAL_MACHINE, kServices + "OtherService", "ImagePath", "C:\\Other\\other.exe");
  // A link inside a vendor key to a key that is not the vendor's.
  winsim::SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Secret", "Data", "not the vendor's");
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Revision", "8.2");
  winsim::CreateLink(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library\\Elsewhere",
                     "\\REGISTRY\\MACHINE\\SOFTWARE\\Microsoft\\Secret");

  ASSERT_EQ(0, RunProgram("silent noreboot"));

  std::string backup = Backup();
  EXPECT_NE(std::string::npos, backup.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\TrkServer]\r\n"
                                           "\"ImagePath\"=\"C:\\\\Velmora\\\\trk.exe\"\r\n"));
  EXPECT_NE(std::string::npos,
            backup.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\vlxgigeservice\\Parameters]\r\n"
                        "\"Port\"=\"3956\"\r\n"));
  EXPECT_EQ(std::string::npos, backup.find("OtherService"));
  EXPECT_EQ(std::string::npos, backup.find("Secret")) << backup;
  EXPECT_EQ(std::string::npos, backup.find("not the vendor's"));
  std::string report = winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-result-20261208-090503.txt");
  EXPECT_NE(std::string::npos,
            report.find("not in the backup: HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Velmora Imaging Library\\Elsewhere: "
                        "not restorable from the backup, it is a registry link, which a .reg file cannot hold"))
      << report.substr(report.find("Registry backup"));
  EXPECT_TRUE(winsim::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Secret"));  // the link went as itself
}

TEST_F(RegistryBackupTest, AServiceTheRunKeepsIsNotInTheBackup) {
  // No Tarvel board: the monitor's service stays, and so its key is not exported.
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\Parlow-CL");
  winsim::AddService("TrkServer");
  winsim::SetString(HKEY_LOCAL_MACHINE, kServices + "TrkServer", "ImagePath", "C:\\Velmora\\trk.exe");

  ASSERT_EQ(0, RunProgram("silent noreboot"));

  EXPECT_EQ(std::string::npos, Backup().find("TrkServer"));
  EXPECT_NE(std::string::npos, Backup().find("Imaging Board\\Parlow-CL]"));
}

}  // namespace
