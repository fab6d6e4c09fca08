// File trees with long and odd names through DeleteDirectoryTree and
// DeleteFilesByPattern. The fuzzer builds a tree below C:\Fuzz\Root (files
// and folders with any attributes, files in use or denying access, dot-named
// entries, junctions and file links to C:\Fuzz\Outside), then deletes it.
// Findings: a crash or sanitizer report; anything changed outside the tree;
// a result of 0 with the tree still there.
//
// Input: lines of one letter and its bytes (a blank after the letter is dropped):
//   f <p><a><name>  a file below entry p (0 is the root) with attributes a
//                   (bits 1, 2, 4 as Windows; 8 in use; 16 denies access)
//   d <p><a><name>  a folder (attribute 1 read-only, 2 hidden)
//   j <p><t><name>  a folder link to the t-th folder outside
//   s <p><t><name>  a file link to the t-th file outside
//   r <tail>        C:\Fuzz\Root spelt otherwise: a tail of separators, dots and
//                   blanks, or (first byte 'x') ".txt", "x" or ":x" after it
//   m <pattern>     also DeleteFilesByPattern on C:\Fuzz\Root with this pattern
#include <windows.h>

#include <string>
#include <vector>

#include "files/files.h"
#include "fuzz_support.h"
#include "winsim/machine.h"

namespace {

const char kRoot[] = "C:\\Fuzz\\Root";
const char* const kOutsideFolders[] = {"C:\\Fuzz\\Outside", "C:\\Fuzz\\Outside\\Deep", "C:\\Fuzz", "C:\\",
                                       "C:\\Windows"};
const char* const kOutsideFiles[] = {"C:\\Fuzz\\Outside\\keep.txt", "C:\\Fuzz\\Outside\\Deep\\keep.bin",
                                     "C:\\Fuzz\\Root.txt"};

// A name Windows would keep as written: no separators, no characters that
// are not allowed in names, at most 255 characters, not "." or "..".
std::string FileName(const std::string& bytes) {
  std::string name;
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
        c == '>' || c == '|')
      continue;
    name += c;
  }
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
  if (name.size() > 255) name.resize(255);
  return name;
}

// Everything on drive C outside the tree, as DumpTree shows it (which does
// not look behind links).
std::vector<std::string> Outside() {
  std::vector<std::string> lines;
  for (const std::string& line : winsim::DumpTree("C:\\")) {
    bool inRoot = line.compare(0, 9, "Fuzz\\Root") == 0 && (line[9] == '\\' || line[9] == ' ');
    if (!inRoot) lines.push_back(line);
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  winsim::ResetMachine();
  for (const char* file : kOutsideFiles) winsim::MakeFile(file, "outside", FILE_ATTRIBUTE_READONLY);
  winsim::MakeDirectory(kRoot);
  std::vector<std::string> folders = {kRoot};
  std::string root = kRoot;
  std::string pattern;
  for (const fuzz::Field& field : fuzz::Fields(data, size)) {
    const std::string& b = field.bytes;
    if (field.kind == 'r') {
      // Never a name that could lead through a link inside the tree: such a
      // path names the link's target, which the caller then asked for.
      static const char* const kTails[] = {".txt", "x", ":x"};
      if (!b.empty() && b[0] == 'x') {
        root = std::string(kRoot) + kTails[b.size() % 3];
      } else {
        root = kRoot;
        for (char c : b) root += "\\/. "[static_cast<unsigned char>(c) % 4];
      }
      continue;
    }
    if (field.kind == 'm') {
      pattern = b.substr(0, b.find('\0'));
      continue;
    }
    if (b.size() < 3) continue;
    const std::string& parent = folders[static_cast<unsigned char>(b[0]) % folders.size()];
    unsigned char detail = static_cast<unsigned char>(b[1]);
    std::string name = FileName(b.substr(2));
    if (name.empty()) continue;
    std::string path = parent + "\\" + name;
    if (winsim::FindNode(path)) continue;
    switch (field.kind) {
      case 'f': {
        winsim::FsNode& file = winsim::MakeFile(path, "in the tree", detail & 7);
        file.inUse = (detail & 8) != 0;
        file.denyAccess = (detail & 16) != 0;
        break;
      }
      case 'd':
        winsim::MakeDirectory(path).attributes = FILE_ATTRIBUTE_DIRECTORY | (detail & 3);
        folders.push_back(path);
        break;
      case 'j':
        winsim::MakeLink(path, kOutsideFolders[detail % 5], true);
        break;
      case 's':
        winsim::MakeLink(path, kOutsideFiles[detail % 3], false);
        break;
      default:
        break;
    }
  }

  std::vector<std::string> before = Outside();
  DWORD result = DeleteDirectoryTree(root.c_str());
  if (!pattern.empty()) DeleteFilesByPattern(kRoot, pattern.c_str());
  if (Outside() != before) fuzz::Finding("something outside the tree changed");
  if (root == kRoot && result == 0 && winsim::PathExists(kRoot)) fuzz::Finding("0 returned, the tree is still there");
  if (winsim::M().files.openSearches != 0) fuzz::Finding("a file search left open");
  return 0;
}
