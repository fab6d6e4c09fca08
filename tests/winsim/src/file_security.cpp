// advapi32 security of files and folders: SDDL text, binary SIDs, access lists
// and security descriptors as Windows lays them out, GetSecurityInfo on file
// handles, and the inheritance of access lists down the folder tree.
//
// A node's security is explicit (FsNode::security: set by CreateDirectoryA
// with a descriptor, or by SetSecurity) or inherited: the rules of its
// folder's effective list that reach it (OBJECT_INHERIT for files,
// CONTAINER_INHERIT for folders), "creator owner" replaced by its owner. A
// drive root without one has Windows 10's default for C:\. The owner of a
// node without an explicit one is Administrators, as for objects an
// administrator makes.
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

#include "internal.h"

namespace winsim {
namespace {

const char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
const char kCreatorOwner[] = "S-1-3-0";
const char kAdministrators[] = "S-1-5-32-544";

const std::map<std::string, std::string>& SidAliases() {
  static const std::map<std::string, std::string> aliases = {
      {"SY", "S-1-5-18"}, {"BA", kAdministrators}, {"BU", "S-1-5-32-545"}, {"AU", "S-1-5-11"},
      {"WD", "S-1-1-0"},  {"CO", kCreatorOwner},   {"CG", "S-1-3-1"},      {"OW", "S-1-3-4"}};
  return aliases;
}

const std::map<std::string, DWORD>& RightAliases() {
  static const std::map<std::string, DWORD> rights = {
      {"FA", FILE_ALL_ACCESS}, {"FR", 0x120089},     {"FW", 0x120116},    {"FX", 0x1200A0},
      {"GA", GENERIC_ALL},     {"GR", GENERIC_READ}, {"GW", GENERIC_WRITE}, {"GX", GENERIC_EXECUTE},
      {"RC", READ_CONTROL},    {"SD", DELETE},       {"WD", WRITE_DAC},     {"WO", WRITE_OWNER}};
  return rights;
}

const std::map<std::string, std::pair<std::string, std::string>>& AccountNames() {
  static const std::map<std::string, std::pair<std::string, std::string>> names = {
      {"S-1-5-18", {"NT AUTHORITY", "SYSTEM"}},
      {kAdministrators, {"BUILTIN", "Administrators"}},
      {"S-1-5-32-545", {"BUILTIN", "Users"}},
      {"S-1-5-11", {"NT AUTHORITY", "Authenticated Users"}},
      {"S-1-1-0", {"", "Everyone"}},
      {kCreatorOwner, {"", "CREATOR OWNER"}},
      {kTrustedInstaller, {"NT SERVICE", "TrustedInstaller"}}};
  return names;
}

std::string SidOf(const std::string& token) {
  auto alias = SidAliases().find(token);
  return alias == SidAliases().end() ? token : alias->second;
}

bool ParseRights(const std::string& text, DWORD& mask) {
  if (text.compare(0, 2, "0x") == 0) {
    mask = static_cast<DWORD>(std::strtoul(text.c_str() + 2, nullptr, 16));
    return true;
  }
  mask = 0;
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    auto right = RightAliases().find(text.substr(i, 2));
    if (right == RightAliases().end()) return false;
    mask |= right->second;
  }
  return true;
}

bool ParseAce(const std::string& text, SimAce& ace) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1)
    fields.push_back(text.substr(start, end - start));
  fields.push_back(text.substr(start));
  if (fields.size() != 6 || (fields[0] != "A" && fields[0] != "D")) return false;
  ace.allow = fields[0] == "A";
  ace.flags = 0;
  const std::pair<const char*, BYTE> flags[] = {{"OI", OBJECT_INHERIT_ACE},  {"CI", CONTAINER_INHERIT_ACE},
                                                {"NP", NO_PROPAGATE_INHERIT_ACE}, {"IO", INHERIT_ONLY_ACE},
                                                {"ID", INHERITED_ACE}};
  if (fields[1].size() % 2) return false;
  for (size_t i = 0; i + 2 <= fields[1].size(); i += 2) {
    bool known = false;
    for (const auto& flag : flags)
      if (fields[1].compare(i, 2, flag.first) == 0) {
        ace.flags |= flag.second;
        known = true;
      }
    if (!known) return false;
  }
  if (!ParseRights(fields[2], ace.mask)) return false;
  ace.sid = SidOf(fields[5]);
  return ace.sid.compare(0, 2, "S-") == 0;
}

