// Simulated Windows: the aclapi.h part lives in winsim/security_api.h.
#pragma once
#include <windows.h>
