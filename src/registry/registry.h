// Registry clean-up: tree deletion, the registry catalogue, and the vendor's
// Windows Installer products found by publisher.
#pragma once

#include <windows.h>

#include <string>

#include "run/cleanup_context.h"
#include "system/wide_text.h"

// Where the per-machine installer products are registered, and the publisher
// text that makes one the vendor's.
inline constexpr char kInstallerProductsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
inline constexpr char kVendorPublisher[] = "Velmora Imaging";
// The product whose cached package the registry step deletes by its packed code.
inline constexpr char kRegistryStepPackedCode[] = "B7DF34E1765EF2026957BECF995A489C";

// True when path names a file inside the Windows Installer cache folder: the
// only place a product's "LocalPackage" may be deleted from.
bool IsInInstallerCache(const char* path);

// The first key a registry deletion had to leave: its path below the key
// named, in UTF-8 ("" for that key itself), and the Win32 error.
struct RegistryKeyLeft {
  std::string key;
  DWORD error = ERROR_SUCCESS;
};

// Deletes the key root\path with every subkey and value below it, walking by
// handle and never following a registry link (registry_tree.cpp says how).
// True when the key no longer exists (deleted, or not there); false leaves
// whatever stayed, the first key of it in keyLeft when given.
bool DeleteRegistryTree(HKEY root, const char* path, RegistryKeyLeft* keyLeft = nullptr);
bool DeleteRegistryTree(HKEY root, const WideString& path, RegistryKeyLeft* keyLeft = nullptr);
// The same for the key name (one component) below the open key parent.
bool DeleteRegistryTreeBelow(HKEY parent, const WCHAR* name, RegistryKeyLeft* keyLeft = nullptr);
// Opens root\path as the tree deletion reaches it, the key itself (a link as
// the link) included: what a look at a key sees is what a deletion would take.
LONG OpenRegistryKeyAsWalked(HKEY root, const WideString& path, REGSAM access, HKEY* key);

// The cached package that an open InstallProperties key names ("LocalPackage"),
// in the code page's own spelling; false when it cannot be read, is too long,
// or names a character the code page lacks (a best fit could name another file).
bool ReadCachedPackage(HKEY properties, std::string& path);

// Deletes the cached installer package of the per-machine product with this
// packed code (its registration is left for the catalogue).
void DeleteCachedPackage(const char* packedProductCode);

// True when a product's publisher text marks it as the vendor's: it contains
// "Velmora Imaging", compared character for character. False for null.
bool IsVendorPublisher(const char* publisher);
bool IsVendorPublisher(const WideString& publisher);

// Deletes every per-machine installer product whose publisher contains
// "Velmora Imaging", with its cached package; each product key that stays is
// told to the sink when one is given.
void DeleteVendorInstallerProducts(RegistryKeyLeftSink keyLeft = nullptr, void* context = nullptr);

// Fifth clean-up step: the registry catalogue and the environment values.
void DeleteRegistryKeys(CleanupContext& context);