// The SID at the start of text (an alias or "S-1-..."); its length in len.
std::string ParseSidToken(const std::string& text, size_t& length) {
  if (text.compare(0, 2, "S-") == 0) {
    length = text.find_first_not_of("S-0123456789");
    if (length == std::string::npos) length = text.size();
    return text.substr(0, length);
  }
  length = 2;
  return SidOf(text.substr(0, 2));
}

// SDDL text: "O:sid", "G:sid" (ignored) and "D:flags(ace)..." in any order.
bool ParseSddl(const std::string& text, SimSecurity& security) {
  size_t i = 0;
  while (i < text.size()) {
    if (i + 2 > text.size() || text[i + 1] != ':') return false;
    char part = text[i];
    i += 2;
    if (part == 'O' || part == 'G') {
      size_t length = 0;
      std::string sid = ParseSidToken(text.substr(i), length);
      if (part == 'O') security.owner = sid;
      i += length;
    } else if (part == 'D') {
      while (i < text.size() && text[i] != '(' && text[i + 1] != ':') {
        if (text[i] == 'P') security.protectedDacl = true;
        ++i;
        if (i < text.size() && (text[i] == 'I' || text[i] == 'R') && text[i - 1] == 'A') ++i;  // AI, AR
      }
      while (i < text.size() && text[i] == '(') {
        size_t end = text.find(')', i);
        if (end == std::string::npos) return false;
        SimAce ace;
        if (!ParseAce(text.substr(i + 1, end - i - 1), ace)) return false;
        security.dacl.push_back(ace);
        i = end + 1;
      }
    } else {
      return false;
    }
  }
  return true;
}

// ---- Binary forms ---------------------------------------------------------------

std::vector<BYTE> EncodeSid(const std::string& text) {
  std::vector<BYTE> sid;
  std::vector<unsigned long long> numbers;
  size_t start = 2;  // after "S-"
  while (start <= text.size()) {
    size_t end = text.find('-', start);
    if (end == std::string::npos) end = text.size();
    numbers.push_back(std::strtoull(text.substr(start, end - start).c_str(), nullptr, 10));
    start = end + 1;
  }
  if (numbers.size() < 2) return sid;
  sid.push_back(static_cast<BYTE>(numbers[0]));
  sid.push_back(static_cast<BYTE>(numbers.size() - 2));
  for (int shift = 40; shift >= 0; shift -= 8) sid.push_back(static_cast<BYTE>(numbers[1] >> shift));
  for (size_t i = 2; i < numbers.size(); ++i)
    for (int shift = 0; shift < 32; shift += 8) sid.push_back(static_cast<BYTE>(numbers[i] >> shift));
  return sid;
}

std::string DecodeSid(const BYTE* sid) {
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
  for (int i = 0; i < sid[1]; ++i) {
    const BYTE* part = sid + 8 + 4 * i;
    DWORD value = part[0] | part[1] << 8 | part[2] << 16 | static_cast<DWORD>(part[3]) << 24;
    text += "-" + std::to_string(value);
  }
  return text;
}

void PutWord(std::vector<BYTE>& out, size_t at, WORD value) {
  out[at] = static_cast<BYTE>(value);
  out[at + 1] = static_cast<BYTE>(value >> 8);
}
void PutDword(std::vector<BYTE>& out, size_t at, DWORD value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}
DWORD GetDword(const BYTE* at) { return at[0] | at[1] << 8 | at[2] << 16 | static_cast<DWORD>(at[3]) << 24; }
WORD GetWord(const BYTE* at) { return static_cast<WORD>(at[0] | at[1] << 8); }

std::vector<BYTE> EncodeAcl(const std::vector<SimAce>& aces) {
  std::vector<BYTE> acl(8, 0);
  acl[0] = 2;  // ACL_REVISION
  for (const SimAce& ace : aces) {
    std::vector<BYTE> sid = EncodeSid(ace.sid);
    size_t at = acl.size();
    acl.resize(at + 8 + sid.size());
    acl[at] = ace.allow ? ACCESS_ALLOWED_ACE_TYPE : ACCESS_DENIED_ACE_TYPE;
    acl[at + 1] = ace.flags;
    PutWord(acl, at + 2, static_cast<WORD>(8 + sid.size()));
    PutDword(acl, at + 4, ace.mask);
    std::memcpy(&acl[at + 8], sid.data(), sid.size());
  }
  PutWord(acl, 2, static_cast<WORD>(acl.size()));
  PutWord(acl, 4, static_cast<WORD>(aces.size()));
  return acl;
}

