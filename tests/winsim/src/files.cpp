// kernel32 file functions over the simulated file system, the C runtime's
// fopen for Windows paths, and the file-system control functions for tests.
//
// Names are held as UTF-8. The "A" calls convert their arguments from the
// ANSI code page and give names back through it with Windows' best fit; the
// "W" calls take and give UTF-16. Handles refer to nodes, not paths (see
// OpenFile in internal.h); the native calls are in nt_files.cpp.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

// A search of FindFirstFileA (narrow) or FindFirstFileW (wide).
struct Search {
  bool wide = false;
  std::vector<WIN32_FIND_DATAA> entries;
  std::vector<WIN32_FIND_DATAW> wideEntries;
  size_t next = 0;
};

std::vector<OpenFile*>& OpenFiles() {
  static std::vector<OpenFile*> files;
  return files;
}

const char kLongPrefix[] = "\\\\?\\";

bool HasLongPrefix(const std::string& path) { return path.compare(0, 4, kLongPrefix) == 0; }

std::shared_ptr<FsNode> Drive(char letter, bool create) {
  auto& drives = M().files.drives;
  char key = UpperChar(letter);
  auto it = drives.find(key);
  if (it != drives.end()) return it->second;
  if (!create) return nullptr;
  auto root = std::make_shared<FsNode>();
  root->name = std::string(1, key) + ":";
  root->attributes = FILE_ATTRIBUTE_DIRECTORY;
  drives[key] = root;
  return root;
}

// Walks a full UTF-8 path; intermediate links are followed to their targets,
// the last component is returned as it is (a link stays a link).
std::shared_ptr<FsNode> Walk(const std::string& fullPath, int depth = 0) {
  std::vector<std::string> parts = SplitOn(fullPath, "\\");
  if (parts.empty() || parts[0].size() != 2 || parts[0][1] != ':' || depth > 16) return nullptr;
  std::shared_ptr<FsNode> node = Drive(parts[0][0], false);
  for (size_t i = 1; node && i < parts.size(); ++i) {
    if (!node->linkTarget.empty()) node = Walk(node->linkTarget, depth + 1);
    if (!node || !node->IsDirectory()) return nullptr;
    node = ChildOf(*node, parts[i]);
  }
  return node;
}

std::string ParentOf(const std::string& fullPath, std::string* leaf) {
  std::vector<std::string> parts = SplitOn(fullPath, "\\");
  if (parts.size() < 2) return "";
  *leaf = parts.back();
  std::string parent = parts[0] + "\\";
  for (size_t i = 1; i + 1 < parts.size(); ++i) parent += (i > 1 ? "\\" : "") + parts[i];
  return parent;
}

bool HeldWithoutDeleteSharing(const FsNode* node) {
  for (OpenFile* f : OpenFiles())
    if (f->node.get() == node && !(f->share & FILE_SHARE_DELETE)) return true;
  return false;
}

// The path calls take at most MAX_PATH characters, terminator included,
// unless the path begins with "\\?\"; a longer path fails with
// ERROR_FILENAME_EXCED_RANGE before anything is looked at.
bool TooLong(const std::string& path, size_t units) { return !HasLongPrefix(path) && units >= MAX_PATH; }

// Where a path argument of the file calls stands: its full form, the
// directory that holds (or would hold) it, links followed, and its name there.
struct Place {
  std::string full;
  std::shared_ptr<FsNode> parent;
  std::string leaf;
  std::shared_ptr<FsNode> node;  // null when missing
};

// ERROR_SUCCESS with *place filled in, or the error the call fails with: no
// directory to hold it, or a drive root where a name is needed.
DWORD LocateUtf8(const std::string& path, Place* place) {
  place->full = FullPathUtf8(path);
  Resolved resolved;
  DWORD rc = ResolvePath(place->full, &resolved);
  if (rc != ERROR_SUCCESS) return rc;
  if (!resolved.parent) return ERROR_ACCESS_DENIED;  // a drive root itself
  place->parent = resolved.parent;
  place->leaf = resolved.leaf;
  place->node = resolved.node;
  return ERROR_SUCCESS;
}

DWORD Locate(LPCSTR path, Place* place) {
  if (!path) return ERROR_INVALID_PARAMETER;
  if (TooLong(path, std::strlen(path))) return ERROR_FILENAME_EXCED_RANGE;
  return LocateUtf8(Utf8FromAnsi(path), place);
}

DWORD LocateWide(LPCWSTR path, Place* place) {
  if (!path) return ERROR_INVALID_PARAMETER;
  size_t units = 0;
  while (path[units]) ++units;
  std::string utf8 = Utf8Of(path, units);
  if (TooLong(utf8, units)) return ERROR_FILENAME_EXCED_RANGE;
  return LocateUtf8(utf8, place);
}

// The code points of UTF-8 text, upper-cased for comparison.
std::vector<unsigned> UpperPoints(const std::string& utf8) {
  std::u16string wide = WideFromUtf8(Upper(utf8));
  std::vector<unsigned> points;
  for (size_t i = 0; i < wide.size(); ++i) {
    unsigned c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00u);
    points.push_back(c);
  }
  return points;
}

