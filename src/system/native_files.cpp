// Files by handle over ntdll's native calls.
#include "system/native_files.h"

#include <aclapi.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>

namespace {

typedef NTSTATUS(NTAPI* NtCreateFileCall)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI* NtQueryDirectoryFileCall)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                                  ULONG, FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN);
typedef NTSTATUS(NTAPI* NtInformationFileCall)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
typedef ULONG(NTAPI* RtlNtStatusToDosErrorCall)(NTSTATUS);
typedef DWORD(WINAPI* GetFinalPathNameByHandleWCall)(HANDLE, LPWSTR, DWORD, DWORD);

// The native constants, as winternl.h of every SDK does not carry them all.
const ULONG kFileOpen = 1;
const ULONG kDirectoryFile = 0x00000001;
const ULONG kSynchronousIo = 0x00000020;  // FILE_SYNCHRONOUS_IO_NONALERT
const ULONG kNonDirectoryFile = 0x00000040;
const ULONG kOpenForBackup = 0x00004000;
const ULONG kOpenReparsePoint = 0x00200000;
const ULONG kCaseInsensitive = 0x00000040;  // OBJ_CASE_INSENSITIVE

const FILE_INFORMATION_CLASS kBasicInformation = static_cast<FILE_INFORMATION_CLASS>(4);
const FILE_INFORMATION_CLASS kStandardInformation = static_cast<FILE_INFORMATION_CLASS>(5);
const FILE_INFORMATION_CLASS kDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
const FILE_INFORMATION_CLASS kAttributeTagInformation = static_cast<FILE_INFORMATION_CLASS>(35);
const FILE_INFORMATION_CLASS kIdBothDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(37);
const FILE_INFORMATION_CLASS kDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);

const ULONG kDispositionDelete = 0x00000001;
const ULONG kDispositionPosix = 0x00000002;
const ULONG kDispositionIgnoreReadOnly = 0x00000010;

const NTSTATUS kStatusNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
const NTSTATUS kStatusNotImplemented = static_cast<NTSTATUS>(0xC0000002L);
const NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003L);
const NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);
const NTSTATUS kStatusNoSuchFile = static_cast<NTSTATUS>(0xC000000FL);
const NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);
const NTSTATUS kStatusNotSupported = static_cast<NTSTATUS>(0xC00000BBL);
const NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103L);
const NTSTATUS kStatusCannotDelete = static_cast<NTSTATUS>(0xC0000121L);

// The records of a listing, as FILE_ID_BOTH_DIR_INFORMATION lays them out.
struct IdBothDirectoryRecord {
  ULONG NextEntryOffset;
  ULONG FileIndex;
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER EndOfFile;
  LARGE_INTEGER AllocationSize;
  ULONG FileAttributes;
  ULONG FileNameLength;
  ULONG EaSize;
  CHAR ShortNameLength;
  WCHAR ShortName[12];
  LARGE_INTEGER FileId;
  WCHAR FileName[1];
};

struct BasicRecord {
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  ULONG FileAttributes;
};

struct StandardRecord {
  LARGE_INTEGER AllocationSize;
  LARGE_INTEGER EndOfFile;
  ULONG NumberOfLinks;
  BOOLEAN DeletePending;
  BOOLEAN Directory;
};

struct AttributeTagRecord {
  ULONG FileAttributes;
  ULONG ReparseTag;
};

// One listing's worth: large enough for a few hundred names, small enough to
// hold one for every folder on the way down a deep tree.
const size_t kListingBytes = 16 * 1024;

template <typename Call>
Call As(FARPROC entry) {
  return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(entry));
}

DWORD ErrorOf(NativeFileCalls& calls, NTSTATUS status) {
  return status == 0 ? ERROR_SUCCESS : static_cast<DWORD>(As<RtlNtStatusToDosErrorCall>(calls.statusToError)(status));
}