// A self-relative descriptor: header, owner, then the access list.
std::vector<BYTE> EncodeDescriptor(const SimSecurity& security, bool withOwner, bool withDacl) {
  std::vector<BYTE> out(20, 0);
  out[0] = 1;
  WORD control = 0x8000;  // SE_SELF_RELATIVE
  if (withOwner && !security.owner.empty()) {
    std::vector<BYTE> sid = EncodeSid(security.owner);
    PutDword(out, 4, static_cast<DWORD>(out.size()));
    out.insert(out.end(), sid.begin(), sid.end());
  }
  if (withDacl) {
    control |= 0x0004;  // SE_DACL_PRESENT
    if (security.protectedDacl) control |= SE_DACL_PROTECTED;
    if (!security.nullDacl) {
      std::vector<BYTE> acl = EncodeAcl(security.dacl);
      PutDword(out, 16, static_cast<DWORD>(out.size()));
      out.insert(out.end(), acl.begin(), acl.end());
    }
  }
  PutWord(out, 2, control);
  return out;
}

bool DecodeDescriptor(const BYTE* descriptor, SimSecurity& security) {
  if (!descriptor || descriptor[0] != 1) return false;
  WORD control = GetWord(descriptor + 2);
  DWORD owner = GetDword(descriptor + 4);
  DWORD dacl = GetDword(descriptor + 16);
  if (owner) security.owner = DecodeSid(descriptor + owner);
  security.protectedDacl = (control & SE_DACL_PROTECTED) != 0;
  if (!(control & 0x0004)) return true;  // no access list given: inherited
  if (!dacl) {
    security.nullDacl = true;
    return true;
  }
  const BYTE* acl = descriptor + dacl;
  const BYTE* ace = acl + 8;
  for (WORD i = 0; i < GetWord(acl + 4); ++i) {
    SimAce entry;
    entry.allow = ace[0] == ACCESS_ALLOWED_ACE_TYPE;
    entry.flags = ace[1];
    entry.mask = GetDword(ace + 4);
    entry.sid = DecodeSid(ace + 8);
    security.dacl.push_back(entry);
    ace += GetWord(ace + 2);
  }
  return true;
}

void* CopyToHeap(const std::vector<BYTE>& bytes) {
  void* memory = std::malloc(bytes.empty() ? 1 : bytes.size());
  if (memory && !bytes.empty()) std::memcpy(memory, bytes.data(), bytes.size());
  return memory;
}

// ---- Inheritance ------------------------------------------------------------------

const SimSecurity& DriveRootDefault() {
  static SimSecurity root = [] {
    SimSecurity security;
    ParseSddl(std::string("O:") + kTrustedInstaller +
                  "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)"
                  "(A;OICIIO;0x1301bf;;;AU)(A;OICIIO;GA;;;CO)",
              security);
    return security;
  }();
  return root;
}

// What a child (folder or file) owned by owner inherits from its folder's rules.
std::vector<SimAce> Inherited(const SimSecurity& parent, bool folder, const std::string& owner) {
  std::vector<SimAce> aces;
  if (parent.nullDacl) return aces;
  for (const SimAce& ace : parent.dacl) {
    bool objects = (ace.flags & OBJECT_INHERIT_ACE) != 0;
    bool containers = (ace.flags & CONTAINER_INHERIT_ACE) != 0;
    bool once = (ace.flags & NO_PROPAGATE_INHERIT_ACE) != 0;
    bool creator = ace.sid == kCreatorOwner;
    SimAce child = ace;
    child.flags = INHERITED_ACE;
    if (!folder) {
      if (!objects) continue;
      if (creator) child.sid = owner;
      aces.push_back(child);
      continue;
    }
    if (containers) {
      // In force on the folder (the creator's rule as its owner's), passed on unless once.
      if (creator) child.sid = owner;
      aces.push_back(child);
      if (!once && creator) {
        SimAce passedOn = ace;
        passedOn.flags = static_cast<BYTE>((ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) |
                                           INHERIT_ONLY_ACE | INHERITED_ACE);
        aces.push_back(passedOn);
      } else if (!once) {
        aces.back().flags |= ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
      }
    } else if (objects && !once) {
      child.flags = OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE;  // for its files only
      aces.push_back(child);
    }
  }
  return aces;
}

