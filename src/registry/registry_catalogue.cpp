// The registry catalogue: every key the library's installers, the board and
// driver installers and the library's development add-ins leave behind, in the
// order of deletion, and the environment values they add. Paths are passed
// exactly as written here, mixed capitalisation included; rows under
// SOFTWARE\Wow6432Node reach the 32-bit view by path.
#include "registry/registry_catalogue.h"

namespace RegistryCatalogue {

// clang-format off
const Row kRows[] = {
    // Installer registrations under HKCR; per-user keys.
    /*   1 */ {HKCR, "Installer\\Products\\29D92E1AC49FC9D3FCD85E486087B9F1"},
    /*   2 */ {HKCR, "Installer\\Features\\29D92E1AC49FC9D3FCD85E486087B9F1"},
    /*   3 */ {HKCR, "Installer\\UpgradeCodes\\F3FAD194E1C76002377AEAE08D8BD786"},
    /*   4 */ {HKCR, "Installer\\Products\\418971715DAFE532CBA131606E950EB9"},
    /*   5 */ {HKCR, "Installer\\Products\\61F671F0EB1C9D1582626B46F1C4C4A3"},
    /*   6 */ {HKCR, "Installer\\Features\\418971715DAFE532CBA131606E950EB9"},
    /*   7 */ {HKCR, "Installer\\Features\\61F671F0EB1C9D1582626B46F1C4C4A3"},
    /*   8 */ {HKCR, "Installer\\UpgradeCodes\\92AD66573E16A2756516A126F2751EBE"},
    /*   9 */ {HKCR, "Installer\\Products\\D3BDADF132C15117AC28250D473A7306"},
    /*  10 */ {HKCR, "Installer\\Products\\493604D965DBDF07CBD9787843BDA16B"},
    /*  11 */ {HKCR, "Installer\\Products\\DF1C2AA1-EE6C-65A8-A483-00F6376D65B4"},
    /*  12 */ {HKCR, "Installer\\Features\\DF1C2AA1-EE6C-65A8-A483-00F6376D65B4"},
    /*  13 */ {HKCR, "Installer\\UpgradeCodes\\C10CE499-BEAA-FC65-979B-6227A97255C2"},
    /*  14 */ {HKCR, "Installer\\Products\\474D491C63F739C69D360A09F4BD89EB"},
    /*  15 */ {HKCR, "Installer\\Features\\474D491C63F739C69D360A09F4BD89EB"},
    /*  16 */ {HKCR, "Installer\\Products\\11C92A8A3A42D3E2C2AD9E3F339BB25B"},
    /*  17 */ {HKCR, "Installer\\Features\\11C92A8A3A42D3E2C2AD9E3F339BB25B"},
    /*  18 */ {HKCR, "Installer\\Products\\Velmora Imaging"},
    /*  19 */ {HKCR, "Installer\\Features\\Velmora Imaging"},
    /*  20 */ {HKCU, "Software\\Velmora"},
    /*  21 */ {HKCU, "Software\\Velmora Imaging"},
    /*  22 */ {HKCU, "Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8"},

    // The fixed user's registration; vendor software keys; uninstall entries; upgrade codes;
    // add-in classes; installer registrations and user data of the vendor products.
    /*  23 */ {HKU , "S-1-5-21-30521874-61932045-287340916-5120\\Software\\Microsoft\\Installer\\Products\\FCF897311C5C207F46D07BAB351A8BA8"},
    /*  24 */ {HKLM, "SOFTWARE\\Velmora\\Velmora Tarvel Native Library"},
    /*  25 */ {HKLM, "SOFTWARE\\Velmora\\Imaging board"},
    /*  26 */ {HKLM, "SOFTWARE\\Velmora\\Velmora Imaging Library"},
    /*  27 */ {HKLM, "SOFTWARE\\Velmora\\DrvManage"},
    /*  28 */ {HKLM, "Software\\Velmorex"},
    /*  29 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{17179814-FAD5-235E-BC1A-1306E659E09B}"},
    /*  30 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{0F176F16-C1BE-51D9-2826-B6641F4C4C3A}"},
    /*  31 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\92AD66573E16A2756516A126F2751EBE"},
    /*  32 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\C10CE499-BEAA-FC65-979B-6227A97255C2"},
    /*  33 */ {HKLM, "Software\\Classes\\ActiveLUMAddIn.Connect"},
    /*  34 */ {HKLM, "Software\\Classes\\ActiveLUMAddIn.LUMExport"},
    /*  35 */ {HKLM, "Software\\Classes\\CLSID\\{AB1D659E-3CD2-13E8-5A8D-E6EABF0E0DB4}"},
    /*  36 */ {HKLM, "Software\\Classes\\CLSID\\{97F7CD52-5C94-9B4C-8F6A-82C822B3D6E0}"},
    /*  37 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Products\\D3BDADF132C15117AC28250D473A7306"},
    /*  38 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Products\\493604D965DBDF07CBD9787843BDA16B"},
    /*  39 */ {HKLM, "SOFTWARE\\Microsoft\\VisualStudio\\7.1\\AddIns\\ActiveLUMAddIns.Connect"},
    /*  40 */ {HKLM, "SOFTWARE\\Microsoft\\VisualStudio\\7.1\\VSA\\7.1\\AddIns\\ActiveLUMAddIns.Connect"},
    /*  41 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\D3BDADF132C15117AC28250D473A7306"},
    /*  42 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\493604D965DBDF07CBD9787843BDA16B"},
    /*  43 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-21-30521874-61932045-287340916-5120\\Products\\FCF897311C5C207F46D07BAB351A8BA8"},
    /*  44 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{13798FCF-C5C1-F702-640D-B7BA53A1B88A}"},
    /*  45 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{1FDADB3D-1C23-7115-CA82-52D074A33760}"},
    /*  46 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{9D406394-BD56-70FD-BC9D-878734DB1AB6}"},
    /*  47 */ {HKLM, "Software\\Classes\\Installer\\Features\\29D92E1AC49FC9D3FCD85E486087B9F1"},
    /*  48 */ {HKLM, "Software\\Classes\\Installer\\Products\\29D92E1AC49FC9D3FCD85E486087B9F1"},
    /*  49 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\F3FAD194E1C76002377AEAE08D8BD786"},
    /*  50 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\299A44344A20C6074D66C7FFC8848931"},
    /*  51 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\29D92E1AC49FC9D3FCD85E486087B9F1"},
    /*  52 */ {HKLM, "Software\\Classes\\Installer\\Features\\418971715DAFE532CBA131606E950EB9"},
    /*  53 */ {HKLM, "Software\\Classes\\Installer\\Products\\418971715DAFE532CBA131606E950EB9"},
    /*  54 */ {HKLM, "Software\\Classes\\Installer\\Features\\61F671F0EB1C9D1582626B46F1C4C4A3"},
    /*  55 */ {HKLM, "Software\\Classes\\Installer\\Products\\61F671F0EB1C9D1582626B46F1C4C4A3"},
    /*  56 */ {HKLM, "Software\\Classes\\Installer\\Products\\DF1C2AA1-EE6C-65A8-A483-00F6376D65B4"},
    /*  57 */ {HKLM, "Software\\Classes\\Installer\\Features\\DF1C2AA1-EE6C-65A8-A483-00F6376D65B4"},
    /*  58 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\418971715DAFE532CBA131606E950EB9"},
    /*  59 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\DF1C2AA1-EE6C-65A8-A483-00F6376D65B4"},
    /*  60 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}"},
    /*  61 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora_Imaging"},
    /*  62 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora Imaging Products"},
    /*  63 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall Information\\{17179814-FAD5-235E-BC1A-1306E659E09B}"},

    // Further installer registrations, uninstall entries and 32-bit view entries.
    /*  64 */ {HKLM, "Software\\Classes\\Installer\\Features\\11C92A8A3A42D3E2C2AD9E3F339BB25B"},
    /*  65 */ {HKLM, "Software\\Classes\\Installer\\Features\\474D491C63F739C69D360A09F4BD89EB"},
    /*  66 */ {HKLM, "Software\\Classes\\Installer\\Products\\11C92A8A3A42D3E2C2AD9E3F339BB25B"},
    /*  67 */ {HKLM, "Software\\Classes\\Installer\\Products\\474D491C63F739C69D360A09F4BD89EB"},
    /*  68 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\474D491C63F739C69D360A09F4BD89EB"},
    /*  69 */ {HKCR, "Installer\\Products\\B7DF34E1765EF2026957BECF995A489C"},
    /*  70 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Products\\B7DF34E1765EF2026957BECF995A489C"},
    /*  71 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{1E43FD7B-E567-202F-9675-EBFC99A584C9}"},
    /*  72 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall Information\\{1E43FD7B-E567-202F-9675-EBFC99A584C9}"},
    /*  73 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Products\\1AA2C1FDC6EE8A564A38006F73D6564B"},
    /*  74 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\1AA2C1FDC6EE8A564A38006F73D6564B\\InstallProperties"},
    /*  75 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\1AA2C1FDC6EE8A564A38006F73D6564B"},
    /*  76 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}"},
    /*  77 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}"},
    /*  78 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall Information\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}"},
    /*  79 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora_Imaging"},
    /*  80 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\5E1F3C44514A4C1465A80BB84DEC115A"},

    // User data of the product whose cached package goes first; uninstall entries; driver
    // service keys.
    /*  81 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\B7DF34E1765EF2026957BECF995A489C"},
    /*  82 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{C194D474-7F36-6C93-D963-A0904FDB98BE}"},
    /*  83 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora Tarvel Native Library"},
    /*  84 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velmora Tarvel Native Library"},
    /*  85 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{4A4724EA-E7FE-68E6-7AC9-BF18DEC0FC20}"},
    /*  86 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}"},
    /*  87 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall Information\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}"},
    /*  88 */ {HKLM, "SYSTEM\\CurrentControlSet\\Services\\VlxDma0"},
    /*  89 */ {HKLM, "SYSTEM\\CurrentControlSet\\Services\\Sarnic"},

    // ProgIDs of the library add-in.
    /*  90 */ {HKLM, "Software\\Classes\\ActiveLUMAddIn.AboutBox"},
    /*  91 */ {HKLM, "Software\\Classes\\ActiveLUMAddIn.AddInManager"},
    /*  92 */ {HKLM, "Software\\Classes\\ActiveLUMAddIn.AddInUtility"},
    /*  93 */ {HKLM, "Software\\Classes\\ActiveLUMAddIn.CustomMessageBox"},
    /*  94 */ {HKLM, "Software\\Classes\\ActiveLUMAddIn.AddInTool"},

    // DMA driver keys in every control set; device class; vlxmemmanager and vlxservmanager
    // services; 32-bit view; remote client control; further products.
    /*  95 */ {HKLM, "SYSTEM\\ControlSet001\\Enum\\Root\\LEGACY_VLXDMA0"},
    /*  96 */ {HKLM, "SYSTEM\\ControlSet003\\Enum\\Root\\LEGACY_VLXDMA0"},
    /*  97 */ {HKLM, "SYSTEM\\ControlSet001\\Services\\VlxDma0"},
    /*  98 */ {HKLM, "SYSTEM\\ControlSet003\\Services\\VlxDma0"},
    /*  99 */ {HKLM, "SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_VLXDMA0"},
    /* 100 */ {HKLM, "SYSTEM\\CurrentControlSet\\Control\\Class\\{9C86A62B-4E66-A92E-ED2F-36402AF5ED7E}"},
    /* 101 */ {HKLM, "SYSTEM\\currentcontrolset\\services\\vlxmemmanager"},
    /* 102 */ {HKLM, "SYSTEM\\currentcontrolset\\services\\vlxservmanager"},
    /* 103 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}"},
    /* 104 */ {HKLM, "SOFTWARE\\Wow6432Node\\Velmora\\Velmora Imaging Library"},
    /* 105 */ {HKLM, "SOFTWARE\\Wow6432Node\\Velmora\\Imaging board"},
    /* 106 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\F3FAD194E1C76002377AEAE08D8BD786"},
    /* 107 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\299A44344A20C6074D66C7FFC8848931"},
    /* 108 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\29D92E1AC49FC9D3FCD85E486087B9F1"},
    /* 109 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall Information\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}"},
    /* 110 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}"},
    /* 111 */ {HKLM, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall Information\\{1E43FD7B-E567-202F-9675-EBFC99A584C9}"},
    /* 112 */ {HKLM, "SOFTWARE\\Classes\\CLSID\\{5445E2BD-6B85-CAE0-C064-78BCABFD3F53}"},
    /* 113 */ {HKCR, "RemoteClientActiveX.RemoteClientActiveX"},
    /* 114 */ {HKCR, "RemoteClientActiveX.RemoteClientActiveX.1"},
    /* 115 */ {HKLM, "SOFTWARE\\Velmora\\Velmora Oravist"},
    /* 116 */ {HKCR, "Installer\\Products\\03B7035352CC05F2FACA2481A742299C"},
    /* 117 */ {HKCR, "Installer\\Features\\03B7035352CC05F2FACA2481A742299C"},
    /* 118 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{35307B30-CC25-2F50-AFAC-42187A2492C9}"},
    /* 119 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Features\\03B7035352CC05F2FACA2481A742299C"},
    /* 120 */ {HKCR, "CLSID\\{1BE3A785-8017-545C-62F3-D5C10ACC50BD}"},
    /* 121 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Products\\03B7035352CC05F2FACA2481A742299C"},
    /* 122 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_{35307B30-CC25-2F50-AFAC-42187A2492C9}"},
    /* 123 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Features\\3463DD66F413764DEC1B7BC5EEA9A55F"},
    /* 124 */ {HKLM, "SOFTWARE\\Classes\\Installer\\Products\\3463DD66F413764DEC1B7BC5EEA9A55F"},
    /* 125 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{66DD3643-314F-D467-CEB1-B75CEE9A5AF5}"},
    /* 126 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield_{66DD3643-314F-D467-CEB1-B75CEE9A5AF5}"},
    /* 127 */ {HKCR, "Installer\\Features\\3463DD66F413764DEC1B7BC5EEA9A55F"},
    /* 128 */ {HKCR, "Installer\\Products\\3463DD66F413764DEC1B7BC5EEA9A55F"},
    /* 129 */ {HKLM, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall Information\\{0F176F16-C1BE-51D9-2826-B6641F4C4C3A}"},
};
// clang-format on
static_assert(sizeof kRows / sizeof kRows[0] == kRowCount, "every catalogue row is listed");

const char kSystemEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

const char* const kSystemEnvironmentValues[] = {
    "genicam_root",
    "lum_genicam_path",
    "lum_path",
    "Tarvel",
    "Parlow",
};

const EnvironmentValue kControlSetValues[] = {
    {HKLM, "SYSTEM\\ControlSet001\\Control\\Session Manager\\Environment", "Lum_Path"},
    {HKLM, "SYSTEM\\ControlSet003\\Control\\Session Manager\\Environment", "Lum_Path"},
};

HKEY RootKey(Root root) {
  switch (root) {
    case HKCR: return HKEY_CLASSES_ROOT;
    case HKCU: return HKEY_CURRENT_USER;
    case HKLM: return HKEY_LOCAL_MACHINE;
    case HKU: return HKEY_USERS;
  }
  return nullptr;
}

const char* RootName(Root root) {
  switch (root) {
    case HKCR: return "HKCR";
    case HKCU: return "HKCU";
    case HKLM: return "HKLM";
    case HKU: return "HKU";
  }
  return "";
}

}  // namespace RegistryCatalogue
