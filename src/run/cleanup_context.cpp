// The process-wide flag of the installer-script clean-up, set by the main
// sequence and read by the install-directory step.
#include "run/cleanup_context.h"

int MsiMode = 0;
