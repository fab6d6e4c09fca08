// Board uninstall: the vendor's driver tool for every board type registered
// under the library's "Imaging Board" key, the GigE filter driver and service
// for network boards, the board monitor and its service for Tarvel boards, and
// at the end the network server.
//
// Every command line is built whole or not at all: one that would not fit its
// buffer (a very long working directory or board name) is not run, since a cut
// command line can name another program or board, and no "Call to " line
// claims it. The same holds when the working directory or the drive of the
// Windows directory cannot be read: nothing runs from an empty or partial path.
#include <process.h>
#include <shlwapi.h>
#include <windows.h>

#include <cerrno>
#include <new>

#include "drivers/driver_commands.h"
#include "drivers/drivers.h"
#include "run/progress_window.h"
#include "run/run_record.h"
#include "system/system.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

const size_t kMaxBoards = 512;
const size_t kTextSize = 1024;

struct BoardName {
  char text[kTextSize];
};

// Board kinds by case-sensitive name prefix.
const char kTarvelPrefix[] = "Tarvel";
const char* const kGigePrefixes[] = {"DruvanGigE", "vlxGigE"};

// The driver tool of one Windows branch: the board command is
// {cwd} + boardPrefix + board name + boardSuffix; the filter command is
// {cwd} + filterCommand. Where the sc runs of the GigE service removal come
// from on AMD64 (elsewhere always system32).
struct BranchTools {
  const char* boardPrefix;
  const char* boardSuffix;
  const char* filterCommand;
  bool stopFromWow64OnAmd64;
  bool deleteFromWow64OnAmd64;
};

const BranchTools kVersion6Tools = {"\\drvmanage.exe uninstall inf=", ".inf -log -quiet",
                                    "\\drvmanage.exe uninstall inf=vlxgigefilter.inf -log -quiet",
                                    true, true};
const BranchTools kVersion4Tools = {"\\lumdrv.exe ", " -remove -noinfo",
                                    "\\lumdrv.exe vlxgigefilter -remove -noinfo", false, false};
const BranchTools kNtTools = {"\\drvinst.exe -remove ", " -noback",
                              "\\drvinst.exe -remove vlxgigefilter -noback", true, false};

// Command tails that follow the drive letter of the Windows directory.
const char kBlockGigeService[] = ":\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe -blockme";
const char kStopFromWow64[] = ":\\Windows\\SysWOW64\\sc stop vlxgigeservice";
const char kStopFromSystem32[] = ":\\Windows\\system32\\sc stop vlxgigeservice";
const char kDeleteFromWow64[] = ":\\Windows\\SysWOW64\\sc delete vlxgigeservice";
const char kDeleteFromSystem32[] = ":\\Windows\\system32\\sc delete vlxgigeservice";
const char kUninstallNetworkServer[] =
    ":\\Program Files\\Velmora Imaging\\Tools\\LumNetworkServer.exe --uninstall --resetfw_server";

const WPARAM kMonitorCommand = 32776;  // the monitor's own command, sent before it is closed

bool StartsWith(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (*text != *prefix) return false;
  return true;
}

// Only a Windows directory that begins with a drive letter gives a drive.
void ReadDrive(char (&drive)[2]) {
  drive[0] = '\0';
  drive[1] = '\0';
  char windowsDirectory[MAX_PATH];
  if (!QueryWindowsDirectory(windowsDirectory)) return;
  char letter = windowsDirectory[0];
  bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  if (isLetter && windowsDirectory[1] == ':') drive[0] = letter;
}

// Runs a command line of the board loop without time-out in its own console,
// then records the attempt; an empty (unbuildable) command line is skipped.
void RunLogged(CleanupContext& context, RunLog& log, char* commandLine) {
  if (!commandLine[0]) return;
  RunRecorded(context, "boards", commandLine, 0, INFINITE);
  log << "Call to " << commandLine << "\n";
}

