// The walk for files, by handle and in UTF-16.
//
// CleanLum runs elevated, as SYSTEM under every deployment engine, and walks
// folders that standard users can write into. Such a walk must not let three
// things steer it:
// - a name: a listed name joined onto a path can name another place ("x／．．
//   ／．．／victim" read through the code page's best fit is "x/../../victim"),
//   and a name outside the code page cannot be spelled at all;
// - a race: between listing a folder and opening an entry, and between opening
//   it and deleting it, a user can put a link where a folder was;
// - the root: the folder named may lie behind a link, or below a folder some
//   user made.
//
// So the walk:
// - opens the named root once, as itself. Where Windows has
//   GetFinalPathNameByHandleW, the folder opened must be the one meant: its
//   final path equal, ignoring case, to the path made absolute. Every folder
//   above it must be owned by SYSTEM, Administrators, TrustedInstaller or the
//   account running the program (without the final path, none may be a link).
//   Otherwise nothing below it is touched, and the reports say why;
// - lists entries by handle, as UTF-16, and takes each name as one component:
//   it is opened relative to its folder's handle, never joined into a path. A
//   name that cannot be one component (empty, or holding '\', '/' or ':') is
//   left, and the walk stops there. No path below the root is ever built for
//   a call, so Windows alone bounds the depth;
// - opens each entry as itself (FILE_OPEN_REPARSE_POINT) and judges it from
//   that handle: a file is opened as anything but a folder, a folder as a
//   folder with its attribute tag read. A reparse point of any kind is
//   deleted as itself and never entered; a folder is entered through the
//   handle just opened. Entries are held without delete sharing while they
//   are looked at, so that nobody renames them away meanwhile;
// - deletes by handle: with POSIX semantics and ignoring read-only where
//   Windows has them, else with read-only cleared through the handle (a file
//   with other names keeps its attribute, and stays).
// What the program defines stays: names that begin with a dot other than
// ".svn" are left, the first failure ends the walk with its code, and an entry
// that vanished meanwhile counts as deleted. What it tolerates: a user adding
// entries while it runs (they are walked, or the folder's deletion fails).
//
// Where ntdll lacks an entry point the walk needs, the walks by path of
// tree_delete.cpp run instead, and the reports say so (FileWalkByHandle).
#include "files/tree_walk.h"

#include <cstring>

#include "files/drive_path.h"
#include "system/native_files.h"
#include "system/wide_text.h"

