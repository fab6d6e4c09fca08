// shell32's SHGetFolderPathA over the simulated machine: the folders of a
// Windows 10 installation on the drive of the Windows directory, for the user
// the program runs as, unless a test set SystemState::shellFolders.
//
// Windows behaviour kept here: S_OK with the path (at most MAX_PATH characters,
// terminator included) when the folder exists; without CSIDL_FLAG_CREATE a
// folder that does not exist gives S_FALSE and an empty string; an unknown or
// virtual CSIDL gives E_FAIL and an empty string.
#include <cstring>

#include "internal.h"

using winsim::M;

namespace {

std::string DefaultFolder(int folder) {
  const auto& s = M().system;
  std::string drive = s.windowsDirectory.substr(0, 2);
  std::string profile = drive + "\\Users\\" + M().tokens.user;
  std::string roaming = profile + "\\AppData\\Roaming";
  std::string startMenu = roaming + "\\Microsoft\\Windows\\Start Menu";
  std::string commonStartMenu = drive + "\\ProgramData\\Microsoft\\Windows\\Start Menu";
  bool amd64 = s.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
  std::string programFilesX86 = drive + (amd64 ? "\\Program Files (x86)" : "\\Program Files");
  switch (folder) {
    case CSIDL_WINDOWS: return s.windowsDirectory;
    case CSIDL_SYSTEM: return s.systemDirectory;
    case CSIDL_SYSTEMX86: return amd64 ? s.windowsDirectory + "\\SysWOW64" : s.systemDirectory;
    case CSIDL_FONTS: return s.windowsDirectory + "\\Fonts";
    case CSIDL_PROGRAM_FILES: return drive + "\\Program Files";
    case CSIDL_PROGRAM_FILESX86: return programFilesX86;
    case CSIDL_PROGRAM_FILES_COMMON: return drive + "\\Program Files\\Common Files";
    case CSIDL_PROGRAM_FILES_COMMONX86: return programFilesX86 + "\\Common Files";
    case CSIDL_COMMON_APPDATA: return drive + "\\ProgramData";
    case CSIDL_COMMON_DESKTOPDIRECTORY: return drive + "\\Users\\Public\\Desktop";
    case CSIDL_COMMON_DOCUMENTS: return drive + "\\Users\\Public\\Documents";
    case CSIDL_COMMON_PICTURES: return drive + "\\Users\\Public\\Pictures";
    case CSIDL_COMMON_MUSIC: return drive + "\\Users\\Public\\Music";
    case CSIDL_COMMON_VIDEO: return drive + "\\Users\\Public\\Videos";
    case CSIDL_COMMON_STARTMENU: return commonStartMenu;
    case CSIDL_COMMON_PROGRAMS: return commonStartMenu + "\\Programs";
    case CSIDL_COMMON_STARTUP: return commonStartMenu + "\\Programs\\Startup";
    case CSIDL_COMMON_TEMPLATES: return drive + "\\ProgramData\\Microsoft\\Windows\\Templates";
    case CSIDL_PROFILE: return profile;
    case CSIDL_DESKTOPDIRECTORY: return profile + "\\Desktop";
    case CSIDL_PERSONAL: return profile + "\\Documents";
    case CSIDL_MYPICTURES: return profile + "\\Pictures";
    case CSIDL_MYMUSIC: return profile + "\\Music";
    case CSIDL_MYVIDEO: return profile + "\\Videos";
    case CSIDL_APPDATA: return roaming;
    case CSIDL_LOCAL_APPDATA: return profile + "\\AppData\\Local";
    case CSIDL_STARTMENU: return startMenu;
    case CSIDL_PROGRAMS: return startMenu + "\\Programs";
    case CSIDL_STARTUP: return startMenu + "\\Programs\\Startup";
    case CSIDL_TEMPLATES: return roaming + "\\Microsoft\\Windows\\Templates";
    default: return "";
  }
}

}  // namespace

namespace {

// The folder's path (ANSI, as tests set it) and what the call answers.
HRESULT FolderPath(int folder, std::string& text) {
  int csidl = folder & ~CSIDL_FLAG_CREATE;
  const auto& overrides = M().system.shellFolders;
  auto it = overrides.find(csidl);
  text = it != overrides.end() ? it->second : DefaultFolder(csidl);
  if (text.empty() || text.size() >= MAX_PATH) return E_FAIL;
  winsim::FsNode* node = winsim::FindNode(text);
  if (!node || !node->IsDirectory()) {
    if (!(folder & CSIDL_FLAG_CREATE)) return S_FALSE;
    winsim::MakeDirectory(text);
  }
  return S_OK;
}

}  // namespace

HRESULT SHGetFolderPathA(HWND, int folder, HANDLE, DWORD, LPSTR path) {
  if (!path) return E_INVALIDARG;
  path[0] = '\0';
  std::string text;
  HRESULT result = FolderPath(folder, text);
  if (result == S_OK) std::memcpy(path, text.c_str(), text.size() + 1);
  return result;
}

// The same folders as UTF-16 (at most MAX_PATH units, terminator included).
HRESULT SHGetFolderPathW(HWND, int folder, HANDLE, DWORD, LPWSTR path) {
  if (!path) return E_INVALIDARG;
  path[0] = 0;
  std::string text;
  HRESULT result = FolderPath(folder, text);
  if (result != S_OK) return result;
  std::u16string wide = winsim::WideFromUtf8(winsim::Utf8FromAnsi(text));
  if (wide.size() >= MAX_PATH) return E_FAIL;
  std::memcpy(path, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  return S_OK;
}
