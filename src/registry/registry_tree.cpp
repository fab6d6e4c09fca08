// Registry tree deletion (placeholder until the registry step is built).
#include "registry/registry.h"

bool DeleteRegistryTree(HKEY, const char*) { return true; }
bool DeleteRegistryTreeRecursive(HKEY, char*, size_t) { return true; }