namespace {

// A walk's access to the folders it deletes and enters, and to the files it deletes.
const DWORD kFolderAccess = DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
const DWORD kListAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
const DWORD kFileAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
const DWORD kLookAccess = FILE_READ_ATTRIBUTES;

const DWORD kErrorRootElsewhere = 4395;   // ERROR_REPARSE_POINT_ENCOUNTERED
const DWORD kErrorUntrustedOwner = 1307;  // ERROR_INVALID_OWNER

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }
bool IsFolder(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

WideString Text(const char* ascii) { return WideFromAnsi(ascii); }

// "." and "..", and every other dot-name except those beginning with ".svn".
bool IsKeptDotName(const WideString& name) {
  return !name.empty() && name[0] == '.' &&
         !(name.size() >= 4 && name[1] == 's' && name[2] == 'v' && name[3] == 'n');
}

// A name that can only be one component: opened relative to its folder, it
// cannot name another folder's entry or a stream.
bool IsOneComponent(const WideString& name) {
  if (name.empty()) return false;
  for (WCHAR c : name)
    if (c == '\\' || c == '/' || c == ':' || c == 0) return false;
  return true;
}

std::string Utf8(const WideString& text) { return Utf8FromWide(text); }

// The root as opened: its handle, how it is named for calls and for people.
struct Root {
  NativeFileCalls calls;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD deleteError = 0;  // why the root was opened without DELETE (0: with it)
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  std::string display;  // "C:\a\b", UTF-8

  Root() = default;
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;
  ~Root() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

enum class RootState { Opened, NotThere, Refused };

// "\\?\C:\a\b" of a normal drive path ("C:\" for a drive root): taken by the
// calls as it is, whatever its length.
WideString LongPath(const std::string& normal) {
  WideString path = Text("\\\\?\\") + WideFromAnsi(normal.c_str());
  if (normal.size() == 2) path += WCHAR('\\');
  return path;
}

// The folders above a normal path, from the drive root down.
std::vector<std::string> Ancestors(const std::string& normal) {
  std::vector<std::string> out;
  if (normal.size() <= 2) return out;
  out.push_back(normal.substr(0, 2));
  for (size_t slash = normal.find('\\', 3); slash != std::string::npos; slash = normal.find('\\', slash + 1))
    out.push_back(normal.substr(0, slash));
  return out;
}

std::string DisplayOf(const std::string& normal) { return Utf8FromAnsi(normal.size() == 2 ? normal + "\\" : normal); }

std::string ErrorText(DWORD error) { return "error " + std::to_string(error); }

// Judges the folders above the root: owned by a trusted account, and (where
// the final path could not tell) none of them a link.
bool JudgeAncestors(Root& root, const std::string& normal, bool finalPathKnown, WalkRootVerdict& verdict) {
  for (const std::string& ancestor : Ancestors(normal)) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD rc = OpenPathAsItself(LongPath(ancestor), READ_CONTROL | FILE_READ_ATTRIBUTES, &handle);
    bool trusted = false;
    DWORD attributes = 0, tag = 0;
    if (rc == ERROR_SUCCESS) {
      rc = QueryOwnerTrusted(handle, &trusted);
      if (rc == ERROR_SUCCESS && !finalPathKnown) rc = QueryAttributeTag(root.calls, handle, &attributes, &tag);
      CloseHandle(handle);
    }
    if (rc == ERROR_SUCCESS && trusted && tag == 0) continue;
    verdict.refused = true;
    verdict.error = kErrorUntrustedOwner;
    if (rc != ERROR_SUCCESS) {
      verdict.reason = DisplayOf(ancestor) + " on the way cannot be looked at (" + ErrorText(rc) + ")";
    } else if (!trusted) {
      verdict.reason = DisplayOf(ancestor) + " on the way is owned by an account other than SYSTEM, Administrators, "
                       "TrustedInstaller or the one running the program";
    } else {
      verdict.error = kErrorRootElsewhere;
      verdict.reason = DisplayOf(ancestor) + " on the way is a link";
    }
    return false;
  }
  return true;
}

// Opens and judges a walk's root. Opened: root holds it (with DELETE when
// access asks for it and the root grants it, else root.deleteError says why
// not). NotThere: it could not be opened (missing, a file's folder missing,
// denied): a walk has nothing to do. Refused: verdict says why.
RootState OpenRoot(const char* path, DWORD access, Root& root, WalkRootVerdict& verdict) {
  verdict = WalkRootVerdict();
  std::string normal;
  if (!NormalDrivePath(path, normal)) {
    verdict.refused = true;
    verdict.error = ERROR_INVALID_PARAMETER;
    verdict.reason = "not a plain absolute drive path";
    return RootState::Refused;
  }
  LoadNativeFileCalls(root.calls);
  root.display = DisplayOf(normal);
  WideString longPath = LongPath(normal);
  DWORD rc = OpenPathAsItself(longPath, access, &root.handle);
  if ((rc == ERROR_ACCESS_DENIED || rc == ERROR_SHARING_VIOLATION) && (access & DELETE)) {
    // Still walked, as before: only its own deletion will fail, with this.
    root.deleteError = rc;
    rc = OpenPathAsItself(longPath, access & ~static_cast<DWORD>(DELETE | FILE_WRITE_ATTRIBUTES), &root.handle);
  }
  if (rc != ERROR_SUCCESS) return RootState::NotThere;
  rc = QueryAttributeTag(root.calls, root.handle, &root.attributes, &root.reparseTag);
  if (rc != ERROR_SUCCESS) return RootState::NotThere;

  WideString finalPath;
  rc = QueryFinalPath(root.calls, root.handle, finalPath);
  bool finalPathKnown = rc == ERROR_SUCCESS;
  if (finalPathKnown && !SamePathIgnoringCase(finalPath, longPath)) {
    std::string where = Utf8(finalPath);
    if (where.compare(0, 4, "\\\\?\\") == 0) where = where.substr(4);
    verdict.refused = true;
    verdict.error = kErrorRootElsewhere;
    verdict.reason = root.display + " leads to " + where;
    return RootState::Refused;
  }
  if (!finalPathKnown && rc != ERROR_PROC_NOT_FOUND) {
    verdict.refused = true;
    verdict.error = kErrorRootElsewhere;
    verdict.reason = "where " + root.display + " leads cannot be told (" + ErrorText(rc) + ")";
    return RootState::Refused;
  }
  if (!JudgeAncestors(root, normal, finalPathKnown, verdict)) return RootState::Refused;
  // The root as its folder lists it: a link there is a link, whatever the
  // handle shows (a Windows that followed it regardless is not trusted).
  if (normal.size() > 2 && !IsLink(root.attributes)) {
    size_t slash = normal.find_last_of('\\');
    HANDLE parent = INVALID_HANDLE_VALUE;
    NativeEntry listed;
    if (OpenPathAsItself(LongPath(normal.substr(0, slash)), kListAccess, &parent) == ERROR_SUCCESS) {
      bool link = ReadEntry(root.calls, parent, WideFromAnsi(normal.c_str() + slash + 1), listed) == ERROR_SUCCESS &&
                  IsLink(listed.attributes);
      CloseHandle(parent);
      if (link) {
        verdict.refused = true;
        verdict.error = kErrorRootElsewhere;
        verdict.reason = root.display + " is a link, and was opened as what it points at";
        return RootState::Refused;
      }
    }
  }
  return RootState::Opened;
}

// ---- The tree deletion --------------------------------------------------------------

// One folder of the walk: its handle, why it could not be opened for its own
// deletion (0: it was), and what is left of its listing.
struct Level {
  HANDLE handle;
  DWORD deleteError;
  std::vector<NativeEntry> entries;
  size_t next = 0;
  bool listed = false;
  bool done = false;
};

// Opens a child as a folder for the walk: for deletion where it grants that,
// else for listing only (its own deletion then fails with *deleteError).
DWORD OpenFolderChild(NativeFileCalls& calls, HANDLE folder, const WideString& name, HANDLE* handle,
                      DWORD* deleteError) {
  *deleteError = 0;
  DWORD rc = OpenChild(calls, folder, name, kFolderAccess, OpenAs::Folder, handle);
  if (rc == ERROR_ACCESS_DENIED || rc == ERROR_SHARING_VIOLATION) {
    *deleteError = rc;
    rc = OpenChild(calls, folder, name, kListAccess, OpenAs::Folder, handle);
  }
  return rc;
}

DWORD OpenFileChild(NativeFileCalls& calls, HANDLE folder, const WideString& name, HANDLE* handle) {
  DWORD rc = OpenChild(calls, folder, name, kFileAccess, OpenAs::File, handle);
  // A file whose attributes may not be written can still go (unless read-only).
  if (rc == ERROR_ACCESS_DENIED) rc = OpenChild(calls, folder, name, kFileAccess & ~FILE_WRITE_ATTRIBUTES, OpenAs::File, handle);
  return rc;
}

// Deletes one entry of a folder, or opens it as the next level to walk
// (*entered). 0 when it is gone, or the failure's code.
//
// A link is deleted as itself and never entered, whether the listing or the
// handle says it is one; its attributes are never changed (a read-only link
// stays), as an attribute change through a handle that reached the link's
// target would change that. Where the listing said link and the handle opened
// a plain folder (a Windows that followed the link regardless, or a swap),
// the entry is left and the walk stops there.
DWORD DeleteEntry(NativeFileCalls& calls, HANDLE folder, const NativeEntry& entry, Level* entered, bool* descend) {
  *descend = false;
  const bool listedLink = IsLink(entry.attributes);
  bool asFolder = IsFolder(entry.attributes);
  for (int attempt = 0; attempt < 2; ++attempt) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!asFolder) {
      DWORD rc = OpenFileChild(calls, folder, entry.name, &handle);
      if (rc == kErrorIsAFolder) {  // the listing was not what is there now
        asFolder = true;
        continue;
      }
      if (IsMissing(rc)) return 0;  // gone meanwhile
      if (rc != ERROR_SUCCESS) return rc;
      // A file or a file link, never a folder: its deletion takes this name only.
      rc = DeleteByHandle(calls, handle, !listedLink);
      CloseHandle(handle);
      return rc;
    }
    DWORD deleteError = 0;
    DWORD rc = OpenFolderChild(calls, folder, entry.name, &handle, &deleteError);
    if (rc == kErrorIsNotAFolder) {
      asFolder = false;
      continue;
    }
    if (IsMissing(rc)) return 0;
    // A folder that cannot even be listed is left as the walk by path left it:
    // the folder holding it then fails to go.
    if (rc != ERROR_SUCCESS) return listedLink ? rc : 0;
    DWORD attributes = 0, tag = 0;
    rc = QueryAttributeTag(calls, handle, &attributes, &tag);
    if (rc == ERROR_SUCCESS && IsLink(attributes)) {
      // A junction or folder link: deleted as itself, never entered.
      rc = deleteError ? deleteError : DeleteByHandle(calls, handle, false);
      CloseHandle(handle);
      return rc;
    }
    if (rc == ERROR_SUCCESS && listedLink) rc = kErrorRootElsewhere;  // listed as a link, opened as a folder
    if (rc != ERROR_SUCCESS) {
      CloseHandle(handle);
      return rc;
    }
    entered->handle = handle;
    entered->deleteError = deleteError;
    *descend = true;
    return 0;
  }
  return ERROR_INVALID_FUNCTION;  // not reached: the second attempt always returns
}

