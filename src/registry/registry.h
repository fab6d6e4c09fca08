// Registry clean-up: tree deletion, the registry catalogue, and the vendor's
// Windows Installer products found by publisher.
#pragma once

#include <windows.h>

#include "run/cleanup_context.h"

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

// Deletes the key root\path with every subkey and value below it. True when the
// key no longer exists. The caller's text is never modified.
bool DeleteRegistryTree(HKEY root, const char* path);

// The depth-first worker over a writable path buffer of pathSize characters.
bool DeleteRegistryTreeRecursive(HKEY root, char* path, size_t pathSize);

// Deletes the cached installer package of the per-machine product with this
// packed code (its registration is left for the catalogue).
void DeleteCachedPackage(const char* packedProductCode);

// True when a product's publisher text marks it as the vendor's: it contains
// "Velmora Imaging", compared byte for byte. False for null.
bool IsVendorPublisher(const char* publisher);

// Deletes every per-machine installer product whose publisher contains
// "Velmora Imaging", with its cached package.
void DeleteVendorInstallerProducts();

// Fifth clean-up step: the registry catalogue and the environment values.
void DeleteRegistryKeys(CleanupContext& context);
