// Private folders: how they are made and how an existing one is judged.
#include "system/private_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "system/system_library.h"

namespace {

// SYSTEM and Administrators full control, for the folder and all below it;
// "P": nothing is inherited from the folder's parent.
const char kPrivateFolderSecurity[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

const char kSystem[] = "S-1-5-18";
const char kAdministrators[] = "S-1-5-32-544";
const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char kCreatorOwner[] = "S-1-3-0";  // replaced by the creator of each new file
const char kOwnerRights[] = "S-1-3-4";   // the owner, who is judged on its own

// Rights that change what a folder holds, or who may: write data or add a
// file, append or add a folder, write extended attributes, delete a child,
// write attributes, delete, write the access list or the owner, and the
// generic write and all rights.
const ACCESS_MASK kWriteRights = 0x0002 | 0x0004 | 0x0010 | 0x0040 | 0x0100 | DELETE | WRITE_DAC |
                                 WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Access rule kinds by number: not every SDK's headers name them all.
const BYTE kAllowed = 0x0;
const BYTE kAllowedObject = 0x5;
const BYTE kAllowedCallback = 0x9;
const BYTE kAllowedCallbackObject = 0xB;

std::string SidText(PSID sid) {
  LPSTR text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return "";
  std::string result = text;
  LocalFree(text);
  return result;
}

// "BUILTIN\Users (S-1-5-32-545)", or the SID alone where it has no name.
std::string AccountText(PSID sid) {
  char name[256];
  char domain[256];
  DWORD nameSize = sizeof name;
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  std::string sidText = SidText(sid);
  if (!LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) return sidText;
  std::string account = domain[0] ? std::string(domain) + "\\" + name : std::string(name);
  return account + " (" + sidText + ")";
}

// The account of this process's token, as a SID text; "" when it cannot be read.
std::string CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string sid;
  if (size >= sizeof(TOKEN_USER)) {
    std::vector<BYTE> buffer(size);
    if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
      sid = SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
  }
  CloseHandle(token);
  return sid;
}

bool IsTrusted(const std::string& sid, const std::string& currentUser) {
  return sid == kSystem || sid == kAdministrators || sid == kTrustedInstaller ||
         (!currentUser.empty() && sid == currentUser);
}

// Why the access list lets someone else write, or "".
std::string AccessListConcern(PACL dacl, const std::string& currentUser) {
  if (!dacl) return "it has no access list at all, which lets everyone change it";
  ACL_SIZE_INFORMATION size;
  if (!GetAclInformation(dacl, &size, sizeof size, AclSizeInformation))
    return "its access list cannot be read (Win32 error " + std::to_string(GetLastError()) + ")";
  for (DWORD index = 0; index < size.AceCount; ++index) {
    LPVOID entry = nullptr;
    if (!GetAce(dacl, index, &entry))
      return "its access list cannot be read (Win32 error " + std::to_string(GetLastError()) + ")";
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    // A rule only for subfolders reaches nothing the program writes.
    if ((header->AceFlags & INHERIT_ONLY_ACE) && !(header->AceFlags & OBJECT_INHERIT_ACE)) continue;
    // Every allowing kind starts with its header and its access mask.
    const ACCESS_ALLOWED_ACE* rule = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if (header->AceType == kAllowedObject || header->AceType == kAllowedCallbackObject) {
      if (rule->Mask & kWriteRights) return "a rule of its access list of a kind not read here grants write access";
      continue;
    }
    if (header->AceType != kAllowed && header->AceType != kAllowedCallback) continue;  // denials, audits
    if (!(rule->Mask & kWriteRights)) continue;
    PSID sid = const_cast<DWORD*>(&rule->SidStart);
    std::string sidText = SidText(sid);
    if (IsTrusted(sidText, currentUser) || sidText == kCreatorOwner || sidText == kOwnerRights) continue;
    return AccountText(sid) + " may add, change or delete files in it";
  }
  return "";
}

typedef DWORD(WINAPI* FinalPathProc)(HANDLE file, LPWSTR path, DWORD size, DWORD flags);

WideString FinalPathOf(HANDLE handle) {
  // Vista and later; FILE_NAME_NORMALIZED | VOLUME_NAME_DOS.
  FinalPathProc finalPath = FindExport<FinalPathProc>(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW");
  if (!finalPath) return WideString();
  DWORD needed = finalPath(handle, nullptr, 0, 0);
  if (needed == 0 || needed > 32768) return WideString();
  std::vector<WCHAR> buffer(needed + 1);
  DWORD length = finalPath(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
  if (length == 0 || length >= buffer.size()) return WideString();
  return WideString(buffer.data(), length);
}


bool IsSeparator(WCHAR unit) { return unit == '\\' || unit == '/'; }

// "\\?\C:\x" and "\\?\UNC\server\share\x" in the form "C:\x" and "\\server\share\x".
WideString WithoutPrefix(const WideString& path) {
  const WideString prefix = WIDE_TEXT("\\\\?\\");
  if (path.compare(0, prefix.size(), prefix) != 0) return path;
  WideString rest = path.substr(prefix.size());
  const WideString unc = WIDE_TEXT("UNC\\");
  if (rest.compare(0, unc.size(), unc) == 0) return WIDE_TEXT("\\\\") + rest.substr(unc.size());
  return rest;
}

WideString WithoutTrailingSeparators(WideString path) {
  while (path.size() > 3 && IsSeparator(path.back())) path.pop_back();
  return path;
}

WCHAR UpperAscii(WCHAR unit) { return unit >= 'a' && unit <= 'z' ? static_cast<WCHAR>(unit - 'a' + 'A') : unit; }

// Names compare without regard to ASCII case; any other difference is another name.
bool SamePath(const WideString& a, const WideString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsSeparator(a[i]) && IsSeparator(b[i])) continue;
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return "";
  char full[MAX_PATH];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return "";
  char longForm[MAX_PATH];
  length = GetLongPathNameA(full, longForm, sizeof longForm);
  return length > 0 && length < sizeof longForm ? longForm : full;
}

std::string FinalPathText(const WideString& finalPath) {
  WideString plain = WithoutPrefix(finalPath);
  if (plain.empty() || plain.size() > 32767) return "";
  int length = WideCharToMultiByte(CP_ACP, 0, plain.data(), static_cast<int>(plain.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return "";
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, plain.data(), static_cast<int>(plain.size()), &text[0], length, nullptr, nullptr);
  return text;
}

FolderCheck CheckFolder(const std::string& path) {
  FolderCheck check;
  // Links are followed: it is the folder that the files would land in that is judged.
  HANDLE folder = CreateFileA(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    check.concern = "it cannot be opened (Win32 error " + std::to_string(GetLastError()) + ")";
    return check;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(folder, &information) ||
      !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(folder);
    check.concern = "it is not a folder";
    return check;
  }
  check.exists = true;
  check.finalPath = FinalPathOf(folder);

  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                &owner, nullptr, &dacl, nullptr, &descriptor);
  CloseHandle(folder);
  if (error != ERROR_SUCCESS) {
    check.concern = "its owner and access list cannot be read (Win32 error " + std::to_string(error) + ")";
    return check;
  }
  std::string currentUser = CurrentUserSid();
  if (!IsTrusted(SidText(owner), currentUser))
    check.concern = "it is owned by " + AccountText(owner) + ", who can give anyone the right to change it";
  else
    check.concern = AccessListConcern(dacl, currentUser);
  LocalFree(descriptor);

  if (check.concern.empty() && !check.finalPath.empty() &&
      !SamePath(WithoutTrailingSeparators(WideFromAnsi(AbsolutePath(path).c_str())),
                WithoutTrailingSeparators(WithoutPrefix(check.finalPath))))
    check.concern = "Windows reaches it through a link or under another name, as " + FinalPathText(check.finalPath);
  check.isPrivate = check.concern.empty();
  return check;
}

bool CreateFolderPath(const std::string& path, bool privateLeaf) {
  if (path.empty()) return false;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (privateLeaf &&
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(kPrivateFolderSecurity, SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return false;
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
  bool share = path.compare(0, 2, "\\\\") == 0;
  bool made = true;
  for (size_t i = 0; i <= path.size() && made; ++i) {
    if (i != path.size() && path[i] != '\\' && path[i] != '/') continue;
    std::string part = path.substr(0, i);
    if (part.empty() || (part.size() == 2 && part[1] == ':') || part == "\\\\") continue;  // a root
    if (GetFileAttributesA(part.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    bool leaf = i == path.size() || path.find_first_not_of("\\/", i) == std::string::npos;
    if (!CreateDirectoryA(part.c_str(), leaf && privateLeaf ? &security : nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      // A share's server and name are not folders to create; its folders below are.
      made = share;
  }
  if (descriptor) LocalFree(descriptor);
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
