// The file steps' fixed lists and their decisions, read by the steps and by
// the inventory alike. Paths that start with ':' follow the drive letter of
// the Windows directory; paths that start with '\' follow the Windows
// directory itself.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// ---- shortcuts --------------------------------------------------------------

// Windows NT 4: start-menu groups under the Windows directory.
inline constexpr char kNt4Programs[] = "\\Profiles\\All Users\\Start Menu\\Programs\\";
inline constexpr const char* kNt4Groups[] = {
    "Velmora Imaging Products",
    "Velmora Imaging",
    "Velmora Tarvel Native Library",
    "Parlow Native Library 2.0",
    "Parlow Native Library 2.2",
    "Parlow Native Library 3.1",
};

// Windows 2000 and later: start-menu groups on the drive of the Windows directory.
inline constexpr char kProfilePrograms[] = ":\\Documents and Settings\\All Users\\Start Menu\\Programs\\";
inline constexpr const char* kProfileGroups[] = {
    "Velmora Imaging",
    "Velmora Imaging Products",
    "Velmora Tarvel Native Library",
    "Parlow Native Library",
    "Parlow Native Library 2.0",
    "Parlow Native Library 2.1",
    "Parlow Native Library 2.2",
    "Parlow Native Library 3.01",
    "Parlow Native Library 3.1",
    "Parlow Native Library 3.23",
    "Parlow Native Library 3.25",
    "Falcro-II Digital 2.2",
    "Falcro-II Digital 3.0",
    "Falcro-II Digital-CL 2.2",
    "Falcro-II Digital-CL 3.0",
};

enum class RemoveWith { DirectoryTree, File };

struct ProfileEntry {
  const char* path;  // after the drive letter
  RemoveWith removeWith;
};

// The French start menu ("Menu D" e-acute "marrer": the e-acute is the single
// Windows-1252 byte 0xE9, written as an escape so that the encoding of this
// file cannot change it) and the desktop shortcut in English and French.
inline constexpr ProfileEntry kProfileExtras[] = {
    {":\\Documents and Settings\\All Users\\Menu D\xE9"
     "marrer\\Programmes\\Velmora Imaging",
     RemoveWith::DirectoryTree},
    {":\\Documents and Settings\\All Users\\Desktop\\Lum Control Center.lnk", RemoveWith::File},
    {":\\Documents and Settings\\All Users\\Bureau\\Lum Control Center.lnk", RemoveWith::File},
};

// ---- places that follow the Windows version ------------------------------------
// Vista and later (major version 6) keep the all-users start menu, desktop and
// documents where the shell's known folders say, the installer's cache in the
// Windows directory (on any drive) and the InstallShield folder under the
// 32-bit program files. The fixed paths above reach them there only through
// compatibility junctions, or through a folder a standard user could have
// made (C:\ProgramData admits new folders, and a drive root too): on Vista and
// later only the folders the system reports are used. The French rows name
// the same two known folders there (they are the localised system's own), so
// they add nothing.

struct StepPlace {
  std::string path;  // ANSI
  RemoveWith removeWith;
};

// The shortcut step's places for this Windows version, in removal order; a
// folder the system cannot report, or whose path the code page cannot spell,
// is left out.
std::vector<StepPlace> ShortcutPlaces(DWORD majorVersion, const char* windowsDirectory);

// The installer's folders for the library's product code.
std::vector<std::string> ProductInstallerFolders(DWORD majorVersion, const char* windowsDirectory);

// The library's folders in the shared documents.
std::vector<std::string> SharedDocumentsFolders(DWORD majorVersion, const char* windowsDirectory);

// ---- library and driver files in System32 -------------------------------------

inline constexpr char kSystemFolder[] = "\\System32";
inline constexpr char kDriversFolder[] = "\\System32\\drivers\\";
inline constexpr char kLibraryPattern[] = "lum*.dll";
inline constexpr char kDmaDriver[] = "\\System32\\drivers\\vlxdma0.sys";

// Owned by the system and protected: removed through ForceDeleteFile.
inline constexpr const char* kBoardDrivers[] = {
    "AmbrelGE51.sys", "AmbrelGX51.sys", "AmbrelGE60.sys", "AmbrelGX60.sys",
    "DruvanGigeNic.sys", "DruvanGigE.sys", "Druvan.sys", "Plenth.sys",
    "PlenthQxt.sys", "Tuv.sys", "Tarvel.sys",
};