// Windows' wildcard match: '*' any run, '?' one character (or none at the end
// of a name part), case-insensitive; "*.*" matches every name and "x.*" also "x".
bool Match(const unsigned* p, const unsigned* pe, const unsigned* n, const unsigned* ne) {
  while (p < pe) {
    if (*p == '*') {
      while (p < pe && *p == '*') ++p;
      if (p == pe) return true;
      for (const unsigned* s = n; s < ne; ++s)
        if (Match(p, pe, s, ne)) return true;
      return Match(p, pe, ne, ne);
    }
    if (*p == '?') {
      if (n < ne && *n != '.') ++n;
      ++p;  // '?' before a dot or at the end matches nothing
      continue;
    }
    if (*p == '.' && n == ne) {
      // "name.*" and "name." match "name"
      const unsigned* rest = p + 1;
      while (rest < pe && (*rest == '*' || *rest == '?')) ++rest;
      return rest == pe;
    }
    if (n == ne || *p != *n) return false;
    ++p;
    ++n;
  }
  return n == ne;
}

bool MatchName(const std::string& pattern, const std::string& name) {
  std::vector<unsigned> p = UpperPoints(pattern);
  std::vector<unsigned> n = UpperPoints(name);
  return Match(p.data(), p.data() + p.size(), n.data(), n.data() + n.size());
}

bool WildMatch(const std::string& pattern, const std::string& name, const FsNode& node) {
  if (pattern == "*.*" || pattern == "*") return true;
  if (MatchName(pattern, name)) return true;
  return !node.shortName.empty() && MatchName(pattern, node.shortName);
}

void Fill(WIN32_FIND_DATAA* data, const std::string& name, const FsNode& node) {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = node.attributes;
  data->nFileSizeLow = static_cast<DWORD>(node.content.size());
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", AnsiFromUtf8(name).c_str());
  std::snprintf(data->cAlternateFileName, sizeof data->cAlternateFileName, "%s", node.shortName.c_str());
}

void FillWide(WIN32_FIND_DATAW* data, const std::string& name, const FsNode& node) {
  std::memset(data, 0, sizeof(*data));
  data->dwFileAttributes = node.attributes;
  data->nFileSizeLow = static_cast<DWORD>(node.content.size());
  std::u16string wide = WideFromUtf8(name);
  size_t count = std::min<size_t>(wide.size(), MAX_PATH - 1);
  std::memcpy(data->cFileName, wide.data(), count * sizeof(WCHAR));
  std::u16string alias = WideFromUtf8(node.shortName);
  std::memcpy(data->cAlternateFileName, alias.data(), std::min<size_t>(alias.size(), 13) * sizeof(WCHAR));
}

void DumpNode(const FsNode& node, const std::string& path, std::vector<std::string>& out) {
  for (const auto& [name, child] : node.children) {
    std::string childPath = path.empty() ? name : path + "\\" + name;
    char attrs[16];
    std::snprintf(attrs, sizeof attrs, "%04x", static_cast<unsigned>(child->attributes));
    out.push_back(childPath + " " + attrs + " " + std::to_string(child->content.size()) +
                  (child->linkTarget.empty() ? "" : " -> " + child->linkTarget));
    if (child->linkTarget.empty()) DumpNode(*child, childPath, out);
  }
}

// Removes the entry that holds node from parent, or wherever the node now is.
void UnlinkNode(const std::shared_ptr<FsNode>& parent, const std::string& name, const FsNode* node) {
  if (parent) {
    auto it = parent->children.find(name);
    if (it != parent->children.end() && it->second.get() == node) {
      parent->children.erase(it);
      return;
    }
  }
  // Moved since it was opened: Windows deletes it where it now is.
  std::string path = PathOfNode(node);
  if (path.empty()) return;
  std::string leaf;
  std::shared_ptr<FsNode> holder = Walk(ParentOf(path, &leaf));
  if (holder) holder->children.erase(leaf);
}

bool HeldByHandle(const FsNode* node) {
  for (OpenFile* f : OpenFiles())
    if (f->node.get() == node) return true;
  return false;
}

// What closing a handle does: a POSIX deletion takes the name at once, an
// ordinary one when the last handle on the file is gone.
void FinishClose(OpenFile& file) {
  if (file.posixDelete) {
    UnlinkNode(file.parent, file.name, file.node.get());
    return;
  }
  if (file.deleteOnClose) file.node->deletePending = true;
  if (file.node->deletePending && !HeldByHandle(file.node.get())) {
    file.node->deletePending = false;
    UnlinkNode(file.parent, file.name, file.node.get());
  }
}

std::shared_ptr<FsNode> NewNode(const std::string& name, DWORD attributes) {
  auto node = std::make_shared<FsNode>();
  node->name = name;
  node->attributes = attributes;
  return node;
}

FsNode& MakeDirectoryUtf8(const std::string& path) {
  std::vector<std::string> parts = SplitOn(FullPathUtf8(path), "\\");
  std::shared_ptr<FsNode> node = Drive(parts[0][0], true);
  for (size_t i = 1; i < parts.size(); ++i) {
    auto it = node->children.find(parts[i]);
    if (it == node->children.end())
      it = node->children.emplace(parts[i], NewNode(parts[i], FILE_ATTRIBUTE_DIRECTORY)).first;
    node = it->second;
  }
  return *node;
}