// {drive} + tail; left empty when the drive is unknown or the whole does not fit.
void BuildFromDrive(const BoardSystem& system, const char* tail, DriverCommand& commandLine) {
  commandLine[0] = '\0';
  if (!system.drive[0] || !BuildText(commandLine, system.drive, tail)) commandLine[0] = '\0';
}

// {cwd} + parts; left empty when the directory could not be read or the whole does not fit.
void BuildFromDirectory(const char* directory, DriverCommand& commandLine, const char* first,
                        const char* second = "", const char* third = "") {
  commandLine[0] = '\0';
  if (!directory[0] || !BuildText(commandLine, directory, first, second, third)) commandLine[0] = '\0';
}

const BranchTools* ToolsFor(const BoardSystem& system) {
  if (system.majorVersion == 6) return &kVersion6Tools;
  if (system.majorVersion == 4) return &kVersion4Tools;
  if (system.platformId == VER_PLATFORM_WIN32_NT) return &kNtTools;
  return nullptr;
}

// The board's driver, then for GigE boards the filter driver and the service.
void UninstallBoardDriver(CleanupContext& context, RunLog& log, const BoardSystem& system,
                          const char* board) {
  char directory[kTextSize];
  QueryCurrentDirectory(directory);  // emptied when it cannot be read in full
  BoardCommandLines lines;
  BuildBoardCommandLines(system, directory, board, lines);
  RunLogged(context, log, lines.driver);
  if (!IsGigeBoard(board)) return;
  RunLogged(context, log, lines.filter);
  ProgressWindow::SetCaption(context.progressWindow, "Stopping the vlxgigeservice");
  RunLogged(context, log, lines.blockService);
  RunLogged(context, log, lines.stopService);
  Sleep(75000);  // the service takes its time to stop before it can be deleted
  RunLogged(context, log, lines.deleteService);
}

// Closes the board monitor (started first so that its window can be found and
// told to release the boards), then stops and deletes its TrkServer service.
void ShutDownMonitor(CleanupContext& context) {
  DWORD startedAt = GetTickCount();
  intptr_t monitor = _spawnlp(_P_NOWAIT, "pyxmon.exe", "pyxmon.exe", static_cast<const char*>(nullptr));
  if (monitor != -1) CloseHandle(reinterpret_cast<HANDLE>(monitor));  // never waited for
  if (context.record) {
    ChildRecord child;
    child.step = "boards";
    child.program = child.commandLine = "pyxmon.exe";
    child.awaited = false;
    child.facts.result = monitor != -1 ? RunResult::Finished : RunResult::NotStarted;
    // The runtime's spawn says why only through errno: the file was not found, or it would not start.
    if (monitor == -1) child.facts.startError = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_BAD_FORMAT;
    child.facts.milliseconds = GetTickCount() - startedAt;
    context.record->NoteChild(child);
  }
  Sleep(2000);
  HWND window = FindWindowA("PyxMonWnd", nullptr);
  if (window) {
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(kMonitorCommand, 0), 0);
    Sleep(1000);
    SendMessageA(window, WM_CLOSE, 0, 0);
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return;
  SC_HANDLE service = OpenServiceA(manager, kMonitorService, SERVICE_ALL_ACCESS);
  if (service) {
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);  // not waited for
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

void UninstallBoard(CleanupContext& context, RunLog& log, const BoardSystem& system, const char* board) {
  char caption[kTextSize];
  if (BuildText(caption, "Uninstall ", board)) ProgressWindow::SetCaption(context.progressWindow, caption);
  if (IsTarvelBoard(board)) ShutDownMonitor(context);
  if (HasBoardTool(system)) UninstallBoardDriver(context, log, system, board);
  Sleep(500);
}

// Reads the board names in registry order into boards; returns how many.
size_t ReadBoardNames(HKEY boardKey, BoardName* boards) {
  size_t count = 0;
  while (count < kMaxBoards) {
    char name[kTextSize];
    DWORD nameLength = kTextSize;
    if (RegEnumKeyExA(boardKey, static_cast<DWORD>(count), name, &nameLength, nullptr, nullptr,
                      nullptr, nullptr) != ERROR_SUCCESS)
      break;
    if (!CopyText(boards[count].text, name)) break;
    ++count;
  }
  return count;
}

}  // namespace

