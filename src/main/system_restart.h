// The end of every run: the restart warnings, the shutdown privilege and the
// forced reboot request, unless the argument string says "noreboot".
#pragma once

#include <windows.h>

#include "run/options.h"
#include "run/run_log.h"

// False when the restart preparation failed (its message has been shown); the
// run then ends with exit code 1 and the log without its end line.
bool RestartSystem(const Options& options, const OSVERSIONINFOA& version, RunLog& log);
