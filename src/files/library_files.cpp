// Sixth clean-up step: the library's files and the board drivers that its
// installers put into System32 of the Windows directory (never the 32-bit
// system folder).
#include "files/files.h"

#include "run/progress_window.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

const char kSystemFolder[] = "\\System32";
const char kDriversFolder[] = "\\System32\\drivers\\";
const char kLibraryPattern[] = "lum*.dll";
const char kDmaDriver[] = "\\System32\\drivers\\vlxdma0.sys";

// Owned by the system and protected: removed through ForceDeleteFile.
const char* const kBoardDrivers[] = {
    "AmbrelGE51.sys",
    "AmbrelGX51.sys",
    "AmbrelGE60.sys",
    "AmbrelGX60.sys",
    "DruvanGigeNic.sys",
    "DruvanGigE.sys",
    "Druvan.sys",
    "Plenth.sys",
    "PlenthQxt.sys",
    "Tuv.sys",
    "Tarvel.sys",
};

// Deleted by name after the pattern; all but the first also match it.
const char* const kLibraryFiles[] = {
    "Pyxlib.dll",
    "lum.dll",
    "lum1394.dll",
    "LumAux.dll",
    "LumBlob.dll",
    "lumbufferallocator.dll",
    "Lumcal.dll",
    "Lumcode.dll",
    "lumcor.dll",
    "lumcore.dll",
    "lumcor2.dll",
    "LumHexanPlus.dll",
    "Lumedge.dll",
    "lumprl.dll",
    "Lumsarnic.dll",
    "Lumim.dll",
    "LumMeas.dll",
    "lumfcr2.dll",
    "lumfcr2cl.dll",
    "lumfcr2d.dll",
    "lummod.dll",
    "LumMon.dll",
    "Lumocr.dll",
    "Lumzor.dll",
    "lumquovin.dll",
    "Lumpat.dll",
    "LumVlxApi.dll",
    "LUMVC.dll",
};

void RemoveSystemFiles(const char* windowsDirectory) {
  char path[MAX_PATH];

  if (BuildText(path, windowsDirectory, kSystemFolder)) DeleteFilesByPattern(path, kLibraryPattern);

  if (BuildText(path, windowsDirectory, kDmaDriver)) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
  }

  for (const char* driver : kBoardDrivers)
    if (BuildText(path, windowsDirectory, kDriversFolder, driver)) ForceDeleteFile(path);

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

  if (haveDirectory) RemoveSystemFiles(windowsDirectory);

  ProgressWindow::Step(context.progressWindow);
}
