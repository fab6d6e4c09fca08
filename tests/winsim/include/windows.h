// Simulated Windows: the subset of <windows.h> that CleanLum uses.
#pragma once
#include "winsim/wintypes.h"
#include "winsim/api.h"
#include "winsim/security_api.h"
