// Third clean-up step: the all-users start-menu groups of the library and of
// the board native libraries, and the all-users desktop shortcut, where the
// Windows version keeps them (files/file_tables.h).
#include "files/files.h"

#include "files/file_tables.h"
#include "run/progress_window.h"
#include "system/system_facts.h"

void RemoveShortcuts(CleanupContext& context) {
  OSVERSIONINFOA version = QueryVersion();
  char windowsDirectory[MAX_PATH];
  // Without the Windows directory there is no drive to complete the paths with.
  bool haveDirectory = QueryWindowsDirectory(windowsDirectory) && windowsDirectory[0] &&
                       windowsDirectory[1] == ':';

  ProgressWindow::SetCaption(context.progressWindow, "Deleting the Velmora Imaging shortcuts");
  ProgressWindow::Step(context.progressWindow);

  if (haveDirectory) {
    for (const StepPlace& place : ShortcutPlaces(version.dwMajorVersion, windowsDirectory)) {
      if (place.removeWith == RemoveWith::DirectoryTree)
        DeleteTreeNoted(context.record, "shortcuts", place.path.c_str());
      else
        DeleteFileNoted(context.record, "shortcuts", place.path.c_str());
    }
  }

  ProgressWindow::Step(context.progressWindow);
}
