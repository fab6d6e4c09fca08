// System restart (placeholder: the run ends as if "noreboot" had been given).
#include "main/system_restart.h"

bool RestartSystem(const char*, const OSVERSIONINFOA&, RunLog&) { return true; }
