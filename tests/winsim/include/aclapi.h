// Simulated Windows: <aclapi.h> (declared with the rest in winsim/api.h).
#pragma once
#include <windows.h>
