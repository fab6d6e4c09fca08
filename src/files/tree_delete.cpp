// Directory tree and pattern deletion.
//
// Both run the walk by handle of files/tree_walk.h, whose security model is
// written at the top of tree_walk.cpp. On a Windows whose ntdll lacks an entry
// point that walk needs, they run the walks by path kept here, which hold to
// the same rules as far as a path can:
// - Only absolute drive-letter paths below a drive root are accepted. An empty
//   or relative path would make the search start in the current directory or
//   at the root of the current drive, and a drive root is never anyone's
//   private tree; such paths are refused before anything is searched (both walks).
// - Links (junctions, directory and file symbolic links) are never followed:
//   an entry that is a reparse point is removed as itself, without clearing
//   its attributes and without looking behind it, and a tree whose named
//   directory is itself a link loses only that link.
// - A path that does not fit its fixed buffer is never cut short (it would
//   name another file): the walk stops there with ERROR_FILENAME_EXCED_RANGE.
// - Names that begin with a dot are left in place (version-control and tool
//   folders), except Subversion's ".svn" folders; their directory then stays.
// A walk by path cannot tell a name from a path, nor a folder listed from the
// one it then opens: that is what the walk by handle is for.
#include "files/files.h"

#include <cstring>
#include <exception>

#include "files/drive_path.h"
#include "files/tree_walk.h"
#include "run/run_record.h"
#include "system/text.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// True for "X:\" followed by at least one real name, judged as every guard
// in front of a recursive delete judges it (files/drive_path.h): a component
// made only of dots and blanks ("." or "..", which Windows also trims to
// nothing) could lead back to the root or outside the intended folder, and a
// wildcard or stream character names something else, so either disqualifies
// the path.
bool IsAbsolutePathBelowRoot(const char* path) { return IsDrivePathBelowRoot(path); }

// "." and "..", and every other dot-name except those beginning with ".svn".
bool IsKeptDotName(const char* name) {
  return name[0] == '.' && !(name[1] == 's' && name[2] == 'v' && name[3] == 'n');
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// A name as the narrow listing spells it that may be joined onto its folder's
// path: one without a separator, a drive or stream colon, or a wildcard. The
// code page's best fit turns fullwidth and other look-alike characters into
// those ("x／．．" reads "x/.."), and a character it cannot spell at all into
// '?': such a name would name something else, and is left.
bool IsJoinableName(const char* name) {
  for (const char* p = name; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':' || *p == '?' || *p == '*') return false;
  return name[0] != '\0';
}

// Removes a link found where a directory or file was expected, never what it
// points to. 0 or the failure's code.
DWORD RemoveLink(const char* path, DWORD attributes) {
  BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path) : DeleteFileA(path);
  return removed ? 0 : GetLastError();
}

// Deletes a file, or a directory the walk has emptied. Of the attributes only
// read-only stops DeleteFileA and RemoveDirectoryA (hidden, system and the
// rest do not), so the attribute call is made only when the search data shows
// it, or when the deletion is refused with access denied (the attributes may
// have changed since the listing): then as today, clear and delete once more.
// 0 or the failure's code.
DWORD DeleteEntry(const char* path, DWORD attributes, bool directory) {
  bool cleared = false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    if (!SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) return GetLastError();
    cleared = true;
  }
  if (directory ? RemoveDirectoryA(path) : DeleteFileA(path)) return 0;
  DWORD reason = GetLastError();
  if (cleared || reason != ERROR_ACCESS_DENIED) return reason;
  if (!SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL)) return GetLastError();
  return (directory ? RemoveDirectoryA(path) : DeleteFileA(path)) ? 0 : GetLastError();
}

