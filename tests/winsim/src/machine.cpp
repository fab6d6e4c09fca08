// The simulated machine: names, trace, handle table and reset.
#include <algorithm>
#include <cstring>
#include <map>

#include "internal.h"

namespace winsim {

char UpperChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 'a' + 'A');
  // Windows-1252 letters with accents fold too (é 0xE9 -> É 0xC9), except ÷ 0xF7 and ÿ.
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 0x20);
  return c;
}

// Upper, EqualsNoCase and NoCaseLess: names.cpp.

static std::unique_ptr<Machine>& MachinePointer() {
  static std::unique_ptr<Machine> machine;
  return machine;
}

Machine& M() {
  auto& machine = MachinePointer();
  if (!machine) ResetMachine();
  return *machine;
}

void Trace(const std::string& line) { M().trace.push_back(line); }
const std::vector<std::string>& TraceLines() { return M().trace; }

std::vector<std::string> TraceOf(const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& line : M().trace)
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line.substr(prefix.size()));
  return out;
}

// ---- Handles -------------------------------------------------------------
static std::map<uintptr_t, HandleEntry>& Handles() {
  static std::map<uintptr_t, HandleEntry> handles;
  return handles;
}
static uintptr_t& NextHandle() {
  static uintptr_t next = 0x100;
  return next;
}

HANDLE AllocHandle(HandleKind kind, std::shared_ptr<void> object) {
  uintptr_t value = NextHandle();
  NextHandle() += 4;
  Handles()[value] = HandleEntry{kind, std::move(object)};
  return reinterpret_cast<HANDLE>(value);
}

HandleEntry* LookupAnyHandle(HANDLE handle) {
  auto it = Handles().find(reinterpret_cast<uintptr_t>(handle));
  return it == Handles().end() ? nullptr : &it->second;
}

HandleEntry* LookupHandle(HANDLE handle, HandleKind kind) {
  HandleEntry* entry = LookupAnyHandle(handle);
  return entry && entry->kind == kind ? entry : nullptr;
}

bool ReleaseHandle(HANDLE handle) { return Handles().erase(reinterpret_cast<uintptr_t>(handle)) == 1; }

void ResetHandles() {
  Handles().clear();
  NextHandle() = 0x100;
}

// ---- Paths ------------------------------------------------------------------
std::vector<std::string> SplitOn(const std::string& path, const char* separators) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c != '\0' && std::strchr(separators, c)) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

std::vector<std::string> SplitPath(const std::string& path) { return SplitOn(path, "\\/"); }

std::string FullPath(const std::string& path) {
  std::string absolute;
  const std::string& cwd = M().system.currentDirectory;
  if (path.size() >= 2 && path[1] == ':') {
    absolute = path;
    if (path.size() == 2 || (path[2] != '\\' && path[2] != '/')) {
      // Drive-relative ("C:foo"): relative to that drive's root in this simulation.
      absolute = path.substr(0, 2) + "\\" + path.substr(2);
    }
  } else if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
    absolute = cwd.substr(0, 2) + path;  // root of the current drive
  } else {
    absolute = cwd + "\\" + path;
  }
  std::vector<std::string> parts = SplitPath(absolute);
  std::vector<std::string> kept;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 && parts[i] == ".") continue;
    if (i > 0 && parts[i] == "..") {
      if (kept.size() > 1) kept.pop_back();
      continue;
    }
    kept.push_back(parts[i]);
  }
  std::string out;
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i) out += "\\";
    out += kept[i];
  }
  if (kept.size() == 1) out += "\\";
  return out;
}

// ---- Reset ---------------------------------------------------------------------
void ForgetAllOpenFiles();

void ResetMachine() {
  ForgetAllOpenFiles();
  ResetHandles();
  ResetRegistryHandles();
  MachinePointer() = std::make_unique<Machine>();
  Machine& m = *MachinePointer();
  m.system.environment["TEMP"] = "C:\\Temp";
  m.system.environment["TMP"] = "C:\\Temp";
  m.system.environment["PATH"] = "C:\\Windows\\system32;C:\\Windows";
  m.system.environment["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
  m.system.environment["SystemRoot"] = "C:\\Windows";
  m.system.environment["SystemDrive"] = "C:";
  MakeDirectory("C:\\Windows\\system32\\drivers");
  MakeDirectory("C:\\Windows\\inf");
  MakeDirectory("C:\\Temp");
  MakeDirectory("C:\\Tools");
  MakeFile("C:\\Windows\\system32\\cmd.exe", "MZ");
  SetWindowsFolderSecurity("C:\\Windows");
  InstallCommandInterpreter();
}

}  // namespace winsim
