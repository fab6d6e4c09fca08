// Registry tree deletion: RegDeleteKeyA removes only a key without subkeys, so
// a subtree goes depth first, each key after all of its children.
//
// What it touches: the key the path names and everything below it, in the
// process's default view, deleted by path relative to the root; keys are only
// ever opened with KEY_READ, to list their children.
// What it refuses: an empty path or one made only of separators (it would name
// the root key itself, which is never walked or emptied), and a descent whose
// path would not fit the work buffer (that child counts as not deletable).
// What it tolerates: a key that is already gone counts as deleted.
#include <cstring>

#include "registry/registry.h"
#include "system/text.h"

namespace {

// Twice the 260-character name limit: the caller's path and the descent below it.
const size_t kWorkLength = 520;
// One child name, terminator included, as the enumeration is told before every call.
const DWORD kNameLength = 260;

// True when the path names a key below the root: some character other than a
// separator. An empty path would make RegDeleteKeyA and RegOpenKeyExA act on
// the root key itself.
bool NamesSubkey(const char* path) {
  for (const char* c = path; *c; ++c)
    if (*c != '\\') return true;
  return false;
}

}  // namespace

bool DeleteRegistryTree(HKEY root, const char* path) {
  if (!path || !NamesSubkey(path)) return false;
  char work[kWorkLength];
  // A path that does not fit is refused, never cut into the name of another key.
  if (!CopyText(work, path)) return false;
  return DeleteRegistryTreeRecursive(root, work, sizeof work);
}

bool DeleteRegistryTreeRecursive(HKEY root, char* path, size_t pathSize) {
  if (!path || pathSize == 0 || !std::memchr(path, '\0', pathSize)) return false;
  // Guard: never delete or walk the root key itself.
  if (!NamesSubkey(path)) return false;

  // A key without subkeys goes with this one call; a key that is not there
  // needs no other.
  LONG deleted = RegDeleteKeyA(root, path);
  if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) return true;

  HKEY key = nullptr;
  LONG opened = RegOpenKeyExA(root, path, 0, KEY_READ, &key);
  if (opened != ERROR_SUCCESS) return opened == ERROR_FILE_NOT_FOUND;

  // The name slot of this level lies just behind a separator at the path's end.
  size_t length = std::strlen(path);
  size_t slot = length;
  bool canDescend = true;
  bool childLeft = false;
  if (path[length - 1] != '\\') {
    if (length + 1 < pathSize) {
      path[length] = '\\';
      path[length + 1] = '\0';
      slot = length + 1;
    } else {
      canDescend = false;  // not even a separator fits: no child can be named
    }
  }

  if (canDescend) {
    // Always index 0: each deleted child moves the next one up. The first child
    // that cannot be deleted ends the walk, so it is never retried for ever.
    char name[kNameLength];
    char previous[kNameLength] = "";
    DWORD nameLength = kNameLength;
    while (RegEnumKeyExA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
      // A descent that does not fit the buffer is refused for this child, and
      // so is a name holding a zero (cut there, it would name another key),
      // and a child that is listed again after its walk said it was gone (a
      // name the code page cannot spell names no key).
      if (std::memchr(name, '\0', nameLength) || std::strcmp(name, previous) == 0 ||
          !CopyText(path + slot, pathSize - slot, name) || !DeleteRegistryTreeRecursive(root, path, pathSize)) {
        childLeft = true;
        break;
      }
      CopyText(previous, name);
      nameLength = kNameLength;
    }
    // Cut back to this key, without the trailing separator.
    path[slot - 1] = '\0';
  }

  RegCloseKey(key);
  // A key that keeps a child cannot be deleted: no call is spent on it.
  if (childLeft) return false;
  return RegDeleteKeyA(root, path) == ERROR_SUCCESS;
}
