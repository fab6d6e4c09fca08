// The file steps' deletions with their failures noted in the run record: the
// failure as the deletion itself reported it, not as a look afterwards sees it.
#include "files/files.h"

#include "run/run_record.h"

namespace {

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

DWORD DeleteTreeNoted(RunRecord* record, const char* step, const char* path) {
  DWORD error = DeleteDirectoryTree(path);
  if (error != 0) NoteFailure(record, step, FailureKind::Folder, "deleted", path, error);
  return error;
}

bool DeleteFileNoted(RunRecord* record, const char* step, const char* path) {
  if (DeleteFileA(path)) return true;
  DWORD error = GetLastError();
  if (IsMissing(error)) return true;
  NoteFailure(record, step, FailureKind::File, "deleted", path, error);
  return false;
}

bool DeleteSingleFileNoted(RunRecord* record, const char* step, const char* path) {
  DWORD error = DeleteSingleFile(path);
  if (error == 0 || IsMissing(error)) return true;
  NoteFailure(record, step, FailureKind::File, "deleted", path, error);
  return false;
}

bool DeleteReadOnlyFileNoted(RunRecord* record, const char* step, const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    if (IsMissing(error)) return true;
  } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
             (attributes & FILE_ATTRIBUTE_READONLY)) {
    // Guard: only a plain file of its own loses its attribute; a link would
    // pass the change on to what it points at.
    if (!SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY)) {
      NoteFailure(record, step, FailureKind::File, "cleared of its read-only attribute", path, GetLastError());
      return false;
    }
  }
  return DeleteFileNoted(record, step, path);
}
