// Absolute drive paths judged one way for every recursive delete and its guards.
#include "files/drive_path.h"

#include <cstring>
#include <vector>

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Letters folded for path comparison: ASCII and the accented letters of the
// Western code page. Folding too much can only make a value look like a
// protected folder and be refused, never the other way round.
char FoldPathChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 'a' + 'A');
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 0x20);
  if (c == '/') return '\\';
  return c;
}

}  // namespace

// The judgement of CanonicalDrivePath; fold upper-cases the letters.
static bool JudgeDrivePath(const char* path, char* out, size_t outSize, size_t* componentCount, bool fold) {
  if (!path || !IsDriveLetter(path[0]) || path[1] != ':' || !IsSeparator(path[2])) return false;
  if (out && outSize < 3) return false;
  size_t used = 0;
  size_t components = 0;
  if (out) {
    out[used++] = FoldPathChar(path[0]);
    out[used++] = ':';
  }
  const char* p = path + 2;
  while (*p) {
    while (IsSeparator(*p)) ++p;
    if (!*p) break;
    const char* start = p;
    while (*p && !IsSeparator(*p)) {
      unsigned char u = static_cast<unsigned char>(*p);
      if (u < 0x20 || std::strchr("<>:\"|?*", *p)) return false;
      ++p;
    }
    // "." and ".." and any component Windows trims to nothing: the path would
    // name the folder itself or one above it, not the one it seems to name.
    size_t length = static_cast<size_t>(p - start);
    while (length > 0 && (start[length - 1] == '.' || start[length - 1] == ' ')) --length;
    if (length == 0) return false;
    if (out) {
      if (used + 1 + length + 1 > outSize) return false;
      out[used++] = '\\';
      for (size_t i = 0; i < length; ++i) out[used++] = fold ? FoldPathChar(start[i]) : start[i];
    }
    ++components;
  }
  if (out) out[used] = '\0';
  if (componentCount) *componentCount = components;
  return true;
}

bool CanonicalDrivePath(const char* path, char* out, size_t outSize, size_t* componentCount) {
  return JudgeDrivePath(path, out, outSize, componentCount, true);
}

bool NormalDrivePath(const char* path, std::string& normal) {
  size_t length = path ? std::strlen(path) : 0;
  std::vector<char> out(length + 3, '\0');
  if (!JudgeDrivePath(path, out.data(), out.size(), nullptr, false)) return false;
  normal = out.data();
  return true;
}

bool IsDrivePathBelowRoot(const char* path) {
  size_t components = 0;
  return CanonicalDrivePath(path, nullptr, 0, &components) && components > 0;
}

bool IsSameOrAncestorPath(const char* ancestor, const char* path) {
  size_t length = std::strlen(ancestor);
  if (std::strncmp(ancestor, path, length) != 0) return false;
  return path[length] == '\0' || path[length] == '\\';
}