NTSTATUS SetInformation(NativeFileCalls& calls, HANDLE file, void* record, ULONG length,
                        FILE_INFORMATION_CLASS infoClass) {
  IO_STATUS_BLOCK io;
  std::memset(&io, 0, sizeof io);
  return As<NtInformationFileCall>(calls.setInformation)(file, &io, record, length, infoClass);
}

NTSTATUS QueryInformation(NativeFileCalls& calls, HANDLE file, void* record, ULONG length,
                          FILE_INFORMATION_CLASS infoClass) {
  IO_STATUS_BLOCK io;
  std::memset(&io, 0, sizeof io);
  return As<NtInformationFileCall>(calls.queryInformation)(file, &io, record, length, infoClass);
}

// Clears a read-only attribute through the handle, unless the file has other
// names, which would lose it too.
NTSTATUS ClearReadOnly(NativeFileCalls& calls, HANDLE file) {
  BasicRecord basic;
  std::memset(&basic, 0, sizeof basic);
  NTSTATUS status = QueryInformation(calls, file, &basic, sizeof basic, kBasicInformation);
  if (status != 0) return status;
  if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) return kStatusCannotDelete;
  DWORD links = 1;
  if (QueryLinkCount(calls, file, &links) != ERROR_SUCCESS || links > 1) return kStatusCannotDelete;
  ULONG kept = basic.FileAttributes & ~static_cast<ULONG>(FILE_ATTRIBUTE_READONLY);
  BasicRecord change;
  std::memset(&change, 0, sizeof change);  // times 0: unchanged
  change.FileAttributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
  return SetInformation(calls, file, &change, sizeof change, kBasicInformation);
}

// The SIDs a trusted owner has: SYSTEM, Administrators and TrustedInstaller.
struct WellKnownSid {
  BYTE revision;
  BYTE count;
  BYTE authority[6];
  DWORD subAuthority[6];
};
const WellKnownSid kTrustedOwners[] = {
    {1, 1, {0, 0, 0, 0, 0, 5}, {18}},
    {1, 2, {0, 0, 0, 0, 0, 5}, {32, 544}},
    {1, 6, {0, 0, 0, 0, 0, 5}, {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}},
};

// The account this program runs as (the thread's token while it
// impersonates, which is the same account).
bool IsOwnAccount(PSID owner) {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  std::vector<LONGLONG> buffer(64);  // TOKEN_USER and its SID, aligned
  DWORD length = 0;
  bool same = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)),
                                  &length) &&
              EqualSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, owner);
  CloseHandle(token);
  return same;
}

}  // namespace

bool LoadNativeFileCalls(NativeFileCalls& calls) {
  calls = NativeFileCalls();
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  struct Entry {
    FARPROC* slot;
    const char* name;
  };
  const Entry entries[] = {{&calls.createFile, "NtCreateFile"},
                           {&calls.queryDirectory, "NtQueryDirectoryFile"},
                           {&calls.queryInformation, "NtQueryInformationFile"},
                           {&calls.setInformation, "NtSetInformationFile"},
                           {&calls.statusToError, "RtlNtStatusToDosError"}};
  for (const Entry& entry : entries) {
    *entry.slot = ntdll ? GetProcAddress(ntdll, entry.name) : nullptr;
    if (!*entry.slot && !calls.missing) calls.missing = entry.name;
  }
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  calls.finalPath = kernel32 ? GetProcAddress(kernel32, "GetFinalPathNameByHandleW") : nullptr;
  return !calls.missing;
}

DWORD OpenPathAsItself(const WideString& path, DWORD access, HANDLE* handle) {
  HANDLE opened = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return GetLastError();
  *handle = opened;
  return ERROR_SUCCESS;
}

