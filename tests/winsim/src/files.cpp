// kernel32 file functions over the simulated file system, the C runtime's
// fopen for Windows paths, and the file-system control functions for tests.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

struct Search {
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

struct OpenFile {
  std::string path;  // full path
  DWORD access = 0;
  DWORD share = 0;
  size_t position = 0;
};

std::vector<OpenFile*>& OpenFiles() {
  static std::vector<OpenFile*> files;
  return files;
}

FsNode* Drive(char letter, bool create) {
  auto& drives = M().files.drives;
  char key = UpperChar(letter);
  auto it = drives.find(key);
  if (it != drives.end()) return it->second.get();
  if (!create) return nullptr;
  auto root = std::make_unique<FsNode>();
  root->name = std::string(1, key) + ":";
  root->attributes = FILE_ATTRIBUTE_DIRECTORY;
  FsNode* raw = root.get();
  drives[key] = std::move(root);
  return raw;
}

// Walks a full path; intermediate directory links are followed to their
// targets, the last component is returned as it is (a link stays a link).
FsNode* Walk(const std::string& fullPath, int depth = 0) {
  std::vector<std::string> parts = SplitPath(fullPath);
  if (parts.empty() || parts[0].size() != 2 || parts[0][1] != ':' || depth > 16) return nullptr;
  FsNode* node = Drive(parts[0][0], false);
  for (size_t i = 1; node && i < parts.size(); ++i) {
    if (!node->linkTarget.empty()) node = Walk(node->linkTarget, depth + 1);
    if (!node || !node->IsDirectory()) return nullptr;
    auto it = node->children.find(parts[i]);
    node = it == node->children.end() ? nullptr : it->second.get();
  }
  return node;
}

FsNode* FollowLinks(FsNode* node) {
  for (int i = 0; node && !node->linkTarget.empty() && i < 16; ++i) node = Walk(node->linkTarget);
  return node;
}

std::string ParentOf(const std::string& fullPath, std::string* leaf) {
  std::vector<std::string> parts = SplitPath(fullPath);
  if (parts.size() < 2) return "";
  *leaf = parts.back();
  std::string parent = parts[0] + "\\";
  for (size_t i = 1; i + 1 < parts.size(); ++i) parent += (i > 1 ? "\\" : "") + parts[i];
  return parent;
}

// The parent directory (links followed) of a full path; error code on failure.
DWORD ParentDirectory(const std::string& fullPath, FsNode** parent, std::string* leaf) {
  std::string parentPath = ParentOf(fullPath, leaf);
  if (parentPath.empty()) return ERROR_ACCESS_DENIED;  // a drive root itself
  FsNode* node = FollowLinks(Walk(parentPath));
  if (!node || !node->IsDirectory()) return ERROR_PATH_NOT_FOUND;
  *parent = node;
  return ERROR_SUCCESS;
}

bool HeldWithoutDeleteSharing(const std::string& fullPath) {
  for (OpenFile* f : OpenFiles())
    if (EqualsNoCase(f->path, fullPath) && !(f->share & FILE_SHARE_DELETE)) return true;
  return false;
}

// The "A" functions take at most MAX_PATH characters, terminator included;
// a longer path fails with ERROR_FILENAME_EXCED_RANGE before anything is looked at.
bool TooLong(LPCSTR path) { return std::strlen(path) >= MAX_PATH; }

// Where a path argument of the file calls stands: its full form, the
// directory that holds (or would hold) it, links followed, and its name there.
struct Place {
  std::string full;
  FsNode* parent = nullptr;
  std::string leaf;
};

// ERROR_SUCCESS with *place filled in, or the error the call fails with: no
// path, a path too long, or no directory to hold it.
DWORD Locate(LPCSTR path, Place* place) {
  if (!path) return ERROR_INVALID_PARAMETER;
  if (TooLong(path)) return ERROR_FILENAME_EXCED_RANGE;
  place->full = FullPath(path);
  return ParentDirectory(place->full, &place->parent, &place->leaf);
}

// Windows' wildcard match: '*' any run, '?' one character (or none at the end
// of a name part), case-insensitive; "*.*" matches every name and "x.*" also "x".
bool Match(const char* p, const char* n) {
  while (*p) {
    if (*p == '*') {
      while (*p == '*') ++p;
      if (!*p) return true;
      for (const char* s = n; *s; ++s)
        if (Match(p, s)) return true;
      return Match(p, n + std::strlen(n));
    }
    if (*p == '?') {
      if (*n && *n != '.') {
        ++p;
        ++n;
        continue;
      }
      ++p;  // '?' before a dot or at the end matches nothing
      continue;
    }
    if (*p == '.' && !*n) {
      // "name.*" and "name." match "name"
      const char* rest = p + 1;
      while (*rest == '*' || *rest == '?') ++rest;
      return !*rest;
    }
    if (!*n || UpperChar(*p) != UpperChar(*n)) return false;
    ++p;
    ++n;
  }
  return !*n;
}

bool WildMatch(const std::string& pattern, const FsNode& node) {
  if (pattern == "*.*" || pattern == "*") return true;
  if (Match(pattern.c_str(), node.name.c_str())) return true;
  return !node.shortName.empty() && Match(pattern.c_str(), node.shortName.c_str());
}

void Fill(WIN32_FIND_DATAA* data, const std::string& name, const FsNode& node) {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = node.attributes;
  data->nFileSizeLow = static_cast<DWORD>(node.content.size());
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", name.c_str());
  std::snprintf(data->cAlternateFileName, sizeof data->cAlternateFileName, "%s",
                node.shortName.c_str());
}

void DumpNode(const FsNode& node, const std::string& path, std::vector<std::string>& out) {
  for (const auto& [name, child] : node.children) {
    std::string childPath = path.empty() ? child->name : path + "\\" + child->name;
    char attrs[16];
    std::snprintf(attrs, sizeof attrs, "%04x", static_cast<unsigned>(child->attributes));
    out.push_back(childPath + " " + attrs + " " + std::to_string(child->content.size()) +
                  (child->linkTarget.empty() ? "" : " -> " + child->linkTarget));
    if (child->linkTarget.empty()) DumpNode(*child, childPath, out);
  }
}

}  // namespace