FsNode& MakeFileUtf8(const std::string& path, const std::string& content, DWORD attributes) {
  std::string leaf;
  std::string full = FullPathUtf8(path);
  FsNode& parent = MakeDirectoryUtf8(ParentOf(full, &leaf));
  auto& slot = parent.children[leaf];
  if (!slot) slot = std::make_shared<FsNode>();
  slot->name = leaf;
  slot->attributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
  slot->content = content;
  return *slot;
}

FsNode& MakeLinkUtf8(const std::string& path, const std::string& target, bool directory) {
  std::string leaf;
  std::string full = FullPathUtf8(path);
  FsNode& parent = MakeDirectoryUtf8(ParentOf(full, &leaf));
  std::shared_ptr<FsNode> link = NewNode(leaf, (directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE) |
                                                   FILE_ATTRIBUTE_REPARSE_POINT);
  link->linkTarget = FullPathUtf8(target);
  parent.children.erase(leaf);
  parent.children.emplace(leaf, link);
  return *link;
}

// The entry at path may be taken away by another process: false when a
// handle open on it refuses delete sharing.
bool MayReplace(const std::string& fullUtf8, std::shared_ptr<FsNode>* parent, std::string* leaf) {
  Resolved resolved;
  if (ResolvePath(fullUtf8, &resolved) != ERROR_SUCCESS || !resolved.parent || !resolved.node) return false;
  if (HeldWithoutDeleteSharing(resolved.node.get())) return false;
  *parent = resolved.parent;
  *leaf = resolved.leaf;
  return true;
}

DWORD SharingClass(DWORD access) {
  DWORD classes = 0;
  if (access & (FILE_READ_DATA | FILE_EXECUTE)) classes |= FILE_SHARE_READ;
  if (access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) classes |= FILE_SHARE_WRITE;
  if (access & DELETE) classes |= FILE_SHARE_DELETE;
  return classes;
}

}  // namespace

// ---- Shared with the native calls (internal.h) --------------------------------------
std::string Utf8Of(const WCHAR* text, size_t count) {
  if (!text) return "";
  if (count == static_cast<size_t>(-1)) {
    count = 0;
    while (text[count]) ++count;
  }
  return Utf8FromWide(std::u16string(text, count));
}

std::string FullPathUtf8(const std::string& path) {
  if (HasLongPrefix(path)) {
    std::string rest = path.substr(4);
    std::vector<std::string> parts = SplitOn(rest, "\\");
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
    if (parts.size() == 1) out += "\\";
    return out;
  }
  if (path.size() >= 2 && path[1] == ':') return FullPath(path);
  const std::string cwd = Utf8FromAnsi(M().system.currentDirectory);
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return FullPath(cwd.substr(0, 2) + path);
  return FullPath(cwd + "\\" + path);
}

std::shared_ptr<FsNode> ChildOf(const FsNode& parent, const std::string& name) {
  auto it = parent.children.find(name);
  return it == parent.children.end() ? nullptr : it->second;
}

std::shared_ptr<FsNode> FollowLink(const std::shared_ptr<FsNode>& node) {
  std::shared_ptr<FsNode> current = node;
  for (int i = 0; current && !current->linkTarget.empty() && i < 16; ++i) current = Walk(current->linkTarget);
  return current && current->linkTarget.empty() ? current : nullptr;
}

DWORD ResolvePath(const std::string& fullUtf8, Resolved* resolved) {
  std::vector<std::string> parts = SplitOn(fullUtf8, "\\");
  if (parts.empty() || parts[0].size() != 2 || parts[0][1] != ':') return ERROR_PATH_NOT_FOUND;
  std::shared_ptr<FsNode> drive = Drive(parts[0][0], false);
  if (!drive) return ERROR_PATH_NOT_FOUND;
  if (parts.size() == 1) {
    resolved->parent = nullptr;
    resolved->leaf = "";
    resolved->node = drive;
    return ERROR_SUCCESS;
  }
  std::shared_ptr<FsNode> folder = drive;
  for (size_t i = 1; i + 1 < parts.size(); ++i) {
    std::shared_ptr<FsNode> next = ChildOf(*folder, parts[i]);
    if (next && !next->linkTarget.empty()) next = FollowLink(next);
    if (!next || !next->IsDirectory()) return ERROR_PATH_NOT_FOUND;
    folder = next;
  }
  resolved->parent = folder;
  resolved->leaf = parts.back();
  resolved->node = ChildOf(*folder, parts.back());
  return ERROR_SUCCESS;
}

namespace {

bool FindPath(const FsNode& folder, const std::string& path, const FsNode* node, std::string* out) {
  for (const auto& [name, child] : folder.children) {
    std::string childPath = path + "\\" + name;
    if (child.get() == node) {
      *out = childPath;
      return true;
    }
    if (child->linkTarget.empty() && child->IsDirectory() && FindPath(*child, childPath, node, out)) return true;
  }
  return false;
}

void CountLinks(const FsNode& folder, const FsNode* node, DWORD& count) {
  for (const auto& entry : folder.children) {
    if (entry.second.get() == node) ++count;
    if (entry.second->linkTarget.empty() && entry.second->IsDirectory()) CountLinks(*entry.second, node, count);
  }
}

}  // namespace

