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
//
// Every child is started by the full path of its program: the tools from the
// working directory or the library's Tools folder, the path the command line
// names; sc.exe from Windows' own system folder (see BoardSystem); the board
// monitor from the working directory, else the system directory. None is
// looked for along PATH or beside this program.
#include <shlwapi.h>
#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>

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
  // The name in the code page; for a board passed over its UTF-8 form, only
  // ever compared with the kinds' prefixes ("Tarvel", "DruvanGigE", ...).
  char text[kTextSize];
  bool passedOver;  // BoardNameProblem found one: no caption, no driver command line
};

// Board kinds by case-sensitive name prefix.
const char kTarvelPrefix[] = "Tarvel";
const char* const kGigePrefixes[] = {"DruvanGigE", "vlxGigE"};

// The driver tool of one Windows branch: the board command is
// {cwd} + program + boardArguments + board name + boardSuffix; the filter
// command is {cwd} + program + filterArguments. Where the sc runs of the GigE
// service removal come from on AMD64 (elsewhere always system32).
struct BranchTools {
  const char* program;
  const char* boardArguments;
  const char* boardSuffix;
  const char* filterArguments;
  bool stopFromWow64OnAmd64;
  bool deleteFromWow64OnAmd64;
};

const BranchTools kVersion6Tools = {"\\drvmanage.exe", " uninstall inf=", ".inf -log -quiet",
                                    " uninstall inf=vlxgigefilter.inf -log -quiet", true, true};
const BranchTools kVersion4Tools = {"\\lumdrv.exe", " ", " -remove -noinfo",
                                    " vlxgigefilter -remove -noinfo", false, false};
const BranchTools kNtTools = {"\\drvinst.exe", " -remove ", " -noback", " -remove vlxgigefilter -noback",
                              true, false};

// Programs and command tails that follow the drive letter of the Windows directory.
const char kGigeServiceProgram[] = ":\\Program Files\\Velmora Imaging\\Tools\\VlxGigeService.exe";
const char kNetworkServerProgram[] = ":\\Program Files\\Velmora Imaging\\Tools\\LumNetworkServer.exe";
const char kStopFromWow64[] = ":\\Windows\\SysWOW64\\sc stop vlxgigeservice";
const char kStopFromSystem32[] = ":\\Windows\\system32\\sc stop vlxgigeservice";
const char kDeleteFromWow64[] = ":\\Windows\\SysWOW64\\sc delete vlxgigeservice";
const char kDeleteFromSystem32[] = ":\\Windows\\system32\\sc delete vlxgigeservice";

const char kMonitorProgram[] = "\\pyxmon.exe";

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

// Runs a command of the board loop without time-out in its own console, then
// records the attempt; an empty (unbuildable) command is skipped. subject is
// the board's item (UTF-8).
void RunLogged(CleanupContext& context, RunLog& log, ChildCommand& command, const std::string& subject,
               ChildOwner owner = ChildOwner::Vendor) {
  if (!command.line[0] || !command.program[0]) return;
  RunRecorded(context.record, "boards", owner, subject, command, 0, INFINITE);
  log << "Call to " << command.line << "\n";
}

// The board's item, as the inventory names it (UTF-8).
std::string BoardItemPath(const BoardName& name) {
  return std::string("HKLM\\") + kBoardKey + "\\" + (name.passedOver ? name.text : Utf8FromAnsi(name.text));
}

// An sc command: the text as the branch names it ({drive} + tail), run by the
// service controller of Windows' own folder. Empty when either is unknown.
void BuildScCommand(const BoardSystem& system, const char* tail, const char* sc, ChildCommand& command) {
  command.program[0] = command.line[0] = '\0';
  if (!system.drive[0] || !sc[0] || !CopyText(command.program, sc) ||
      !BuildText(command.line, system.drive, tail))
    command.program[0] = command.line[0] = '\0';
}

// The board, or one of its helpers, in the working directory; empty when unknown or too long.
void BuildFromDirectory(const char* directory, const BranchTools& tools, const char* arguments,
                        const char* board, const char* suffix, ChildCommand& command) {
  command.program[0] = command.line[0] = '\0';
  if (!directory[0] || !BuildText(command.program, directory, tools.program) ||
      !BuildText(command.line, command.program, arguments, board, suffix))
    command.program[0] = command.line[0] = '\0';
}

// {drive}:\...\Tools program with its arguments.
void BuildFromDrive(const BoardSystem& system, const char* program, const char* arguments,
                    ChildCommand& command) {
  BuildChildCommand(command, system.drive, program, arguments);
}

// sc.exe of folder, when the folder can be read.
void ReadScProgram(bool (*query)(char*, size_t), char (&sc)[MAX_PATH]) {
  char folder[MAX_PATH];
  if (!query(folder, sizeof folder) || !BuildText(sc, folder, "\\sc.exe")) sc[0] = '\0';
}

const BranchTools* ToolsFor(const BoardSystem& system) {
  if (system.majorVersion == 6) return &kVersion6Tools;
  if (system.majorVersion == 4) return &kVersion4Tools;
  if (system.platformId == VER_PLATFORM_WIN32_NT) return &kNtTools;
  return nullptr;
}

