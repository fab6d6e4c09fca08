// DMA driver removal (placeholder until the DMA step is built).
#include "drivers/drivers.h"

void UninstallDma(CleanupContext&, const char*) {}