// Deletes everything below the folder held by root, then the folder itself
// (with the error it could not be opened for that with, if any). Every
// handle of the walk is closed before it returns, root's included.
DWORD DeleteBelow(NativeFileCalls& calls, HANDLE root, DWORD rootDeleteError) {
  std::vector<Level> stack;
  stack.push_back(Level{root, rootDeleteError, {}, 0, false, false});
  DWORD result = 0;
  while (!stack.empty() && result == 0) {
    Level& level = stack.back();
    if (level.next == level.entries.size()) {
      if (!level.done) {
        DWORD rc = ReadFolder(calls, level.handle, !level.listed, level.entries);
        level.listed = true;
        level.next = 0;
        if (rc == ERROR_NO_MORE_FILES) {
          level.done = true;
          level.entries.clear();
        } else if (rc != ERROR_SUCCESS) {
          result = rc;
        }
        continue;
      }
      result = level.deleteError ? level.deleteError : DeleteByHandle(calls, level.handle, true);
      CloseHandle(level.handle);
      stack.pop_back();
      continue;
    }
    const NativeEntry& entry = level.entries[level.next++];
    if (IsKeptDotName(entry.name)) continue;
    if (!IsOneComponent(entry.name)) {
      result = ERROR_INVALID_NAME;  // left: it cannot be opened as itself
      break;
    }
    Level entered{INVALID_HANDLE_VALUE, 0, {}, 0, false, false};
    bool descend = false;
    result = DeleteEntry(calls, level.handle, entry, &entered, &descend);
    if (descend) stack.push_back(std::move(entered));
  }
  for (const Level& level : stack) CloseHandle(level.handle);
  return result;
}