// Deleted by name after the pattern; all but the first also match it.
inline constexpr const char* kLibraryFiles[] = {
    "Pyxlib.dll",   "lum.dll",       "lum1394.dll",  "LumAux.dll",     "LumBlob.dll",
    "lumbufferallocator.dll",        "Lumcal.dll",   "Lumcode.dll",    "lumcor.dll",
    "lumcore.dll",  "lumcor2.dll",   "LumHexanPlus.dll",               "Lumedge.dll",
    "lumprl.dll",   "Lumsarnic.dll", "Lumim.dll",    "LumMeas.dll",    "lumfcr2.dll",
    "lumfcr2cl.dll", "lumfcr2d.dll", "lummod.dll",   "LumMon.dll",     "Lumocr.dll",
    "Lumzor.dll",   "lumquovin.dll", "Lumpat.dll",   "LumVlxApi.dll",  "LUMVC.dll",
};

// ---- installation, documents and installer folders ------------------------------

// The newer release's key: its "Revision" chooses the steps' branches, its "Directory" the folder.
inline constexpr char kLibraryKey[] = "Software\\Velmora\\Velmora Imaging Library";

// The library's product, packed, whose cached package the step deletes.
inline constexpr char kLibraryPackedCode[] = "1AA2C1FDC6EE8A564A38006F73D6564B";

// The installer's folders for the library's product code, always on drive C
// before Vista; after the Windows directory and the 32-bit program files from Vista on.
inline constexpr const char* kFixedInstallerFolders[] = {
    "C:\\WINDOWS\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}",
    "C:\\Program Files (x86)\\InstallShield Installation Information\\"
    "{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}",
};
inline constexpr char kInstallerCacheFolder[] = "\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}";
inline constexpr char kInstallShieldFolder[] =
    "\\InstallShield Installation Information\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}";
inline constexpr char kDocumentsFolder[] = "\\Velmora Imaging";
inline constexpr char kDesktopShortcut[] = "\\Lum Control Center.lnk";

// Stopped in this order; a process that cannot be stopped ends the chain.
inline constexpr const char* kBackgroundProcesses[] = {
    "vlxgigeservice.exe",
    "pyxMon.exe",
    "LumNetworkServer.exe",
};

inline constexpr char kParlowFolder[] = ":\\Parlow";
inline constexpr char kDefaultInstallFolder[] = ":\\Program Files\\Velmora Imaging";
inline constexpr char kGigeServiceFile[] = ":\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe";
inline constexpr const char* kSharedDocumentsFolders[] = {
    ":\\Documents and Settings\\All Users\\Documents\\Velmora Imaging",
    ":\\Users\\Public\\Documents\\Velmora Imaging",
};

inline constexpr const char* kWindowsInstallerFolders[] = {
    "\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}",
    "\\Installer\\{17179814-FAD5-235E-BC1A-1306E659E09B}",
};
inline constexpr char kWindowsInstallerPackage[] = "\\Installer\\943df.msi";

// The logon command that removes the default installation folder.
inline constexpr char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr char kDeferredRemovalValue[] = "delLUMDIR";
const size_t kDeferredRemovalSize = 200;

// The installer-script clean-up tool after the working directory, and its time-out.
inline constexpr char kMsiCleanupProgram[] = "\\MsiCleanup\\MsiCleanup.exe";
inline constexpr char kMsiCleanupArguments[] = " silent";

// The logon command for the drive letter of the Windows directory; empty when
// it does not fit. It always names the default place, never "Directory".
void BuildDeferredRemovalCommand(const char* drive, char (&command)[kDeferredRemovalSize]);

// True when the revision selects the newer release's directory handling.
bool IsNewerReleaseRevision(const char* revisionText);

// Which installation folder the install-directory step deletes, and why.
enum class InstallDirectorySource {
  RegistryValue,  // the "Directory" value, accepted by the guard
  NoValue,        // no readable "Directory": the default folder
  Refused,        // a "Directory" value the guard refused: the default folder
};
struct InstallDirectoryChoice {
  bool newerRelease;
  InstallDirectorySource source;
  char folder[1025];        // the folder deleted; empty when none can be named
  char refusedValue[1025];  // the value the guard refused (source Refused)
  char rule[1024];          // why it was refused, for people (source Refused)
};
struct InstallDirectoryFacts;  // files/install_directory_guard.h

// The install-directory step's decision, which the step and the inventory
// both call: the release's "Directory" value read with the step's rights and
// judged by the guard against guardFacts, else the default folder.
void ChooseInstallDirectory(const char* revisionText, const InstallDirectoryFacts& guardFacts,
                            InstallDirectoryChoice& choice);
