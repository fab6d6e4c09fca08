// The sample installation on the simulated machine.
#include "sim_sample.h"

#include <windows.h>

#include "winsim/machine.h"

using winsim::M;

namespace {

const char kInstall[] = "C:\\Program Files\\Velmora Imaging";
const char kSystem32[] = "C:\\Windows\\system32";
const char kProducts[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
const char kVendorInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Image\r\nProvider=%Mfg%\r\n[Strings]\r\nMfg=\"Velmorex Ltd.- "
    "Imaging\"\r\n";
const char kOtherInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Image\r\nProvider=%Mfg%\r\n[Strings]\r\nMfg=\"Contoso Cameras\"\r\n";

bool Within(const std::string& id, const std::string& root) {
  std::string a = winsim::Upper(id), b = winsim::Upper(root);
  return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 && a[b.size()] == '\\');
}

}  // namespace

bool SimSample::IsVendor(const std::string& id) const {
  for (const std::string& root : vendorRoots) {
    if (Within(id, root)) return true;
    // A value of a vendor key, and a process of a vendor image, whatever its place in the list.
    if (root.compare(0, 4, "key ") == 0 && id.compare(0, 6, "value ") == 0 &&
        Within(id.substr(6, id.find(" : ") - 6), root.substr(4)))
      return true;
    if (root.compare(0, 8, "process ") == 0 && id.compare(0, 8, "process ") == 0 &&
        winsim::EqualsNoCase(id.substr(id.find(' ', 8) + 1), root.substr(8)))
      return true;
  }
  return false;
}

void InstallVendorMonitor() {
  // The board monitor answers as the vendor's would: one instance shows the
  // window and exits when it is closed; a second start finds it and exits.
  winsim::SetProgramBehaviour("pyxmon.exe", [](const winsim::ChildRun& run) {
    const DWORD pid = run.pid;
    if (winsim::FindSimWindow(::FindWindowA("PyxMonWnd", nullptr))) {
      if (winsim::SimProcess* self = winsim::FindProcess(pid)) self->running = false;
    } else {
      winsim::AddForeignWindow("PyxMonWnd", "PyxMon", [pid](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_CLOSE)
          if (winsim::SimProcess* self = winsim::FindProcess(pid)) self->running = false;
        return 0;
      });
    }
    return winsim::ChildOutcome();
  });
}

