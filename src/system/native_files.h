// Files by handle: the native calls under a walk that opens every entry
// relative to its folder's handle, judges it from that handle and deletes it
// by handle, so that no name it meets is ever read as a path.
//
// ntdll's entry points are looked up at run time (every Windows NT version
// has them; a Windows that lacks one gets the walk by path instead), as is
// GetFinalPathNameByHandleW (Vista and later). Results are Win32 error codes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "system/wide_text.h"

// The entry points, looked up afresh for each walk.
struct NativeFileCalls {
  FARPROC createFile = nullptr;
  FARPROC queryDirectory = nullptr;
  FARPROC queryInformation = nullptr;
  FARPROC setInformation = nullptr;
  FARPROC statusToError = nullptr;
  FARPROC finalPath = nullptr;  // GetFinalPathNameByHandleW; null before Vista
  const char* missing = nullptr;  // the first ntdll entry point not found
  // FileDispositionInformationEx was refused as not understood: the ordinary
  // disposition is used for the rest of the walk.
  bool noDispositionEx = false;
};

// Looks the entry points up; false, with calls.missing naming one, when ntdll
// lacks any the walk needs.
bool LoadNativeFileCalls(NativeFileCalls& calls);

// An entry of a folder as its listing shows it. The attributes are a hint for
// how to open it, never the judgement of what it is.
struct NativeEntry {
  WideString name;
  WideString shortName;
  DWORD attributes = 0;
  unsigned long long size = 0;
};

// Opens the file or folder at path (a full path; a "\\?\" path is taken as it
// is) as itself, never what a link there points at.
DWORD OpenPathAsItself(const WideString& path, DWORD access, HANDLE* handle);

// How a child is opened: as a folder (FILE_DIRECTORY_FILE) or as anything but
// a folder (FILE_NON_DIRECTORY_FILE). Either way a link is opened as itself.
enum class OpenAs { File, Folder };
// The error when a child opened as a file is a folder, and the other way round.
const DWORD kErrorIsAFolder = 336;    // ERROR_DIRECTORY_NOT_SUPPORTED
const DWORD kErrorIsNotAFolder = 267;  // ERROR_DIRECTORY

// Opens name, taken as one component, relative to folder; sharing read and
// write but not deletion, so that nobody renames or deletes it while it is held.
DWORD OpenChild(NativeFileCalls& calls, HANDLE folder, const WideString& name, DWORD access, OpenAs as,
                HANDLE* handle);

// The file's attributes and reparse tag (0 for none), read from the handle
// (FILE_READ_ATTRIBUTES).
DWORD QueryAttributeTag(NativeFileCalls& calls, HANDLE file, DWORD* attributes, DWORD* reparseTag);

// How many names the file has (hard links).
DWORD QueryLinkCount(NativeFileCalls& calls, HANDLE file, DWORD* links);

// The next entries of a folder opened with FILE_LIST_DIRECTORY (restart: from
// the first), "." and ".." included as the file system lists them.
// ERROR_NO_MORE_FILES once every entry has been read.
DWORD ReadFolder(NativeFileCalls& calls, HANDLE folder, bool restart, std::vector<NativeEntry>& entries);

// The entry name of a folder as its listing shows it (the name matched
// without regard to case, as one name). ERROR_FILE_NOT_FOUND when there is none.
DWORD ReadEntry(NativeFileCalls& calls, HANDLE folder, const WideString& name, NativeEntry& entry);

// Deletes what the handle holds (opened with DELETE): with POSIX semantics
// where Windows has them, the name goes when the handle closes. evenReadOnly:
// a read-only file or folder goes too (FILE_DISPOSITION_IGNORE_READONLY_ATTRIBUTE,
// or else its read-only attribute cleared through the handle, which needs
// FILE_WRITE_ATTRIBUTES; a file with other names keeps it, and stays).
DWORD DeleteByHandle(NativeFileCalls& calls, HANDLE file, bool evenReadOnly);

// Where the file a handle holds is: "\\?\C:\..." with every link on the way
// resolved. ERROR_PROC_NOT_FOUND where Windows has no GetFinalPathNameByHandleW.
DWORD QueryFinalPath(NativeFileCalls& calls, HANDLE file, WideString& path);

// Whether the owner of what the handle holds (opened with READ_CONTROL) is
// SYSTEM, Administrators, TrustedInstaller or the account this program runs
// as: nobody else can have made or changed it.
DWORD QueryOwnerTrusted(HANDLE file, bool* trusted);

// True when two paths are the same, ignoring case as Windows compares names.
bool SamePathIgnoringCase(const WideString& a, const WideString& b);
