// kernel32 path forms (full paths, the temporary folder); the files by handle
// are the file system's own (files.cpp, nt_files.cpp).
#include <cstring>

#include "internal.h"

namespace winsim {

// GetFinalPathNameByHandleW and SetFileInformationByHandle are the file
// system's own (nt_files.cpp), found through FindFileExport.
FARPROC FindFileHandleExport(const std::string&) { return nullptr; }

}  // namespace winsim

using namespace winsim;

DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* filePart) {
  if (!path || !*path) return Fail(ERROR_INVALID_PARAMETER, 0u);
  std::string full = FullPath(path);
  if (full.size() + 1 > size || !buffer) return static_cast<DWORD>(full.size() + 1);
  std::memcpy(buffer, full.c_str(), full.size() + 1);
  if (filePart) {
    size_t slash = full.find_last_of('\\');
    *filePart = slash == std::string::npos || slash + 1 == full.size() ? nullptr : buffer + slash + 1;
  }
  return static_cast<DWORD>(full.size());
}

// TMP, else TEMP, else USERPROFILE, else the Windows directory; with a final backslash.
DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  const auto& environment = M().system.environment;
  std::string folder = M().system.windowsDirectory;
  for (const char* name : {"USERPROFILE", "TEMP", "TMP"}) {
    auto value = environment.find(name);
    if (value != environment.end() && !value->second.empty()) folder = value->second;
  }
  folder = FullPath(folder);
  if (folder.empty() || folder.back() != '\\') folder += "\\";
  if (!buffer || folder.size() + 1 > size) return static_cast<DWORD>(folder.size() + 1);
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return static_cast<DWORD>(folder.size());
}
