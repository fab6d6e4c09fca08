// The simulated machine behind the Win32 subset: state that tests set up
// before a run and inspect after it, and the control functions that do so.
// Every Win32 function of the simulation acts on winsim::M().
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "winsim/wintypes.h"

namespace winsim {

// ---- Names --------------------------------------------------------------
// Windows compares file, key and value names without regard to case and
// orders directory and key listings by the upper-cased name.
char UpperChar(char c);
std::string Upper(const std::string& text);
bool EqualsNoCase(const std::string& a, const std::string& b);
struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
// Names are held as UTF-8. Upper and the comparisons fold ASCII, the Latin-1
// and Latin Extended-A letters, Greek, Cyrillic and fullwidth Latin; a byte
// that starts no valid UTF-8 sequence is taken as a Windows-1252 character.
//
// The "A" calls see names through the ANSI code page (Windows-1252): text
// going in is converted exactly; names coming out go through Windows'
// best-fit table (U+FF0F FULLWIDTH SOLIDUS becomes '/', U+0141 'L'), and a
// character without a fit becomes '?', as WideCharToMultiByte does without
// WC_NO_BEST_FIT_CHARS. lossy, when given, tells whether the ANSI text spells
// the name differently.
std::string Utf8FromAnsi(const std::string& ansi);
std::string AnsiFromUtf8(const std::string& utf8, bool* lossy = nullptr);
std::string Utf8FromWide(const std::u16string& wide);
std::u16string WideFromUtf8(const std::string& utf8);

// ---- Trace ----------------------------------------------------------------
// One line per observable action, in order: "caption: ...", "step: 30",
// "run: <command line>", "sleep: 500", "msgbox: <caption>: <text>", ...
// Each area documents the lines it writes next to the function that writes them.
void Trace(const std::string& line);
const std::vector<std::string>& TraceLines();
// The trace lines that begin with the given prefix, prefix removed.
std::vector<std::string> TraceOf(const std::string& prefix);

// ---- System facts -----------------------------------------------------------
struct SystemState {
  DWORD majorVersion = 6;
  DWORD minorVersion = 2;
  DWORD buildNumber = 9200;
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  WORD processorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  bool isAdmin = true;
  std::string computerName = "WINSIM";
  bool parentConsole = false;  // AttachConsole(ATTACH_PARENT_PROCESS) succeeds
  // The program is of the GUI subsystem: it has a standard output only when
  // its starter redirected one into this file ("": none), and the console's
  // once it attached to its parent's. What it wrote to that console:
  std::string standardOutputFile;
  std::string consoleOutput;
  bool consoleAttached = false;
  std::string windowsDirectory = "C:\\Windows";
  std::string systemDirectory = "C:\\Windows\\system32";
  std::string currentDirectory = "C:\\Tools";
  std::string commandLine = "C:\\Tools\\CleanLum.exe";  // what GetCommandLineA returns
  SYSTEMTIME localTime = {2026, 12, 2, 8, 9, 5, 3, 0};
  // How long Windows had been running when the program started:
  // GetTickCount64 (kernel32, looked up at run time) is this plus every Sleep.
  ULONGLONG uptimeMs = 3600000;
  std::map<std::string, std::string, NoCaseLess> environment;
  // What SHGetFolderPathA reports, by CSIDL, where a test wants other than the
  // layout of Windows 10 on the drive of the Windows directory for the user
  // TokenState::user; "" makes the call fail with E_FAIL. A folder that does
  // not exist in the file system is not reported (S_FALSE).
  std::map<int, std::string> shellFolders;
  std::vector<DWORD> sleeps;  // every Sleep, in order (nothing really sleeps)
  DWORD lastError = 0;
};

// ---- Registry ---------------------------------------------------------------
// Key and value names are held as UTF-8, like file names. String data (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) is held as the call that wrote it gave it: the
// code page's bytes from an "A" call or a control function, UTF-16 from a "W"
// call (unicode); each kind of call reads it converted to its own form.
struct RegValue {
  std::string name;  // "" is the default value
  DWORD type = REG_SZ;
  std::vector<BYTE> data;
  bool unicode = false;  // string data held as UTF-16 (little-endian)
};

struct RegKey {
  std::string name;  // as created; lookups ignore case
  std::map<std::string, std::shared_ptr<RegKey>, NoCaseLess> subkeys;  // open handles share ownership
  std::vector<RegValue> values;  // in the order they were first set
  bool refuseOpen = false;       // every open fails with ERROR_ACCESS_DENIED
  bool refuseDelete = false;     // deletion (RegDeleteKey*, NtDeleteKey) fails with ERROR_ACCESS_DENIED
  bool refuseSetValue = false;   // RegSetValueEx* fails with ERROR_ACCESS_DENIED
  bool grantsReadOnly = false;   // an open asking more than KEY_READ fails with ERROR_ACCESS_DENIED
  bool deleted = false;          // handles still open on a deleted key see this
  // A registry symbolic link (created with REG_OPTION_CREATE_LINK): opening it
  // reaches the key its REG_LINK value "SymbolicLinkValue" names
  // ("\REGISTRY\MACHINE\..." or "\REGISTRY\USER\..."), unless it is the
  // last component of a path opened with REG_OPTION_OPEN_LINK. A link in the
  // middle of a path is always followed. Deleting a link by path
  // (RegDeleteKey*, SHDeleteKeyA) deletes its target, as on Windows; only
  // NtDeleteKey on a handle opened with REG_OPTION_OPEN_LINK deletes the link.
  bool link = false;
};

// A registry hive file (a profile's NTUSER.DAT or UsrClass.dat) that
// RegLoadKeyW mounts below HKEY_USERS; it lies in the file system too.
// Loading and unloading need SeBackupPrivilege and SeRestorePrivilege enabled
// (ERROR_PRIVILEGE_NOT_HELD). A hive already mounted, or held by its user's
// logon session (inUse), fails with ERROR_SHARING_VIOLATION; damaged with
// ERROR_BADDB. As on Windows, loading a file that does not exist creates
// one. Unloading fails with ERROR_ACCESS_DENIED while a handle is open on a
// key of the hive. What a run changes while mounted stays in the file.
// Trace: "regloadkey: HKU\<name> <file> -> <error code>", "regunloadkey: HKU\<name> -> <error code>".
struct HiveFile {
  std::shared_ptr<RegKey> root = std::make_shared<RegKey>();
  bool inUse = false;
  bool damaged = false;
  int refuseUnload = 0;   // the next unloads fail with ERROR_ACCESS_DENIED, as while another process holds a key open
  std::string mountedAs;  // the name below HKEY_USERS while mounted
};

struct RegistryState {
  // HKEY_CLASSES_ROOT is the view of HKLM\SOFTWARE\Classes (the per-user classes
  // are not merged in); the other three predefined roots are trees of their own.
  // Like every Windows installation, the machine starts with SOFTWARE\Classes.
  std::shared_ptr<RegKey> localMachine = MachineRoot();
  std::shared_ptr<RegKey> currentUser = std::make_shared<RegKey>();
  std::shared_ptr<RegKey> users = std::make_shared<RegKey>();
  // GetProcAddress does not find ntdll's NtDeleteKey.
  bool ntDeleteKeyMissing = false;
  std::map<std::string, HiveFile, NoCaseLess> hiveFiles;  // by full path