// ---- Control functions --------------------------------------------------------
FsNode& MakeDirectory(const std::string& path) {
  std::vector<std::string> parts = SplitPath(FullPath(path));
  FsNode* node = Drive(parts[0][0], true);
  for (size_t i = 1; i < parts.size(); ++i) {
    auto it = node->children.find(parts[i]);
    if (it == node->children.end()) {
      auto child = std::make_unique<FsNode>();
      child->name = parts[i];
      child->attributes = FILE_ATTRIBUTE_DIRECTORY;
      it = node->children.emplace(parts[i], std::move(child)).first;
    }
    node = it->second.get();
  }
  return *node;
}

FsNode& MakeFile(const std::string& path, const std::string& content, DWORD attributes) {
  std::string leaf;
  std::string full = FullPath(path);
  FsNode& parent = MakeDirectory(ParentOf(full, &leaf));
  auto& slot = parent.children[leaf];
  if (!slot) slot = std::make_unique<FsNode>();
  slot->name = leaf;
  slot->attributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
  slot->content = content;
  return *slot;
}

FsNode& MakeLink(const std::string& path, const std::string& target, bool directory) {
  FsNode& node = directory ? MakeDirectory(path) : MakeFile(path);
  node.children.clear();
  node.linkTarget = FullPath(target);
  node.attributes = (directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) |
                    FILE_ATTRIBUTE_REPARSE_POINT;
  return node;
}

FsNode* FindNode(const std::string& path) { return Walk(FullPath(path)); }
bool PathExists(const std::string& path) { return FindNode(path) != nullptr; }

