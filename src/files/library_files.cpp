// Sixth clean-up step: the library's files and the board drivers that its
// installers put into System32 of the Windows directory (never the 32-bit
// system folder).
#include "files/files.h"

#include "files/file_tables.h"
#include "run/progress_window.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

void RemoveSystemFiles(const char* windowsDirectory, RunRecord* record) {
  char path[MAX_PATH];

  if (BuildText(path, windowsDirectory, kSystemFolder)) DeleteFilesByPattern(path, kLibraryPattern);

  if (BuildText(path, windowsDirectory, kDmaDriver)) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
  }

  for (const char* driver : kBoardDrivers)
    if (BuildText(path, windowsDirectory, kDriversFolder, driver)) ForceDeleteFile(path, record);

  for (const char* library : kLibraryFiles)
    if (BuildText(path, windowsDirectory, kSystemFolder, "\\", library)) DeleteFileA(path);
}

}  // namespace

void RemoveLibraryFiles(CleanupContext& context) {
  char windowsDirectory[MAX_PATH];
  // An unreadable Windows directory leaves no System32 to name.
  bool haveDirectory = QueryWindowsDirectory(windowsDirectory) && windowsDirectory[0];

  ProgressWindow::SetCaption(context.progressWindow, "Deleting the Velmora Imaging dlls");
  ProgressWindow::Step(context.progressWindow);

  if (haveDirectory) RemoveSystemFiles(windowsDirectory, context.record);

  ProgressWindow::Step(context.progressWindow);
}