// ---- Patterns ------------------------------------------------------------------------

WCHAR FoldAscii(WCHAR c) { return (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - 'a' + 'A') : c; }

// Windows' wildcard match of a file search: '*' any run, '?' one character
// (none before a dot or at the end), case-insensitive for the ASCII letters
// the patterns are written in; "*.*" and "*" match every name, "x.*" also "x".
bool Match(const WCHAR* p, const WCHAR* pe, const WCHAR* n, const WCHAR* ne) {
  while (p < pe) {
    if (*p == '*') {
      while (p < pe && *p == '*') ++p;
      if (p == pe) return true;
      for (const WCHAR* s = n; s < ne; ++s)
        if (Match(p, pe, s, ne)) return true;
      return Match(p, pe, ne, ne);
    }
    if (*p == '?') {
      if (n < ne && *n != '.') ++n;
      ++p;
      continue;
    }
    if (*p == '.' && n == ne) {
      const WCHAR* rest = p + 1;
      while (rest < pe && (*rest == '*' || *rest == '?')) ++rest;
      return rest == pe;
    }
    if (n == ne || FoldAscii(*p) != FoldAscii(*n)) return false;
    ++p;
    ++n;
  }
  return n == ne;
}

bool Matches(const WideString& pattern, const NativeEntry& entry) {
  if (pattern == Text("*.*") || pattern == Text("*")) return true;
  const WCHAR* p = pattern.data();
  if (Match(p, p + pattern.size(), entry.name.data(), entry.name.data() + entry.name.size())) return true;
  return !entry.shortName.empty() &&
         Match(p, p + pattern.size(), entry.shortName.data(), entry.shortName.data() + entry.shortName.size());
}