std::string ReadFileText(const std::string& path) {
  FsNode* node = FindNode(path);
  return node && !node->IsDirectory() ? node->content : "";
}

std::vector<std::string> DumpTree(const std::string& path) {
  std::vector<std::string> out;
  FsNode* node = FindNode(path);
  if (node) DumpNode(*node, "", out);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace winsim

using namespace winsim;

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  if (!pattern || !data) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  if (TooLong(pattern)) return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
  std::string full = FullPath(pattern);
  std::string namePattern;
  std::string dirPath = ParentOf(full, &namePattern);
  if (dirPath.empty() || namePattern.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  FsNode* dir = Walk(dirPath);
  if (dir && !dir->linkTarget.empty()) dir = FollowLinks(dir);
  if (!dir) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  if (!dir->IsDirectory()) return Fail(ERROR_DIRECTORY, INVALID_HANDLE_VALUE);
  if (dir->denyAccess) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  auto search = std::make_shared<Search>();
  bool isRoot = SplitPath(dirPath).size() == 1;
  if (!isRoot) {
    FsNode dot;
    dot.attributes = FILE_ATTRIBUTE_DIRECTORY;
    for (const char* name : {".", ".."}) {
      dot.name = name;
      if (WildMatch(namePattern, dot)) {
        WIN32_FIND_DATAA entry;
        Fill(&entry, name, dot);
        search->entries.push_back(entry);
      }
    }
  }
  for (const auto& [name, child] : dir->children) {
    if (WildMatch(namePattern, *child)) {
      WIN32_FIND_DATAA entry;
      Fill(&entry, child->name, *child);
      search->entries.push_back(entry);
    }
  }
  if (search->entries.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  *data = search->entries[0];
  search->next = 1;
  ++M().files.openSearches;
  return AllocHandle(HandleKind::Search, search);
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Search);
  if (!entry || !data) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto search = std::static_pointer_cast<Search>(entry->object);
  if (search->next >= search->entries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  *data = search->entries[search->next++];
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  if (!LookupHandle(handle, HandleKind::Search)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  ReleaseHandle(handle);
  --M().files.openSearches;
  return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
  Place place;
  DWORD rc = Locate(path, &place);
  if (rc != ERROR_SUCCESS) return Fail(rc, FALSE);
  auto it = place.parent->children.find(place.leaf);
  if (it == place.parent->children.end()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  FsNode& node = *it->second;
  // A directory symbolic link or junction is not a file: DeleteFileA refuses it.
  if (node.IsDirectory()) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (node.denyAccess || (node.attributes & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  // Trace: "delete-in-use: <full path>" for each deletion refused because the file is held open.
  if (node.inUse || HeldWithoutDeleteSharing(place.full)) {
    Trace("delete-in-use: " + place.full);
    return Fail(ERROR_SHARING_VIOLATION, FALSE);
  }
  if (DWORD fault = MachineChange("DeleteFile", place.full, ERROR_SHARING_VIOLATION)) return Fail(fault, FALSE);
  place.parent->children.erase(it);
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  Place place;
  DWORD rc = Locate(path, &place);
  if (rc != ERROR_SUCCESS) return Fail(rc, FALSE);
  auto it = place.parent->children.find(place.leaf);
  if (it == place.parent->children.end()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  FsNode& node = *it->second;
  if (!node.IsDirectory()) return Fail(ERROR_DIRECTORY, FALSE);
  if (node.denyAccess || (node.attributes & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  // A link is removed as itself, whatever its target holds.
  if (node.linkTarget.empty() && !node.children.empty()) return Fail(ERROR_DIR_NOT_EMPTY, FALSE);
  if (EqualsNoCase(FullPath(M().system.currentDirectory), place.full))
    return Fail(ERROR_SHARING_VIOLATION, FALSE);
  if (DWORD fault = MachineChange("RemoveDirectory", place.full, ERROR_ACCESS_DENIED)) return Fail(fault, FALSE);
  place.parent->children.erase(it);
  return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  Place place;
  DWORD rc = Locate(path, &place);
  if (rc != ERROR_SUCCESS) return Fail(rc, FALSE);
  if (place.parent->children.count(place.leaf)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
  if (ProgramEnded()) return Fail(ERROR_ACCESS_DENIED, FALSE);
  auto node = std::make_unique<FsNode>();
  node->name = place.leaf;
  node->attributes = FILE_ATTRIBUTE_DIRECTORY;
  if (security && security->lpSecurityDescriptor) ApplyCreationSecurity(*node, security->lpSecurityDescriptor);
  place.parent->children.emplace(place.leaf, std::move(node));
  return TRUE;
}

// The link itself is made; its target need not exist. Needs the privilege an
// elevated administrator holds.
BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags) {
  if (!link || !target || !*target) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN{0});
  if (TooLong(link) || TooLong(target)) return Fail(ERROR_FILENAME_EXCED_RANGE, BOOLEAN{0});
  if (!M().system.isAdmin) return Fail(ERROR_PRIVILEGE_NOT_HELD, BOOLEAN{0});
  std::string full = FullPath(link);
  FsNode* parent = nullptr;
  std::string leaf;
  DWORD rc = ParentDirectory(full, &parent, &leaf);
  if (rc != ERROR_SUCCESS) return Fail(rc, BOOLEAN{0});
  if (parent->children.count(leaf)) return Fail(ERROR_ALREADY_EXISTS, BOOLEAN{0});
  MakeLink(full, target, (flags & SYMBOLIC_LINK_FLAG_DIRECTORY) != 0);
  return 1;
}

// Each component found by its long name or its 8.3 alias and written as its
// long name. The length without the terminator when it fits, else the size
// needed with it; 0 with ERROR_FILE_NOT_FOUND when a component does not exist.
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size) {
  if (!shortPath || !*shortPath) return Fail(ERROR_INVALID_PARAMETER, 0u);
  std::vector<std::string> parts = SplitPath(FullPath(shortPath));
  FsNode* node = parts.empty() ? nullptr : Drive(parts[0][0], false);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, 0u);
  std::string out = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    FsNode* next = nullptr;
    auto it = node->children.find(parts[i]);
    if (it != node->children.end()) next = it->second.get();
    for (auto& child : node->children)
      if (!next && !child.second->shortName.empty() && EqualsNoCase(child.second->shortName, parts[i]))
        next = child.second.get();
    if (!next) return Fail(ERROR_FILE_NOT_FOUND, 0u);
    out += "\\" + next->name;
    node = next;
  }
  if (parts.size() == 1) out += "\\";
  if (!longPath || out.size() + 1 > size) return static_cast<DWORD>(out.size() + 1);
  std::memcpy(longPath, out.c_str(), out.size() + 1);
  return static_cast<DWORD>(out.size());
}

DWORD GetFileAttributesA(LPCSTR path) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_FILE_ATTRIBUTES);
  FsNode* node = Walk(FullPath(path));
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  return node->attributes;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
  FsNode* node = Walk(FullPath(Utf8FromWide(std::u16string(path))));
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  return node->attributes;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (TooLong(path)) return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
  FsNode* node = Walk(FullPath(path));
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (node->denyAccess) return Fail(ERROR_ACCESS_DENIED, FALSE);
  const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                         FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (DWORD fault = MachineChange("SetFileAttributes", FullPath(path), ERROR_ACCESS_DENIED)) return Fail(fault, FALSE);
  DWORD kept = node->attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  DWORD set = attributes & settable;
  node->attributes = kept | set;
  if (node->attributes == 0) node->attributes = FILE_ATTRIBUTE_NORMAL;
  return TRUE;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  Place place;
  DWORD rc = Locate(path, &place);
  if (rc != ERROR_SUCCESS) return Fail(rc, INVALID_HANDLE_VALUE);
  auto it = place.parent->children.find(place.leaf);
  FsNode* node = it == place.parent->children.end() ? nullptr : it->second.get();
  // A link is followed to what it names unless FILE_FLAG_OPEN_REPARSE_POINT
  // asks for the link itself (at most 16 links deep, as Walk follows them).
  static int linksFollowed = 0;
  if (node && !node->linkTarget.empty() && !(flags & FILE_FLAG_OPEN_REPARSE_POINT)) {
    if (linksFollowed >= 16) return Fail(ERROR_CANT_RESOLVE_FILENAME, INVALID_HANDLE_VALUE);
    std::string target = node->linkTarget;
    ++linksFollowed;
    HANDLE handle = CreateFileA(target.c_str(), access, share, security, disposition, flags, templateFile);
    --linksFollowed;
    return handle;
  }
  bool existed = node != nullptr;
  if (node && node->IsDirectory() && !(flags & FILE_FLAG_BACKUP_SEMANTICS))
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (node && node->denyAccess) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (node && (access & GENERIC_WRITE) && (node->attributes & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  switch (disposition) {
    case CREATE_NEW:
      if (node) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
      break;
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING:
      if (!node) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  // A file held open without delete sharing refuses an open that asks for DELETE.
  if (node && (access & DELETE) && (node->inUse || HeldWithoutDeleteSharing(place.full)))
    return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
  for (OpenFile* f : OpenFiles()) {
    if (!EqualsNoCase(f->path, place.full)) continue;
    bool wantsWrite = (access & GENERIC_WRITE) != 0;
    bool wantsRead = (access & GENERIC_READ) != 0;
    if ((wantsWrite && !(f->share & FILE_SHARE_WRITE)) || (wantsRead && !(f->share & FILE_SHARE_READ)))
      return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
  }
  if (ProgramEnded() && (!node || (access & GENERIC_WRITE))) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (!node) {
    auto created = std::make_unique<FsNode>();
    created->name = place.leaf;
    created->attributes = FILE_ATTRIBUTE_ARCHIVE;
    node = created.get();
    place.parent->children.emplace(place.leaf, std::move(created));
    if (M().files.afterCreate) M().files.afterCreate(place.full, *node);
  }
  if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) node->content.clear();
  auto file = std::make_shared<OpenFile>();
  file->path = place.full;
  file->access = access;
  file->share = share;
  OpenFiles().push_back(file.get());
  HANDLE handle = AllocHandle(HandleKind::File, file);
  M().system.lastError = (existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS))
                             ? ERROR_ALREADY_EXISTS
                             : ERROR_SUCCESS;
  return handle;
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD written, LPVOID) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::File);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto file = std::static_pointer_cast<OpenFile>(entry->object);
  FsNode* node = Walk(file->path);
  if (!node || !(file->access & GENERIC_WRITE) || ProgramEnded()) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (node->content.size() < file->position) node->content.resize(file->position);
  node->content.replace(file->position, length, static_cast<const char*>(data), length);
  file->position += length;
  if (written) *written = length;
  return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID data, DWORD length, LPDWORD read, LPVOID) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::File);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto file = std::static_pointer_cast<OpenFile>(entry->object);
  FsNode* node = Walk(file->path);
  if (!node || !(file->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  size_t available = node->content.size() > file->position ? node->content.size() - file->position : 0;
  size_t n = std::min<size_t>(available, length);
  if (n) std::memcpy(data, node->content.data() + file->position, n);
  file->position += n;
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD high) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::File);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_ATTRIBUTES);
  auto file = std::static_pointer_cast<OpenFile>(entry->object);
  FsNode* node = Walk(file->path);
  if (high) *high = 0;
  return node ? static_cast<DWORD>(node->content.size()) : 0;
}