std::string PathOfNode(const FsNode* node, const FsNode* parent, const std::string& name) {
  for (const auto& drive : M().files.drives)
    if (drive.second.get() == node) return drive.second->name + "\\";
  if (parent && ChildOf(*parent, name).get() == node) {
    std::string parentPath = PathOfNode(parent);
    if (!parentPath.empty()) return parentPath + (parentPath.back() == '\\' ? "" : "\\") + name;
  }
  std::string out;
  for (const auto& drive : M().files.drives)
    if (FindPath(*drive.second, drive.second->name, node, &out)) return out;
  return "";
}

DWORD LinkCountOf(const FsNode* node) {
  DWORD count = 0;
  for (const auto& drive : M().files.drives) CountLinks(*drive.second, node, count);
  return count > 0 && node->hardLinks > count ? node->hardLinks : count;
}

bool IsCurrentDirectory(const FsNode* node) {
  return Walk(FullPathUtf8(Utf8FromAnsi(M().system.currentDirectory))).get() == node;
}

std::vector<ListedEntry> ListFolder(const std::shared_ptr<FsNode>& folder, bool driveRoot) {
  std::vector<ListedEntry> entries;
  if (!driveRoot) {
    for (const char* dots : {".", ".."}) {
      auto dot = std::make_shared<FsNode>();
      dot->name = dots;
      dot->attributes = FILE_ATTRIBUTE_DIRECTORY;
      entries.push_back({dots, dot});
    }
  }
  for (const auto& [name, child] : folder->children) entries.push_back({name, child});
  return entries;
}

void FileHook(const char* event, const std::string& path) {
  static bool running = false;
  auto& hook = M().files.hook;
  if (!hook || running) return;
  running = true;
  auto copy = hook;  // the hook may replace itself
  copy(event, path);
  running = false;
}

DWORD FileAccessOf(DWORD access) {
  DWORD specific = access & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (access & GENERIC_READ) specific |= FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | READ_CONTROL | SYNCHRONIZE;
  if (access & GENERIC_WRITE)
    specific |= FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | READ_CONTROL | SYNCHRONIZE;
  if (access & GENERIC_EXECUTE) specific |= FILE_EXECUTE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
  if (access & GENERIC_ALL) specific |= FILE_ALL_ACCESS;
  return specific;
}

OpenFile* FileOfHandle(HANDLE handle) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::File);
  return entry ? static_cast<OpenFile*>(entry->object.get()) : nullptr;
}

DWORD OpenNode(const std::shared_ptr<FsNode>& node, const std::shared_ptr<FsNode>& parent, const std::string& name,
               const std::string& path, DWORD access, DWORD share, HANDLE* handle) {
  access = FileAccessOf(access);
  if (node->deletePending) return ERROR_ACCESS_DENIED;  // STATUS_DELETE_PENDING
  // Reading attributes is granted by the folder's listing right; anything else
  // needs the file's own ACL.
  const DWORD attributeOnly = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  if (node->denyAccess && (access & ~attributeOnly)) return ERROR_ACCESS_DENIED;
  DWORD wanted = SharingClass(access);
  // Trace: "delete-in-use: <full path>" for each open for deletion refused
  // because another program holds the file without delete sharing.
  if ((access & DELETE) && (node->inUse || HeldWithoutDeleteSharing(node.get()))) {
    Trace("delete-in-use: " + AnsiFromUtf8(path));
    return ERROR_SHARING_VIOLATION;
  }
  if ((access & DELETE) && IsCurrentDirectory(node.get())) return ERROR_SHARING_VIOLATION;
  for (OpenFile* f : OpenFiles()) {
    if (f->node.get() != node.get()) continue;
    if ((wanted & ~f->share) != 0) return ERROR_SHARING_VIOLATION;                // they refuse what we want
    if ((SharingClass(f->access) & ~share) != 0) return ERROR_SHARING_VIOLATION;  // we refuse what they have
  }
  auto file = std::make_shared<OpenFile>();
  file->node = node;
  file->parent = parent;
  file->name = name;
  file->path = path;
  file->access = access;
  file->share = share;
  OpenFiles().push_back(file.get());
  *handle = AllocHandle(HandleKind::File, file);
  return ERROR_SUCCESS;
}

// ---- Control functions --------------------------------------------------------
FsNode& MakeDirectory(const std::string& path) { return MakeDirectoryUtf8(Utf8FromAnsi(path)); }
FsNode& MakeDirectory(const std::u16string& path) { return MakeDirectoryUtf8(Utf8FromWide(path)); }

FsNode& MakeFile(const std::string& path, const std::string& content, DWORD attributes) {
  return MakeFileUtf8(Utf8FromAnsi(path), content, attributes);
}
FsNode& MakeFile(const std::u16string& path, const std::string& content, DWORD attributes) {
  return MakeFileUtf8(Utf8FromWide(path), content, attributes);
}

