// Simulated Windows: the sddl.h part lives in winsim/security_api.h.
#pragma once
#include <windows.h>
