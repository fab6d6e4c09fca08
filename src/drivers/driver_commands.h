// The driver steps' fixed names and their command-line builders: the board
// step and the DMA step run exactly these, and the inventory shows them.
// Every builder leaves an empty text for a command line that cannot be built
// whole; such a command is not run.
#pragma once

#include <windows.h>

#include <cstddef>

#include <string>

#include "system/system.h"
#include "system/wide_text.h"

const size_t kDriverCommandSize = 1024;
typedef char DriverCommand[kDriverCommandSize];

// HKLM key whose subkeys name the registered board types.
inline constexpr char kBoardKey[] = "Software\\Velmora\\Imaging Board";
// Subkeys of the board key that describe no board; removed before the list is read.
inline constexpr const char* kNonBoardSubkeys[] = {"Host", "gpu", "VGA"};

// The board monitor's service, stopped and deleted for every Tarvel board.
inline constexpr char kMonitorService[] = "TrkServer";
// The GigE service, deleted with sc for every GigE board.
inline constexpr char kGigeService[] = "vlxgigeservice";

// The facts the board step reads once at its start.
struct BoardSystem {
  DWORD majorVersion;
  DWORD platformId;
  bool amd64;
  char drive[2];  // drive letter of the Windows directory; empty when it cannot be read
  // The service controller each of the command lines' sc texts names, taken
  // from Windows' own folders: sc.exe of the system directory for
  // "...\system32\sc", of the 32-bit system folder for "...\SysWOW64\sc"
  // (the system directory's where there is none). Empty when unreadable.
  char sc[MAX_PATH];
  char scWow64[MAX_PATH];
};
BoardSystem ReadBoardSystem();

// Why a board name is not turned into a command line ("" when it is): a
// double quote or a control character (a line break among them) would change
// the command line or forge log lines, and a character the ANSI code page
// cannot spell would name another board. Such a board is passed over: no
// caption and no driver tool run for it (what names no board still runs);
// its key goes with the registry catalogue. Otherwise ansi receives the
// name's own spelling in the code page.
std::string BoardNameProblem(const WideString& name, std::string& ansi);

bool IsGigeBoard(const char* board);
bool IsTarvelBoard(const char* board);

// True when this Windows has a board tool at all (version 6, version 4, or the NT platform).
bool HasBoardTool(const BoardSystem& system);

// The children started for one board, in order: its driver, and for GigE
// boards the filter driver and the three service commands. Each names its
// program by full path; its command-line text is the one the log records.
struct BoardCommandLines {
  ChildCommand driver;
  ChildCommand filter;
  ChildCommand blockService;
  ChildCommand stopService;
  ChildCommand deleteService;
};
// For a board passed over (see BoardNameProblem) the driver's command line
// stays empty; the others name no board and are built as for any board.
void BuildBoardCommandLines(const BoardSystem& system, const char* workingDirectory, const char* board,
                            BoardCommandLines& lines, bool passedOver = false);

// The network server's uninstall at the end of the board step (from the Windows drive).
void BuildBoardNetworkServerCommandLine(const BoardSystem& system, ChildCommand& command);

// The DMA step's tool, chosen by Windows version, architecture and revision.
enum class DmaTool { None, Drvmanage, Lumdrv };
DmaTool ChooseDmaTool(const OSVERSIONINFOA& version, WORD architecture, const char* revisionText);
void BuildDmaCommandLine(DmaTool tool, const char* workingDirectory, ChildCommand& command);
// The network server's uninstall at the end of the DMA step (from the working directory).
void BuildDmaNetworkServerCommandLine(const char* workingDirectory, ChildCommand& command);

// Where the vendor's INF packages lie (under the Windows directory) and which names are looked at.
inline constexpr char kInfFolder[] = "\\inf";
inline constexpr char kVendorInfPattern[] = "oem*.inf";
