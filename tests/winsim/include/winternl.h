// Simulated Windows: <winternl.h> (declared with the rest in winsim/api.h).
#pragma once
#include <windows.h>
