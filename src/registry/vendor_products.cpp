// The vendor's Windows Installer products, found by their publisher among the
// per-machine products, removed with their cached installer packages.
//
// A product's LocalPackage value is data in the registry, not a path we chose:
// the file it names is deleted only when it lies inside the Windows Installer
// cache folder, so a damaged or planted value can never take another file with it.
#include <cstring>

#include "registry/registry.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

const char* const kProductsKey = kInstallerProductsKey;

// Names, paths and values are held in 1024 characters; every read is told the
// whole 1024. One more character keeps a value stored without a terminating
// zero terminated at the end of the data read.
const DWORD kTextLength = 1024;
typedef char ValueText[kTextLength + 1];

bool ReadTextValue(HKEY key, const char* name, ValueText& text) {
  DWORD length = kTextLength;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &length) !=
      ERROR_SUCCESS)
    return false;
  text[length < kTextLength ? length : kTextLength] = '\0';
  return true;
}

char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (FoldCase(*text) != FoldCase(*prefix)) return false;
  return true;
}

// A component that Windows would read as the current or parent folder once its
// trailing dots and blanks are dropped, or that is empty or names a stream.
bool IsSuspiciousComponent(const char* begin, const char* end) {
  if (begin == end) return true;
  bool onlyDotsAndBlanks = true;
  for (const char* c = begin; c != end; ++c) {
    if (*c == ':') return true;
    if (*c != '.' && *c != ' ') onlyDotsAndBlanks = false;
  }
  return onlyDotsAndBlanks;
}

// Deletes the cached package that the open InstallProperties key names.
void DeleteNamedPackage(HKEY properties) {
  ValueText package;
  if (!ReadTextValue(properties, "LocalPackage", package)) return;
  // Guard: only a file inside the installer's cache folder is deleted.
  if (!IsInInstallerCache(package)) return;
  DeleteFileA(package);
}

}  // namespace

// The Windows directory followed by "\Installer\" (any case), then components
// none of which climbs out of it again.
bool IsInInstallerCache(const char* path) {
  char windows[MAX_PATH];
  char cache[MAX_PATH];
  if (!QueryWindowsDirectory(windows) || !BuildText(cache, windows, "\\Installer\\")) return false;
  if (!StartsWithNoCase(path, cache)) return false;
  const char* component = path + std::strlen(cache);
  for (;;) {
    const char* end = component;
    while (*end && *end != '\\' && *end != '/') ++end;
    if (IsSuspiciousComponent(component, end)) return false;
    if (!*end) return true;
    component = end + 1;
  }
}

bool IsVendorPublisher(const char* publisher) {
  return publisher && ContainsText(publisher, kVendorPublisher);
}

void DeleteCachedPackage(const char* packedProductCode) {
  // A code that is empty or holds a separator would name another key.
  if (!packedProductCode || !*packedProductCode || std::strchr(packedProductCode, '\\')) return;
  char propertiesPath[kTextLength];
  if (!BuildText(propertiesPath, kProductsKey, "\\", packedProductCode, "\\InstallProperties"))
    return;
  HKEY properties = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, propertiesPath, 0, KEY_ALL_ACCESS, &properties) !=
      ERROR_SUCCESS)
    return;
  DeleteNamedPackage(properties);
  RegCloseKey(properties);
}

void DeleteVendorInstallerProducts() {
  HKEY products = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductsKey, 0, KEY_ALL_ACCESS, &products) !=
      ERROR_SUCCESS)
    return;

  // The index moves on past every product that stays; when a product is
  // deleted, the next one has moved up to the same index.
  DWORD index = 0;
  for (;;) {
    char name[kTextLength];
    DWORD nameLength = kTextLength;
    if (RegEnumKeyExA(products, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;

    char productPath[kTextLength];
    char propertiesPath[kTextLength];
    HKEY properties = nullptr;
    if (!BuildText(productPath, kProductsKey, "\\", name) ||
        !BuildText(propertiesPath, productPath, "\\InstallProperties") ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, propertiesPath, 0, KEY_ALL_ACCESS, &properties) !=
            ERROR_SUCCESS) {
      ++index;
      continue;
    }

    bool deleted = false;
    ValueText publisher;
    if (ReadTextValue(properties, "Publisher", publisher) && IsVendorPublisher(publisher)) {
      DeleteNamedPackage(properties);
      deleted = DeleteRegistryTree(HKEY_LOCAL_MACHINE, productPath);
    }
    RegCloseKey(properties);
    if (!deleted) ++index;
  }
  RegCloseKey(products);
}