  static std::shared_ptr<RegKey> MachineRoot();
};

// Every registry deletion is traced with its result, failed ones included:
//   "regdeletekey: HKLM\<path as passed> -> <error code>"   (RegDeleteKeyA/W/ExW)
//   "ntdeletekey: HKLM\<path opened> -> <Win32 error code>" (NtDeleteKey)
//   "regdeletevalue: HKLM\<key path>:<name> -> <error code>" (RegDeleteValueA/W)
// Roots are written HKCR, HKCU, HKLM, HKU; a key opened by handle is written as
// the path it was opened with; names as UTF-8.

// Control functions: paths are relative to a predefined root, '\'-separated
// ('/' is an ordinary character in key names), in UTF-8 (ASCII is the same in
// every form); the UTF-16 forms take names outside any code page.
RegKey& CreateKey(HKEY root, const std::string& path);
RegKey& CreateKey(HKEY root, const std::u16string& path);
RegKey* FindKey(HKEY root, const std::string& path);
RegKey* FindKey(HKEY root, const std::u16string& path);
bool KeyExists(HKEY root, const std::string& path);
bool KeyExists(HKEY root, const std::u16string& path);
// A registry link at path (which must not exist yet) to target, written as
// Windows writes it: "\REGISTRY\MACHINE\SOFTWARE\..." or "\REGISTRY\USER\<SID>\...".
RegKey& CreateLink(HKEY root, const std::string& path, const std::string& target);
void SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
              const std::vector<BYTE>& data);
