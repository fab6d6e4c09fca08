// The registry step (placeholder until the registry step is built).
#include "registry/registry.h"

void DeleteRegistryKeys(CleanupContext&) {}