// Calls visit for every entry of the folder held by handle, "." and ".."
// left out; stops when it returns false. The listing's first error other
// than the end, or 0.
template <typename Visit>
DWORD ForEachEntry(NativeFileCalls& calls, HANDLE handle, Visit visit) {
  std::vector<NativeEntry> entries;
  for (bool restart = true;; restart = false) {
    DWORD rc = ReadFolder(calls, handle, restart, entries);
    if (rc == ERROR_NO_MORE_FILES) return 0;
    if (rc != ERROR_SUCCESS) return rc;
    for (const NativeEntry& entry : entries) {
      if (entry.name == Text(".") || entry.name == Text("..")) continue;
      if (!visit(entry)) return 0;
    }
  }
}

// A path for people below a root's display path.
std::string Below(const std::string& folder, const WideString& name) {
  return folder + (folder.empty() || folder.back() == '\\' ? "" : "\\") + Utf8(name);
}

}  // namespace

// ---- The interface -----------------------------------------------------------------------

bool FileWalkByHandle(std::string* why) {
  NativeFileCalls calls;
  if (LoadNativeFileCalls(calls)) return true;
  if (why)
    *why = std::string("ntdll has no ") + calls.missing +
           "; names the code page cannot spell and paths longer than 259 characters cannot be removed";
  return false;
}

WalkRootVerdict JudgeWalkRoot(const char* path) {
  Root root;
  WalkRootVerdict verdict;
  OpenRoot(path, kListAccess, root, verdict);
  return verdict;
}

DWORD DeleteTreeByHandle(const char* path) {
  Root root;
  WalkRootVerdict verdict;
  switch (OpenRoot(path, kFolderAccess, root, verdict)) {
    case RootState::NotThere: return 0;  // missing, or the search could not start
    case RootState::Refused: return verdict.error;
    case RootState::Opened: break;
  }
  if (!IsFolder(root.attributes)) return 0;  // a file, as for any file path
  if (IsLink(root.attributes))  // the named folder is itself a link: only the link goes
    return root.deleteError ? root.deleteError : DeleteByHandle(root.calls, root.handle, false);
  HANDLE handle = root.handle;
  root.handle = INVALID_HANDLE_VALUE;  // the walk closes it
  return DeleteBelow(root.calls, handle, root.deleteError);
}

void DeleteMatchesByHandle(const char* directory, const char* pattern, bool clearReadOnly, MatchLeftSink left,
                           void* context) {
  Root root;
  WalkRootVerdict verdict;
  if (OpenRoot(directory, kListAccess, root, verdict) != RootState::Opened) return;
  if (!IsFolder(root.attributes) || IsLink(root.attributes)) return;
  WideString wildcard = WideFromAnsi(pattern);
  if (wildcard.empty()) return;
  ForEachEntry(root.calls, root.handle, [&](const NativeEntry& entry) {
    // Folders (and links to them) are not files: they stay.
    if (IsFolder(entry.attributes) || !Matches(wildcard, entry) || !IsOneComponent(entry.name)) return true;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD rc = OpenChild(root.calls, root.handle, entry.name, DELETE | FILE_READ_ATTRIBUTES, OpenAs::File, &file);
    if (rc == ERROR_SUCCESS) {
      // Attributes untouched unless asked: a read-only match stays.
      rc = DeleteByHandle(root.calls, file, clearReadOnly);
      CloseHandle(file);
    }
    if (rc != ERROR_SUCCESS && !IsMissing(rc) && left)
      left(Utf8FromWide(WideFromAnsi(directory) + Text("\\") + entry.name).c_str(), rc, context);
    return true;
  });
}