DWORD OpenChild(NativeFileCalls& calls, HANDLE folder, const WideString& name, DWORD access, OpenAs as,
                HANDLE* handle) {
  const size_t maxUnits = 0x7FFF;  // what a UNICODE_STRING can count, in bytes
  if (name.empty() || name.size() > maxUnits) return ERROR_INVALID_NAME;
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  std::memset(&attributes, 0, sizeof attributes);
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = folder;
  attributes.ObjectName = &text;
  attributes.Attributes = kCaseInsensitive;
  IO_STATUS_BLOCK io;
  std::memset(&io, 0, sizeof io);
  ULONG options = kOpenReparsePoint | kSynchronousIo | kOpenForBackup |
                  (as == OpenAs::Folder ? kDirectoryFile : kNonDirectoryFile);
  HANDLE opened = nullptr;
  NTSTATUS status = As<NtCreateFileCall>(calls.createFile)(&opened, access | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                                                           FILE_SHARE_READ | FILE_SHARE_WRITE, kFileOpen, options,
                                                           nullptr, 0);
  if (status == kStatusFileIsADirectory) return kErrorIsAFolder;
  if (status == kStatusNotADirectory) return kErrorIsNotAFolder;
  if (status != 0) return ErrorOf(calls, status);
  *handle = opened;
  return ERROR_SUCCESS;
}

DWORD QueryAttributeTag(NativeFileCalls& calls, HANDLE file, DWORD* attributes, DWORD* reparseTag) {
  AttributeTagRecord tag;
  std::memset(&tag, 0, sizeof tag);
  NTSTATUS status = QueryInformation(calls, file, &tag, sizeof tag, kAttributeTagInformation);
  if (status != 0) return ErrorOf(calls, status);
  *attributes = tag.FileAttributes;
  *reparseTag = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? tag.ReparseTag : 0;
  return ERROR_SUCCESS;
}

DWORD QueryLinkCount(NativeFileCalls& calls, HANDLE file, DWORD* links) {
  StandardRecord standard;
  std::memset(&standard, 0, sizeof standard);
  NTSTATUS status = QueryInformation(calls, file, &standard, sizeof standard, kStandardInformation);
  if (status != 0) return ErrorOf(calls, status);
  *links = standard.NumberOfLinks;
  return ERROR_SUCCESS;
}

