// Simulated Windows: the spawn part of the C runtime's <process.h>.
#pragma once
#include <windows.h>
