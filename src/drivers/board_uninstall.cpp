// Board uninstall (placeholder until the board step is built).
#include "drivers/drivers.h"

void UninstallAllBoards(CleanupContext&, RunLog&) {}