FsNode& MakeLink(const std::string& path, const std::string& target, bool directory) {
  return MakeLinkUtf8(Utf8FromAnsi(path), Utf8FromAnsi(target), directory);
}
FsNode& MakeLink(const std::u16string& path, const std::u16string& target, bool directory) {
  return MakeLinkUtf8(Utf8FromWide(path), Utf8FromWide(target), directory);
}

FsNode& MakeHardLink(const std::string& path, const std::string& existingFile) {
  std::shared_ptr<FsNode> file = Walk(FullPathUtf8(Utf8FromAnsi(existingFile)));
  if (!file || file->IsDirectory()) return MakeFile(path);  // nothing to link to: a plain file
  std::string leaf;
  FsNode& parent = MakeDirectoryUtf8(ParentOf(FullPathUtf8(Utf8FromAnsi(path)), &leaf));
  parent.children[leaf] = file;
  return *file;
}

bool ReplaceByLink(const std::string& path, const std::string& target, bool directory) {
  std::shared_ptr<FsNode> parent;
  std::string leaf;
  if (!MayReplace(FullPathUtf8(Utf8FromAnsi(path)), &parent, &leaf)) return false;
  parent->children.erase(leaf);
  MakeLink(path, target, directory);
  return true;
}

bool ReplaceByHardLink(const std::string& path, const std::string& existingFile) {
  std::shared_ptr<FsNode> parent;
  std::string leaf;
  if (!MayReplace(FullPathUtf8(Utf8FromAnsi(path)), &parent, &leaf)) return false;
  parent->children.erase(leaf);
  MakeHardLink(path, existingFile);
  return true;
}

FsNode* FindNodeUtf8(const std::string& fullUtf8) { return Walk(fullUtf8).get(); }
FsNode* FindNode(const std::string& path) { return Walk(FullPathUtf8(Utf8FromAnsi(path))).get(); }
FsNode* FindNode(const std::u16string& path) { return Walk(FullPathUtf8(Utf8FromWide(path))).get(); }
bool PathExists(const std::string& path) { return FindNode(path) != nullptr; }
bool PathExists(const std::u16string& path) { return FindNode(path) != nullptr; }

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

size_t OpenFileHandles() { return OpenFiles().size(); }

}  // namespace winsim

using namespace winsim;

namespace {

// The search of FindFirstFileA and FindFirstFileW: the folder and the names
// of it that match, in listing order. ERROR_SUCCESS or the error.
DWORD StartSearch(const std::string& patternUtf8, std::vector<ListedEntry>* found) {
  std::string full = FullPathUtf8(patternUtf8);
  std::string namePattern;
  std::string dirPath = ParentOf(full, &namePattern);
  if (dirPath.empty() || namePattern.empty()) return ERROR_FILE_NOT_FOUND;
  std::shared_ptr<FsNode> dir = Walk(dirPath);
  if (dir && !dir->linkTarget.empty()) dir = FollowLink(dir);
  if (!dir) return ERROR_PATH_NOT_FOUND;
  if (!dir->IsDirectory()) return ERROR_DIRECTORY;
  if (dir->denyAccess) return ERROR_ACCESS_DENIED;
  bool isRoot = SplitOn(dirPath, "\\").size() == 1;
  for (const ListedEntry& entry : ListFolder(dir, isRoot))
    if (WildMatch(namePattern, entry.name, *entry.node)) found->push_back(entry);
  FileHook("listed", dirPath);
  return found->empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  if (!pattern || !data) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  if (TooLong(pattern, std::strlen(pattern))) return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
  std::vector<ListedEntry> found;
  DWORD rc = StartSearch(Utf8FromAnsi(pattern), &found);
  if (rc != ERROR_SUCCESS) return Fail(rc, INVALID_HANDLE_VALUE);
  auto search = std::make_shared<Search>();
  for (const ListedEntry& entry : found) {
    WIN32_FIND_DATAA item;
    Fill(&item, entry.name, *entry.node);
    search->entries.push_back(item);
  }
  *data = search->entries[0];
  search->next = 1;
  ++M().files.openSearches;
  return AllocHandle(HandleKind::Search, search);
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  if (!pattern || !data) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  std::string utf8 = Utf8Of(pattern);
  if (TooLong(utf8, WideFromUtf8(utf8).size())) return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
  std::vector<ListedEntry> found;
  DWORD rc = StartSearch(utf8, &found);
  if (rc != ERROR_SUCCESS) return Fail(rc, INVALID_HANDLE_VALUE);
  auto search = std::make_shared<Search>();
  search->wide = true;
  for (const ListedEntry& entry : found) {
    WIN32_FIND_DATAW item;
    FillWide(&item, entry.name, *entry.node);
    search->wideEntries.push_back(item);
  }
  *data = search->wideEntries[0];
  search->next = 1;
  ++M().files.openSearches;
  return AllocHandle(HandleKind::Search, search);
}

BOOL FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Search);
  if (!entry || !data) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto search = std::static_pointer_cast<Search>(entry->object);
  if (search->wide) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (search->next >= search->entries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  *data = search->entries[search->next++];
  return TRUE;
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW data) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Search);
  if (!entry || !data) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto search = std::static_pointer_cast<Search>(entry->object);
  if (!search->wide) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (search->next >= search->wideEntries.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  *data = search->wideEntries[search->next++];
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::Search);
  if (!entry) return Fail(ERROR_INVALID_HANDLE, FALSE);
  ReleaseHandle(handle);
  --M().files.openSearches;
  return TRUE;
}

