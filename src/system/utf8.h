// The one place where text of the machine (ANSI code page) becomes UTF-8, the
// encoding of the reports and the administrator's log.
#pragma once

#include <string>

// ANSI code page text as UTF-8; empty on failure.
std::string AnsiToUtf8(const std::string& text);