// A string value stored with its terminating zero (as RegSetValueExA is usually called).
void SetString(HKEY root, const std::string& path, const std::string& name,
               const std::string& text, DWORD type = REG_SZ);
// The same stored as RegSetValueExW stores it: UTF-16 with its terminating zero.
void SetWideString(HKEY root, const std::string& path, const std::string& name, const std::u16string& text,
                   DWORD type = REG_SZ);
const RegValue* FindValue(HKEY root, const std::string& path, const std::string& name);
// Every key and value below a root as "path" and "path\\:name=type:hexdata" lines, sorted.
std::vector<std::string> DumpRegistry(HKEY root);
// Registry handles opened and not yet closed.
size_t OpenKeyHandles();
// A hive file at path (made in the file system too), not mounted; its root
// key, to fill as a test likes (paths relative to it with KeyAt).
HiveFile& AddHiveFile(const std::string& path);
// The key path below root of a hive, created as needed.
RegKey& KeyAt(RegKey& root, const std::string& path);
// Mounts a hive file as a logged-on user's hive is: HKU\<name>, no privilege asked.
void MountHive(const std::string& path, const std::string& name);

// ---- File system --------------------------------------------------------------
// One rule of an access list (file_security.cpp), and the security of a
// file or folder: its owner and access list, SIDs as "S-1-..." texts.
struct SimAce {
  bool allow = true;
  BYTE flags = 0;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, INHERIT_ONLY_ACE, ...
  DWORD mask = 0;
  std::string sid;
};
struct SimSecurity {
  std::string owner;
  bool protectedDacl = false;  // nothing inherited from the folder above
  bool nullDacl = false;       // no access list at all: everyone has every right
  std::vector<SimAce> dacl;
};