// The board's driver, then for GigE boards the filter driver and the service.
void UninstallBoardDriver(CleanupContext& context, RunLog& log, const BoardSystem& system,
                          const BoardName& name) {
  const char* board = name.text;
  char directory[kTextSize];
  QueryCurrentDirectory(directory);  // emptied when it cannot be read in full
  BoardCommandLines lines;
  BuildBoardCommandLines(system, directory, board, lines, name.passedOver);
  std::string subject = BoardItemPath(name);
  RunLogged(context, log, lines.driver, subject);
  if (!IsGigeBoard(board)) return;
  RunLogged(context, log, lines.filter, subject);
  ProgressWindow::SetCaption(context.progressWindow, "Stopping the vlxgigeservice");
  RunLogged(context, log, lines.blockService, subject);
  RunLogged(context, log, lines.stopService, subject, ChildOwner::Windows);
  Sleep(75000);  // the service takes its time to stop before it can be deleted
  RunLogged(context, log, lines.deleteService, subject, ChildOwner::Windows);
}

// The board monitor's program: pyxmon.exe of the working directory, else of
// the system directory. Empty when neither folder can be read.
void FindMonitorProgram(char (&program)[MAX_PATH]) {
  char folder[MAX_PATH];
  if (QueryCurrentDirectory(folder) && BuildText(program, folder, kMonitorProgram)) {
    DWORD attributes = GetFileAttributesA(program);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  }
  if (!QuerySystemDirectory(folder) || !BuildText(program, folder, kMonitorProgram)) program[0] = '\0';
}

// A message to the board monitor's window, sent synchronously; in a managed
// run with a time-out, since any window of that class could hold the run for
// ever.
const UINT kMonitorTimeoutMs = 5000;

void SendToMonitor(const CleanupContext& context, HWND window, UINT message, WPARAM wParam) {
  if (!context.managed) {
    SendMessageA(window, message, wParam, 0);
    return;
  }
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, wParam, 0, SMTO_ABORTIFHUNG, kMonitorTimeoutMs, &result);
}