namespace {

DWORD DeletePlace(const Place& place) {
  if (!place.node) return ERROR_FILE_NOT_FOUND;
  FsNode& node = *place.node;
  // A directory symbolic link or junction is not a file: DeleteFileA refuses it.
  if (node.IsDirectory()) return ERROR_ACCESS_DENIED;
  if (node.denyAccess || (node.attributes & FILE_ATTRIBUTE_READONLY)) return ERROR_ACCESS_DENIED;
  // Trace: "delete-in-use: <full path>" for each deletion refused because the file is held open.
  if (node.inUse || HeldWithoutDeleteSharing(&node)) {
    Trace("delete-in-use: " + AnsiFromUtf8(place.full));
    return ERROR_SHARING_VIOLATION;
  }
  if (DWORD fault = MachineChange("DeleteFile", place.full, ERROR_SHARING_VIOLATION)) return fault;
  place.parent->children.erase(place.leaf);
  return ERROR_SUCCESS;
}

DWORD RemoveDirectoryPlace(const Place& place) {
  if (!place.node) return ERROR_FILE_NOT_FOUND;
  FsNode& node = *place.node;
  if (!node.IsDirectory()) return ERROR_DIRECTORY;
  if (node.denyAccess || (node.attributes & FILE_ATTRIBUTE_READONLY)) return ERROR_ACCESS_DENIED;
  // A link is removed as itself, whatever its target holds.
  if (node.linkTarget.empty() && !node.children.empty()) return ERROR_DIR_NOT_EMPTY;
  if (IsCurrentDirectory(&node) || HeldWithoutDeleteSharing(&node)) return ERROR_SHARING_VIOLATION;
  if (DWORD fault = MachineChange("RemoveDirectory", place.full, ERROR_ACCESS_DENIED)) return fault;
  place.parent->children.erase(place.leaf);
  return ERROR_SUCCESS;
}

DWORD CreateDirectoryPlace(const Place& place, LPSECURITY_ATTRIBUTES security) {
  if (place.node) return ERROR_ALREADY_EXISTS;
  if (ProgramEnded()) return ERROR_ACCESS_DENIED;
  std::shared_ptr<FsNode> node = NewNode(place.leaf, FILE_ATTRIBUTE_DIRECTORY);
  if (security && security->lpSecurityDescriptor) ApplyCreationSecurity(*node, security->lpSecurityDescriptor);
  place.parent->children.emplace(place.leaf, node);
  return ERROR_SUCCESS;
}

DWORD SetAttributesOf(FsNode* node, DWORD attributes) {
  if (!node) return ERROR_FILE_NOT_FOUND;
  if (node->denyAccess) return ERROR_ACCESS_DENIED;
  if (DWORD fault = MachineChange("SetFileAttributes", node->name, ERROR_ACCESS_DENIED)) return fault;
  const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  DWORD kept = node->attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  node->attributes = kept | (attributes & settable);
  if (node->attributes == 0) node->attributes = FILE_ATTRIBUTE_NORMAL;
  return ERROR_SUCCESS;
}

BOOL Result(DWORD rc) { return rc == ERROR_SUCCESS ? TRUE : Fail(rc, FALSE); }

}  // namespace

BOOL DeleteFileA(LPCSTR path) {
  Place place;
  DWORD rc = Locate(path, &place);
  return Result(rc != ERROR_SUCCESS ? rc : DeletePlace(place));
}

BOOL DeleteFileW(LPCWSTR path) {
  Place place;
  DWORD rc = LocateWide(path, &place);
  return Result(rc != ERROR_SUCCESS ? rc : DeletePlace(place));
}

BOOL RemoveDirectoryA(LPCSTR path) {
  Place place;
  DWORD rc = Locate(path, &place);
  return Result(rc != ERROR_SUCCESS ? rc : RemoveDirectoryPlace(place));
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  Place place;
  DWORD rc = LocateWide(path, &place);
  return Result(rc != ERROR_SUCCESS ? rc : RemoveDirectoryPlace(place));
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  Place place;
  DWORD rc = Locate(path, &place);
  return Result(rc != ERROR_SUCCESS ? rc : CreateDirectoryPlace(place, security));
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  Place place;
  DWORD rc = LocateWide(path, &place);
  return Result(rc != ERROR_SUCCESS ? rc : CreateDirectoryPlace(place, security));
}

