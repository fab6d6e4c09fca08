// New files that no one else chose.
#include "system/new_file.h"

#include <windows.h>

#include "system/system_library.h"

namespace {

const int kMaxNames = 100;

struct Created {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string path;
};

// FileDispositionInfo of SetFileInformationByHandle (Vista and later).
const int kFileDispositionInfo = 4;
struct Disposition {
  BOOLEAN deleteFile;
};
typedef BOOL(WINAPI* SetInformationProc)(HANDLE file, int informationClass, LPVOID information, DWORD size);
typedef DWORD(WINAPI* FinalPathProc)(HANDLE file, LPWSTR path, DWORD size, DWORD flags);

HMODULE Kernel() { return GetModuleHandleA("kernel32.dll"); }

// Deletes a file the program made through its own handle (by its name, which
// nobody else can have taken meanwhile, where Windows has no such call).
void Discard(Created& file) {
  if (file.handle == INVALID_HANDLE_VALUE) return;
  SetInformationProc setInformation = FindExport<SetInformationProc>(Kernel(), "SetFileInformationByHandle");
  Disposition disposition = {TRUE};
  bool deleted = setInformation && setInformation(file.handle, kFileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file.handle);
  file.handle = INVALID_HANDLE_VALUE;
  if (!deleted) DeleteFileA(file.path.c_str());
}

WideString FinalPath(HANDLE handle) {
  FinalPathProc finalPath = FindExport<FinalPathProc>(Kernel(), "GetFinalPathNameByHandleW");
  if (!finalPath) return WideString();
  WCHAR buffer[1024];
  DWORD length = finalPath(handle, buffer, 1024, 0);
  return length > 0 && length < 1024 ? WideString(buffer, length) : WideString();
}

// The folder as Windows resolves it now (when it was not checked before).
WideString FolderFinalPath(const std::string& folder) {
  HANDLE handle = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return WideString();
  WideString path = FinalPath(handle);
  CloseHandle(handle);
  return path;
}


enum class Outcome { Made, NameTaken, Failed };

// Creates folder\name new; checks its links and where it really is.
Outcome CreateNew(const std::string& folder, const WideString& folderFinalPath, const std::string& name,
                  Created& file) {
  file.path = folder;
  if (!file.path.empty() && file.path.back() != '\\' && file.path.back() != '/') file.path += "\\";
  file.path += name;
  if (file.path.size() >= MAX_PATH) return Outcome::Failed;  // never a shortened name
  file.handle = CreateFileA(file.path.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file.handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Outcome::NameTaken : Outcome::Failed;
  }
  BY_HANDLE_FILE_INFORMATION information;
  bool single = GetFileInformationByHandle(file.handle, &information) && information.nNumberOfLinks == 1;
  WideString finalPath = folderFinalPath.empty() ? WideString() : FinalPath(file.handle);
  WideString expected = folderFinalPath;
  if (!expected.empty() && expected.back() != '\\') expected += '\\';
  expected += WideFromAnsi(name.c_str());
  bool inside = folderFinalPath.empty() || finalPath == expected;
  if (single && inside) return Outcome::Made;
  Discard(file);
  return Outcome::NameTaken;
}

bool WriteWhole(HANDLE handle, const std::string& content) {
  if (content.size() >= 0x7fffffff) return false;
  DWORD written = 0;
  return WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
         written == content.size();
}

}  // namespace

bool WriteNewFiles(const OutputFolder& folder, const std::string& baseName,
                   const std::vector<NewFileContent>& files, std::vector<std::string>& paths) {
  paths.clear();
  if (folder.path.empty() || files.empty()) return false;
  WideString folderFinalPath = folder.finalPath.empty() ? FolderFinalPath(folder.path) : folder.finalPath;
  for (int number = 1; number <= kMaxNames; ++number) {
    std::string name = number == 1 ? baseName : baseName + "-" + std::to_string(number);
    std::vector<Created> created(files.size());
    Outcome outcome = Outcome::Made;
    for (size_t i = 0; i < files.size() && outcome == Outcome::Made; ++i)
      outcome = CreateNew(folder.path, folderFinalPath, name + files[i].extension, created[i]);
    if (outcome == Outcome::Made) {
      bool written = true;
      for (size_t i = 0; i < files.size() && written; ++i) written = WriteWhole(created[i].handle, *files[i].content);
      if (!written) {
        // A cut file would pass for a whole one.
        for (Created& file : created) Discard(file);
        return false;
      }
      for (Created& file : created) {
        CloseHandle(file.handle);
        paths.push_back(file.path);
      }
      return true;
    }
    for (Created& file : created) Discard(file);
    if (outcome == Outcome::Failed) return false;
  }
  return false;
}

bool OpenNewFile(const OutputFolder& folder, const std::string& baseName, const char* extension, HANDLE& handle,
                 std::string& path) {
  if (folder.path.empty() || !extension) return false;
  WideString folderFinalPath = folder.finalPath.empty() ? FolderFinalPath(folder.path) : folder.finalPath;
  for (int number = 1; number <= kMaxNames; ++number) {
    std::string name = number == 1 ? baseName : baseName + "-" + std::to_string(number);
    Created file;
    Outcome outcome = CreateNew(folder.path, folderFinalPath, name + extension, file);
    if (outcome == Outcome::Made) {
      handle = file.handle;
      path = file.path;
      return true;
    }
    if (outcome == Outcome::Failed) return false;
  }
  return false;
}

bool WriteNewFile(const OutputFolder& folder, const std::string& baseName, const char* extension,
                  const std::string& content, std::string& path) {
  std::vector<std::string> paths;
  if (!WriteNewFiles(folder, baseName, {{extension, &content}}, paths)) return false;
  path = paths.front();
  return true;
}