// The folder of a file path and the file's name in it; false for a path
// without both.
static bool SplitFilePath(const char* path, std::string& folder, WideString& name) {
  const char* slash = path ? std::strrchr(path, '\\') : nullptr;
  if (!slash || !slash[1]) return false;
  folder.assign(path, static_cast<size_t>(slash - path));
  if (folder.size() == 2) folder += '\\';
  name = WideFromAnsi(slash + 1);
  return true;
}

DWORD DeleteFileByHandle(const char* path) {
  std::string folder;
  WideString name;
  if (!SplitFilePath(path, folder, name) || !IsOneComponent(name)) return ERROR_INVALID_NAME;
  Root root;
  WalkRootVerdict verdict;
  switch (OpenRoot(folder.c_str(), kListAccess, root, verdict)) {
    case RootState::NotThere: return 0;
    case RootState::Refused: return verdict.error ? verdict.error : ERROR_ACCESS_DENIED;
    case RootState::Opened: break;
  }
  if (!IsFolder(root.attributes) || IsLink(root.attributes)) return ERROR_ACCESS_DENIED;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD rc = OpenChild(root.calls, root.handle, name, DELETE | FILE_READ_ATTRIBUTES, OpenAs::File, &file);
  if (rc != ERROR_SUCCESS) return IsMissing(rc) ? 0 : rc;
  rc = DeleteByHandle(root.calls, file, false);
  CloseHandle(file);
  return IsMissing(rc) ? 0 : rc;
}

ProtectedFile DeleteProtectedFileByHandle(const char* path) {
  // The file is opened relative to its folder, the walk's root.
  std::string folder;
  WideString name;
  if (!SplitFilePath(path, folder, name)) return ProtectedFile::Refused;
  Root root;
  WalkRootVerdict verdict;
  switch (OpenRoot(folder.c_str(), kListAccess, root, verdict)) {
    case RootState::NotThere: return ProtectedFile::Missing;
    case RootState::Refused: return ProtectedFile::Refused;
    case RootState::Opened: break;
  }
  if (!IsOneComponent(name) || !IsFolder(root.attributes) || IsLink(root.attributes)) return ProtectedFile::Refused;

  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD rc = OpenFileChild(root.calls, root.handle, name, &file);
  bool canDelete = rc == ERROR_SUCCESS;
  if (!canDelete) {
    if (IsMissing(rc)) return ProtectedFile::Missing;
    if (rc == kErrorIsAFolder) return ProtectedFile::Refused;  // del given a folder deletes its files
    // Denied: looked at with the right to read attributes only, which the
    // folder grants, to judge it before any command acts on it.
    rc = OpenChild(root.calls, root.handle, name, kLookAccess, OpenAs::File, &file);
    if (IsMissing(rc)) return ProtectedFile::Missing;
    if (rc != ERROR_SUCCESS) return ProtectedFile::Refused;
  }
  DWORD attributes = 0, tag = 0, links = 1;
  rc = QueryAttributeTag(root.calls, file, &attributes, &tag);
  if (rc == ERROR_SUCCESS) rc = QueryLinkCount(root.calls, file, &links);
  // A link as the folder lists it is a link, whatever the handle shows.
  NativeEntry listed;
  if (rc == ERROR_SUCCESS && ReadEntry(root.calls, root.handle, name, listed) == ERROR_SUCCESS)
    attributes |= listed.attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  ProtectedFile outcome = ProtectedFile::NeedsCommands;
  if (rc != ERROR_SUCCESS) {
    outcome = ProtectedFile::Refused;
  } else if (IsLink(attributes) || links > 1) {
    // takeown, cacls and attrib would act on the link's target, or on the
    // file this name shares with others: only this name goes, or nothing.
    bool gone = canDelete && DeleteByHandle(root.calls, file, !IsLink(attributes)) == ERROR_SUCCESS;
    outcome = gone ? ProtectedFile::Deleted : ProtectedFile::Refused;
  } else if (canDelete && DeleteByHandle(root.calls, file, true) == ERROR_SUCCESS) {
    outcome = ProtectedFile::Deleted;
  }
  CloseHandle(file);
  return outcome;
}