// One level of the walk: the entries of path, then path itself, with the
// attributes the parent's search data gave (none known for the named
// directory). Each level has its own two buffers and search record; the first
// failure ends every level.
DWORD DeleteTreeLevel(const char* path, DWORD attributes = 0) {
  char pattern[MAX_PATH];
  char entryPath[MAX_PATH];
  if (!BuildText(pattern, path, "\\*.*")) return ERROR_FILENAME_EXCED_RANGE;

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;  // missing, a file, or not readable

  DWORD result = 0;
  do {
    const char* name = found.cFileName;
    if (IsKeptDotName(name)) continue;
    if (!IsJoinableName(name)) {
      result = ERROR_INVALID_NAME;
      break;
    }
    if (!BuildText(entryPath, path, "\\", name)) {
      result = ERROR_FILENAME_EXCED_RANGE;
      break;
    }
    DWORD entryAttributes = found.dwFileAttributes;
    if (IsLink(entryAttributes)) {
      result = RemoveLink(entryPath, entryAttributes);
    } else if (entryAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      result = DeleteTreeLevel(entryPath, entryAttributes);
    } else {
      result = DeleteEntry(entryPath, entryAttributes, false);
    }
    if (result != 0) break;
  } while (FindNextFileA(search, &found));

  if (result == 0) {
    DWORD reason = GetLastError();  // why FindNextFileA stopped
    if (reason != ERROR_NO_MORE_FILES) result = reason;
  }
  FindClose(search);
  if (result != 0) return result;

  return DeleteEntry(path, attributes, true);
}

// The walk by path of a tree, for a Windows without the walk by handle.
DWORD DeleteTreeByPath(const char* path) {
  char pattern[MAX_PATH];
  if (!BuildText(pattern, path, "\\*.*")) return ERROR_FILENAME_EXCED_RANGE;

  // The named directory itself may be a link: then only the link goes. It is
  // looked at without trailing separators, which would make it its target.
  char named[MAX_PATH];
  CopyText(named, path);  // fits: the search pattern is longer
  for (size_t end = std::strlen(named); end > 3 && IsSeparator(named[end - 1]); --end)
    named[end - 1] = '\0';
  DWORD attributes = GetFileAttributesA(named);
  if (attributes != INVALID_FILE_ATTRIBUTES && IsLink(attributes)) {
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;  // a file, as for any file path
    return RemoveLink(named, attributes);
  }
  return DeleteTreeLevel(path);
}

// The walk by path of a pattern, for a Windows without the walk by handle.
void DeleteMatchesByPath(const char* directory, const char* pattern, RunRecord* record, const char* step,
                         bool clearReadOnly) {
  char searchPattern[MAX_PATH];
  char entryPath[MAX_PATH];
  if (!BuildText(searchPattern, directory, "\\", pattern)) return;

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(searchPattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    // Directories (and links to them) are not files: they stay.
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!IsJoinableName(found.cFileName)) continue;
    if (!BuildText(entryPath, directory, "\\", found.cFileName)) continue;
    if (clearReadOnly)
      DeleteReadOnlyFileNoted(record, step, entryPath);
    else
      DeleteFileNoted(record, step, entryPath);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

DWORD DeleteDirectoryTree(const char* path) {
  // Guard: never let an empty, relative or root path reach a walk.
  if (!IsAbsolutePathBelowRoot(path)) return ERROR_INVALID_PARAMETER;
  return FileWalkByHandle() ? DeleteTreeByHandle(path) : DeleteTreeByPath(path);
}

void DeleteFilesByPattern(const char* directory, const char* pattern, RunRecord* record, const char* step,
                          bool clearReadOnly) {
  // Guard: an acceptable directory, and a pattern that names entries of that
  // directory only (no separator, no drive or stream part).
  if (!IsAbsolutePathBelowRoot(directory) || !pattern || !pattern[0]) return;
  for (const char* p = pattern; *p; ++p)
    if (IsSeparator(*p) || *p == ':') return;
  if (FileWalkByHandle()) {
    struct Noted {
      RunRecord* record;
      const char* step;
    } noted = {record, step};
    DeleteMatchesByHandle(directory, pattern, clearReadOnly, [](const char* utf8Path, DWORD error, void* context) {
      const Noted& to = *static_cast<const Noted*>(context);
      if (!to.record) return;
      try {
        FailureRecord failure;
        failure.step = to.step ? to.step : "";
        failure.kind = FailureKind::File;
        failure.action = "deleted";
        failure.item = utf8Path;
        failure.error = error;
        to.record->NoteFailure(failure);
      } catch (const std::exception&) {
      }
    }, &noted);
  } else {
    DeleteMatchesByPath(directory, pattern, record, step, clearReadOnly);
  }
}

DWORD DeleteSingleFile(const char* path) {
  // Guard: an acceptable path below a drive root, as for the walks.
  if (!IsAbsolutePathBelowRoot(path)) return ERROR_INVALID_NAME;
  if (FileWalkByHandle()) return DeleteFileByHandle(path);
  if (DeleteFileA(path)) return 0;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
}