// The link itself is made; its target need not exist. Needs the privilege an
// elevated administrator holds.
BOOLEAN CreateSymbolicLinkA(LPCSTR link, LPCSTR target, DWORD flags) {
  if (!link || !target || !*target) return Fail(ERROR_INVALID_PARAMETER, BOOLEAN{0});
  if (TooLong(link, std::strlen(link)) || TooLong(target, std::strlen(target)))
    return Fail(ERROR_FILENAME_EXCED_RANGE, BOOLEAN{0});
  if (!M().system.isAdmin) return Fail(ERROR_PRIVILEGE_NOT_HELD, BOOLEAN{0});
  Place place;
  DWORD rc = Locate(link, &place);
  if (rc != ERROR_SUCCESS) return Fail(rc, BOOLEAN{0});
  if (place.node) return Fail(ERROR_ALREADY_EXISTS, BOOLEAN{0});
  MakeLinkUtf8(place.full, Utf8FromAnsi(target), (flags & SYMBOLIC_LINK_FLAG_DIRECTORY) != 0);
  return 1;
}

// Each component found by its long name or its 8.3 alias and written as its
// long name. The length without the terminator when it fits, else the size
// needed with it; 0 with ERROR_FILE_NOT_FOUND when a component does not exist.
DWORD GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size) {
  if (!shortPath || !*shortPath) return Fail(ERROR_INVALID_PARAMETER, 0u);
  std::vector<std::string> parts = SplitOn(FullPathUtf8(Utf8FromAnsi(shortPath)), "\\");
  std::shared_ptr<FsNode> node = parts.empty() ? nullptr : Drive(parts[0][0], false);
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, 0u);
  std::string out = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string name;
    std::shared_ptr<FsNode> next;
    auto it = node->children.find(parts[i]);
    if (it != node->children.end()) {
      next = it->second;
      name = it->first;
    }
    for (auto& child : node->children)
      if (!next && !child.second->shortName.empty() && EqualsNoCase(child.second->shortName, parts[i])) {
        next = child.second;
        name = child.first;
      }
    if (!next) return Fail(ERROR_FILE_NOT_FOUND, 0u);
    out += "\\" + name;
    node = next;
  }
  if (parts.size() == 1) out += "\\";
  out = AnsiFromUtf8(out);
  if (!longPath || out.size() + 1 > size) return static_cast<DWORD>(out.size() + 1);
  std::memcpy(longPath, out.c_str(), out.size() + 1);
  return static_cast<DWORD>(out.size());
}

DWORD GetFileAttributesA(LPCSTR path) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
  if (TooLong(path, std::strlen(path))) return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_FILE_ATTRIBUTES);
  std::shared_ptr<FsNode> node = Walk(FullPathUtf8(Utf8FromAnsi(path)));
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  return node->attributes;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
  std::string utf8 = Utf8Of(path);
  if (TooLong(utf8, WideFromUtf8(utf8).size())) return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_FILE_ATTRIBUTES);
  std::shared_ptr<FsNode> node = Walk(FullPathUtf8(utf8));
  if (!node) return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  return node->attributes;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (TooLong(path, std::strlen(path))) return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
  return Result(SetAttributesOf(Walk(FullPathUtf8(Utf8FromAnsi(path))).get(), attributes));
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::string utf8 = Utf8Of(path);
  if (TooLong(utf8, WideFromUtf8(utf8).size())) return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
  return Result(SetAttributesOf(Walk(FullPathUtf8(utf8)).get(), attributes));
}

