// kernel32 files by handle (their information, final path and deletion) and
// path forms (full paths, the temporary folder).
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

// The path Windows resolves for a full path: every directory link on the way
// replaced by its target, each name as the file system stores it.
std::string ResolvedPath(const std::string& fullPath, int depth = 0) {
  std::vector<std::string> parts = SplitPath(fullPath);
  if (parts.empty() || depth > 16) return "";
  std::string resolved = Upper(parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    FsNode* node = FindNode(resolved + "\\" + parts[i]);
    if (!node) return "";
    resolved += "\\" + node->name;
    if (!node->linkTarget.empty() && (i + 1 < parts.size() || node->IsDirectory()))
      resolved = ResolvedPath(node->linkTarget, depth + 1);
    if (resolved.empty()) return "";
  }
  return parts.size() == 1 ? resolved + "\\" : resolved;
}

DWORD WINAPI SimGetFinalPathNameByHandleW(HANDLE handle, LPWSTR buffer, DWORD size, DWORD flags) {
  std::string path = OpenFilePath(handle);
  if (path.empty()) return Fail(ERROR_INVALID_HANDLE, 0u);
  if (flags != 0) return Fail(ERROR_INVALID_PARAMETER, 0u);  // only the DOS name, normalized
  std::string resolved = ResolvedPath(path);
  if (resolved.empty()) return Fail(ERROR_PATH_NOT_FOUND, 0u);
  std::string text = "\\\\?\\" + resolved;
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return Fail(ERROR_INVALID_PARAMETER, 0u);
  if (!buffer || size <= static_cast<DWORD>(length)) return static_cast<DWORD>(length + 1);
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), buffer, length);
  buffer[length] = 0;
  return static_cast<DWORD>(length);
}

// Only FileDispositionInfo: the file leaves its folder at once (on Windows
// when its last handle closes, which for the program is the next call).
BOOL WINAPI SimSetFileInformationByHandle(HANDLE handle, int informationClass, LPVOID information, DWORD size) {
  std::string path = OpenFilePath(handle);
  if (path.empty()) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (informationClass != 4 || !information || size < 1) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!*static_cast<BOOLEAN*>(information)) return TRUE;
  std::vector<std::string> parts = SplitPath(path);
  if (parts.size() < 2) return Fail(ERROR_ACCESS_DENIED, FALSE);
  std::string parent = parts[0];
  for (size_t i = 1; i + 1 < parts.size(); ++i) parent += "\\" + parts[i];
  FsNode* folder = FindNode(parts.size() == 2 ? parent + "\\" : parent);
  if (!folder || !folder->children.erase(parts.back())) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  Trace("delete-by-handle: " + path);
  return TRUE;
}

}  // namespace

FARPROC FindFileHandleExport(const std::string& name) {
  if (name == "GetFinalPathNameByHandleW")
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimGetFinalPathNameByHandleW));
  if (name == "SetFileInformationByHandle")
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimSetFileInformationByHandle));
  return nullptr;
}

}  // namespace winsim

using namespace winsim;

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
  std::string path = OpenFilePath(handle);
  if (path.empty() || !information) return Fail(ERROR_INVALID_HANDLE, FALSE);
  const FsNode* node = FindNode(path);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  std::memset(information, 0, sizeof *information);
  information->dwFileAttributes = node->attributes;
  information->nFileSizeLow = static_cast<DWORD>(node->content.size());
  information->nNumberOfLinks = node->hardLinks;
  uintptr_t identity = reinterpret_cast<uintptr_t>(node);
  information->nFileIndexLow = static_cast<DWORD>(identity);
  information->nFileIndexHigh = static_cast<DWORD>(static_cast<uint64_t>(identity) >> 32);
  return TRUE;
}

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
