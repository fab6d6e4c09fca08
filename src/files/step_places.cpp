// The file steps' places that follow the Windows version (files/file_tables.h).
#include <shlobj.h>

#include <cstring>

#include "files/file_tables.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

// A folder the shell reports for all users, in the code page's own spelling;
// false when it cannot report it (or it does not exist), or the code page
// cannot spell it exactly.
bool KnownFolder(int csidl, std::string& path) {
  WCHAR wide[MAX_PATH];
  std::memset(wide, 0, sizeof wide);
  if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, wide) != S_OK) return false;
  wide[MAX_PATH - 1] = 0;
  WideString text(wide);
  return !text.empty() && AnsiFromWideExactly(text, path);
}

bool IsVistaOrLater(DWORD majorVersion) { return majorVersion == 6; }

bool HasDrive(const char* windowsDirectory) {
  return windowsDirectory && windowsDirectory[0] && windowsDirectory[1] == ':';
}

}  // namespace

std::vector<StepPlace> ShortcutPlaces(DWORD majorVersion, const char* windowsDirectory) {
  std::vector<StepPlace> places;
  if (!HasDrive(windowsDirectory)) return places;
  std::string folder;
  char path[MAX_PATH];
  if (IsVistaOrLater(majorVersion)) {
    if (KnownFolder(CSIDL_COMMON_PROGRAMS, folder))
      for (const char* group : kProfileGroups)
        if (BuildText(path, folder.c_str(), "\\", group)) places.push_back({path, RemoveWith::DirectoryTree});
    if (KnownFolder(CSIDL_COMMON_DESKTOPDIRECTORY, folder) && BuildText(path, folder.c_str(), kDesktopShortcut))
      places.push_back({path, RemoveWith::File});
    return places;
  }
  const char drive[2] = {windowsDirectory[0], '\0'};
  switch (majorVersion) {
    case 5:
      for (const char* group : kProfileGroups)
        if (BuildText(path, drive, kProfilePrograms, group)) places.push_back({path, RemoveWith::DirectoryTree});
      for (const ProfileEntry& entry : kProfileExtras)
        if (BuildText(path, drive, entry.path)) places.push_back({path, entry.removeWith});
      break;
    case 4:
      for (const char* group : kNt4Groups)
        if (BuildText(path, windowsDirectory, kNt4Programs, group)) places.push_back({path, RemoveWith::DirectoryTree});
      break;
    default:
      break;
  }
  return places;
}

std::vector<std::string> ProductInstallerFolders(DWORD majorVersion, const char* windowsDirectory) {
  std::vector<std::string> folders;
  if (!IsVistaOrLater(majorVersion)) {
    for (const char* folder : kFixedInstallerFolders) folders.push_back(folder);
    return folders;
  }
  char path[MAX_PATH];
  std::string programFiles;
  if (HasDrive(windowsDirectory) && BuildText(path, windowsDirectory, kInstallerCacheFolder)) folders.push_back(path);
  if (KnownFolder(CSIDL_PROGRAM_FILESX86, programFiles) && BuildText(path, programFiles.c_str(), kInstallShieldFolder))
    folders.push_back(path);
  return folders;
}

std::vector<std::string> SharedDocumentsFolders(DWORD majorVersion, const char* windowsDirectory) {
  std::vector<std::string> folders;
  if (!HasDrive(windowsDirectory)) return folders;
  char path[MAX_PATH];
  if (IsVistaOrLater(majorVersion)) {
    std::string documents;
    if (KnownFolder(CSIDL_COMMON_DOCUMENTS, documents) && BuildText(path, documents.c_str(), kDocumentsFolder))
      folders.push_back(path);
    return folders;
  }
  const char drive[2] = {windowsDirectory[0], '\0'};
  for (const char* folder : kSharedDocumentsFolders)
    if (BuildText(path, drive, folder)) folders.push_back(path);
  return folders;
}
