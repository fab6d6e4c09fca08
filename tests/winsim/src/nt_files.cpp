// ntdll's native file calls and kernel32's by-handle calls over the simulated
// file system, as Windows documents them: opens relative to a directory
// handle (OBJECT_ATTRIBUTES.RootDirectory), FILE_OPEN_REPARSE_POINT, directory
// listings by handle (FILE_ID_BOTH_DIR_INFORMATION), attribute tags, and
// deletion by disposition: an ordinary one takes effect when the file's last
// handle closes, a POSIX one (FileDispositionInformationEx) takes the name when
// the deleting handle closes. GetFinalPathNameByHandleW reports where the file
// a handle holds now is, links resolved.
#include <cstddef>
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

NTSTATUS StatusOf(DWORD error, const FsNode* node) {
  switch (error) {
    case ERROR_SUCCESS: return STATUS_SUCCESS;
    case ERROR_ACCESS_DENIED: return node && node->deletePending ? STATUS_DELETE_PENDING : STATUS_ACCESS_DENIED;
    case ERROR_SHARING_VIOLATION: return STATUS_SHARING_VIOLATION;
    default: return STATUS_INVALID_PARAMETER;
  }
}

NTSTATUS Done(PIO_STATUS_BLOCK io, NTSTATUS status, ULONG_PTR information = 0) {
  if (io) {
    io->Status = status;
    io->Information = information;
  }
  return status;
}

// A name NTFS would refuse as a component. A ':' starts a stream name, which
// the simulation does not hold.
NTSTATUS CheckComponent(const std::u16string& component) {
  if (component == u"." || component == u"..") return STATUS_OBJECT_NAME_INVALID;
  for (char16_t c : component) {
    if (c == u':') return STATUS_OBJECT_NAME_NOT_FOUND;
    if (c == u'*' || c == u'?' || c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'/' || c == 0)
      return STATUS_OBJECT_NAME_INVALID;
  }
  return STATUS_SUCCESS;
}

