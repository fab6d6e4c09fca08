// Shared plumbing of the simulated Windows: the handle table and path helpers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "winsim/machine.h"

namespace winsim {

// Process: a child's handle from CreateProcessA; OpenedProcess: a handle from
// OpenProcess (no SYNCHRONIZE right, so it cannot be waited on).
enum class HandleKind {
  Process, Thread, Search, File, Token, Inf, Service, ServiceManager, OpenedProcess, Snapshot, EventSource, Mutex, Console
};

struct HandleEntry {
  HandleKind kind;
  std::shared_ptr<void> object;
};

// Handles are small non-null, non-pseudo values; each kind's object is what
// its area stores (a search's remaining names, a token's owner, ...).
HANDLE AllocHandle(HandleKind kind, std::shared_ptr<void> object);
HandleEntry* LookupHandle(HANDLE handle, HandleKind kind);
HandleEntry* LookupAnyHandle(HANDLE handle);
bool ReleaseHandle(HANDLE handle);
void ResetHandles();
// Forgets every open registry handle (registry.cpp).
void ResetRegistryHandles();

// True when the privilege is enabled in the thread's effective token: its
// impersonation token while it impersonates, else the process token (security.cpp).
bool EffectivePrivilegeEnabled(const std::string& name);

// The object behind the process and thread handles of a child that this
// program started (HandleKind::Process; OpenProcess handles are
// HandleKind::OpenedProcess): its process, what its test behaviour decided
// and, for CreateProcessA, the index of its record in ProcessState::runs.
struct ProcessObject {
  DWORD pid = 0;
  bool hasRun = false;
  size_t runIndex = 0;
  std::string commandLine;
  ChildOutcome outcome;
};

// The run-time exports of loader.cpp that GetProcAddress hands out for module
// (null when none), and whether LoadLibraryA may load the module of that name.
FARPROC FindRuntimeExport(HMODULE module, const char* name);
bool ModuleLoadable(const std::string& name);
// The exports of file_handles.cpp (kernel32) and crypto.cpp (bcrypt.dll).
FARPROC FindFileHandleExport(const std::string& name);
FARPROC FindCngExport(const std::string& name);

// The full path a file handle of CreateFileA was opened with; "" for any other handle (files.cpp).
std::string OpenFilePath(HANDLE handle);
// Security (file_security.cpp): a node's effective security, the one a
// creation descriptor gives a new node, and Windows' own for its folder.
SimSecurity EffectiveSecurity(const std::string& path);
void ApplyCreationSecurity(FsNode& node, const void* descriptor);
void SetWindowsFolderSecurity(const std::string& windowsDirectory);

// The code point of one Windows-1252 byte, and the byte of a code point (-1
// when 1252 has none; with bestFit, Windows' best-fit table is tried too).
unsigned WideOfAnsiByte(unsigned char byte);
int AnsiByteOfCodePoint(unsigned codePoint, bool bestFit);
unsigned UpperCodePoint(unsigned codePoint);

// ---- The file system's handle model (files.cpp) --------------------------------
// A name as listed by a directory query, fixed when the listing is taken.
struct ListedEntry {
  std::string name;  // UTF-8
  std::shared_ptr<FsNode> node;
};

// What a file handle (HandleKind::File) refers to: the node itself, not its
// path, so that a handle keeps acting on what it opened whatever happens to
// the name afterwards.
struct OpenFile {
  std::shared_ptr<FsNode> node;
  std::shared_ptr<FsNode> parent;  // the folder it was opened in; null for a drive root
  std::string name;                // its entry there (UTF-8)
  std::string path;                // the full path it was opened by (UTF-8)
  DWORD access = 0;                // specific rights (generic ones mapped)
  DWORD share = 0;
  bool deleteOnClose = false;      // FILE_FLAG_DELETE_ON_CLOSE
  bool posixDelete = false;        // a POSIX disposition: the name goes when this handle closes
  size_t position = 0;
  bool listed = false;             // a directory query has taken the listing
  std::vector<ListedEntry> listing;
  size_t next = 0;
};

// The open file behind a handle, or null.
OpenFile* FileOfHandle(HANDLE handle);
// Opens node as the file system does for every open call: access and
// sharing checked against the handles already open; ERROR_SUCCESS with
// *handle set, or the Win32 error.
DWORD OpenNode(const std::shared_ptr<FsNode>& node, const std::shared_ptr<FsNode>& parent, const std::string& name,
               const std::string& path, DWORD access, DWORD share, HANDLE* handle);
// Generic rights mapped to the specific rights of files.
DWORD FileAccessOf(DWORD access);
// The entry of parent named name (links not followed), or null.
std::shared_ptr<FsNode> ChildOf(const FsNode& parent, const std::string& name);
// Follows a link node to what it names (a few hops at most); null when the
// target does not exist.
std::shared_ptr<FsNode> FollowLink(const std::shared_ptr<FsNode>& node);
// Resolves a full UTF-8 path: the folder that holds its last component (links
// on the way followed), the node there (null when missing) and its name.
// ERROR_SUCCESS, or ERROR_PATH_NOT_FOUND when a folder on the way is missing.
struct Resolved {
  std::shared_ptr<FsNode> parent;  // null for a drive root
  std::string leaf;
  std::shared_ptr<FsNode> node;
};
DWORD ResolvePath(const std::string& fullUtf8, Resolved* resolved);
// The path of node in the tree (UTF-8, no links on the way), preferring the
// entry name of parent; "" when it is no longer in the tree.
std::string PathOfNode(const FsNode* node, const FsNode* parent = nullptr, const std::string& name = "");
// How many entries hold node (hard links).
DWORD LinkCountOf(const FsNode* node);
// True when node is the program's current directory.
bool IsCurrentDirectory(const FsNode* node);
// The listing of a folder as the search calls give it: "." and ".." (except
// at a drive root), then the entries in name order.
std::vector<ListedEntry> ListFolder(const std::shared_ptr<FsNode>& folder, bool driveRoot);
// Calls FileSystemState::hook, unless a hook is already running.
void FileHook(const char* event, const std::string& path);
// The node a full UTF-8 path names (links on the way followed, the last one not), or null.
FsNode* FindNodeUtf8(const std::string& fullUtf8);
// Full path of a UTF-8 path, against the current directory; "\\?\" paths
// are taken as they are.
std::string FullPathUtf8(const std::string& path);
// UTF-16 text (up to its terminator, or count units) as UTF-8.
std::string Utf8Of(const WCHAR* text, size_t count = static_cast<size_t>(-1));

// The native and by-handle file calls GetProcAddress hands out for module
// ("ntdll.dll", "kernel32.dll"), unless LoaderState::missingExports lists
// them (nt_files.cpp); null for any other name.
FARPROC FindFileExport(const char* module, const char* name);

// Sets the thread's last error and returns the value given (for one-line failures).
template <typename T>
T Fail(DWORD error, T result) {
  M().system.lastError = error;
  return result;
}

// The components of a path between any of the separator characters; empty
// components are dropped.
std::vector<std::string> SplitOn(const std::string& path, const char* separators);
// Splits "C:\\a\\b\\" into {"C:", "a", "b"}; empty components are dropped.
std::vector<std::string> SplitPath(const std::string& path);
// "C:\\a\\..\\b" style paths made absolute against the current directory.
std::string FullPath(const std::string& path);

// The System Restore and COM exports that programs look up at run time, or
// null (administration.cpp).
FARPROC AdministrationExport(bool restoreClient, bool ole32, const char* name);
// GetTokenInformation(TokenElevation) of the process token (administration.cpp).
BOOL TokenElevationInformation(LPVOID information, DWORD length, PDWORD needed);

}  // namespace winsim