BoardSystem ReadBoardSystem() {
  OSVERSIONINFOA version = QueryVersion();
  BoardSystem system;
  system.majorVersion = version.dwMajorVersion;
  system.platformId = version.dwPlatformId;
  system.amd64 = QueryProcessorArchitecture() == PROCESSOR_ARCHITECTURE_AMD64;
  ReadDrive(system.drive);
  return system;
}

bool IsGigeBoard(const char* board) {
  for (const char* prefix : kGigePrefixes)
    if (StartsWith(board, prefix)) return true;
  return false;
}

bool IsTarvelBoard(const char* board) { return StartsWith(board, kTarvelPrefix); }

bool HasBoardTool(const BoardSystem& system) { return ToolsFor(system) != nullptr; }

void BuildBoardCommandLines(const BoardSystem& system, const char* workingDirectory, const char* board,
                            BoardCommandLines& lines) {
  lines.driver[0] = lines.filter[0] = lines.blockService[0] = lines.stopService[0] =
      lines.deleteService[0] = '\0';
  const BranchTools* tools = ToolsFor(system);
  if (!tools || !workingDirectory || !board) return;
  BuildFromDirectory(workingDirectory, lines.driver, tools->boardPrefix, board, tools->boardSuffix);
  if (!IsGigeBoard(board)) return;
  BuildFromDirectory(workingDirectory, lines.filter, tools->filterCommand);
  bool stopFromWow64 = system.amd64 && tools->stopFromWow64OnAmd64;
  bool deleteFromWow64 = system.amd64 && tools->deleteFromWow64OnAmd64;
  BuildFromDrive(system, kBlockGigeService, lines.blockService);
  BuildFromDrive(system, stopFromWow64 ? kStopFromWow64 : kStopFromSystem32, lines.stopService);
  BuildFromDrive(system, deleteFromWow64 ? kDeleteFromWow64 : kDeleteFromSystem32, lines.deleteService);
}

void BuildBoardNetworkServerCommandLine(const BoardSystem& system, DriverCommand& commandLine) {
  BuildFromDrive(system, kUninstallNetworkServer, commandLine);
}

void UninstallAllBoards(CleanupContext& context, RunLog& log) {
  BoardName* boards = new (std::nothrow) BoardName[kMaxBoards];

  BoardSystem system = ReadBoardSystem();

  ProgressWindow::SetCaption(context.progressWindow, "Uninstall all board");
  HKEY boardKey = nullptr;
  bool opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBoardKey, 0, KEY_ALL_ACCESS, &boardKey) == ERROR_SUCCESS;
  if (opened) {
    // Relative to the open board key: nothing outside it can be named here.
    for (const char* subkey : kNonBoardSubkeys) SHDeleteKeyA(boardKey, subkey);
  }
  Sleep(500);
  ProgressWindow::Step(context.progressWindow);

  if (opened) {
    size_t count = boards ? ReadBoardNames(boardKey, boards) : 0;
    RegCloseKey(boardKey);
    for (size_t i = 0; i < count; ++i) UninstallBoard(context, log, system, boards[i].text);
  }

  ProgressWindow::SetCaption(context.progressWindow, "Stopping LumNetworkServer.exe");
  DriverCommand commandLine;
  BuildBoardNetworkServerCommandLine(system, commandLine);
  if (commandLine[0]) RunRecorded(context, "boards", commandLine, 0, INFINITE);

  delete[] boards;
  ProgressWindow::Step(context.progressWindow);
}
