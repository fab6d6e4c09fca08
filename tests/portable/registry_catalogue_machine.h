// A machine that holds every key of the registry catalogue, each with a
// subtree and values, the vendor's installer products with their cached
// packages, the environment values the library adds, and beside all of them
// keys, values, products and files that are not the vendor's. Built through
// the Win32 API, so the same machine stands on the simulation and on Wine.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "registry_expected_rows.h"
#include "registry_test_support.h"

namespace regtest {

struct RegistryKey {
  HKEY root;
  std::string path;
};

inline std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// HKCR keys live under HKLM\SOFTWARE\Classes; everything else as named.
inline RegistryKey MachineView(HKEY root, const std::string& path) {
  if (root == HKEY_CLASSES_ROOT) return {HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\" + path};
  return {root, path};
}

// True when root\path is, or lies below, the key that root\below names.
inline bool IsAtOrBelow(RegistryKey key, RegistryKey below) {
  key = MachineView(key.root, key.path);
  below = MachineView(below.root, below.path);
  if (key.root != below.root) return false;
  std::string k = Upper(key.path);
  std::string b = Upper(below.path);
  return k == b || (k.size() > b.size() && k.compare(0, b.size(), b) == 0 && k[b.size()] == '\\');
}

inline bool IsAtOrBelowAnyRow(const RegistryKey& key) {
  for (const ExpectedRow& row : kExpectedRows)
    if (IsAtOrBelow(key, {RootOf(row.root), row.path})) return true;
  return false;
}

inline std::string ParentOf(const std::string& path) {
  size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// The products rows 41, 42, 51, 58, 68 and 75 delete before the discovery walk
// runs, and the product whose package the step removes on its own (row 81).
const int kRowsWithKeptPackages[] = {41, 42, 51, 58, 68, 75};
const int kRowWithRemovedPackage = 81;
const char kDiscoveredProduct[] = "0123456789ABCDEF0123456789ABCDEF";
const char kForeignProduct[] = "FEDCBA9876543210FEDCBA9876543210";
const char kLowerCaseProduct[] = "FEDCBA9876543210FEDCBA9876543211";

const char* const kEnvironmentNamesRemoved[] = {"GENICAM_ROOT", "Lum_Genicam_Path", "LUM_PATH",
                                                "tarvel", "Parlow"};
const char* const kEnvironmentNamesKept[] = {"CleanLumTestPath", "lum_path2", "Lum", "Tarvel_Home"};

class CatalogueMachine {
 public:
  std::vector<const ExpectedRow*> seededRows;  // rows whose key could be created here
  std::vector<RegistryKey> keptKeys;           // keys that hold a "Keep" value and must stay
  std::vector<std::string> keptPackages;
  std::vector<std::string> removedPackages;

  void Build() {
    std::string cache = WindowsDirectory() + "\\Installer";
    CreateDirectoryA(cache.c_str(), nullptr);
    for (const ExpectedRow& row : kExpectedRows) {
      HKEY root = RootOf(row.root);
      std::string path = row.path;
      std::string number = std::to_string(row.number);
      if (!SetText(root, path, "", "row " + number)) continue;  // e.g. a root that refuses new keys
      seededRows.push_back(&row);
      SetText(root, path, "Name", "value of row " + number);
      SetBytes(root, path + "\\Sub\\Deeper", "Bin", REG_BINARY, std::string("\x01\x00\x02", 3));
      CreateKey(root, path + "\\Sub\\Empty");
      // Beside it: a key whose name only begins like the row's, and the parent's own value.
      Keep(root, path + "2");
      Keep(root, path + " Extra\\Inside");
      if (!ParentOf(path).empty()) Keep(root, ParentOf(path));
    }
    for (int row : kRowsWithKeptPackages) keptPackages.push_back(AddVendorPackage(row));
    removedPackages.push_back(AddVendorPackage(kRowWithRemovedPackage));
    removedPackages.push_back(AddProduct(kDiscoveredProduct, "Velmora Imaging, Inc."));
    keptPackages.push_back(AddProduct(kForeignProduct, "Contoso"));
    keptPackages.push_back(AddProduct(kLowerCaseProduct, "velmora imaging"));
    Keep(HKEY_LOCAL_MACHINE, std::string(kMachineProducts) + "\\" + kForeignProduct + "\\InstallProperties");

    for (const char* name : kEnvironmentNamesRemoved) SetText(HKEY_LOCAL_MACHINE, kSystemEnvironment, name, "x");
    for (const char* name : kEnvironmentNamesKept) SetText(HKEY_LOCAL_MACHINE, kSystemEnvironment, name, "keep");
    Keep(HKEY_LOCAL_MACHINE, std::string(kSystemEnvironment) + "\\CleanLumTest");
    SetText(HKEY_LOCAL_MACHINE, std::string(kSystemEnvironment) + "\\CleanLumTest", "lum_path", "keep");
    SetText(HKEY_LOCAL_MACHINE, kControlSet003Environment, "lum_path", "x");
    SetText(HKEY_LOCAL_MACHINE, kControlSet003Environment, "CleanLumTestPath", "keep");
  }

  // Removes what Build left wherever the run did not.
  void Remove() {
    for (const ExpectedRow& row : kExpectedRows) {
      HKEY root = RootOf(row.root);
      RemoveKey(root, row.path);
      RemoveKey(root, std::string(row.path) + "2");
      RemoveKey(root, std::string(row.path) + " Extra");
    }
    for (const RegistryKey& key : keptKeys) DeleteValue(key.root, key.path, "Keep");
    for (const char* product : {kDiscoveredProduct, kForeignProduct, kLowerCaseProduct})
      RemoveKey(HKEY_LOCAL_MACHINE, std::string(kMachineProducts) + "\\" + product);
    for (const char* name : kEnvironmentNamesRemoved) DeleteValue(HKEY_LOCAL_MACHINE, kSystemEnvironment, name);
    for (const char* name : kEnvironmentNamesKept) DeleteValue(HKEY_LOCAL_MACHINE, kSystemEnvironment, name);
    RemoveKey(HKEY_LOCAL_MACHINE, std::string(kSystemEnvironment) + "\\CleanLumTest");
    DeleteValue(HKEY_LOCAL_MACHINE, kControlSet003Environment, "lum_path");
    DeleteValue(HKEY_LOCAL_MACHINE, kControlSet003Environment, "CleanLumTestPath");
    for (const std::string& file : keptPackages) DeleteFileA(file.c_str());
    for (const std::string& file : removedPackages) DeleteFileA(file.c_str());
  }

 private:
  void Keep(HKEY root, const std::string& path) {
    if (!SetText(root, path, "Keep", "not the vendor's")) return;
    if (!IsAtOrBelowAnyRow({root, path})) keptKeys.push_back({root, path});
  }

  static void DeleteValue(HKEY root, const std::string& path, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
  }

  static std::string AddProduct(const std::string& code, const std::string& publisher) {
    std::string properties = std::string(kMachineProducts) + "\\" + code + "\\InstallProperties";
    std::string package = WindowsDirectory() + "\\Installer\\CleanLumTest-" + code + ".msi";
    SetText(HKEY_LOCAL_MACHINE, properties, "Publisher", publisher);
    SetText(HKEY_LOCAL_MACHINE, properties, "LocalPackage", package);
    WriteFileText(package, "msi");
    return package;
  }

  // The vendor product that catalogue row `row` deletes, registered with a package.
  static std::string AddVendorPackage(int row) {
    std::string path = kExpectedRows[row - 1].path;
    size_t cut = path.rfind('\\');
    return AddProduct(path.substr(cut + 1), "Velmora Imaging");
  }
};

}  // namespace regtest
