// Forced deletion of one protected file. A missing file starts nothing; a
// present one is first deleted the ordinary way, by handle (files/tree_walk.h),
// and only when that fails through the command interpreter: take ownership,
// grant Administrators full control, clear the attributes, delete. Each
// command runs hidden and is awaited to its end, whatever the one before
// achieved. The commands take the path, so they run only for an ordinary file
// in a folder the walk accepts as its root: never for a folder, a link or a
// name that shares its file with others (each would let them act on something
// that is not the vendor's file).
//
// cmd.exe is started from the system directory by full path. It finds
// takeown, cacls and attrib itself, in its current directory before PATH,
// unless NoDefaultCurrentDirectoryInExePath is set in its environment: the
// variable is set for the four runs, so that a program of one of those names
// in the working directory is never the one run.
#include "files/files.h"
#include "files/tree_walk.h"

#include "run/run_record.h"
#include "system/system.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

struct ForceCommand {
  const char* head;  // up to and including the opening double quote
  const char* tail;  // after the path, from the closing double quote
};

const ForceCommand kForceCommands[] = {
    {"cmd.exe /c takeown /F \"", "\""},
    {"cmd.exe /c cacls \"", "\" /g Administrators:F /Y"},
    {"cmd.exe /c attrib -r -h -a -s \"", "\""},
    {"cmd.exe /c del /q \"", "\""},
};

const char kNoCurrentDirectorySearch[] = "NoDefaultCurrentDirectoryInExePath";

// Sets the variable for the lifetime of the object, unless it is set already
// (only its presence counts), and removes it again afterwards.
class NoCurrentDirectorySearch {
 public:
  NoCurrentDirectorySearch()
      : added_(GetEnvironmentVariableA(kNoCurrentDirectorySearch, nullptr, 0) == 0 &&
               SetEnvironmentVariableA(kNoCurrentDirectorySearch, "1")) {}
  ~NoCurrentDirectorySearch() {
    if (added_) SetEnvironmentVariableA(kNoCurrentDirectorySearch, nullptr);
  }
  NoCurrentDirectorySearch(const NoCurrentDirectorySearch&) = delete;
  NoCurrentDirectorySearch& operator=(const NoCurrentDirectorySearch&) = delete;

 private:
  bool added_;
};

// The path goes inside double quotes on a cmd.exe line: a quote would end the
// quoting, '%' (and '!' where delayed expansion is on) would be expanded as a
// variable, a control character could end the command, and wildcards would
// make del and takeown act on every match. Such a path cannot be named exactly.
bool IsQuotableFilePath(const char* path) {
  if (!path) return false;
  char drive = path[0];
  bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
  if (!letter || path[1] != ':' || path[2] != '\\' || !path[3]) return false;
  for (const char* p = path; *p; ++p)
    if (*p == '"' || *p == '%' || *p == '!' || *p == '*' || *p == '?' ||
        static_cast<unsigned char>(*p) < 0x20)
      return false;
  return true;
}

// Clears the read-only, hidden and system attributes where set (the others
// stay), then deletes. False when the file is still there to force.
bool DeleteClearingAttributes(const char* path, DWORD attributes) {
  const DWORD cleared = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & cleared)) {
    DWORD kept = attributes & ~cleared;
    SetFileAttributesA(path, kept ? kept : FILE_ATTRIBUTE_NORMAL);
  }
  if (DeleteFileA(path)) return true;
  return GetLastError() == ERROR_FILE_NOT_FOUND;  // gone meanwhile
}

// The ordinary deletion by path, for a Windows without the walk by handle.
// False when the commands are needed.
bool DeleteOrdinarilyByPath(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // Nothing to delete. Any other reason the attributes cannot be read
    // (access denied on the way, for one) leaves the file to the commands.
    DWORD reason = GetLastError();
    if (reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND) return true;
  }
  // Guard: del given a directory deletes every file in it.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  // Guard: takeown, cacls and attrib act on what a symbolic link points at,
  // which is not the vendor's file. A link is deleted as itself, nothing more.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    DeleteFileA(path);
    return true;
  }
  return DeleteClearingAttributes(path, attributes);
}

}  // namespace

void ForceDeleteFile(const char* path, RunRecord* record) {
  if (!IsQuotableFilePath(path)) return;
  // All four lines must fit before anything is deleted: a deletion without the
  // steps that make it possible, or of a path cut short, is worse than none.
  char commandLine[MAX_PATH];
  for (const ForceCommand& command : kForceCommands)
    if (!BuildText(commandLine, command.head, path, command.tail)) return;
  char systemDirectory[MAX_PATH];
  char interpreter[MAX_PATH];
  if (!QuerySystemDirectory(systemDirectory) || !BuildText(interpreter, systemDirectory, "\\cmd.exe")) return;

  // The ordinary way first: most files need no process at all.
  if (FileWalkByHandle()) {
    if (DeleteProtectedFileByHandle(path) != ProtectedFile::NeedsCommands) return;
  } else if (DeleteOrdinarilyByPath(path)) {
    return;
  }

  NoCurrentDirectorySearch searchPathOnly;
  for (const ForceCommand& command : kForceCommands) {
    BuildText(commandLine, command.head, path, command.tail);
    RunRecorded(record, "library files", ChildOwner::Windows, Utf8FromAnsi(path), interpreter, commandLine,
                CREATE_NO_WINDOW, INFINITE);
  }
  // Still there after the commands: one more ordinary deletion says why.
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
    if (DWORD error = DeleteSingleFile(path))
      NoteFailure(record, "library files", FailureKind::File, "deleted", path, error);
}
