// Registry clean-up: tree deletion, the registry catalogue, and the vendor's
// Windows Installer products found by publisher.
#pragma once

#include <windows.h>

#include "run/cleanup_context.h"

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
