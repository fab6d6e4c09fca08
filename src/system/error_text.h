// Windows' own text for a Win32 error, for the reports and the logs.
#pragma once

#include <windows.h>

#include <string>

// "Win32 error 5: Access is denied." (UTF-8): the number, then the system's
// message (FormatMessage, the user's language) without its line end; the
// number alone when Windows has no message for it.
std::string Win32ErrorText(DWORD error);