std::vector<std::u16string> Components(const std::u16string& name) {
  std::vector<std::u16string> parts;
  std::u16string current;
  for (char16_t c : name) {
    if (c == u'\\') {
      parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  parts.push_back(current);
  return parts;
}

const char kNtPrefix[] = "\\??\\";

// NtCreateFile and NtOpenFile.
NTSTATUS Open(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io, ULONG share,
              ULONG disposition, ULONG options) {
  if (!file || !attributes || !attributes->ObjectName) return Done(io, STATUS_INVALID_PARAMETER);
  const UNICODE_STRING& objectName = *attributes->ObjectName;
  if (objectName.Length % 2 || (objectName.Length && !objectName.Buffer)) return Done(io, STATUS_INVALID_PARAMETER);
  std::u16string name(objectName.Buffer ? objectName.Buffer : u"", objectName.Length / 2);

  std::shared_ptr<FsNode> folder;
  std::string base;
  std::vector<std::u16string> parts;
  if (attributes->RootDirectory) {
    OpenFile* root = FileOfHandle(attributes->RootDirectory);
    if (!root) return Done(io, STATUS_INVALID_HANDLE);
    if (!root->node->IsDirectory()) return Done(io, STATUS_INVALID_PARAMETER);
    if (!name.empty() && name[0] == u'\\') return Done(io, STATUS_INVALID_PARAMETER);
    folder = root->node;
    base = root->path;
    if (name.empty()) {
      // The directory itself, opened again.
      FileHook("opening", base);
      HANDLE handle = nullptr;
      DWORD rc = OpenNode(root->node, root->parent, root->name, root->path, access, share, &handle);
      if (rc != ERROR_SUCCESS) return Done(io, StatusOf(rc, root->node.get()));
      *file = handle;
      return Done(io, STATUS_SUCCESS, 1 /* FILE_OPENED */);
    }
    parts = Components(name);
  } else {
    std::string path = Utf8FromWide(name);
    if (path.compare(0, 4, kNtPrefix) != 0) return Done(io, STATUS_OBJECT_NAME_INVALID);
    std::vector<std::u16string> all = Components(name.substr(4));
    if (all.empty() || all[0].size() != 2 || all[0][1] != u':') return Done(io, STATUS_OBJECT_PATH_NOT_FOUND);
    base = Utf8FromWide(all[0]) + "\\";
    Resolved drive;
    if (ResolvePath(base, &drive) != ERROR_SUCCESS) return Done(io, STATUS_OBJECT_PATH_NOT_FOUND);
    folder = drive.node;
    parts.assign(all.begin() + 1, all.end());
    if (!parts.empty() && parts.back().empty()) parts.pop_back();
    if (parts.empty()) return Done(io, STATUS_INVALID_PARAMETER);
  }
  for (const std::u16string& part : parts) {
    if (part.empty()) return Done(io, STATUS_OBJECT_NAME_INVALID);
    NTSTATUS status = CheckComponent(part);
    if (status != STATUS_SUCCESS) return Done(io, status);
  }

  std::string full = base;
  for (const std::u16string& part : parts) full += (full.empty() || full.back() == '\\' ? "" : "\\") + Utf8FromWide(part);
  FileHook("opening", full);

  // The folders on the way: a link among them is followed, as Windows reparses.
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    std::shared_ptr<FsNode> next = ChildOf(*folder, Utf8FromWide(parts[i]));
    if (next && !next->linkTarget.empty()) next = FollowLink(next);
    if (!next || !next->IsDirectory()) return Done(io, STATUS_OBJECT_PATH_NOT_FOUND);
    folder = next;
  }
  std::string leaf = Utf8FromWide(parts.back());
  std::shared_ptr<FsNode> parent = folder;
  std::shared_ptr<FsNode> node = ChildOf(*folder, leaf);
  ULONG_PTR information = 1;  // FILE_OPENED
  if (node && !node->linkTarget.empty() && !(options & FILE_OPEN_REPARSE_POINT)) {
    node = FollowLink(node);
    if (!node) return Done(io, STATUS_OBJECT_NAME_NOT_FOUND);
    std::string target = PathOfNode(node.get());
    size_t slash = target.find_last_of('\\');
    Resolved resolved;
    ResolvePath(target, &resolved);
    parent = resolved.parent;
    leaf = slash == std::string::npos ? target : target.substr(slash + 1);
    full = target;
  }
  if (node) {
    if (disposition == FILE_CREATE) return Done(io, STATUS_OBJECT_NAME_COLLISION);
  } else {
    if (disposition != FILE_CREATE && disposition != FILE_OPEN_IF) return Done(io, STATUS_OBJECT_NAME_NOT_FOUND);
    node = std::make_shared<FsNode>();
    node->name = leaf;
    node->attributes = (options & FILE_DIRECTORY_FILE) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    information = 2;  // FILE_CREATED
  }
  if ((options & FILE_DIRECTORY_FILE) && !node->IsDirectory()) return Done(io, STATUS_NOT_A_DIRECTORY);
  if ((options & FILE_NON_DIRECTORY_FILE) && node->IsDirectory()) return Done(io, STATUS_FILE_IS_A_DIRECTORY);
  HANDLE handle = nullptr;
  DWORD rc = OpenNode(node, parent, leaf, full, access, share, &handle);
  if (rc != ERROR_SUCCESS) return Done(io, StatusOf(rc, node.get()));
  if (information == 2 && ProgramEnded()) {
    CloseHandle(handle);
    return Done(io, STATUS_ACCESS_DENIED);
  }
  if (information == 2) parent->children.emplace(leaf, node);
  *file = handle;
  return Done(io, STATUS_SUCCESS, information);
}

ULONG ReparseTagOf(const FsNode& node) {
  if (node.linkTarget.empty()) return 0;
  return node.IsDirectory() ? IO_REPARSE_TAG_MOUNT_POINT : IO_REPARSE_TAG_SYMLINK;
}

LONGLONG IdOf(const FsNode* node) { return static_cast<LONGLONG>(reinterpret_cast<uintptr_t>(node) >> 4); }

// Whether a name matches a listing mask: '*' and '?' as NT matches them.
bool MaskMatches(const std::u16string& mask, size_t m, const std::u16string& name, size_t n) {
  while (m < mask.size()) {
    if (mask[m] == u'*') {
      for (size_t k = n; k <= name.size(); ++k)
        if (MaskMatches(mask, m + 1, name, k)) return true;
      return false;
    }
    if (n == name.size()) return false;
    if (mask[m] != u'?' && UpperCodePoint(mask[m]) != UpperCodePoint(name[n])) return false;
    ++m;
    ++n;
  }
  return n == name.size();
}

NTSTATUS QueryDirectory(OpenFile& file, PIO_STATUS_BLOCK io, PVOID information, ULONG length,
                        FILE_INFORMATION_CLASS infoClass, BOOLEAN single, PUNICODE_STRING mask, BOOLEAN restart) {
  if (!file.node->IsDirectory()) return Done(io, STATUS_INVALID_PARAMETER);
  if (!(file.access & FILE_LIST_DIRECTORY)) return Done(io, STATUS_ACCESS_DENIED);
  if (infoClass != FileIdBothDirectoryInformation) return Done(io, STATUS_INVALID_INFO_CLASS);
  if (!information) return Done(io, STATUS_INVALID_PARAMETER);
  bool first = restart || !file.listed;
  if (first) {
    bool driveRoot = !file.parent;
    std::vector<ListedEntry> all = ListFolder(file.node, driveRoot);
    file.listing.clear();
    std::u16string pattern = mask && mask->Buffer ? std::u16string(mask->Buffer, mask->Length / 2) : u"";
    for (const ListedEntry& entry : all)
      if (pattern.empty() || MaskMatches(pattern, 0, WideFromUtf8(entry.name), 0)) file.listing.push_back(entry);
    file.listed = true;
    file.next = 0;
    FileHook("listed", file.path);
  }
  if (file.next >= file.listing.size())
    return Done(io, first && file.listing.empty() ? STATUS_NO_SUCH_FILE : STATUS_NO_MORE_FILES);
  BYTE* out = static_cast<BYTE*>(information);
  const size_t header = offsetof(FILE_ID_BOTH_DIR_INFORMATION, FileName);
  size_t used = 0;
  FILE_ID_BOTH_DIR_INFORMATION* previous = nullptr;
  while (file.next < file.listing.size()) {
    const ListedEntry& entry = file.listing[file.next];
    std::u16string name = WideFromUtf8(entry.name);
    size_t offset = (used + 7) & ~static_cast<size_t>(7);
    size_t size = header + name.size() * sizeof(WCHAR);
    if (offset + size > length) break;
    FILE_ID_BOTH_DIR_INFORMATION record;
    std::memset(&record, 0, sizeof record);
    record.FileAttributes = entry.node->attributes;
    record.EndOfFile.QuadPart = static_cast<LONGLONG>(entry.node->content.size());
    record.AllocationSize.QuadPart = (record.EndOfFile.QuadPart + 4095) & ~4095LL;
    record.FileNameLength = static_cast<ULONG>(name.size() * sizeof(WCHAR));
    record.EaSize = entry.node->linkTarget.empty() ? 0 : ReparseTagOf(*entry.node);  // as NTFS reports a tag there
    std::u16string alias = WideFromUtf8(entry.node->shortName).substr(0, 12);
    record.ShortNameLength = static_cast<CCHAR>(alias.size() * sizeof(WCHAR));
    std::memcpy(record.ShortName, alias.data(), alias.size() * sizeof(WCHAR));
    record.FileId.QuadPart = IdOf(entry.node.get());
    std::memcpy(out + offset, &record, header);
    std::memcpy(out + offset + header, name.data(), name.size() * sizeof(WCHAR));
    auto* written = reinterpret_cast<FILE_ID_BOTH_DIR_INFORMATION*>(out + offset);
    if (previous) {
      ULONG gap = static_cast<ULONG>(out + offset - reinterpret_cast<BYTE*>(previous));
      std::memcpy(reinterpret_cast<BYTE*>(previous) + offsetof(FILE_ID_BOTH_DIR_INFORMATION, NextEntryOffset), &gap,
                  sizeof gap);
    }
    previous = written;
    used = offset + size;
    ++file.next;
    if (single) break;
  }
  if (!previous) return Done(io, length < header ? STATUS_INFO_LENGTH_MISMATCH : STATUS_BUFFER_OVERFLOW);
  return Done(io, STATUS_SUCCESS, used);
}

NTSTATUS QueryInformation(OpenFile& file, PIO_STATUS_BLOCK io, PVOID information, ULONG length,
                          FILE_INFORMATION_CLASS infoClass) {
  const FsNode& node = *file.node;
  switch (infoClass) {
    case FileAttributeTagInformation: {
      if (length < sizeof(FILE_ATTRIBUTE_TAG_INFORMATION)) return Done(io, STATUS_INFO_LENGTH_MISMATCH);
      if (!(file.access & FILE_READ_ATTRIBUTES)) return Done(io, STATUS_ACCESS_DENIED);
      FILE_ATTRIBUTE_TAG_INFORMATION tag = {node.attributes, ReparseTagOf(node)};
      std::memcpy(information, &tag, sizeof tag);
      return Done(io, STATUS_SUCCESS, sizeof tag);
    }
    case FileBasicInformation: {
      if (length < sizeof(FILE_BASIC_INFORMATION)) return Done(io, STATUS_INFO_LENGTH_MISMATCH);
      if (!(file.access & FILE_READ_ATTRIBUTES)) return Done(io, STATUS_ACCESS_DENIED);
      FILE_BASIC_INFORMATION basic;
      std::memset(&basic, 0, sizeof basic);
      basic.FileAttributes = node.attributes;
      std::memcpy(information, &basic, sizeof basic);
      return Done(io, STATUS_SUCCESS, sizeof basic);
    }
    case FileStandardInformation: {
      if (length < sizeof(FILE_STANDARD_INFORMATION)) return Done(io, STATUS_INFO_LENGTH_MISMATCH);
      FILE_STANDARD_INFORMATION standard;
      std::memset(&standard, 0, sizeof standard);
      standard.EndOfFile.QuadPart = static_cast<LONGLONG>(node.content.size());
      standard.AllocationSize.QuadPart = (standard.EndOfFile.QuadPart + 4095) & ~4095LL;
      standard.NumberOfLinks = LinkCountOf(&node);
      standard.DeletePending = node.deletePending || file.posixDelete;
      standard.Directory = node.IsDirectory();
      std::memcpy(information, &standard, sizeof standard);
      return Done(io, STATUS_SUCCESS, sizeof standard);
    }
    default:
      return Done(io, STATUS_INVALID_INFO_CLASS);
  }
}

// What a deletion by disposition checks first: read-only files (unless told to
// ignore it) and folders that still hold entries are refused.
NTSTATUS CheckDeletable(const FsNode& node, bool ignoreReadOnly) {
  if ((node.attributes & FILE_ATTRIBUTE_READONLY) && !ignoreReadOnly) return STATUS_CANNOT_DELETE;
  if (node.IsDirectory() && node.linkTarget.empty() && !node.children.empty()) return STATUS_DIRECTORY_NOT_EMPTY;
  return STATUS_SUCCESS;
}

NTSTATUS SetInformation(OpenFile& file, PIO_STATUS_BLOCK io, PVOID information, ULONG length,
                        FILE_INFORMATION_CLASS infoClass) {
  FsNode& node = *file.node;
  switch (infoClass) {
    case FileDispositionInformation:
    case FileDispositionInformationEx: {
      bool ex = infoClass == FileDispositionInformationEx;
      if (ex && !M().files.dispositionEx) return Done(io, STATUS_INVALID_INFO_CLASS);
      if (length < (ex ? sizeof(FILE_DISPOSITION_INFORMATION_EX) : sizeof(FILE_DISPOSITION_INFORMATION)))
        return Done(io, STATUS_INFO_LENGTH_MISMATCH);
      if (!(file.access & DELETE)) return Done(io, STATUS_ACCESS_DENIED);
      ULONG flags = 0;
      if (ex) {
        std::memcpy(&flags, information, sizeof flags);
      } else {
        BOOLEAN deleteFile = 0;
        std::memcpy(&deleteFile, information, sizeof deleteFile);
        flags = deleteFile ? FILE_DISPOSITION_FLAG_DELETE : 0;
      }
      if (!(flags & FILE_DISPOSITION_FLAG_DELETE)) {
        node.deletePending = false;
        file.posixDelete = false;
        return Done(io, STATUS_SUCCESS);
      }
      FileHook("deleting", file.path);
      NTSTATUS status = CheckDeletable(node, (flags & FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE) != 0);
      if (status != STATUS_SUCCESS) return Done(io, status);
      if (DWORD fault = MachineChange("DeleteByHandle", file.path, ERROR_SHARING_VIOLATION))
        return Done(io, StatusOf(fault, &node));
      node.deletePending = true;
      if (flags & FILE_DISPOSITION_FLAG_POSIX_SEMANTICS) file.posixDelete = true;
      return Done(io, STATUS_SUCCESS);
    }
    case FileBasicInformation: {
      if (length < sizeof(FILE_BASIC_INFORMATION)) return Done(io, STATUS_INFO_LENGTH_MISMATCH);
      if (!(file.access & FILE_WRITE_ATTRIBUTES)) return Done(io, STATUS_ACCESS_DENIED);
      FILE_BASIC_INFORMATION basic;
      std::memcpy(&basic, information, sizeof basic);
      if (basic.FileAttributes != 0) {
        if (DWORD fault = MachineChange("SetFileAttributesByHandle", file.path, ERROR_ACCESS_DENIED))
          return Done(io, StatusOf(fault, &node));
        const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        DWORD kept = node.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
        node.attributes = kept | (basic.FileAttributes & settable);
        if (node.attributes == 0) node.attributes = FILE_ATTRIBUTE_NORMAL;
      }
      return Done(io, STATUS_SUCCESS);
    }
    default:
      return Done(io, STATUS_INVALID_INFO_CLASS);
  }
}

BOOL Win32Result(NTSTATUS status) {
  if (status == STATUS_SUCCESS) return TRUE;
  return Fail(RtlNtStatusToDosError(status), FALSE);
}

template <typename Function>
FARPROC Export(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

// The file calls that programs look up at run time, unless listed missing
// (LoaderState::missingExports).
FARPROC FindFileExport(const char* module, const char* name) {
  if (!name || M().loader.missingExports.count(name)) return nullptr;
  struct Entry {
    const char* module;
    const char* name;
    FARPROC entry;
  };
  const Entry entries[] = {
      {"ntdll.dll", "NtCreateFile", Export(&NtCreateFile)},
      {"ntdll.dll", "NtOpenFile", Export(&NtOpenFile)},
      {"ntdll.dll", "NtQueryDirectoryFile", Export(&NtQueryDirectoryFile)},
      {"ntdll.dll", "NtQueryInformationFile", Export(&NtQueryInformationFile)},
      {"ntdll.dll", "NtSetInformationFile", Export(&NtSetInformationFile)},
      {"ntdll.dll", "RtlNtStatusToDosError", Export(&RtlNtStatusToDosError)},
      {"kernel32.dll", "GetFinalPathNameByHandleW", Export(&GetFinalPathNameByHandleW)},
      {"kernel32.dll", "GetFileInformationByHandleEx", Export(&GetFileInformationByHandleEx)},
      {"kernel32.dll", "SetFileInformationByHandle", Export(&SetFileInformationByHandle)},
  };
  for (const Entry& entry : entries)
    if (EqualsNoCase(module, entry.module) && std::strcmp(name, entry.name) == 0) return entry.entry;
  return nullptr;
}

}  // namespace winsim

using namespace winsim;

NTSTATUS NtCreateFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK status,
                      PLARGE_INTEGER, ULONG, ULONG share, ULONG disposition, ULONG options, PVOID, ULONG) {
  return Open(file, access, attributes, status, share, disposition, options);
}