namespace {

HANDLE CreateFilePlace(Place& place, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  std::shared_ptr<FsNode> node = place.node;
  // Without FILE_FLAG_OPEN_REPARSE_POINT a link is opened as what it names.
  if (node && !node->linkTarget.empty() && !(flags & FILE_FLAG_OPEN_REPARSE_POINT)) {
    std::shared_ptr<FsNode> target = FollowLink(node);
    if (!target) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::string targetPath = PathOfNode(target.get());
    std::string leaf;
    place.parent = Walk(ParentOf(targetPath, &leaf));
    place.leaf = leaf;
    place.full = targetPath;
    node = target;
  }
  bool existed = node != nullptr;
  if (node && node->IsDirectory() && !(flags & FILE_FLAG_BACKUP_SEMANTICS))
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (node && node->denyAccess) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  // An ended program writes nothing more.
  if (ProgramEnded() && (!node || (FileAccessOf(access) & (FILE_WRITE_DATA | FILE_APPEND_DATA))))
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  if (node && (FileAccessOf(access) & (FILE_WRITE_DATA | FILE_APPEND_DATA)) &&
      (node->attributes & FILE_ATTRIBUTE_READONLY))
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
  bool created = false;
  if (!node) {
    node = NewNode(place.leaf, FILE_ATTRIBUTE_ARCHIVE);
    created = true;
  }
  HANDLE handle = nullptr;
  DWORD rc = OpenNode(node, place.parent, place.leaf, place.full, access, share, &handle);
  if (rc != ERROR_SUCCESS) return Fail(rc, INVALID_HANDLE_VALUE);
  if (created) {
    place.parent->children.emplace(place.leaf, node);
    if (M().files.afterCreate) M().files.afterCreate(AnsiFromUtf8(place.full), *node);
  }
  if (flags & FILE_FLAG_DELETE_ON_CLOSE) FileOfHandle(handle)->deleteOnClose = true;
  if (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) node->content.clear();
  M().system.lastError = (existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS))
                             ? ERROR_ALREADY_EXISTS
                             : ERROR_SUCCESS;
  return handle;
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
  Place place;
  DWORD rc = Locate(path, &place);
  if (rc != ERROR_SUCCESS) return Fail(rc, INVALID_HANDLE_VALUE);
  return CreateFilePlace(place, access, share, disposition, flags);
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD flags,
                   HANDLE) {
  if (path) FileHook("opening", FullPathUtf8(Utf8Of(path)));
  Place place;
  DWORD rc = LocateWide(path, &place);
  if (rc == ERROR_ACCESS_DENIED && path) {
    // A drive root opened as a folder ("C:\").
    Resolved resolved;
    std::string full = FullPathUtf8(Utf8Of(path));
    if (ResolvePath(full, &resolved) == ERROR_SUCCESS && !resolved.parent && (flags & FILE_FLAG_BACKUP_SEMANTICS) &&
        disposition == OPEN_EXISTING) {
      HANDLE handle = nullptr;
      rc = OpenNode(resolved.node, nullptr, "", full, access, share, &handle);
      return rc == ERROR_SUCCESS ? handle : Fail(rc, INVALID_HANDLE_VALUE);
    }
  }
  if (rc != ERROR_SUCCESS) return Fail(rc, INVALID_HANDLE_VALUE);
  return CreateFilePlace(place, access, share, disposition, flags);
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD written, LPVOID) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  FsNode* node = file->node.get();
  if (node->IsDirectory() || !(file->access & (FILE_WRITE_DATA | FILE_APPEND_DATA)) || ProgramEnded())
    return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (node->content.size() < file->position) node->content.resize(file->position);
  node->content.replace(file->position, length, static_cast<const char*>(data), length);
  file->position += length;
  if (written) *written = length;
  return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID data, DWORD length, LPDWORD read, LPVOID) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  FsNode* node = file->node.get();
  if (node->IsDirectory() || !(file->access & FILE_READ_DATA)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  size_t available = node->content.size() > file->position ? node->content.size() - file->position : 0;
  size_t n = std::min<size_t>(available, length);
  if (n) std::memcpy(data, node->content.data() + file->position, n);
  file->position += n;
  if (read) *read = static_cast<DWORD>(n);
  return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD high) {
  OpenFile* file = FileOfHandle(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_ATTRIBUTES);
  if (high) *high = 0;
  return static_cast<DWORD>(file->node->content.size());
}

namespace winsim {
// Called by CloseHandle for file handles, before the handle is released.
void ForgetOpenFile(HANDLE handle) {
  HandleEntry* entry = LookupHandle(handle, HandleKind::File);
  if (!entry) return;
  std::shared_ptr<OpenFile> file = std::static_pointer_cast<OpenFile>(entry->object);
  auto& files = OpenFiles();
  files.erase(std::remove(files.begin(), files.end(), file.get()), files.end());
  FinishClose(*file);
}
void ForgetAllOpenFiles() { OpenFiles().clear(); }
// Where the file a handle holds is now, in the code page ("" when it is no
// longer in the tree).
std::string OpenFilePath(HANDLE handle) {
  OpenFile* file = FileOfHandle(handle);
  return file ? AnsiFromUtf8(PathOfNode(file->node.get(), file->parent.get(), file->name)) : "";
}
}  // namespace winsim

// ---- The C runtime's fopen for Windows paths -----------------------------------
// Paths that begin with a drive letter or a backslash live in the simulated
// file system; a stream over such a file is a glibc cookie stream. Text mode
// (no 'b') writes "\n" as "\r\n", as the Windows runtime does.
namespace {

struct CookieFile {
  std::string path;  // UTF-8
  bool text = true;
  bool append = false;
  size_t position = 0;
};

ssize_t CookieWrite(void* cookie, const char* data, size_t size) {
  auto* file = static_cast<CookieFile*>(cookie);
  std::shared_ptr<FsNode> node = Walk(file->path);
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
  std::shared_ptr<FsNode> node = Walk(file->path);
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
  bool write = std::strchr(mode, 'w') || std::strchr(mode, 'a');
  Place place;
  if (LocateUtf8(Utf8FromAnsi(path), &place) != ERROR_SUCCESS) {
    errno = ENOENT;
    return nullptr;
  }
  FsNode* node = place.node.get();
  if (!node && !write) {
    errno = ENOENT;
    return nullptr;
  }
  if (node && (node->IsDirectory() || node->denyAccess ||
               (write && (node->attributes & FILE_ATTRIBUTE_READONLY)))) {
    errno = EACCES;
    return nullptr;
  }
  if (!node) node = &MakeFileUtf8(place.full, "", FILE_ATTRIBUTE_ARCHIVE);
  if (std::strchr(mode, 'w')) node->content.clear();
  auto* cookie = new CookieFile{place.full, std::strchr(mode, 'b') == nullptr,
                                std::strchr(mode, 'a') != nullptr, 0};
  cookie_io_functions_t io = {CookieRead, CookieWrite, nullptr, CookieClose};
  FILE* stream = fopencookie(cookie, mode, io);
  if (!stream) delete cookie;
  return stream;
}