// ---- Looks ---------------------------------------------------------------------------------

PathLook LookAtPath(const std::string& utf8Path) {
  PathLook look;
  std::string ansi;
  WideString wide = WideFromUtf8(utf8Path);
  std::string normal;
  // The path as the walks name it: judged as a drive path where the code
  // page spells it, else taken as it was read (a listed name's path).
  if (AnsiFromUtf8Exactly(utf8Path, ansi) && NormalDrivePath(ansi.c_str(), normal)) {
    wide = LongPath(normal);
  } else if (wide.size() > 2 && wide[1] == ':') {
    wide = Text("\\\\?\\") + wide;
  } else {
    look.present = false;
    return look;
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD rc = OpenPathAsItself(wide, kLookAccess, &handle);
  if (rc != ERROR_SUCCESS) {
    look.present = !IsMissing(rc) && rc != ERROR_INVALID_NAME;
    look.error = look.present ? rc : 0;
    return look;
  }
  NativeFileCalls calls;
  DWORD attributes = 0, tag = 0;
  if (LoadNativeFileCalls(calls)) {
    rc = QueryAttributeTag(calls, handle, &attributes, &tag);
  } else {
    BY_HANDLE_FILE_INFORMATION information;
    rc = GetFileInformationByHandle(handle, &information) ? ERROR_SUCCESS : GetLastError();
    attributes = information.dwFileAttributes;
  }
  CloseHandle(handle);
  look.present = true;
  look.error = rc;
  look.link = IsLink(attributes);
  look.folder = IsFolder(attributes) && !look.link;
  return look;
}

std::string FileDeletionBlocker(const std::string& utf8Path) {
  WideString wide = WideFromUtf8(utf8Path);
  if (wide.size() < 3 || wide[1] != ':') return "";
  wide = Text("\\\\?\\") + wide;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD rc = OpenPathAsItself(wide, kLookAccess, &handle);
  if (rc != ERROR_SUCCESS) return "";
  BY_HANDLE_FILE_INFORMATION information;
  bool readOnly = GetFileInformationByHandle(handle, &information) &&
                  (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
  CloseHandle(handle);
  if (readOnly) return "read-only";
  rc = OpenPathAsItself(wide, DELETE, &handle);
  if (rc == ERROR_SUCCESS) {
    CloseHandle(handle);
    return "";
  }
  if (rc == ERROR_SHARING_VIOLATION) return "in use";
  if (rc == ERROR_ACCESS_DENIED) return "access denied";
  return "";
}

namespace {

// Walks a folder's tree for looking, depth first with an explicit stack:
// visit(entry, folder path for people, folder handle) is called for every
// entry; a folder that is not a link is entered when it returns true.
// Returns false when visit stopped the walk.
template <typename Visit>
void LookBelow(NativeFileCalls& calls, HANDLE root, const std::string& rootDisplay, Visit visit) {
  struct Folder {
    HANDLE handle;
    std::string display;
    std::vector<NativeEntry> entries;
    size_t next;
    bool listed;
    bool done;
  };
  std::vector<Folder> stack;
  stack.push_back(Folder{root, rootDisplay, {}, 0, false, false});
  bool stopped = false;
  while (!stack.empty() && !stopped) {
    Folder& folder = stack.back();
    if (folder.next == folder.entries.size()) {
      DWORD rc = folder.done ? ERROR_NO_MORE_FILES : ReadFolder(calls, folder.handle, !folder.listed, folder.entries);
      folder.listed = true;
      folder.next = 0;
      if (rc != ERROR_SUCCESS) {
        if (stack.size() > 1) CloseHandle(folder.handle);
        stack.pop_back();
      }
      continue;
    }
    NativeEntry entry = folder.entries[folder.next++];
    if (entry.name == Text(".") || entry.name == Text("..")) continue;
    HANDLE handle = folder.handle;
    std::string display = folder.display;
    int verdict = visit(entry, display, handle);  // 0 stop, 1 go on, 2 enter
    if (verdict == 0) {
      stopped = true;
      break;
    }
    if (verdict != 2 || !IsFolder(entry.attributes) || IsLink(entry.attributes) || !IsOneComponent(entry.name))
      continue;
    HANDLE child = INVALID_HANDLE_VALUE;
    if (OpenChild(calls, handle, entry.name, kListAccess, OpenAs::Folder, &child) != ERROR_SUCCESS) continue;
    DWORD attributes = 0, tag = 0;
    if (QueryAttributeTag(calls, child, &attributes, &tag) != ERROR_SUCCESS || IsLink(attributes)) {
      CloseHandle(child);
      continue;
    }
    stack.push_back(Folder{child, Below(display, entry.name), {}, 0, false, false});
  }
  for (size_t i = 1; i < stack.size(); ++i) CloseHandle(stack[i].handle);
}

}  // namespace

void CountTree(const char* path, unsigned long long& files, unsigned long long& bytes) {
  Root root;
  WalkRootVerdict verdict;
  if (OpenRoot(path, kListAccess, root, verdict) != RootState::Opened) return;
  if (!IsFolder(root.attributes) || IsLink(root.attributes)) return;
  LookBelow(root.calls, root.handle, root.display, [&](const NativeEntry& entry, const std::string&, HANDLE) {
    if (IsFolder(entry.attributes) && !IsLink(entry.attributes)) return 2;
    ++files;
    bytes += entry.size;
    return 1;
  });
}

bool FindBlockedEntry(const char* folder, std::string& path, std::string& reason) {
  Root root;
  WalkRootVerdict verdict;
  if (OpenRoot(folder, kListAccess, root, verdict) != RootState::Opened) return false;
  if (!IsFolder(root.attributes) || IsLink(root.attributes)) return false;
  bool found = false;
  LookBelow(root.calls, root.handle, root.display,
            [&](const NativeEntry& entry, const std::string& display, HANDLE handle) {
              if (!IsOneComponent(entry.name)) {
                path = Below(display, entry.name);
                reason = "named so that it cannot be opened by itself";
                found = true;
                return 0;
              }
              if (IsFolder(entry.attributes) && !IsLink(entry.attributes)) return 2;
              HANDLE file = INVALID_HANDLE_VALUE;
              DWORD rc = OpenChild(root.calls, handle, entry.name, DELETE | FILE_READ_ATTRIBUTES, OpenAs::File, &file);
              if (rc == ERROR_SUCCESS) {
                CloseHandle(file);
                return 1;
              }
              if (IsMissing(rc)) return 1;
              path = Below(display, entry.name);
              reason = rc == ERROR_SHARING_VIOLATION ? "in use"
                       : rc == ERROR_ACCESS_DENIED  ? "access denied"
                       : rc == ERROR_INVALID_NAME   ? "named so that it cannot be opened by itself"
                                                    : "not to be opened (Win32 error " + std::to_string(rc) + ")";
              found = true;
              return 0;
            });
  return found;
}

std::vector<std::string> MatchingFiles(const char* folder, const char* pattern) {
  std::vector<std::string> out;
  Root root;
  WalkRootVerdict verdict;
  if (OpenRoot(folder, kListAccess, root, verdict) != RootState::Opened) return out;
  if (!IsFolder(root.attributes) || IsLink(root.attributes)) return out;
  WideString wildcard = WideFromAnsi(pattern);
  if (wildcard.empty()) return out;
  ForEachEntry(root.calls, root.handle, [&](const NativeEntry& entry) {
    if (!IsFolder(entry.attributes) && Matches(wildcard, entry) && IsOneComponent(entry.name))
      out.push_back(Below(root.display, entry.name));
    return true;
  });
  return out;
}
