// The usage text and the version line.
#include "main/usage.h"

#include <windows.h>

#include "system/starter_output.h"
#include "system/system_facts.h"

#ifndef CLEANLUM_VERSION
#define CLEANLUM_VERSION "0.0.0"
#endif

std::string VersionLine() { return std::string("CleanLum ") + CLEANLUM_VERSION; }

std::string UsageText() {
  return VersionLine() +
         ": removes the Velmora imaging library (\"Lum\") and its board drivers, and restarts Windows.\n"
         "\n"
         "Usage: CleanLum.exe [word ...]\n"
         "\n"
         "Start it as administrator in the folder that holds the vendor's driver tools\n"
         "(drvmanage.exe; on 32-bit Windows before Vista also drvinst.exe and lumdrv.exe).\n"
         "Without a word it asks for confirmation, removes everything of the vendor's,\n"
         "warns twice and restarts Windows, forced: save your work first.\n"
         "\n"
         "Words:\n"
         "  silent          no confirmation and no restart warnings\n"
         "  noreboot        no restart at the end\n"
         "  msi             also runs MsiCleanup\\MsiCleanup.exe below the working directory\n"
         "                  These three are found anywhere in the command line, in small\n"
         "                  letters, even inside a longer word or the program's own path.\n"
         "  preview         writes a report of what a run would remove; changes nothing,\n"
         "                  needs no administrator rights\n"
         "  managed         for deployment engines: implies silent and noreboot, never shows\n"
         "                  a message box, never restarts Windows itself, and ends with the\n"
         "                  exit codes below\n"
         "  reportdir=PATH  the folder of the reports and the log (created when missing);\n"
         "                  quote the whole word when PATH holds blanks\n"
         "  restorepoint    asks Windows for a system restore point before the first change;\n"
         "                  the reports say whether one was made, and the run goes on either way\n"
         "  allusers        also removes the vendor's keys from every user profile's registry\n"
         "                  hives, loading those of users not logged on (a managed run always does)\n"
         "  version         prints the version; nothing else happens\n"
         "  help, /?, -?, /h, -h, --help\n"
         "                  prints this text; nothing else happens\n"
         "  All words but the first three are whole words, in any capitals.\n"
         "\n"
         "Exit codes:\n"
         "  a run           0 completed, or cancelled at the confirmation (nobody can answer\n"
         "                  it where no window can be seen: that counts as cancel)\n"
         "                  1 no administrator rights, or the restart could not be prepared\n"
         "                  -1 (4294967295) a driver tool is missing from the working directory\n"
         "  managed         0 nothing of the vendor's was found, nothing changed\n"
         "                  3010 removed; restart the machine to complete the removal\n"
         "                  1603 items remain; the result report says which and why\n"
         "                  1618 another Windows Installer transaction runs; retry later\n"
         "                  740 not started with administrator rights\n"
         "                  2 a driver tool is missing from the working directory\n"
         "  preview         0 nothing of the vendor's is present (items a run keeps by design\n"
         "                  do not count); 1 something is\n"
         "  help, version   0\n"
         "\n"
         "What a run leaves, in the report folder (reportdir=, else %SystemRoot%\\Logs\\CleanLum;\n"
         "a preview without administrator rights: %TEMP%):\n"
         "  CleanLum-result-YYYYMMDD-HHMMSS.txt, .json    what it removed and what it left, and why\n"
         "  CleanLum-preview-YYYYMMDD-HHMMSS.txt, .json   what a run would remove (preview)\n"
         "  CleanLum-registry-backup-YYYYMMDD-HHMMSS.reg  the registry it deleted: reg import restores it\n"
         "  CleanLum-YYYYMMDD-HHMMSS.log                  its log, in the format of CMTrace\n"
         "and, as it always did, a block in %TEMP%\\LUMInstall.log.\n"
         "A managed run also writes HKLM\\SOFTWARE\\CleanLum (LastResult, Remaining, Version,\n"
         "Time, Report) and an Application event of the source CleanLum.\n";
}

int ShowToStarter(const std::string& text) {
  if (PrintToStarter(text)) return 0;
  // Nobody could answer a box on an invisible window station.
  if (HasInteractiveWindowStation()) MessageBoxA(nullptr, text.c_str(), "CleanLum", MB_OK | MB_ICONINFORMATION);
  return 0;
}
