// One walk for files, by handle and in UTF-16: the tree and pattern
// deletions, the forced deletion's own file work and the inventory's looks
// below a folder all go through it. Its security model is written at the top
// of tree_walk.cpp.
//
// Paths handed in are the steps' narrow (ANSI) paths, judged by
// files/drive_path.h as every guard in front of a deletion judges them;
// paths handed out, for the reports, are UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Whether the walk by handle runs on this Windows; when it does not (ntdll
// lacks an entry point it needs), the walks by path run and why is said here.
bool FileWalkByHandle(std::string* why = nullptr);

// What the walks, and the reports, say about a root before going below it:
// refused when it is not the folder that was meant (a link on the way leads
// elsewhere) or a folder on the way there is owned by someone other than
// SYSTEM, Administrators, TrustedInstaller or the account running the program.
struct WalkRootVerdict {
  bool refused = false;
  DWORD error = 0;     // what a walk returns for it
  std::string reason;  // for people, UTF-8
};
WalkRootVerdict JudgeWalkRoot(const char* path);

// The tree deletion below a judged path (see DeleteDirectoryTree): 0 when the
// tree is gone or there was nothing to delete, else the first failure's code.
DWORD DeleteTreeByHandle(const char* path);

// The pattern deletion in one folder (see DeleteFilesByPattern); with
// clearReadOnly a match's read-only attribute is cleared on its handle. Each
// match that stays is told to left (when given) with its path (UTF-8) and error.
typedef void (*MatchLeftSink)(const char* path, DWORD error, void* context);
void DeleteMatchesByHandle(const char* directory, const char* pattern, bool clearReadOnly = false,
                           MatchLeftSink left = nullptr, void* context = nullptr);

// One file deleted as DeleteFileA deletes it (a read-only one stays, a link
// goes as itself), opened relative to its folder, the walk's root: 0 when it
// is gone or was not there, else why it stays.
DWORD DeleteFileByHandle(const char* path);

// The forced deletion's own file work on one file: what became of it.
enum class ProtectedFile {
  Missing,        // nothing there: nothing to do
  Deleted,        // gone by handle
  Refused,        // a folder, a link or a name shared with another file, or a
                  // root that may not be walked: no command may act on it
  NeedsCommands,  // an ordinary file the handle could not delete
};
ProtectedFile DeleteProtectedFileByHandle(const char* path);

// ---- Looks for the inventory (nothing is changed) ---------------------------------

// What is at a path (UTF-8), looked at as itself (a link is not followed).
struct PathLook {
  bool present = false;
  bool folder = false;  // a folder that is not a link
  bool link = false;    // a reparse point of any kind
  DWORD error = 0;      // why it could not be looked at (present with an error)
};
PathLook LookAtPath(const std::string& utf8Path);

// Why the file at a path (UTF-8) could not be deleted, where that can be
// seen: "in use", "access denied", "read-only" or "".
std::string FileDeletionBlocker(const std::string& utf8Path);

// Files and bytes below a folder: links counted as entries, never followed.
void CountTree(const char* path, unsigned long long& files, unsigned long long& bytes);

// The first entry below a folder that shows why a tree deletion stopped
// there: a file in use or denied, or a name that cannot be opened by itself.
// path receives it (UTF-8).
bool FindBlockedEntry(const char* folder, std::string& path, std::string& reason);

// The files of a folder whose names match pattern, as the pattern deletion
// finds them (UTF-8 paths); folders that match are not files.
std::vector<std::string> MatchingFiles(const char* folder, const char* pattern);
