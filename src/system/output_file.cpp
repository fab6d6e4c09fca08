// Files the program writes for the administrator.
#include "system/output_file.h"

HANDLE CreateOutputFile(const char* path) {
  if (!path || !path[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // Always a new file: a file or link already at the name is never opened or followed.
  return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool WriteAll(HANDLE file, const char* data, size_t length) {
  while (length > 0) {
    DWORD chunk = length > 0x10000000 ? 0x10000000 : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    length -= written;
  }
  return true;
}
