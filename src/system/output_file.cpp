// Writing whole buffers.
#include "system/output_file.h"

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
