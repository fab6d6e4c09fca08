// Third clean-up step: the all-users start-menu groups of the library and of
// the board native libraries, and the all-users desktop shortcut.
#include "files/files.h"

#include "files/file_tables.h"
#include "run/progress_window.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

const char kStep[] = "shortcuts";

void RemoveNt4Groups(RunRecord* record, const char* windowsDirectory) {
  char path[MAX_PATH];
  for (const char* group : kNt4Groups)
    if (BuildText(path, windowsDirectory, kNt4Programs, group)) DeleteTreeNoted(record, kStep, path);
}

void RemoveProfileGroups(RunRecord* record, const char* drive) {
  char path[MAX_PATH];
  for (const char* group : kProfileGroups)
    if (BuildText(path, drive, kProfilePrograms, group)) DeleteTreeNoted(record, kStep, path);
  for (const ProfileEntry& entry : kProfileExtras) {
    if (!BuildText(path, drive, entry.path)) continue;
    if (entry.removeWith == RemoveWith::DirectoryTree)
      DeleteTreeNoted(record, kStep, path);
    else
      DeleteFileNoted(record, kStep, path);
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
        RemoveProfileGroups(context.record, drive);
        break;
      case 4:
        RemoveNt4Groups(context.record, windowsDirectory);
        break;
      default:
        break;
    }
  }

  ProgressWindow::Step(context.progressWindow);
}