// Names are held as UTF-8 (the map keys and FsNode::name). The "A" calls
// convert what they are given from the ANSI code page and hand listings back
// through it (with Windows' best fit, so "x／．．" is listed as "x/.."); the
// wide and native calls see the names whole.
struct FsNode {
  std::string name;  // as created; lookups ignore case
  DWORD attributes = FILE_ATTRIBUTE_ARCHIVE;  // FILE_ATTRIBUTE_DIRECTORY for folders
  std::string content;
  std::string shortName;  // 8.3 alias, matched by wildcards as Windows does; may be empty
  // The entries of a folder, by name. An entry holds its node jointly with the
  // handles open on it: a node that leaves its folder (deleted, replaced)
  // lives on while a handle holds it, as a file object does on Windows. Two
  // entries may hold one file node (hard links).
  std::map<std::string, std::shared_ptr<FsNode>, NoCaseLess> children;
  bool inUse = false;        // held open without delete sharing: DeleteFileA fails with 32
  // Its ACL denies administrators: opening, searching, attribute changes and
  // deletion fail with 5. cacls can rewrite the ACL only when the file is not
  // owned by another account (foreignOwner), which takeown changes.
  bool denyAccess = false;
  bool foreignOwner = false;  // owned by SYSTEM/TrustedInstaller rather than Administrators
  // Reparse point (junction or symbolic link) target, absolute. A link found by
  // a search carries FILE_ATTRIBUTE_REPARSE_POINT; RemoveDirectoryA (directory
  // links) and DeleteFileA (file links) remove the link itself, never the target.
  std::string linkTarget;
  bool deletePending = false;  // a disposition without POSIX semantics: gone when its last handle closes
  // Its own security, as CreateDirectoryA with a descriptor or SetSecurity
  // gave it; null: inherited from its folder (see file_security.cpp).
  std::shared_ptr<const SimSecurity> security;
  // The names the file has (nNumberOfLinks) beyond the entries that hold it
  // (MakeHardLink): at least that many are reported.
  DWORD hardLinks = 1;
  bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

struct FileSystemState {
  std::map<char, std::shared_ptr<FsNode>> drives;  // key: upper-case drive letter
  int openSearches = 0;  // FindFirstFileA handles not yet closed with FindClose
  // Called at the points where another process could change the file system
  // under the program, with the full path concerned (UTF-8):
  //   "listed"   a directory's listing has just been taken (NtQueryDirectoryFile,
  //              GetFileInformationByHandleEx, FindFirstFile);
  //   "opening"  a name is about to be opened (the wide and native calls);
  //   "deleting" a deletion by handle is about to take effect.
  // A test swaps an entry there (ReplaceByLink, ReplaceByHardLink) to play the
  // racing user. Calls made from inside the hook do not call it again.
  std::function<void(const std::string& event, const std::string& path)> hook;
  // FileDispositionInformationEx (POSIX semantics, ignoring read-only) is
  // understood: Windows 10 1809 and later on NTFS. Without it the call fails
  // with STATUS_INVALID_INFO_CLASS, as on older versions.
  bool dispositionEx = true;
  // Runs when CreateFileA has made a new file, before it returns: what another
  // process could do to the file in that moment (link it, for one).
  std::function<void(const std::string& path, FsNode& file)> afterCreate;
};

// Control functions: absolute paths "X:\\a\\b" in the ANSI code page, or
// UTF-16 for names outside it. Missing parent folders are created.
FsNode& MakeDirectory(const std::string& path);
FsNode& MakeDirectory(const std::u16string& path);
FsNode& MakeFile(const std::string& path, const std::string& content = "",
                 DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
FsNode& MakeFile(const std::u16string& path, const std::string& content = "",
                 DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
// A junction or directory symbolic link (directory = true, attributes 0x410) or
// a file symbolic link (0x420) at path, pointing at target. Whatever stood at
// path before is replaced (handles open on it keep the old node).
FsNode& MakeLink(const std::string& path, const std::string& target, bool directory);
FsNode& MakeLink(const std::u16string& path, const std::u16string& target, bool directory);
// A second name for an existing file: both entries hold the same node.
FsNode& MakeHardLink(const std::string& path, const std::string& existingFile);
// What a racing user does: the entry at path (which must exist) is taken away
// and a link (or a hard link to existingFile) put in its place. False, with
// nothing changed, when the entry is held open without delete sharing (its
// rename or deletion would be refused).
bool ReplaceByLink(const std::string& path, const std::string& target, bool directory);
bool ReplaceByHardLink(const std::string& path, const std::string& existingFile);
FsNode* FindNode(const std::string& path);
FsNode* FindNode(const std::u16string& path);
bool PathExists(const std::string& path);
bool PathExists(const std::u16string& path);
std::string ReadFileText(const std::string& path);  // "" when missing
// Every node under a folder as "relative\\path attrs content-size" lines
// (names in UTF-8), sorted.
std::vector<std::string> DumpTree(const std::string& path);
// Handles open on files and folders (CreateFile, NtCreateFile) not yet closed.
size_t OpenFileHandles();
// A node's own security from SDDL text ("O:BAD:P(A;OICI;FA;;;SY)"; the
// aliases SY, BA, BU, AU, WD, CO, CG, OW and "S-1-..." SIDs are known), and
// its effective security (inheritance applied) as SDDL with SIDs and hex masks.
void SetSecurity(const std::string& path, const std::string& sddl);
std::string SecurityText(const std::string& path);
// cmd.exe as the program drives it: "/c" with takeown /F, cacls .. /g, attrib
// -r -h -a -s and del /q acting on the simulated files (installed by ResetMachine;
// call again to restore it after a test replaced the behaviour).
void InstallCommandInterpreter();

// ---- Processes and child runs --------------------------------------------------------
struct ChildRun {
  std::string commandLine;    // as passed to CreateProcessA
  std::string program;        // resolved full path of the program run ("" when not found)
  std::string applicationName;  // lpApplicationName, "(null)" when null
  DWORD creationFlags = 0;
  DWORD timeoutMs = 0;        // what the caller then waited for (INFINITE when no time-out)
  bool waited = false;
  bool inheritHandles = false;
  std::string currentDirectory;  // the directory the child started in
  bool started = false;
  DWORD pid = 0;              // the child's process id once started
};

// What a program does when run (by CreateProcessA or the runtime's spawn, which
// hands it a ChildRun too): it may act on the machine (add a window, a file),
// and tell whether it is still running when the caller's wait ends.
struct ChildOutcome {
  bool keepsRunning = false;  // outlives any time-out
  DWORD exitCode = 0;
};
using ProgramBehaviour = std::function<ChildOutcome(const ChildRun& run)>;

// One process of the machine. A child joins the list when it starts; one that
// ends (within a wait, or terminated) stays in it with running == false, and
// such an exited process is no longer listed or opened by pid. A child that
// outlives its wait stays running.
struct SimProcess {
  DWORD pid = 0;
  std::string imageName;  // base name of its executable, e.g. "pyxMon.exe"
  std::string owner = "User";
  bool running = true;
  // A process of another owner than TokenState::user, or one that needs the debug
  // privilege, opens only while SeDebugPrivilege is enabled in the thread's
  // effective token (the impersonation token if any, else the process token).
  bool isProtected = false;       // OpenProcess refused (ERROR_ACCESS_DENIED)
  bool needsDebugPrivilege = false;  // opened only by a token with SeDebugPrivilege enabled
  bool refuseTerminate = false;   // TerminateProcess fails with ERROR_ACCESS_DENIED
  DWORD exitCode = STILL_ACTIVE;
};

struct ProcessState {
  std::vector<SimProcess> processes;  // in the order EnumProcesses delivers them
  DWORD nextPid = 1000;
  std::vector<ChildRun> runs;         // every CreateProcessA call, in order
  std::vector<std::string> spawns;    // every _spawnlp: the resolved path, or the name when not found
  // Behaviours by program base name (case-insensitive), e.g. "drvmanage.exe".
  std::map<std::string, ProgramBehaviour, NoCaseLess> behaviours;
  // Runs after every EnumProcesses call, so a test can change the list between
  // two listings. Trace of the process list: "terminate: <image name>".
  std::function<void()> afterEnumProcesses;
};

// Registers what a program does when run; the program file must also exist for
// CreateProcessA to find it (MakeFile).
void SetProgramBehaviour(const std::string& baseName, ProgramBehaviour behaviour);
DWORD AddProcess(const std::string& imageName, const std::string& owner = "User");
SimProcess* FindProcess(DWORD pid);
std::vector<std::string> RunningImageNames();

// ---- Services -------------------------------------------------------------------
// A service of the service control manager. DeleteService marks it deleted:
// from then on OpenServiceA no longer finds it (the entry stays for tests).
struct SimService {
  std::string name;
  bool running = true;
  bool deleted = false;
  bool refuseOpen = false;      // OpenServiceA fails with ERROR_ACCESS_DENIED
  std::vector<DWORD> controls;  // controls received (ControlService), in order
};

struct ServiceState {
  std::map<std::string, SimService, NoCaseLess> services;
  bool refuseManager = false;  // OpenSCManagerA fails with ERROR_ACCESS_DENIED
};

// Adds a running service.
SimService& AddService(const std::string& name);

// ---- Driver store ---------------------------------------------------------------
// Driver packages as Windows keeps them since Vista: the package whole in the
// store's FileRepository folder, published in the INF directory under a
// generated oemNN.inf name with its oemNN.PNF (AddDriverPackage makes all of
// them). SetupUninstallOEMInfA removes a package by its published name: the
// published INF, its PNF and the store folder.
struct DriverPackage {
  std::string publishedName;  // "oem12.inf"
  std::string storeFolder;    // full path of its FileRepository folder
  // Devices were installed with it: refused with ERROR_INF_IN_USE_BY_DEVICES
  // unless SUOI_FORCEDELETE is given.
  bool inUse = false;
  DWORD refuseError = 0;  // when non-zero, every removal fails with it
  bool removed = false;
};

struct DriverStoreState {
  std::deque<DriverPackage> packages;  // a deque: references stay valid as packages are added
  // GetProcAddress does not find SetupUninstallOEMInfA (as before Windows XP,
  // which the system version also gives).
  bool uninstallEntryMissing = false;
};

// Publishes a package: <windows>\inf\<publishedName> holding infText, its PNF,
// and <system32>\DriverStore\FileRepository\<originalName>_amd64_<n>\ with the
// original INF and its catalogue.
DriverPackage& AddDriverPackage(const std::string& publishedName, const std::string& originalName,
                                const std::string& infText);
DriverPackage* FindDriverPackage(const std::string& publishedName);

// ---- Tokens and privileges -------------------------------------------------------
// The program's process token, and the impersonation token that ImpersonateSelf
// gives its one thread (a copy of the process token, privileges as they stand).
// Token handles opened on the thread token keep seeing that token after
// RevertToSelf, detached from the thread, as on Windows.
// Trace: "impersonate-self", "revert-to-self".
struct TokenState {
  std::string user = "User";  // the account the program runs under (see SimProcess::owner)
  std::string userSid = "S-1-5-21-1004336348-1177238915-682003330-1001";  // its SID (TokenUser)
  // Privileges the process token holds, by name, with their enabled state.
  std::map<std::string, bool, NoCaseLess> processPrivileges = {
      {"SeDebugPrivilege", false}, {"SeShutdownPrivilege", false},
      {"SeBackupPrivilege", false}, {"SeRestorePrivilege", false}, {"SeTakeOwnershipPrivilege", false}};
  bool threadImpersonating = false;
  SECURITY_IMPERSONATION_LEVEL threadLevel = SecurityImpersonation;
  std::map<std::string, bool, NoCaseLess> threadPrivileges;  // the impersonation token's
  bool failImpersonateSelf = false;                   // ImpersonateSelf fails with ERROR_ACCESS_DENIED
  bool failOpenThreadTokenAfterImpersonation = false;  // opening an existing thread token: ERROR_ACCESS_DENIED
  DWORD openThreadTokenError = 0;  // when non-zero, OpenThreadToken fails with it
  bool failOpenProcessToken = false;                  // ERROR_ACCESS_DENIED
  bool failRevertToSelf = false;                      // ERROR_ACCESS_DENIED
};

// ---- Windows, progress bar, message boxes, restart ----------------------------------
struct SimWindow {
  HWND handle = nullptr;
  std::string className;
  std::string title;
  DWORD style = 0;
  DWORD exStyle = 0;
  int x = 0, y = 0, width = 0, height = 0;
  HWND parent = nullptr;
  HINSTANCE instance = nullptr;
  bool visible = false;
  bool destroyed = false;
  int rangeMin = 0, rangeMax = 100, stepSize = 10, position = 0;  // progress bars
  // Foreign windows (other programs') answer messages through this.
  std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)> onMessage;
  // Its thread answers no message: SendMessageA to it would wait for ever
  // (the simulation notes it in UiState::waitedForEver and goes on),
  // SendMessageTimeoutA gives up at its time-out.
  bool hung = false;
  std::vector<std::string> messages;  // "msg wParam lParam" as received, in order
};

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT type = 0;
  int answer = IDOK;
};

struct UiState {
  std::vector<SimWindow> windows;
  bool commonControlsInitialised = false;
  bool failCreateWindow = false;
  std::deque<int> messageBoxAnswers;  // taken in order; IDOK when empty
  std::vector<MessageBoxCall> messageBoxes;
  std::vector<std::pair<UINT, DWORD>> exitWindowsCalls;  // flags, reason
  bool failExitWindows = false;
  // Runs inside ExitWindowsEx, before it returns: a forced restart may end the
  // program at that point, so this shows what the machine holds by then.
  std::function<void()> onExitWindows;
  // The process's window station has visible display surfaces (WSF_VISIBLE):
  // false for a service, session 0 or a remote shell.
  bool visibleWindowStation = true;
  // Messages sent to a hung window without a time-out: each would have held
  // the program for ever. Trace: "message-hangs: <class> <msg wParam lParam>".
  int waitedForEver = 0;
};

SimWindow* FindSimWindow(HWND window);
// The program's progress window (class "msctls_progress32"), or null.
SimWindow* ProgressWindow();
// Adds a top-level window of another program.
HWND AddForeignWindow(const std::string& className, const std::string& title,
                      std::function<LRESULT(UINT, WPARAM, LPARAM)> onMessage = nullptr);

// ---- Event log, named mutexes, the program file -----------------------------------------
// One event reported through ReportEventA. Trace: "event: <source> <type> <id>".
struct SimEvent {
  std::string source;
  WORD type = 0;
  DWORD eventId = 0;
  std::vector<std::string> strings;
};

struct EventLogState {
  std::vector<SimEvent> events;
  bool failRegister = false;  // RegisterEventSourceA fails with ERROR_ACCESS_DENIED
  // Named kernel objects that exist on the machine, e.g. "Global\\_MSIExecute";
  // OpenMutexA opens one, or fails with ERROR_ACCESS_DENIED when it is in refusedMutexes.
  std::set<std::string> mutexes;
  std::set<std::string> refusedMutexes;
  std::string programPath = "C:\\Tools\\CleanLum.exe";  // GetModuleFileNameA(nullptr, ...)
};

// ---- DLL loading (loader.cpp) -----------------------------------------------------------
// LoadLibraryA finds the simulated system modules under any folder, unless a
// module is listed as missing; GetProcAddress finds the exports that programs
// look up at run time, unless an export is listed as missing (as on a Windows
// older than the call). Trace: "load-library: <name as given>".
struct LoaderState {
  std::vector<std::string> loads;  // every LoadLibraryA name, as given
  std::set<std::string, NoCaseLess> missingModules;  // "comctl32.dll": LoadLibraryA fails (126)
  std::set<std::string> missingExports;              // "SetDefaultDllDirectories"
  DWORD defaultDllDirectories = 0;                   // as SetDefaultDllDirectories last set it
  std::vector<std::string> dllDirectories;           // every SetDllDirectoryA text ("(null)" for null)
  bool cryptoApiWithoutAes = false;  // CryptAcquireContextA knows no PROV_RSA_AES (before XP SP3)
};

// ---- The time zone, the account's elevation, System Restore -----------------------------
// SRSetRestorePointW of srclient.dll, found through LoadLibraryA and
// GetProcAddress like every function looked up at run time (LoaderState's
// missing modules and exports take it away); each call is kept. Trace: "restore-point: <event type> <restore point type> <description>".
struct RestorePointCall {
  DWORD eventType = 0;
  DWORD restorePointType = 0;
  int64_t sequenceNumber = 0;
  std::string description;  // ASCII only
};

struct AdministrationState {
  LONG timeZoneBias = -60;  // UTC = local time + bias (Central European time)
  LONG daylightBias = -60;
  DWORD timeZoneId = TIME_ZONE_ID_STANDARD;
  DWORD threadId = 4242;
  bool elevated = true;            // TokenElevation
  bool elevationUnknown = false;   // GetTokenInformation(TokenElevation) fails, as before Vista
  DWORD restoreStatus = ERROR_SUCCESS;  // what SRSetRestorePointW answers (not ERROR_SUCCESS: it fails)
  int64_t nextSequenceNumber = 71;
  std::vector<RestorePointCall> restoreCalls;
  std::vector<std::string> comCalls;  // "CoInitializeEx", "CoInitializeSecurity", "CoUninitialize"
};

// ---- Faults (faults.cpp) ------------------------------------------------------------------
// Every call of the program that changes the machine is counted, from 1,
// while counting is on: a file or folder deleted or its attributes set, a
// registry key created or deleted, a value set or deleted, a process started
// or terminated, a service controlled or deleted, a driver package removed.
// Each is counted just before it acts, once the call is known to succeed
// (a call that fails by itself changes nothing and is not counted). A test
// makes exactly one of them fail with an error, or ends the program there:
// that call throws ProcessEnded (which is no std::exception, so nothing of
// the program catches it) before it changes anything, and from then on
// nothing the program does reaches the machine (every change and every file
// write fails) until StartNewProcess.
struct FaultState {
  bool counting = false;
  uint64_t calls = 0;   // counted so far
  uint64_t failAt = 0;  // the call that fails (0: none)
  DWORD failError = 0;  // its error; 0: the call's own plausible one
  uint64_t endAt = 0;   // the call at which the program ends (0: none)
  bool ended = false;   // the program has ended: nothing more reaches the machine
  std::vector<std::string> changes;  // "<call> <what>", one line per counted call
  std::string hit;      // the call that failed or ended the program, as in changes
  DWORD hitError = 0;   // the error it failed with
  int inChild = 0;      // a child's behaviour is acting: its changes are its own, not counted
};

// Thrown by the call at FaultState::endAt.
struct ProcessEnded {};

// Told by every machine-changing call just before it acts: 0 to go on, or the
// error to fail with (plausibleError for the call chosen to fail, unless the
// test named another). Throws ProcessEnded at the call chosen to end the program.
DWORD MachineChange(const std::string& call, const std::string& what, DWORD plausibleError);
// True once the program has ended: writes of every kind fail.
bool ProgramEnded();
// A new process of the program on the same machine: the ended one's handles,
// impersonation and windows are gone, and its changes reach the machine again.
void StartNewProcess();

// ---- The machine ------------------------------------------------------------------------
struct Machine {
  SystemState system;
  RegistryState registry;
  FileSystemState files;
  ProcessState processes;
  ServiceState services;
  DriverStoreState driverStore;
  TokenState tokens;
  UiState ui;
  EventLogState eventLog;
  LoaderState loader;
  AdministrationState administration;
  FaultState faults;
  std::vector<std::string> trace;
};

Machine& M();
// Replaces the machine by a fresh default one: Windows in C:\Windows, the
// working directory C:\Tools, an administrator, version 6.2 on AMD64, TEMP set to
// C:\Temp, and the folders C:\Windows\system32, C:\Windows\inf, C:\Temp, C:\Tools
// with cmd.exe in system32 (see InstallCommandInterpreter).
void ResetMachine();

}  // namespace winsim