namespace winsim {
// Called by CloseHandle for file handles.
void ForgetOpenFile(HANDLE handle) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::File);
  if (!entry) return;
  OpenFile* file = static_cast<OpenFile*>(entry->object.get());
  auto& files = OpenFiles();
  files.erase(std::remove(files.begin(), files.end(), file), files.end());
}
void ForgetAllOpenFiles() { OpenFiles().clear(); }
std::string OpenFilePath(HANDLE handle) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::File);
  return entry ? static_cast<OpenFile*>(entry->object.get())->path : "";
}
}  // namespace winsim

// ---- The C runtime's fopen for Windows paths -----------------------------------
// Paths that begin with a drive letter or a backslash live in the simulated
// file system; a stream over such a file is a glibc cookie stream. Text mode
// (no 'b') writes "\n" as "\r\n", as the Windows runtime does.
namespace {

struct CookieFile {
  std::string path;
  bool text = true;
  bool append = false;
  size_t position = 0;
};

ssize_t CookieWrite(void* cookie, const char* data, size_t size) {
  auto* file = static_cast<CookieFile*>(cookie);
  FsNode* node = Walk(file->path);
  if (!node || node->IsDirectory()) {
    errno = EIO;
    return -1;
  }
  std::string bytes;
  for (size_t i = 0; i < size; ++i) {
    if (file->text && data[i] == '\n') bytes += '\r';
    bytes += data[i];
  }
  if (file->append) file->position = node->content.size();
  if (node->content.size() < file->position) node->content.resize(file->position);
  node->content.replace(file->position, bytes.size(), bytes);
  file->position += bytes.size();
  return static_cast<ssize_t>(size);
}

ssize_t CookieRead(void* cookie, char* data, size_t size) {
  auto* file = static_cast<CookieFile*>(cookie);
  FsNode* node = Walk(file->path);
  if (!node) return -1;
  size_t n = 0;
  while (n < size && file->position < node->content.size()) {
    char c = node->content[file->position++];
    if (file->text && c == '\r' && file->position < node->content.size() &&
        node->content[file->position] == '\n')
      continue;
    data[n++] = c;
  }
  return static_cast<ssize_t>(n);
}

int CookieClose(void* cookie) {
  delete static_cast<CookieFile*>(cookie);
  return 0;
}

bool IsWindowsPath(const char* path) {
  return path && ((path[0] && path[1] == ':') || path[0] == '\\');
}

}  // namespace

