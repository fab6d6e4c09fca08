// The end of every run: the restart warnings, the shutdown privilege and the
// forced reboot request, unless the argument string says "noreboot".
#pragma once

#include <windows.h>

#include "run/admin_log.h"
#include "run/options.h"
#include "run/run_log.h"

// False when the restart preparation failed (its message has been shown where
// a window can be seen); the run then ends with exit code 1 and the run log
// without its end line. The administrator's log says what happened.
bool RestartSystem(const Options& options, const OSVERSIONINFOA& version, RunLog& log, AdminLog& adminLog);
