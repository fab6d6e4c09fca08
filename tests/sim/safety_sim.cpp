// Generated machines on the simulated Windows.
#include "safety_sim.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../safety/safety_hives.h"
#include "winsim/machine.h"

using winsim::M;

namespace {

std::string HexBytes(const std::vector<BYTE>& data) {
  std::string out;
  char byte[3];
  for (BYTE b : data) {
    std::snprintf(byte, sizeof byte, "%02x", b);
    out += byte;
  }
  return out;
}

}  // namespace

void Build(const safety::Machine& machine) {
  winsim::SystemState& system = M().system;
  system.windowsDirectory = machine.windowsDirectory;
  system.systemDirectory = machine.systemDirectory;
  system.majorVersion = machine.majorVersion;
  system.processorArchitecture = machine.amd64 ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
  system.currentDirectory = machine.workingDirectory;
  system.environment["SystemRoot"] = machine.windowsDirectory;
  system.environment["ComSpec"] = machine.systemDirectory + "\\cmd.exe";
  system.environment["PATH"] = machine.systemDirectory + ";" + machine.windowsDirectory;
  winsim::MakeFile(machine.systemDirectory + "\\cmd.exe", "MZ");
  winsim::MakeDirectory(machine.systemDirectory + "\\drivers");
  winsim::MakeDirectory(machine.windowsDirectory + "\\inf");

  for (const safety::KeyItem& item : machine.keys) {
    winsim::RegKey& key = item.linkTarget.empty()
                              ? winsim::CreateKey(safety::RootOf(item.hive), item.path)
                              : winsim::CreateLink(safety::RootOf(item.hive), item.path, item.linkTarget);
    key.refuseDelete = item.refuseDelete;
    key.refuseOpen = item.refuseOpen;
  }
  for (const safety::ValueItem& item : machine.values)
    winsim::SetValue(safety::RootOf(item.hive), item.path, item.name, item.type,
                     std::vector<BYTE>(item.data.begin(), item.data.end()));
  // File paths are UTF-8.
  auto wide = [](const std::string& utf8) { return winsim::WideFromUtf8(utf8); };
  for (const safety::DirItem& item : machine.dirs) winsim::MakeDirectory(wide(item.path));
  for (const safety::FileItem& item : machine.files) {
    winsim::FsNode& file = winsim::MakeFile(wide(item.path), item.content, item.attributes);
    file.inUse = item.inUse;
    file.denyAccess = item.denyAccess;
    file.foreignOwner = item.foreignOwner;
  }
  for (const safety::LinkItem& item : machine.links)
    winsim::MakeLink(wide(item.path), wide(item.target), item.directory);
  for (const safety::DirItem& item : machine.dirs) winsim::FindNode(wide(item.path))->attributes = item.attributes;
  for (const safety::ProcessItem& item : machine.processes) {
    winsim::SimProcess* process = winsim::FindProcess(winsim::AddProcess(item.image, item.account));
    process->refuseTerminate = item.refuseTerminate;
    process->isProtected = item.isProtected;
  }
  for (const safety::ServiceItem& item : machine.services) winsim::AddService(item.name);
  for (const safety::PackageItem& item : machine.packages) {
    winsim::DriverPackage package;
    package.publishedName = item.publishedName;
    package.storeFolder = item.storeFolder;
    package.inUse = item.inUse;
    package.refuseError = item.refuseError;
    M().driverStore.packages.push_back(package);
  }
  // The vendor's tools do nothing here; the run relies on nothing they do.
  for (const char* tool : {"drvmanage.exe", "drvinst.exe", "lumdrv.exe", "LumNetworkServer.exe", "MsiCleanup.exe"})
    winsim::SetProgramBehaviour(tool, [](const winsim::ChildRun&) { return winsim::ChildOutcome(); });
}

namespace {

void SnapFiles(const winsim::FsNode& node, const std::string& path, safety::Snapshot& out) {
  for (const auto& entry : node.children) {
    const winsim::FsNode& child = *entry.second;
    std::string childPath = path + "\\" + entry.first;  // UTF-8, as the machine's file paths
    char attributes[16];
    std::snprintf(attributes, sizeof attributes, "%04x", static_cast<unsigned>(child.attributes));
    std::string description = std::string(attributes) + (child.inUse ? " in-use" : "") +
                              (child.denyAccess ? " deny" : "") + (child.foreignOwner ? " system-owned" : "");
    if (!child.linkTarget.empty()) description += " -> " + child.linkTarget;
    if (!child.IsDirectory()) description += " [" + child.content + "]";
    out[safety::FileId(childPath)] = description;
    if (child.linkTarget.empty()) SnapFiles(child, childPath, out);
  }
}

// A value's data as Windows stores it: a string set through the narrow
// calls is held in UTF-16, as a wide call gives it back (and reg import sets it).
std::vector<BYTE> AsStored(const winsim::RegValue& value) {
  bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
  if (!text || value.unicode || value.data.empty()) return value.data;
  std::vector<WCHAR> wide(value.data.size());
  int units = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(value.data.data()),
                                  static_cast<int>(value.data.size()), wide.data(), static_cast<int>(wide.size()));
  std::vector<BYTE> bytes;
  for (int i = 0; i < units; ++i) {
    bytes.push_back(static_cast<BYTE>(wide[i] & 0xFF));
    bytes.push_back(static_cast<BYTE>(wide[i] >> 8));
  }
  return bytes;
}