namespace {

// One query of a folder's listing into entries.
DWORD QueryFolder(NativeFileCalls& calls, HANDLE folder, bool restart, const WideString* name,
                  std::vector<NativeEntry>& entries) {
  entries.clear();
  UNICODE_STRING mask;
  std::memset(&mask, 0, sizeof mask);
  if (name) {
    if (name->empty() || name->size() > 0x7FFF) return ERROR_INVALID_NAME;
    mask.Buffer = const_cast<PWSTR>(name->c_str());
    mask.Length = static_cast<USHORT>(name->size() * sizeof(WCHAR));
    mask.MaximumLength = mask.Length;
  }
  std::vector<LONGLONG> buffer(kListingBytes / sizeof(LONGLONG));  // aligned as the records need
  IO_STATUS_BLOCK io;
  std::memset(&io, 0, sizeof io);
  NTSTATUS status = As<NtQueryDirectoryFileCall>(calls.queryDirectory)(
      folder, nullptr, nullptr, nullptr, &io, buffer.data(), static_cast<ULONG>(kListingBytes),
      kIdBothDirectoryInformation, name ? TRUE : FALSE, name ? &mask : nullptr, restart ? TRUE : FALSE);
  if (status == kStatusNoMoreFiles || status == kStatusNoSuchFile) return ERROR_NO_MORE_FILES;
  if (status != 0) return ErrorOf(calls, status);
  const BYTE* start = reinterpret_cast<const BYTE*>(buffer.data());
  const size_t used = io.Information < kListingBytes ? static_cast<size_t>(io.Information) : kListingBytes;
  const size_t header = offsetof(IdBothDirectoryRecord, FileName);
  for (size_t offset = 0; offset + header <= used;) {
    IdBothDirectoryRecord record;
    std::memcpy(&record, start + offset, header);
    size_t nameBytes = record.FileNameLength;
    if (offset + header + nameBytes > used) break;  // a record the buffer does not hold whole
    NativeEntry entry;
    entry.name.resize(nameBytes / sizeof(WCHAR));
    if (nameBytes) std::memcpy(&entry.name[0], start + offset + header, entry.name.size() * sizeof(WCHAR));
    size_t shortUnits = static_cast<unsigned char>(record.ShortNameLength) / sizeof(WCHAR);
    if (shortUnits > 12) shortUnits = 12;
    entry.shortName.assign(record.ShortName, record.ShortName + shortUnits);
    entry.attributes = record.FileAttributes;
    entry.size = static_cast<unsigned long long>(record.EndOfFile.QuadPart);
    entries.push_back(entry);
    if (record.NextEntryOffset == 0) break;
    offset += record.NextEntryOffset;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ReadFolder(NativeFileCalls& calls, HANDLE folder, bool restart, std::vector<NativeEntry>& entries) {
  return QueryFolder(calls, folder, restart, nullptr, entries);
}

DWORD ReadEntry(NativeFileCalls& calls, HANDLE folder, const WideString& name, NativeEntry& entry) {
  std::vector<NativeEntry> entries;
  DWORD rc = QueryFolder(calls, folder, true, &name, entries);
  if (rc == ERROR_NO_MORE_FILES || (rc == ERROR_SUCCESS && entries.empty())) return ERROR_FILE_NOT_FOUND;
  if (rc != ERROR_SUCCESS) return rc;
  entry = entries.front();
  return ERROR_SUCCESS;
}

DWORD DeleteByHandle(NativeFileCalls& calls, HANDLE file, bool evenReadOnly) {
  if (!calls.noDispositionEx) {
    ULONG flags = kDispositionDelete | kDispositionPosix | (evenReadOnly ? kDispositionIgnoreReadOnly : 0);
    NTSTATUS status = SetInformation(calls, file, &flags, sizeof flags, kDispositionInformationEx);
    if (status == 0) return ERROR_SUCCESS;
    // Windows before 10 1809 (or the file system) does not know the call or
    // one of its flags; anything else is the file's own answer.
    if (status != kStatusInvalidInfoClass && status != kStatusNotImplemented && status != kStatusInvalidParameter &&
        status != kStatusNotSupported)
      return ErrorOf(calls, status);
    calls.noDispositionEx = true;
  }
  BOOLEAN yes = TRUE;
  NTSTATUS status = SetInformation(calls, file, &yes, sizeof yes, kDispositionInformation);
  if (status == kStatusCannotDelete && evenReadOnly && ClearReadOnly(calls, file) == 0)
    status = SetInformation(calls, file, &yes, sizeof yes, kDispositionInformation);
  return ErrorOf(calls, status);
}

DWORD QueryFinalPath(NativeFileCalls& calls, HANDLE file, WideString& path) {
  if (!calls.finalPath) return ERROR_PROC_NOT_FOUND;
  auto finalPath = As<GetFinalPathNameByHandleWCall>(calls.finalPath);
  std::vector<WCHAR> text(MAX_PATH + 1);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD length = finalPath(file, text.data(), static_cast<DWORD>(text.size()), 0 /* normalized, DOS volume name */);
    if (length == 0) return GetLastError();
    if (length < text.size()) {
      path.assign(text.data(), length);
      return ERROR_SUCCESS;
    }
    text.resize(length + 1);  // the size it asked for, terminator included
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

DWORD QueryOwnerTrusted(HANDLE file, bool* trusted) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD rc = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                             &descriptor);
  if (rc != ERROR_SUCCESS) return rc;
  bool known = false;
  if (owner && IsValidSid(owner)) {
    for (const WellKnownSid& sid : kTrustedOwners)
      if (EqualSid(owner, const_cast<WellKnownSid*>(&sid))) known = true;
    if (!known) known = IsOwnAccount(owner);
  }
  if (descriptor) LocalFree(descriptor);
  *trusted = known;
  return ERROR_SUCCESS;
}

bool SamePathIgnoringCase(const WideString& a, const WideString& b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  WideString x = a;
  WideString y = b;
  CharUpperBuffW(&x[0], static_cast<DWORD>(x.size()));
  CharUpperBuffW(&y[0], static_cast<DWORD>(y.size()));
  return x == y;
}
