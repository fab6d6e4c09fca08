// Third clean-up step: the all-users start-menu groups of the library and of
// the board native libraries, and the all-users desktop shortcut.
#include "files/files.h"

#include "run/progress_window.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

// Windows NT 4: under the Windows directory.
const char kNt4Programs[] = "\\Profiles\\All Users\\Start Menu\\Programs\\";
const char* const kNt4Groups[] = {
    "Velmora Imaging Products",
    "Velmora Imaging",
    "Velmora Tarvel Native Library",
    "Parlow Native Library 2.0",
    "Parlow Native Library 2.2",
    "Parlow Native Library 3.1",
};

// Windows 2000 and later: on the drive of the Windows directory.
const char kProfilePrograms[] = ":\\Documents and Settings\\All Users\\Start Menu\\Programs\\";
const char* const kProfileGroups[] = {
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
const ProfileEntry kProfileExtras[] = {
    {":\\Documents and Settings\\All Users\\Menu D\xE9"
     "marrer\\Programmes\\Velmora Imaging",
     RemoveWith::DirectoryTree},
    {":\\Documents and Settings\\All Users\\Desktop\\Lum Control Center.lnk", RemoveWith::File},
    {":\\Documents and Settings\\All Users\\Bureau\\Lum Control Center.lnk", RemoveWith::File},
};

void RemoveNt4Groups(const char* windowsDirectory) {
  char path[MAX_PATH];
  for (const char* group : kNt4Groups)
    if (BuildText(path, windowsDirectory, kNt4Programs, group)) DeleteDirectoryTree(path);
}

void RemoveProfileGroups(const char* drive) {
  char path[MAX_PATH];
  for (const char* group : kProfileGroups)
    if (BuildText(path, drive, kProfilePrograms, group)) DeleteDirectoryTree(path);
  for (const ProfileEntry& entry : kProfileExtras) {
    if (!BuildText(path, drive, entry.path)) continue;
    if (entry.removeWith == RemoveWith::DirectoryTree)
      DeleteDirectoryTree(path);
    else
      DeleteFileA(path);
  }
}

}  // namespace

void RemoveShortcuts(CleanupContext& context) {
  OSVERSIONINFOA version = QueryVersion();
  char windowsDirectory[MAX_PATH];
  // Without the Windows directory there is no drive to complete the paths with.
  bool haveDirectory = QueryWindowsDirectory(windowsDirectory) && windowsDirectory[0] &&
                       windowsDirectory[1] == ':';

  ProgressWindow::SetCaption(context.progressWindow, "Deleting the Velmora Imaging shortcuts");
  ProgressWindow::Step(context.progressWindow);

  if (haveDirectory) {
    const char drive[2] = {windowsDirectory[0], '\0'};
    switch (version.dwMajorVersion) {
      case 5:
      case 6:
        RemoveProfileGroups(drive);
        break;
      case 4:
        RemoveNt4Groups(windowsDirectory);
        break;
      default:
        break;
    }
  }

  ProgressWindow::Step(context.progressWindow);
}
