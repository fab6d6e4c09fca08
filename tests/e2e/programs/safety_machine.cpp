// A generated machine (tests/safety) in a Wine prefix, for the cross-check of
// the safety property on a real Win32 implementation. VERSION is the major
// Windows version the prefix reports (6, 5 or 4).
//
//   safety_machine.exe build SEED VERSION            builds the machine through
//       the Win32 API and prints what the host must add: "arguments <text>",
//       "cwd <folder>", "link <path>|<target>" (directory links)
//   safety_machine.exe describe SEED VERSION         a line about the machine
//   safety_machine.exe snap SEED VERSION FILE        writes the prefix's state to FILE
//   safety_machine.exe check SEED VERSION FILE TEMP  reads the state again and
//       prints every problem against FILE; exit 1 if any
//
// The state is every file and folder of drive C: (attributes, size, content
// of small files; links are not followed) and every key and value of
// HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_USERS, values byte for byte.
// Left out, each for a reason: the test bed's own folder C:\e2e, the user's
// own key under HKEY_USERS (it is HKEY_CURRENT_USER, walked under that name)
// and the display keys that Wine's display driver writes whenever its
// desktop starts.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../../safety/safety_hives.h"

namespace {

const char kBed[] = "C:\\e2e";

// What a Wine prefix can hold: no files in use, refused keys, ACLs, running
// background processes or 8-bit names; file links look like ordinary files.
safety::Options WineOptions(uint32_t majorVersion) {
  safety::Options options;
  options.majorVersion = majorVersion;
  options.simulatedOnly = false;
  options.fileLinks = false;
  options.directoryLinks = true;
  options.blockers = true;
  return options;
}

bool Fail(const std::string& what) {
  std::fprintf(stderr, "%s (error %lu)\n", what.c_str(), GetLastError());
  return false;
}

// Every folder above path, then path itself.
bool MakeFolders(const std::string& path) {
  for (size_t at = 3; at <= path.size(); ++at) {
    if (at != path.size() && path[at] != '\\') continue;
    std::string folder = path.substr(0, at);
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return Fail("cannot make folder " + folder);
  }
  return true;
}

std::string ParentOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

bool Build(const safety::Machine& machine) {
  for (const safety::KeyItem& item : machine.keys) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(safety::RootOf(item.hive), item.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return Fail("cannot make key " + item.path);
    RegCloseKey(key);
  }
  for (const safety::ValueItem& item : machine.values) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(safety::RootOf(item.hive), item.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      return Fail("cannot make key " + item.path);
    LONG result = RegSetValueExA(key, item.name.c_str(), 0, item.type,
                                 reinterpret_cast<const BYTE*>(item.data.data()), static_cast<DWORD>(item.data.size()));
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return Fail("cannot set value " + item.path + " : " + item.name);
  }
  for (const safety::DirItem& item : machine.dirs)
    if (!MakeFolders(item.path)) return false;
  for (const safety::FileItem& item : machine.files) {
    if (!MakeFolders(ParentOf(item.path))) return false;
    HANDLE file = CreateFileA(item.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("cannot make file " + item.path);
    DWORD written = 0;
    BOOL wrote = WriteFile(file, item.content.data(), static_cast<DWORD>(item.content.size()), &written, nullptr);
    CloseHandle(file);
    if (!wrote || written != item.content.size()) return Fail("cannot write file " + item.path);
    if (!SetFileAttributesA(item.path.c_str(), item.attributes)) return Fail("cannot set attributes of " + item.path);
  }
  for (const safety::LinkItem& item : machine.links) {
    if (!MakeFolders(ParentOf(item.path))) return false;
    if (!item.directory) {
      std::fprintf(stderr, "a file link cannot stand in a Wine prefix: %s\n", item.path.c_str());
      return false;
    }
    std::printf("link %s|%s\n", item.path.c_str(), item.target.c_str());
  }
  for (const safety::DirItem& item : machine.dirs)
    if (!SetFileAttributesA(item.path.c_str(), item.attributes & ~safety::kDirectory))
      return Fail("cannot set attributes of " + item.path);
  std::printf("arguments %s\ncwd %s\n", machine.arguments.c_str(), machine.workingDirectory.c_str());
  return true;
}

// ---- state -------------------------------------------------------------------
std::string Hex(const void* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string Number(unsigned long long value, bool hex = false) {
  char text[32];
  std::snprintf(text, sizeof text, hex ? "%llx" : "%llu", value);
  return text;
}

// Content of files up to this size is part of their state; larger ones (Wine's
// own libraries) by size only.
const DWORD kContentLimit = 64 * 1024;

std::string FileState(const std::string& path, const WIN32_FIND_DATAA& found) {
  std::string state = Number(found.dwFileAttributes, true);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return state + " link";
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return state;
  unsigned long long size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  state += " " + Number(size);
  if (size > kContentLimit) return state;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return state + " unreadable";
  std::vector<char> content(static_cast<size_t>(size) + 1);
  DWORD read = 0;
  BOOL ok = ReadFile(file, content.data(), static_cast<DWORD>(size), &read, nullptr);
  CloseHandle(file);
  return state + (ok ? " [" + Hex(content.data(), read) + "]" : " unreadable");
}

void SnapFiles(const std::string& folder, safety::Snapshot& out) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // A listing always holds "." and "..": what cannot be listed must not
    // pass for a folder whose content is gone.
    out[safety::FileId(folder)] += " unlistable " + Number(GetLastError());
    return;
  }
  do {
    if (!std::strcmp(found.cFileName, ".") || !std::strcmp(found.cFileName, "..")) continue;
    std::string path = folder + "\\" + found.cFileName;
    if (!_stricmp(path.c_str(), kBed)) continue;
    out[safety::FileId(path)] = FileState(path, found);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      SnapFiles(path, out);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// The user's own key under HKEY_USERS: its SID.
std::string OwnSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  std::vector<BYTE> buffer(512);
  DWORD size = 0;
  std::string sid;
  if (GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
    const TOKEN_USER* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    char* text = nullptr;
    if (ConvertSidToStringSidA(user->User.Sid, &text)) {
      sid = text;
      LocalFree(text);
    }
  }
  CloseHandle(token);
  return sid;
}

// Keys Wine's display driver writes again whenever its desktop starts.
const char* const kDisplayKeys[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Video",
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}"};

bool SkippedKey(safety::Hive hive, const std::string& path, const std::string& ownSid) {
  if (hive == safety::Hive::LocalMachine) {
    for (const char* key : kDisplayKeys)
      if (!_stricmp(path.c_str(), key)) return true;
    return false;
  }
  if (hive == safety::Hive::Users)
    return !ownSid.empty() && (!_stricmp(path.c_str(), ownSid.c_str()) ||
                               !_stricmp(path.c_str(), (ownSid + "_Classes").c_str()));
  return false;
}

void SnapKeys(HKEY key, safety::Hive hive, const std::string& path, const std::string& ownSid,
              safety::Snapshot& out) {
  DWORD subkeys = 0, longestSubkey = 0, values = 0, longestName = 0, longestData = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  std::vector<char> name(longestName + 2);
  std::vector<BYTE> data(longestData + 2);
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG result = RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (result == ERROR_MORE_DATA) {  // grew since the query
      name.resize(name.size() * 2 + 256);
      data.resize(data.size() * 2 + 256);
      --i;
      continue;
    }
    if (result != ERROR_SUCCESS) break;
    out[safety::ValueId(hive, path, std::string(name.data(), nameSize))] =
        Number(type) + ":" + Hex(data.data(), dataSize);
  }
  std::vector<char> child(longestSubkey + 2 > 256 ? longestSubkey + 2 : 256);
  for (DWORD i = 0;; ++i) {
    DWORD childSize = static_cast<DWORD>(child.size());
    if (RegEnumKeyExA(key, i, child.data(), &childSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::string childPath = path.empty() ? std::string(child.data(), childSize)
                                         : path + "\\" + std::string(child.data(), childSize);
    if (SkippedKey(hive, childPath, ownSid)) continue;
    out[safety::KeyId(hive, childPath)] = "";
    HKEY opened = nullptr;
    if (RegOpenKeyExA(key, std::string(child.data(), childSize).c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS) {
      SnapKeys(opened, hive, childPath, ownSid, out);
      RegCloseKey(opened);
    } else {
      out[safety::KeyId(hive, childPath)] = "cannot be opened";
    }
  }
}

safety::Snapshot Snap() {
  safety::Snapshot out;
  SnapFiles("C:", out);
  std::string ownSid = OwnSid();
  SnapKeys(HKEY_LOCAL_MACHINE, safety::Hive::LocalMachine, "", ownSid, out);
  SnapKeys(HKEY_CURRENT_USER, safety::Hive::CurrentUser, "", ownSid, out);
  SnapKeys(HKEY_USERS, safety::Hive::Users, "", ownSid, out);
  return out;
}

// One item a line: id, a tab, its state; both escaped so that a line holds one item.
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '\t' || c == '\n' || c == '\r')
      out += "%" + Hex(&c, 1);
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool Save(const safety::Snapshot& snapshot, const char* path) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  for (const auto& item : snapshot)
    std::fprintf(file, "%s\t%s\n", Escape(item.first).c_str(), Escape(item.second).c_str());
  return std::fclose(file) == 0;
}

bool Load(const char* path, safety::Snapshot& snapshot) {
  std::FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  std::string line;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    size_t tab = line.find('\t');
    if (tab != std::string::npos) snapshot[Unescape(line.substr(0, tab))] = Unescape(line.substr(tab + 1));
    line.clear();
  }
  std::fclose(file);
  return true;
}

// Wine removes a directory link by acting on its target: the removal fails on
// a target that holds anything, and the tree walk that met the link stops.
// What the walk left of the vendor's tree that holds the link may therefore
// stay; that nothing behind the link is deleted is checked as for every item
// that is not the vendor's.
std::vector<std::string> LinkTreesUnderWine(const safety::Machine& machine, const safety::Outcome& outcome) {
  std::vector<std::string> trees;
  for (const safety::LinkItem& link : machine.links) {
    std::string id = safety::FileId(link.path);
    std::string top = id;
    for (size_t cut = id.rfind('\\'); cut != std::string::npos && cut > 8; cut = id.rfind('\\', cut - 1))
      if (outcome.IsVendor(id.substr(0, cut))) top = id.substr(0, cut);
    trees.push_back(top);
  }
  return trees;
}

// Wine's attrib applies one of the attributes it is given (of "-r -h -a -s"
// the last) and its del refuses a read-only file, so the forced deletion of a
// read-only board driver fails there. Windows' commands are followed on the
// simulation.
bool ReadOnlyDriverUnderWine(const safety::Machine& machine, const std::string& id) {
  const std::string drivers = safety::FileId(machine.systemDirectory + "\\drivers") + "\\";
  if (id.compare(0, drivers.size(), drivers) != 0) return false;
  for (const safety::FileItem& file : machine.files)
    if (safety::FileId(file.path) == id) return (file.attributes & safety::kReadOnly) != 0;
  return false;
}

bool InTree(const std::string& id, const std::vector<std::string>& trees) {
  for (const std::string& tree : trees)
    if (id == tree || (id.size() > tree.size() && id.compare(0, tree.size(), tree) == 0 && id[tree.size()] == '\\'))
      return true;
  return false;
}

int Check(const safety::Machine& machine, const char* beforePath, const std::string& temp) {
  safety::Snapshot before;
  if (!Load(beforePath, before)) {
    std::printf("cannot read %s\n", beforePath);
    return 2;
  }
  safety::Snapshot after = Snap();
  safety::Outcome outcome = safety::ExpectedOutcome(machine);
  std::vector<std::string> trees = LinkTreesUnderWine(machine, outcome);
  int problems = 0, inLinkTrees = 0, readOnlyDrivers = 0;
  // An administrator's run writes its reports and backup under the Windows directory.
  const std::string reportFolder = machine.windowsDirectory + "\\Logs\\CleanLum";
  for (const std::string& problem : safety::CheckRun(machine, outcome, before, after, temp, reportFolder)) {
    const std::string leftBehind = "vendor item left behind: ";
    if (problem.compare(0, leftBehind.size(), leftBehind) == 0) {
      std::string id = problem.substr(leftBehind.size());
      if (InTree(id, trees)) {
        std::printf("left in a folder holding a directory link: %s\n", id.c_str());
        ++inLinkTrees;
        continue;
      }
      if (ReadOnlyDriverUnderWine(machine, id)) {
        std::printf("left as a read-only board driver: %s\n", id.c_str());
        ++readOnlyDrivers;
        continue;
      }
    }
    std::printf("%s\n", problem.c_str());
    ++problems;
  }
  std::printf(
      "%s: %zu items before, %zu after, %zu vendor items; left by Wine: %d in folders holding a directory link, "
      "%d read-only board drivers; %d problems\n",
      machine.Describe().c_str(), before.size(), after.size(), outcome.vendor.size(), inLinkTrees, readOnlyDrivers,
      problems);
  return problems ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* const usage = "usage: safety_machine.exe build|describe|snap|check SEED VERSION [FILE [TEMP]]\n";
  if (argc < 4) {
    std::fprintf(stderr, "%s", usage);
    return 2;
  }
  uint32_t version = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  safety::Machine machine = safety::Generate(std::strtoull(argv[2], nullptr, 10), WineOptions(version));
  if (!std::strcmp(argv[1], "build")) return Build(machine) ? 0 : 1;
  if (!std::strcmp(argv[1], "describe")) {
    size_t gige = 0;  // keys that may name a GigE board: each such board pauses the run 75 s
    for (const safety::KeyItem& key : machine.keys) gige += safety::KeyId(key.hive, key.path).find("GIGE") != std::string::npos;
    std::printf("%s, %zu GigE keys\n", machine.Describe().c_str(), gige);
    return 0;
  }
  if (!std::strcmp(argv[1], "snap") && argc == 5) return Save(Snap(), argv[4]) ? 0 : 1;
  if (!std::strcmp(argv[1], "check") && argc == 6) return Check(machine, argv[4], argv[5]);
  std::fprintf(stderr, "%s", usage);
  return 2;
}