void SnapKeys(const winsim::RegKey& key, safety::Hive hive, const std::string& path, safety::Snapshot& out) {
  for (const winsim::RegValue& value : key.values)
    out[safety::ValueId(hive, path, value.name)] = std::to_string(value.type) + ":" + HexBytes(AsStored(value));
  for (const auto& entry : key.subkeys) {
    const winsim::RegKey& child = *entry.second;
    std::string childPath = path.empty() ? child.name : path + "\\" + child.name;
    out[safety::KeyId(hive, childPath)] = std::string(child.refuseDelete ? "refuse-delete " : "") +
                                          (child.refuseOpen ? "refuse-open" : "");
    SnapKeys(child, hive, childPath, out);
  }
}

}  // namespace

safety::Snapshot Snap() {
  safety::Snapshot out;
  for (const auto& drive : M().files.drives) SnapFiles(*drive.second, drive.second->name, out);
  SnapKeys(*M().registry.localMachine, safety::Hive::LocalMachine, "", out);
  SnapKeys(*M().registry.currentUser, safety::Hive::CurrentUser, "", out);
  SnapKeys(*M().registry.users, safety::Hive::Users, "", out);
  const std::vector<winsim::SimProcess>& processes = M().processes.processes;
  for (size_t i = 0; i < processes.size(); ++i)
    if (processes[i].running) out[safety::ProcessId(i, processes[i].imageName)] = "running as " + processes[i].owner;
  for (const auto& entry : M().services.services) {
    const winsim::SimService& service = entry.second;
    if (service.deleted) continue;
    std::string controls;
    for (DWORD control : service.controls) controls += " " + std::to_string(control);
    out[safety::ServiceId(service.name)] = (service.running ? "running" : "stopped") + controls;
  }
  return out;
}

// The ids of a state that a report item stands for: the item itself and, for
// a folder or key, everything the state holds below it.
std::set<std::string> IdsOf(const std::string& kind, const std::string& path, const std::string& value,
                            const safety::Snapshot& state) {
  std::set<std::string> ids;
  auto withBelow = [&](const std::string& id, const std::string& valuesPrefix) {
    if (state.count(id)) ids.insert(id);
    for (auto it = state.lower_bound(id + "\\"); it != state.end() && it->first.compare(0, id.size() + 1, id + "\\") == 0; ++it)
      ids.insert(it->first);
    for (auto it = state.lower_bound(valuesPrefix); it != state.end() && it->first.compare(0, valuesPrefix.size(), valuesPrefix) == 0; ++it)
      ids.insert(it->first);
  };
  if (kind == "process") {
    for (const auto& item : state)
      if (item.first.compare(0, 8, "process ") == 0) {
        std::string image = item.first.substr(item.first.find(' ', 8) + 1);
        if (safety::ServiceId(image) == safety::ServiceId(path)) ids.insert(item.first);  // names, any case
      }
    return ids;
  }
  if (kind == "service") {
    if (state.count(safety::ServiceId(path))) ids.insert(safety::ServiceId(path));
    return ids;
  }
  if (kind == "file" || kind == "folder") {
    withBelow(safety::FileId(path), "\x01");
    return ids;
  }
  if (path.find('\\') == std::string::npos) return ids;  // a driver: its evidence stands for it
  // Registry: HKCR lies under HKLM\SOFTWARE\Classes on these machines.
  std::string root = path.substr(0, path.find('\\'));
  std::string rest = path.substr(root.size() + 1);
  safety::Hive hive = root == "HKCU" ? safety::Hive::CurrentUser : root == "HKU" ? safety::Hive::Users
                                                                                : safety::Hive::LocalMachine;
  if (root == "HKCR") rest = "SOFTWARE\\Classes\\" + rest;
  if (kind == "registryValue") {
    std::string id = safety::ValueId(hive, rest, value);
    if (state.count(id)) ids.insert(id);
    return ids;
  }
  std::string key = safety::KeyId(hive, rest);
  withBelow(key, "value " + key.substr(4) + " : ");
  // Values of keys below: "value HKLM\A\B : N".
  std::string below = "value " + key.substr(4) + "\\";
  for (auto it = state.lower_bound(below); it != state.end() && it->first.compare(0, below.size(), below) == 0; ++it)
    ids.insert(it->first);
  return ids;
}
