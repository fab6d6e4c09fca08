// Vendor product discovery (placeholder until the registry step is built).
#include "registry/registry.h"

void DeleteCachedPackage(const char*) {}
void DeleteVendorInstallerProducts() {}