NTSTATUS NtOpenFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK status,
                    ULONG share, ULONG options) {
  return Open(file, access, attributes, status, share, FILE_OPEN, options);
}

NTSTATUS NtQueryDirectoryFile(HANDLE handle, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK status,
                              PVOID information, ULONG length, FILE_INFORMATION_CLASS infoClass,
                              BOOLEAN returnSingleEntry, PUNICODE_STRING fileName, BOOLEAN restartScan) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Done(status, STATUS_INVALID_HANDLE);
  return QueryDirectory(*file, status, information, length, infoClass, returnSingleEntry, fileName, restartScan);
}

NTSTATUS NtQueryInformationFile(HANDLE handle, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                                FILE_INFORMATION_CLASS infoClass) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Done(status, STATUS_INVALID_HANDLE);
  if (!information) return Done(status, STATUS_INVALID_PARAMETER);
  return QueryInformation(*file, status, information, length, infoClass);
}

NTSTATUS NtSetInformationFile(HANDLE handle, PIO_STATUS_BLOCK status, PVOID information, ULONG length,
                              FILE_INFORMATION_CLASS infoClass) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Done(status, STATUS_INVALID_HANDLE);
  if (!information) return Done(status, STATUS_INVALID_PARAMETER);
  return SetInformation(*file, status, information, length, infoClass);
}

ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status) {
  switch (status) {
    case STATUS_KEY_DELETED: return ERROR_KEY_DELETED;
    case STATUS_SUCCESS: return ERROR_SUCCESS;
    case STATUS_BUFFER_OVERFLOW: return ERROR_MORE_DATA;
    case STATUS_NO_MORE_FILES: return ERROR_NO_MORE_FILES;
    case STATUS_NOT_IMPLEMENTED: return ERROR_INVALID_FUNCTION;
    case STATUS_INVALID_INFO_CLASS: return ERROR_INVALID_PARAMETER;
    case STATUS_INFO_LENGTH_MISMATCH: return ERROR_BAD_LENGTH;
    case STATUS_INVALID_HANDLE: return ERROR_INVALID_HANDLE;
    case STATUS_INVALID_PARAMETER: return ERROR_INVALID_PARAMETER;
    case STATUS_NO_SUCH_FILE: return ERROR_FILE_NOT_FOUND;
    case STATUS_ACCESS_DENIED: return ERROR_ACCESS_DENIED;
    case STATUS_BUFFER_TOO_SMALL: return ERROR_INSUFFICIENT_BUFFER;
    case STATUS_OBJECT_NAME_INVALID: return ERROR_INVALID_NAME;
    case STATUS_OBJECT_NAME_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
    case STATUS_OBJECT_NAME_COLLISION: return ERROR_ALREADY_EXISTS;
    case STATUS_OBJECT_PATH_NOT_FOUND: return ERROR_PATH_NOT_FOUND;
    case STATUS_SHARING_VIOLATION: return ERROR_SHARING_VIOLATION;
    case STATUS_DELETE_PENDING: return ERROR_ACCESS_DENIED;
    case STATUS_FILE_IS_A_DIRECTORY: return ERROR_ACCESS_DENIED;
    case STATUS_NOT_SUPPORTED: return 50;  // ERROR_NOT_SUPPORTED
    case STATUS_DIRECTORY_NOT_EMPTY: return ERROR_DIR_NOT_EMPTY;
    case STATUS_NOT_A_DIRECTORY: return ERROR_DIRECTORY;
    case STATUS_CANNOT_DELETE: return ERROR_ACCESS_DENIED;
    default: return 317;  // ERROR_MR_MID_NOT_FOUND: no Win32 code for it
  }
}

