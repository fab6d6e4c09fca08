// Driver and board removal: the vendor's driver tools for every registered
// board type and the DMA driver, and the vendor's INF packages.
#pragma once

#include <windows.h>

#include "run/cleanup_context.h"
#include "run/run_log.h"

// First clean-up step: uninstalls the driver of every board type registered
// under HKLM\Software\Velmora\Imaging Board, logging each tool run.
void UninstallAllBoards(CleanupContext& context, RunLog& log);

// Second clean-up step: removes the DMA driver with the tool chosen by Windows
// version, architecture and library revision, then the network server.
void UninstallDma(CleanupContext& context, const char* revisionText);

// True when the INF at infPath carries the vendor's provider text in its
// "Strings" section.
bool IsVendorInf(const char* infPath);

// One of the vendor's INF packages as the walk finds it. The texts live for
// the duration of the call that receives them.
struct VendorInf {
  const char* publishedName;  // the file's name in the directory, e.g. "oem12.inf"
  const char* infPath;        // directory\publishedName
  const char* companionPath;  // its precompiled oemNN.PNF; "" when the name has none
};

typedef void (*VendorInfVisitor)(const VendorInf& inf, void* context);

// Calls visit for every entry of directory that matches pattern and that
// IsVendorInf recognises, in the order of the search. Nothing is changed; the
// visitor may delete the file it is handed. This is the one list of the
// vendor's packages: the clean-up below walks it too.
void ForEachVendorInf(const char* directory, const char* pattern, VendorInfVisitor visit, void* context);

// The driver store folder of a published INF (System32\DriverStore\FileRepository\...),
// read through SetupGetInfDriverStoreLocationA where Windows has it. False when
// there is none, the call is missing, or the path does not fit.
bool FindDriverStoreFolder(const char* infPath, char (&folder)[MAX_PATH]);

// How one package left the machine in DeleteVendorInfs.
enum class InfRemoval {
  DriverStore,        // SetupUninstallOEMInfA removed it: INF, PNF and the driver store copy
  FilesAfterRefusal,  // SetupUninstallOEMInfA refused (error); the INF and PNF were deleted as files
  FilesOnly,          // not asked: the call is missing (error ERROR_PROC_NOT_FOUND), or the
                      // file is not a published name in the Windows INF directory (error 0)
};

struct VendorInfOutcome {
  VendorInf inf;
  InfRemoval removal;
  DWORD error;   // the Win32 error of the refusal or of the missing call; 0 otherwise
  bool infLeft;  // the INF file is still there afterwards
  DWORD infDeleteError = 0;        // why its deletion as a file failed (0: it went, or was gone)
  DWORD companionDeleteError = 0;  // the same for its PNF
};

typedef void (*VendorInfOutcomeSink)(const VendorInfOutcome& outcome, void* context);

// Removes the vendor's INF packages among the entries of directory that match
// pattern: each through the driver store when Windows can (the Windows INF
// directory, XP and later), then, whatever that leaves, the INF and its PNF
// companion as files. report, when given, receives each package's outcome.
void DeleteVendorInfs(const char* directory, const char* pattern, VendorInfOutcomeSink report = nullptr,
                      void* context = nullptr);
