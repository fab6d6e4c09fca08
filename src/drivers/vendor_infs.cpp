// Vendor INF clean-up (placeholder until the INF step is built).
#include "drivers/drivers.h"

bool IsVendorInf(const char*) { return false; }
void DeleteVendorInfs(const char*, const char*) {}