SimSample InstallSimSample() {
  SimSample sample;
  auto vendorFile = [&sample](const std::string& path, const std::string& content) -> winsim::FsNode& {
    sample.vendorRoots.push_back(safety::FileId(path));
    return winsim::MakeFile(path, content);
  };
  auto vendorKey = [&sample](HKEY root, safety::Hive hive, const std::string& path) {
    sample.vendorRoots.push_back(safety::KeyId(hive, path));
    return &winsim::CreateKey(root, path);
  };
  const safety::Hive hklm = safety::Hive::LocalMachine;

  // The program's folder with the vendor's tools: they are not the installation, and stay.
  M().system.currentDirectory = "C:\\Riruv";
  M().eventLog.programPath = "C:\\Riruv\\CleanLum.exe";
  for (const char* tool : {"drvmanage.exe", "LumNetworkServer.exe", "pyxmon.exe", "CleanLum.exe"})
    winsim::MakeFile(std::string("C:\\Riruv\\") + tool, "MZ tool");
  InstallVendorMonitor();
  // Windows' service controller: "sc stop NAME", "sc delete NAME".
  winsim::MakeFile(std::string(kSystem32) + "\\sc.exe", "MZ");
  winsim::MakeFile("C:\\Windows\\SysWOW64\\sc.exe", "MZ");
  winsim::SetProgramBehaviour("sc.exe", [](const winsim::ChildRun& run) {
    winsim::ChildOutcome outcome;
    std::string line = run.commandLine;
    size_t verb = line.find(' ');
    size_t name = verb == std::string::npos ? verb : line.find(' ', verb + 1);
    auto& services = M().services.services;
    auto service = name == std::string::npos ? services.end() : services.find(line.substr(name + 1));
    if (service == services.end() || service->second.deleted) {
      outcome.exitCode = ERROR_SERVICE_DOES_NOT_EXIST;
    } else if (line.compare(verb + 1, name - verb - 1, "delete") == 0) {
      service->second.deleted = true;
    } else if (line.compare(verb + 1, name - verb - 1, "stop") == 0) {
      service->second.running = false;
    }
    return outcome;
  });

  // The library, its boards of every family, and the non-board subkeys.
  vendorKey(HKEY_LOCAL_MACHINE, hklm, "Software\\Velmora\\Velmora Imaging Library");
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Revision", "8.2");
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Velmora Imaging Library", "Directory", kInstall);
  vendorKey(HKEY_LOCAL_MACHINE, hklm, "Software\\Velmora\\Imaging Board");
  for (const char* board : {"Parlow-CL\\Channel 0", "Tarvel-X4", "DruvanGigE-2", "Host\\Settings", "gpu", "VGA\\Mode"})
    winsim::CreateKey(HKEY_LOCAL_MACHINE, std::string("Software\\Velmora\\Imaging Board\\") + board);
  winsim::AddService("TrkServer");
  winsim::AddService("vlxgigeservice");
  sample.vendorRoots.push_back(safety::ServiceId("TrkServer"));
  sample.vendorRoots.push_back(safety::ServiceId("vlxgigeservice"));
  // The DMA driver: its service key and its file.
  vendorKey(HKEY_LOCAL_MACHINE, hklm, "SYSTEM\\CurrentControlSet\\Services\\VlxDma0");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VlxDma0\\Enum");
  vendorFile(std::string(kSystem32) + "\\drivers\\vlxdma0.sys", "MZ vendor driver");

  // Catalogue keys in every root, and the vendor's installer products.
  vendorKey(HKEY_CURRENT_USER, safety::Hive::CurrentUser, "Software\\Velmora");
  winsim::SetString(HKEY_CURRENT_USER, "Software\\Velmora\\Lum\\Settings", "LastBoard", "Parlow-CL");
  vendorKey(HKEY_LOCAL_MACHINE, hklm, "Software\\Classes\\ActiveLUMAddIn.Connect");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\ActiveLUMAddIn.Connect\\CLSID");
  vendorKey(HKEY_LOCAL_MACHINE, hklm, "SOFTWARE\\Velmora\\DrvManage");
  winsim::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\DrvManage\\Log");
  vendorKey(HKEY_LOCAL_MACHINE, hklm, "SOFTWARE\\Wow6432Node\\Velmora\\Velmora Imaging Library");
  vendorKey(HKEY_LOCAL_MACHINE, hklm, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora_Imaging");
  const std::string userProduct =
      "S-1-5-21-30521874-61932045-287340916-5120\\Software\\Microsoft\\Installer\\Products\\"
      "FCF897311C5C207F46D07BAB351A8BA8";
  vendorKey(HKEY_USERS, safety::Hive::Users, userProduct);
  winsim::CreateKey(HKEY_USERS, userProduct + "\\SourceList");
  struct Product {
    const char* code;
    const char* publisher;
    const char* package;
  };
  for (const Product& product : {Product{"1AA2C1FDC6EE8A564A38006F73D6564B", "Velmora Imaging", "4c1a7e.msi"},
                                 Product{"B7DF34E1765EF2026957BECF995A489C", "Velmora Imaging", "3a7c1.msi"},
                                 Product{"6F1B2C3D4E5F60718293A4B5C6D7E8F9", "Velmora Imaging GmbH", "5d2e9.msi"}}) {
    std::string key = std::string(kProducts) + "\\" + product.code;
    vendorKey(HKEY_LOCAL_MACHINE, hklm, key);
    winsim::CreateKey(HKEY_LOCAL_MACHINE, key + "\\Features");
    winsim::SetString(HKEY_LOCAL_MACHINE, key + "\\InstallProperties", "Publisher", product.publisher);
    std::string package = std::string("C:\\Windows\\Installer\\") + product.package;
    winsim::SetString(HKEY_LOCAL_MACHINE, key + "\\InstallProperties", "LocalPackage", package);
    vendorFile(package, "cached package");
  }
  const char* environment = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
  for (const char* name : {"GENICAM_ROOT", "LUM_PATH", "Tarvel"}) {
    winsim::SetString(HKEY_LOCAL_MACHINE, environment, name, "C:\\GenICam");
    sample.vendorRoots.push_back(safety::ValueId(hklm, environment, name));
  }

  // Shortcuts, the installation folder with its background processes, documents and installer folders.
  const std::string programs = "C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
  for (const std::string& folder : {programs + "\\Velmora Imaging", programs + "\\Parlow Native Library 3.1",
                                    std::string(kInstall), std::string("C:\\Parlow"),
                                    std::string("C:\\Users\\Public\\Documents\\Velmora Imaging"),
                                    std::string("C:\\Windows\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}")})
    sample.vendorRoots.push_back(safety::FileId(folder));
  vendorFile(programs + "\\Velmora Imaging\\Lum Control Center.lnk", "L");
  vendorFile(programs + "\\Parlow Native Library 3.1\\Readme.lnk", "L");
  vendorFile("C:\\Documents and Settings\\All Users\\Desktop\\Lum Control Center.lnk", "L");
  vendorFile(std::string(kInstall) + "\\bin\\lum.dll", "MZ vendor library");
  vendorFile(std::string(kInstall) + "\\bin\\x64\\lumcore64.dll", "MZ vendor library").attributes |= FILE_ATTRIBUTE_READONLY;
  vendorFile(std::string(kInstall) + "\\Tools\\VlxGigeService.exe", "MZ tool");
  vendorFile(std::string(kInstall) + "\\Tools\\LumNetworkServer.exe", "MZ tool");
  vendorFile("C:\\Parlow\\parlow.cfg", "[board]");
  vendorFile("C:\\Users\\Public\\Documents\\Velmora Imaging\\Samples\\readme.txt", "samples");
  vendorFile("C:\\Windows\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}\\icon.ico", "icon");
  vendorFile("C:\\Windows\\Installer\\943df.msi", "MSI package");
  for (const char* image : {"vlxgigeservice.exe", "pyxMon.exe", "LumNetworkServer.exe"}) {
    winsim::AddProcess(image, "SYSTEM");
    sample.vendorRoots.push_back(std::string("process ") + image);
  }

  // Libraries and drivers in System32, one read-only; the driver package in the store.
  for (const char* file : {"lumcore.dll", "LUM.DLL", "lumextra.dll", "Pyxlib.dll"})
    vendorFile(std::string(kSystem32) + "\\" + file, "MZ vendor library");
  winsim::FindNode(std::string(kSystem32) + "\\lumcore.dll")->attributes |= FILE_ATTRIBUTE_READONLY;
  vendorFile(std::string(kSystem32) + "\\drivers\\Tarvel.sys", "MZ vendor driver");
  winsim::DriverPackage& package = winsim::AddDriverPackage("oem41.inf", "parlow-cl.inf", kVendorInf);
  for (const std::string& path : {std::string("C:\\Windows\\inf\\oem41.inf"), std::string("C:\\Windows\\inf\\oem41.PNF"),
                                  package.storeFolder})
    sample.vendorRoots.push_back(safety::FileId(path));

  // Look-alikes of other vendors beside them.
  winsim::MakeFile("C:\\Program Files\\Contoso\\viewer.exe", "MZ other vendor");
  winsim::MakeFile("C:\\Program Files\\Velmora Imaging 2\\lum.dll", "MZ other vendor");
  winsim::MakeFile("C:\\Users\\Public\\Documents\\Velmora Imaging Samples\\readme.txt", "other vendor");
  winsim::MakeFile(programs + "\\Velmora Imaging Tools\\Other.lnk", "L");
  for (const char* file : {"contoso.dll", "xlum.dll", "lum.txt", "drivers\\vlxdma1.sys", "drivers\\Tarvel2.sys"})
    winsim::MakeFile(std::string(kSystem32) + "\\" + file, "MZ other vendor");
  winsim::MakeFile("C:\\Windows\\Installer\\943df2.msi", "MSI package");
  winsim::AddDriverPackage("oem42.inf", "contoso.inf", kOtherInf);
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Contoso\\Viewer", "Version", "1.0");
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Contoso Bridge", "Owner", "Contoso");
  winsim::SetString(HKEY_LOCAL_MACHINE, "Software\\Velmorex2", "Owner", "Contoso");
  winsim::SetString(HKEY_CURRENT_USER, "Software\\Velmora Tools", "Owner", "Contoso");
  winsim::SetString(HKEY_LOCAL_MACHINE, std::string(kProducts) + "\\1A2B3C4D5E6F70819203A4B5C6D7E8F9\\InstallProperties",
                    "Publisher", "Contoso");
  winsim::SetString(HKEY_LOCAL_MACHINE, environment, "CONTOSO_HOME", "C:\\Program Files\\Contoso");
  winsim::SetString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VlxDma1", "Start", "3");
  winsim::AddProcess("contoso.exe", "User");
  winsim::AddService("ContosoSvc");
  return sample;
}
