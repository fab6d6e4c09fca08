// The command interpreter as the program drives it: "cmd.exe /c <command>"
// with the four console commands of forced deletion, acting on the simulated
// files as Windows' own commands do. Anything else is "not recognized" and
// changes nothing. The child's work never changes the caller's last error.
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

// Blank-separated words; double quotes group and are removed.
std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string current;
  bool quoted = false;
  bool inWord = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words.push_back(current);
      current.clear();
      inWord = false;
    } else {
      current += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(current);
  return words;
}

// takeown, cacls and attrib (without /L) act on what a symbolic link points
// at, as CreateFile does; del removes the link itself. The file that a path
// names, links followed, and its own path.
FsNode* ExistingFile(const std::string& path, std::string* resolved = nullptr) {
  std::string current = FullPathUtf8(Utf8FromAnsi(path));
  FsNode* node = FindNodeUtf8(current);
  for (int hops = 0; node && !node->linkTarget.empty() && hops < 16; ++hops) {
    current = node->linkTarget;
    node = FindNodeUtf8(current);
  }
  if (resolved) *resolved = AnsiFromUtf8(current);
  return node && !node->IsDirectory() ? node : nullptr;
}

// takeown /F path: an administrator becomes the owner (the privilege to take
// ownership overrides the ACL).
DWORD TakeOwn(const std::vector<std::string>& args) {
  if (args.size() != 2 || !EqualsNoCase(args[0], "/F")) return 1;
  FsNode* node = ExistingFile(args[1]);
  if (!node || !M().system.isAdmin) return 1;
  node->foreignOwner = false;
  return 0;
}

// cacls path /g Administrators:F /Y: the ACL is replaced by one granting
// Administrators full control; rewriting it needs the owner's right when the
// current ACL denies access.
DWORD Cacls(const std::vector<std::string>& args) {
  if (args.size() != 4 || !EqualsNoCase(args[1], "/g") || !EqualsNoCase(args[2], "Administrators:F") ||
      !EqualsNoCase(args[3], "/Y"))
    return 1;
  FsNode* node = ExistingFile(args[0]);
  if (!node || !M().system.isAdmin) return 1;
  if (node->denyAccess && node->foreignOwner) return 5;
  node->denyAccess = false;
  return 0;
}

// attrib [+-]r [+-]h [+-]a [+-]s path. A hidden or system file is left alone
// ("Not resetting hidden file") unless its h and s are named too.
DWORD Attrib(const std::vector<std::string>& args) {
  if (args.empty()) return 1;
  DWORD set = 0;
  DWORD clear = 0;
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    const std::string& flag = args[i];
    if (flag.size() != 2 || (flag[0] != '+' && flag[0] != '-')) return 1;
    DWORD bit = 0;
    switch (UpperChar(flag[1])) {
      case 'R': bit = FILE_ATTRIBUTE_READONLY; break;
      case 'H': bit = FILE_ATTRIBUTE_HIDDEN; break;
      case 'A': bit = FILE_ATTRIBUTE_ARCHIVE; break;
      case 'S': bit = FILE_ATTRIBUTE_SYSTEM; break;
      default: return 1;
    }
    (flag[0] == '+' ? set : clear) |= bit;
  }
  std::string path;
  FsNode* node = ExistingFile(args.back(), &path);
  if (!node) return 1;
  DWORD named = set | clear;
  if ((node->attributes & FILE_ATTRIBUTE_HIDDEN) && !(named & FILE_ATTRIBUTE_HIDDEN)) return 1;
  if ((node->attributes & FILE_ATTRIBUTE_SYSTEM) && !(named & FILE_ATTRIBUTE_SYSTEM)) return 1;
  DWORD attributes = ((node->attributes & ~clear) | set) &
                     ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                         FILE_ATTRIBUTE_NORMAL);
  return SetFileAttributesA(path.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL) ? 0 : 1;
}

// del /q path: the files that match (every file of a named directory), hidden
// and system files not included, each deleted as DeleteFileA would.
DWORD Del(const std::vector<std::string>& args) {
  if (args.size() != 2 || !EqualsNoCase(args[0], "/q")) return 1;
  std::string path = FullPath(args[1]);
  FsNode* named = FindNode(path);
  std::string pattern = named && named->IsDirectory() ? path + "\\*" : path;
  size_t slash = pattern.find_last_of('\\');
  std::string folder = pattern.substr(0, slash);
  std::vector<std::string> victims;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 1;  // "Could Not Find"
  do {
    const DWORD skipped = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (!(found.dwFileAttributes & skipped)) victims.push_back(folder + "\\" + found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  if (victims.empty()) return 1;
  for (const std::string& victim : victims) DeleteFileA(victim.c_str());  // "Access is denied" goes by
  return 0;
}

ChildOutcome RunCommandInterpreter(const ChildRun& run) {
  ChildOutcome outcome;
  outcome.exitCode = 1;
  std::vector<std::string> words = Words(run.commandLine);
  if (words.size() < 3 || !EqualsNoCase(words[1], "/c")) return outcome;
  std::string command = words[2];
  std::vector<std::string> args(words.begin() + 3, words.end());
  DWORD savedError = M().system.lastError;
  if (EqualsNoCase(command, "takeown"))
    outcome.exitCode = TakeOwn(args);
  else if (EqualsNoCase(command, "cacls"))
    outcome.exitCode = Cacls(args);
  else if (EqualsNoCase(command, "attrib"))
    outcome.exitCode = Attrib(args);
  else if (EqualsNoCase(command, "del"))
    outcome.exitCode = Del(args);
  M().system.lastError = savedError;
  return outcome;
}

}  // namespace

void InstallCommandInterpreter() { SetProgramBehaviour("cmd.exe", RunCommandInterpreter); }

}  // namespace winsim
