// The vendor's Windows Installer products, found by their publisher among the
// per-machine products, removed with their cached installer packages.
//
// A product's LocalPackage value is data in the registry, not a path we chose:
// the file it names is deleted only when it lies inside the Windows Installer
// cache folder, so a damaged or planted value can never take another file with it.
#include <cstring>
#include <set>
#include <string>

#include "registry/registry.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

const char* const kProductsKey = kInstallerProductsKey;

// Names, paths and values are held in 1024 characters; every read is told the
// whole 1024. One more character keeps a value stored without a terminating
// zero terminated at the end of the data read.
const DWORD kTextLength = 1024;
typedef WCHAR ValueText[kTextLength + 1];
// A key name is at most 255 characters; one more for the terminator.
const DWORD kNameLength = 256;

bool ReadTextValue(HKEY key, const WCHAR* name, ValueText& text) {
  DWORD size = kTextLength * sizeof(WCHAR);
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &size) != ERROR_SUCCESS)
    return false;
  DWORD length = size / sizeof(WCHAR);
  text[length < kTextLength ? length : kTextLength] = WCHAR(0);
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
  std::string path;
  if (!ReadCachedPackage(properties, path)) return;
  // Guard: only a file inside the installer's cache folder is deleted.
  if (!IsInInstallerCache(path.c_str())) return;
  DeleteFileA(path.c_str());
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

bool ReadCachedPackage(HKEY properties, std::string& path) {
  ValueText package;
  return ReadTextValue(properties, WIDE_TEXT("LocalPackage"), package) && AnsiFromWideExactly(WideString(package), path);
}

bool IsVendorPublisher(const char* publisher) {
  return publisher && ContainsText(publisher, kVendorPublisher);
}

bool IsVendorPublisher(const WideString& publisher) {
  return publisher.find(WideFromAnsi(kVendorPublisher)) != WideString::npos;
}

void DeleteCachedPackage(const char* packedProductCode) {
  // A code that is empty or holds a separator would name another key.
  if (!packedProductCode || !*packedProductCode || std::strchr(packedProductCode, '\\')) return;
  char propertiesPath[kTextLength];
  if (!BuildText(propertiesPath, kProductsKey, "\\", packedProductCode, "\\InstallProperties"))
    return;
  HKEY properties = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromAnsi(propertiesPath).c_str(), 0, KEY_ALL_ACCESS, &properties) !=
      ERROR_SUCCESS)
    return;
  DeleteNamedPackage(properties);
  RegCloseKey(properties);
}

void DeleteVendorInstallerProducts(RegistryKeyLeftSink keyLeft, void* context) {
  HKEY products = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromAnsi(kProductsKey).c_str(), 0, KEY_ALL_ACCESS, &products) !=
      ERROR_SUCCESS)
    return;

  // The index moves on past every product that stays; when a product is
  // deleted, the next one has moved up to the same index. A product seen
  // before is stepped past, and any listing error ends the walk, so it ends.
  std::set<WideString> seen;
  for (DWORD index = 0;;) {
    WCHAR name[kNameLength];
    DWORD nameLength = kNameLength;
    if (RegEnumKeyExW(products, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    WideString product(name, nameLength < kNameLength ? nameLength : 0);
    // A name holding a zero would be cut into another key's name.
    if (product.empty() || product.find(WCHAR(0)) != WideString::npos || !seen.insert(product).second) {
      ++index;
      continue;
    }

    // Its properties by their path below the products key, as Windows opens a
    // path (no right on the product key itself is needed).
    HKEY properties = nullptr;
    bool vendor = false;
    WideString propertiesPath = product + WIDE_TEXT("\\InstallProperties");
    if (RegOpenKeyExW(products, propertiesPath.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &properties) ==
        ERROR_SUCCESS) {
      ValueText publisher;
      vendor = ReadTextValue(properties, WIDE_TEXT("Publisher"), publisher) && IsVendorPublisher(publisher);
      if (vendor) DeleteNamedPackage(properties);
      RegCloseKey(properties);
    }

    bool deleted = false;
    if (vendor) {
      RegistryKeyLeft left;
      deleted = DeleteRegistryTreeBelow(products, product.c_str(), &left);
      if (!deleted && keyLeft)
        keyLeft(std::string("HKLM\\") + kProductsKey + "\\" + Utf8FromWide(product), left.key, left.error, context);
    }
    if (!deleted) ++index;
  }
  RegCloseKey(products);
}