// Closes the board monitor (started first so that its window can be found and
// told to release the boards), then stops and deletes its TrkServer service.
void ShutDownMonitor(CleanupContext& context) {
  // Its command line holds only its own name, as ever.
  char program[MAX_PATH];
  char commandLine[] = "pyxmon.exe";
  FindMonitorProgram(program);
  DWORD startedAt = GetTickCount();
  // Never waited for; a failed start is passed over, and noted.
  bool started = StartWithoutWaiting(program, commandLine);
  if (context.record && program[0]) {
    ChildRecord child;
    child.step = "boards";
    child.owner = ChildOwner::Vendor;
    child.program = program;
    child.commandLine = commandLine;
    child.awaited = false;
    child.facts.result = started ? RunResult::Finished : RunResult::NotStarted;
    if (!started) child.facts.startError = GetLastError();
    child.facts.milliseconds = GetTickCount() - startedAt;
    context.record->NoteChild(child);
  }
  Sleep(2000);
  HWND window = FindWindowA("PyxMonWnd", nullptr);
  if (window) {
    SendToMonitor(context, window, WM_COMMAND, MAKEWPARAM(kMonitorCommand, 0));
    Sleep(1000);
    SendToMonitor(context, window, WM_CLOSE, 0);
  }
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return;
  SC_HANDLE service = OpenServiceA(manager, kMonitorService, SERVICE_ALL_ACCESS);
  if (service) {
    SERVICE_STATUS status;
    // Not waited for; a service that is not running has nothing to stop.
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) && GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
      NoteFailure(context.record, "boards", FailureKind::Service, "stopped", kMonitorService, GetLastError());
    if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
      NoteFailure(context.record, "boards", FailureKind::Service, "deleted", kMonitorService, GetLastError());
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

// A board passed over keeps what its name plays no part in: the monitor's
// shutdown for a Tarvel board, the filter driver and service for a GigE one.
void UninstallBoard(CleanupContext& context, RunLog& log, const BoardSystem& system, const BoardName& board) {
  char caption[kTextSize];
  if (!board.passedOver && BuildText(caption, "Uninstall ", board.text))
    ProgressWindow::SetCaption(context.progressWindow, caption);
  if (IsTarvelBoard(board.text)) ShutDownMonitor(context);
  if (HasBoardTool(system)) UninstallBoardDriver(context, log, system, board);
  Sleep(500);
}

// The boards in registry order, as ReadBoardList reads them.
size_t ReadBoardNames(HKEY boardKey, BoardName* boards) {
  size_t count = 0;
  for (const BoardEntry& entry : ReadBoardList(boardKey, false)) {
    boards[count].passedOver = !entry.problem.empty();
    if (!CopyText(boards[count].text, entry.KindName())) break;
    ++count;
  }
  return count;
}

bool IsNonBoardSubkey(const std::string& name) {
  for (const char* subkey : kNonBoardSubkeys) {
    if (name.size() != std::strlen(subkey)) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) {
      char a = name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
      char b = subkey[i] >= 'a' && subkey[i] <= 'z' ? static_cast<char>(subkey[i] - 'a' + 'A') : subkey[i];
      same = a == b;
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

BoardSystem ReadBoardSystem() {
  OSVERSIONINFOA version = QueryVersion();
  BoardSystem system;
  system.majorVersion = version.dwMajorVersion;
  system.platformId = version.dwPlatformId;
  system.amd64 = QueryProcessorArchitecture() == PROCESSOR_ARCHITECTURE_AMD64;
  ReadDrive(system.drive);
  ReadScProgram(&QuerySystemDirectory, system.sc);
  ReadScProgram(&QuerySystemWow64Directory, system.scWow64);
  if (!system.scWow64[0]) CopyText(system.scWow64, system.sc);
  return system;
}

std::string BoardNameProblem(const WideString& name, std::string& ansi) {
  for (WCHAR unit : name) {
    if (unit == '"') return "its name holds a double quote";
    if (unit < 0x20 || unit == 0x7F) return "its name holds a control character";
  }
  if (!AnsiFromWideExactly(name, ansi)) return "its name holds a character the ANSI code page cannot spell";
  return "";
}

std::vector<BoardEntry> ReadBoardList(HKEY boardKey, bool skipNonBoard) {
  std::vector<BoardEntry> boards;
  // The names are read as Windows holds them (UTF-16), so that one the code
  // page cannot spell is seen as such rather than as its best fit.
  for (DWORD index = 0; boards.size() < kMaxBoards; ++index) {
    WCHAR name[kTextSize];
    DWORD nameLength = kTextSize;
    if (RegEnumKeyExW(boardKey, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    BoardEntry entry;
    WideString wide(name, nameLength < kTextSize ? nameLength : 0);
    entry.problem = BoardNameProblem(wide, entry.ansi);
    entry.utf8 = Utf8FromWide(wide);
    if (!entry.problem.empty()) entry.ansi.clear();
    // Registry names compare without regard to case, as SHDeleteKeyA finds them.
    if (skipNonBoard && entry.problem.empty() && IsNonBoardSubkey(entry.ansi)) continue;
    boards.push_back(entry);
  }
  return boards;
}

bool IsGigeBoard(const char* board) {
  for (const char* prefix : kGigePrefixes)
    if (StartsWith(board, prefix)) return true;
  return false;
}

bool IsTarvelBoard(const char* board) { return StartsWith(board, kTarvelPrefix); }

bool HasBoardTool(const BoardSystem& system) { return ToolsFor(system) != nullptr; }

void BuildBoardCommandLines(const BoardSystem& system, const char* workingDirectory, const char* board,
                            BoardCommandLines& lines, bool passedOver) {
  for (ChildCommand* command :
       {&lines.driver, &lines.filter, &lines.blockService, &lines.stopService, &lines.deleteService})
    command->program[0] = command->line[0] = '\0';
  const BranchTools* tools = ToolsFor(system);
  if (!tools || !workingDirectory || !board) return;
  if (!passedOver)
    BuildFromDirectory(workingDirectory, *tools, tools->boardArguments, board, tools->boardSuffix, lines.driver);
  if (!IsGigeBoard(board)) return;
  BuildFromDirectory(workingDirectory, *tools, tools->filterArguments, "", "", lines.filter);
  bool stopFromWow64 = system.amd64 && tools->stopFromWow64OnAmd64;
  bool deleteFromWow64 = system.amd64 && tools->deleteFromWow64OnAmd64;
  BuildFromDrive(system, kGigeServiceProgram, " -blockme", lines.blockService);
  BuildScCommand(system, stopFromWow64 ? kStopFromWow64 : kStopFromSystem32,
                 stopFromWow64 ? system.scWow64 : system.sc, lines.stopService);
  BuildScCommand(system, deleteFromWow64 ? kDeleteFromWow64 : kDeleteFromSystem32,
                 deleteFromWow64 ? system.scWow64 : system.sc, lines.deleteService);
}

void BuildBoardNetworkServerCommandLine(const BoardSystem& system, ChildCommand& command) {
  BuildFromDrive(system, kNetworkServerProgram, " --uninstall --resetfw_server", command);
}

void UninstallAllBoards(CleanupContext& context, RunLog& log) {
  // Held by its owner: a run that ends half-way still gives it back.
  std::unique_ptr<BoardName[]> boards(new (std::nothrow) BoardName[kMaxBoards]);

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
    size_t count = boards ? ReadBoardNames(boardKey, boards.get()) : 0;
    RegCloseKey(boardKey);
    for (size_t i = 0; i < count; ++i) UninstallBoard(context, log, system, boards[i]);
  }

  ProgressWindow::SetCaption(context.progressWindow, "Stopping LumNetworkServer.exe");
  ChildCommand networkServer;
  BuildBoardNetworkServerCommandLine(system, networkServer);
  RunRecorded(context.record, "boards", ChildOwner::Vendor, "", networkServer, 0, INFINITE);

  ProgressWindow::Step(context.progressWindow);
}