BOOL GetFileInformationByHandleEx(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information,
                                  DWORD size) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!information) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  IO_STATUS_BLOCK io;
  switch (infoClass) {
    case FileBasicInfo: return Win32Result(QueryInformation(*file, &io, information, size, FileBasicInformation));
    case FileStandardInfo:
      return Win32Result(QueryInformation(*file, &io, information, size, FileStandardInformation));
    case FileAttributeTagInfo:
      return Win32Result(QueryInformation(*file, &io, information, size, FileAttributeTagInformation));
    case FileIdBothDirectoryInfo:
    case FileIdBothDirectoryRestartInfo:
      return Win32Result(QueryDirectory(*file, &io, information, size, FileIdBothDirectoryInformation, FALSE, nullptr,
                                        infoClass == FileIdBothDirectoryRestartInfo));
    default: return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
}

BOOL SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID information, DWORD size) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!information) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  IO_STATUS_BLOCK io;
  switch (infoClass) {
    case FileBasicInfo: return Win32Result(SetInformation(*file, &io, information, size, FileBasicInformation));
    case FileDispositionInfo: {
      // Trace: "delete-by-handle: <path>" for each deletion asked through this call.
      BOOL done = Win32Result(SetInformation(*file, &io, information, size, FileDispositionInformation));
      if (done && *static_cast<BOOLEAN*>(information)) Trace("delete-by-handle: " + AnsiFromUtf8(file->path));
      return done;
    }
    case FileDispositionInfoEx:
      return Win32Result(SetInformation(*file, &io, information, size, FileDispositionInformationEx));
    default: return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
}

