// The owners of files and folders (advapi32's GetSecurityInfo on a file
// handle), the SIDs they are reported as, and kernel32's LocalFree for the
// descriptors it hands out.
#include <cstdlib>
#include <cstring>
#include <set>

#include "internal.h"

namespace winsim {
namespace {

std::vector<BYTE> MakeSid(BYTE authority, std::initializer_list<DWORD> subAuthorities) {
  std::vector<BYTE> sid(8 + 4 * subAuthorities.size(), 0);
  sid[0] = 1;  // revision
  sid[1] = static_cast<BYTE>(subAuthorities.size());
  sid[7] = authority;
  size_t offset = 8;
  for (DWORD sub : subAuthorities) {
    std::memcpy(&sid[offset], &sub, 4);
    offset += 4;
  }
  return sid;
}

// Blocks handed out by GetSecurityInfo, for LocalFree.
std::set<void*>& Allocations() {
  static std::set<void*> blocks;
  return blocks;
}

}  // namespace

std::vector<BYTE> SidOfAccount(const std::string& account) {
  if (EqualsNoCase(account, "SYSTEM")) return MakeSid(5, {18});
  if (EqualsNoCase(account, "Administrators")) return MakeSid(5, {32, 544});
  if (EqualsNoCase(account, "TrustedInstaller"))
    return MakeSid(5, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u});
  // A user of the machine's domain: the relative id follows from the name.
  DWORD rid = 1000;
  for (char c : Upper(account)) rid = (rid * 31 + static_cast<unsigned char>(c)) % 90000;
  return MakeSid(5, {21, 1111111111u, 2222222222u, 333333333u, 1000 + rid});
}

}  // namespace winsim

using namespace winsim;

// The owner of a file or folder handle opened with READ_CONTROL (the other
// parts of a descriptor are reported as absent). *descriptor is freed with LocalFree.
DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION information, PSID* owner,
                      PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (type != SE_FILE_OBJECT) return ERROR_INVALID_PARAMETER;
  OpenFile* file = FileOfHandle(handle);
  if (!file) return ERROR_INVALID_HANDLE;
  if (!(file->access & READ_CONTROL)) return ERROR_ACCESS_DENIED;
  if ((information & OWNER_SECURITY_INFORMATION) && !owner) return ERROR_INVALID_PARAMETER;
  std::vector<BYTE> sid = SidOfAccount(OwnerOf(*file->node));
  void* block = std::calloc(1, 20 + sid.size());
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  std::memcpy(static_cast<BYTE*>(block) + 20, sid.data(), sid.size());
  Allocations().insert(block);
  if (owner) *owner = (information & OWNER_SECURITY_INFORMATION) ? static_cast<BYTE*>(block) + 20 : nullptr;
  if (group) *group = nullptr;
  if (dacl) *dacl = nullptr;
  if (sacl) *sacl = nullptr;
  if (descriptor) {
    *descriptor = block;
  } else {
    // Without a descriptor to free, the owner would point at freed memory.
    Allocations().erase(block);
    std::free(block);
    if (owner) *owner = nullptr;
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

HLOCAL LocalFree(HLOCAL memory) {
  if (!memory) return nullptr;
  if (!Allocations().erase(memory)) return Fail(ERROR_INVALID_HANDLE, memory);
  std::free(memory);
  return nullptr;
}

BOOL IsValidSid(PSID sid) {
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return bytes && bytes[0] == 1 && bytes[1] <= SID_MAX_SUB_AUTHORITIES;
}

DWORD GetLengthSid(PSID sid) {
  return IsValidSid(sid) ? 8 + 4 * static_cast<const BYTE*>(sid)[1] : 0;
}

BOOL EqualSid(PSID a, PSID b) {
  if (!IsValidSid(a) || !IsValidSid(b)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  DWORD length = GetLengthSid(a);
  SetLastError(ERROR_SUCCESS);
  return length == GetLengthSid(b) && std::memcmp(a, b, length) == 0;
}