SimSecurity EffectiveOf(const FsNode* node, const SimSecurity& parent) {
  SimSecurity effective;
  const SimSecurity* own = node->security.get();
  effective.owner = own && !own->owner.empty() ? own->owner : kAdministrators;
  if (own) {
    effective.protectedDacl = own->protectedDacl;
    effective.nullDacl = own->nullDacl;
    effective.dacl = own->dacl;
    if (own->protectedDacl || own->nullDacl) return effective;
  }
  for (const SimAce& ace : Inherited(parent, node->IsDirectory(), effective.owner)) effective.dacl.push_back(ace);
  return effective;
}

}  // namespace

SimSecurity EffectiveSecurity(const std::string& path) {
  std::vector<std::string> parts = SplitPath(FullPath(path));
  SimSecurity security = DriveRootDefault();
  if (parts.empty()) return security;
  std::string prefix = parts[0] + "\\";
  if (const FsNode* root = FindNode(prefix))
    if (root->security) security = *root->security;
  for (size_t i = 1; i < parts.size(); ++i) {
    prefix += (i > 1 ? "\\" : "") + parts[i];
    const FsNode* node = FindNode(prefix);
    if (!node) break;
    security = EffectiveOf(node, security);
  }
  return security;
}

void ApplyCreationSecurity(FsNode& node, const void* descriptor) {
  auto security = std::make_shared<SimSecurity>();
  if (!DecodeDescriptor(static_cast<const BYTE*>(descriptor), *security)) return;
  if (security->owner.empty()) security->owner = M().system.isAdmin ? kAdministrators : M().tokens.userSid;
  node.security = security;
}

void SetSecurity(const std::string& path, const std::string& sddl) {
  FsNode* node = FindNode(path);
  auto security = std::make_shared<SimSecurity>();
  if (!node || !ParseSddl(sddl, *security)) throw std::runtime_error("SetSecurity: " + path + " " + sddl);
  node->security = security;
}

std::string SecurityText(const std::string& path) {
  SimSecurity security = EffectiveSecurity(path);
  std::string text = "O:" + security.owner + "D:" + (security.protectedDacl ? "P" : "");
  for (const SimAce& ace : security.dacl) {
    char mask[16];
    std::snprintf(mask, sizeof mask, "0x%x", static_cast<unsigned>(ace.mask));
    std::string flags;
    if (ace.flags & OBJECT_INHERIT_ACE) flags += "OI";
    if (ace.flags & CONTAINER_INHERIT_ACE) flags += "CI";
    if (ace.flags & NO_PROPAGATE_INHERIT_ACE) flags += "NP";
    if (ace.flags & INHERIT_ONLY_ACE) flags += "IO";
    if (ace.flags & INHERITED_ACE) flags += "ID";
    text += std::string("(") + (ace.allow ? "A" : "D") + ";" + flags + ";" + mask + ";;;" + ace.sid + ")";
  }
  return text;
}

void SetWindowsFolderSecurity(const std::string& windowsDirectory) {
  SetSecurity(windowsDirectory, std::string("O:") + kTrustedInstaller + "D:P(A;OICI;FA;;;" + kTrustedInstaller +
                                    ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)");
}

}  // namespace winsim

using namespace winsim;

HLOCAL LocalFree(HLOCAL memory) {
  std::free(memory);
  return nullptr;
}

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
  SimSecurity security;
  if (!text || !descriptor || revision != SDDL_REVISION_1 || !ParseSddl(text, security))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  // A "D:" without rules is an empty list; none at all leaves the list out.
  std::vector<BYTE> bytes = EncodeDescriptor(security, true, std::strstr(text, "D:") != nullptr);
  *descriptor = CopyToHeap(bytes);
  if (size) *size = static_cast<ULONG>(bytes.size());
  return TRUE;
}

DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID* group,
                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  std::string path = OpenFilePath(handle);
  if (type != SE_FILE_OBJECT || path.empty()) return ERROR_INVALID_HANDLE;
  if (!FindNode(path)) return ERROR_FILE_NOT_FOUND;
  bool withOwner = (what & OWNER_SECURITY_INFORMATION) != 0;
  bool withDacl = (what & DACL_SECURITY_INFORMATION) != 0;
  std::vector<BYTE> bytes = EncodeDescriptor(EffectiveSecurity(path), withOwner, withDacl);
  BYTE* memory = static_cast<BYTE*>(CopyToHeap(bytes));
  DWORD ownerAt = GetDword(memory + 4);
  DWORD daclAt = GetDword(memory + 16);
  if (owner) *owner = withOwner && ownerAt ? memory + ownerAt : nullptr;
  if (dacl) *dacl = withDacl && daclAt ? reinterpret_cast<PACL>(memory + daclAt) : nullptr;
  if (group) *group = nullptr;
  if (sacl) *sacl = nullptr;
  if (descriptor)
    *descriptor = memory;
  else
    std::free(memory);
  return ERROR_SUCCESS;
}

BOOL GetAclInformation(PACL acl, LPVOID information, DWORD length, ACL_INFORMATION_CLASS kind) {
  if (!acl || !information || kind != AclSizeInformation || length < sizeof(ACL_SIZE_INFORMATION))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ACL_SIZE_INFORMATION* size = static_cast<ACL_SIZE_INFORMATION*>(information);
  size->AceCount = acl->AceCount;
  size->AclBytesInUse = acl->AclSize;
  size->AclBytesFree = 0;
  return TRUE;
}

BOOL GetAce(PACL acl, DWORD index, LPVOID* ace) {
  if (!acl || !ace || index >= acl->AceCount) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  BYTE* entry = reinterpret_cast<BYTE*>(acl) + 8;
  for (DWORD i = 0; i < index; ++i) entry += GetWord(entry + 2);
  *ace = entry;
  return TRUE;
}

BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text) {
  if (!sid || !text) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::string value = DecodeSid(static_cast<const BYTE*>(sid));
  *text = static_cast<LPSTR>(CopyToHeap(std::vector<BYTE>(value.c_str(), value.c_str() + value.size() + 1)));
  return TRUE;
}

BOOL LookupAccountSidA(LPCSTR, PSID sid, LPSTR name, LPDWORD nameSize, LPSTR domain, LPDWORD domainSize,
                       SID_NAME_USE* use) {
  if (!sid || !nameSize || !domainSize) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::string text = DecodeSid(static_cast<const BYTE*>(sid));
  auto known = AccountNames().find(text);
  std::pair<std::string, std::string> account;
  if (known != AccountNames().end())
    account = known->second;
  else if (text == M().tokens.userSid)
    account = {M().system.computerName, M().tokens.user};
  else
    return Fail(ERROR_NONE_MAPPED, FALSE);
  if (!name || !domain || *nameSize <= account.second.size() || *domainSize <= account.first.size()) {
    *nameSize = static_cast<DWORD>(account.second.size() + 1);
    *domainSize = static_cast<DWORD>(account.first.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  std::memcpy(name, account.second.c_str(), account.second.size() + 1);
  std::memcpy(domain, account.first.c_str(), account.first.size() + 1);
  *nameSize = static_cast<DWORD>(account.second.size());
  *domainSize = static_cast<DWORD>(account.first.size());
  if (use) *use = SidTypeWellKnownGroup;
  return TRUE;
}

BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD length,
                         PDWORD needed) {
  if (!LookupHandle(token, HandleKind::Token) || !needed) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (kind == TokenElevation) return winsim::TokenElevationInformation(information, length, needed);
  if (kind != TokenUser) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::vector<BYTE> sid = EncodeSid(M().tokens.userSid);
  *needed = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
  if (!information || length < *needed) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  TOKEN_USER* user = static_cast<TOKEN_USER*>(information);
  BYTE* sidAt = static_cast<BYTE*>(information) + sizeof(TOKEN_USER);
  std::memcpy(sidAt, sid.data(), sid.size());
  user->User.Sid = sidAt;
  user->User.Attributes = 0;
  return TRUE;
}

BOOL IsValidSid(PSID sid) {
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return bytes && bytes[0] == 1 && bytes[1] <= 15;
}

DWORD GetLengthSid(PSID sid) { return IsValidSid(sid) ? 8 + 4 * static_cast<const BYTE*>(sid)[1] : 0; }

BOOL EqualSid(PSID a, PSID b) {
  if (!IsValidSid(a) || !IsValidSid(b)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  DWORD length = GetLengthSid(a);
  SetLastError(ERROR_SUCCESS);
  return length == GetLengthSid(b) && std::memcmp(a, b, length) == 0;
}