BOOL GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!information) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::memset(information, 0, sizeof *information);
  information->dwFileAttributes = file->node->attributes;
  information->dwVolumeSerialNumber = 0x5EED;
  information->nFileSizeLow = static_cast<DWORD>(file->node->content.size());
  information->nNumberOfLinks = LinkCountOf(file->node.get());
  LONGLONG id = IdOf(file->node.get());
  information->nFileIndexLow = static_cast<DWORD>(id);
  information->nFileIndexHigh = static_cast<DWORD>(static_cast<unsigned long long>(id) >> 32);
  return TRUE;
}

// "\\?\C:\a\b" for VOLUME_NAME_DOS, "\a\b" for VOLUME_NAME_NONE, the volume's
// device or GUID name for the others; the file is found where it now is.
DWORD GetFinalPathNameByHandleW(HANDLE handle, LPWSTR path, DWORD size, DWORD flags) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, 0u);
  std::string where = PathOfNode(file->node.get(), file->parent.get(), file->name);
  if (where.empty()) return Fail(ERROR_FILE_NOT_FOUND, 0u);
  std::string rest = where.substr(2);  // "\a\b", or "\" for a drive root
  char drive = where[0];
  std::string text;
  switch (flags & 0x7) {
    case VOLUME_NAME_DOS: text = "\\\\?\\" + where; break;
    case VOLUME_NAME_NONE: text = rest; break;
    case VOLUME_NAME_NT: text = "\\Device\\HarddiskVolume" + std::to_string(drive - 'A' + 1) + rest; break;
    case VOLUME_NAME_GUID:
      text = "\\\\?\\Volume{5eed0000-0000-0000-0000-00000000000" + std::string(1, drive) + "}" + rest;
      break;
    default: return Fail(ERROR_INVALID_PARAMETER, 0u);
  }
  std::u16string wide = WideFromUtf8(text);
  if (!path || size <= wide.size()) return static_cast<DWORD>(wide.size() + 1);
  std::memcpy(path, wide.data(), wide.size() * sizeof(WCHAR));
  path[wide.size()] = 0;
  return static_cast<DWORD>(wide.size());
}
