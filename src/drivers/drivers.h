// Driver and board removal: the vendor's driver tools for every registered
// board type and the DMA driver, and the vendor's INF packages.
#pragma once

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

// Calls visit for each of the vendor's INF files among the entries of
// directory that match pattern, with the path of its PNF companion (null when
// the name has none), in the platform's listing order.
typedef void (*VendorInfVisitor)(const char* infPath, const char* companionPath, void* context);
void ForEachVendorInf(const char* directory, const char* pattern, VendorInfVisitor visit, void* context);

// Deletes, with their PNF companions, the vendor's INF files among the entries
// of directory that match pattern.
void DeleteVendorInfs(const char* directory, const char* pattern);