extern "C" FILE* __real_fopen(const char* path, const char* mode);
extern "C" FILE* __wrap_fopen(const char* path, const char* mode) {
  if (!IsWindowsPath(path)) return __real_fopen(path, mode);
  std::string full = FullPath(path);
  bool write = std::strchr(mode, 'w') || std::strchr(mode, 'a');
  FsNode* parent = nullptr;
  std::string leaf;
  if (ParentDirectory(full, &parent, &leaf) != ERROR_SUCCESS) {
    errno = ENOENT;
    return nullptr;
  }
  auto it = parent->children.find(leaf);
  FsNode* node = it == parent->children.end() ? nullptr : it->second.get();
  if (!node && !write) {
    errno = ENOENT;
    return nullptr;
  }
  if (node && (node->IsDirectory() || node->denyAccess ||
               (write && (node->attributes & FILE_ATTRIBUTE_READONLY)))) {
    errno = EACCES;
    return nullptr;
  }
  if (!node) node = &MakeFile(full);
  if (std::strchr(mode, 'w')) node->content.clear();
  auto* cookie = new CookieFile{full, std::strchr(mode, 'b') == nullptr,
                                std::strchr(mode, 'a') != nullptr, 0};
  cookie_io_functions_t io = {CookieRead, CookieWrite, nullptr, CookieClose};
  FILE* stream = fopencookie(cookie, mode, io);
  if (!stream) delete cookie;
  return stream;
}
