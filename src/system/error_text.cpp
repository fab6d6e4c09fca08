// Win32 error texts through FormatMessageA.
#include "system/error_text.h"

#include "system/wide_text.h"

std::string Win32ErrorText(DWORD error) {
  std::string text = "Win32 error " + std::to_string(error);
  char message[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                message, sizeof message, nullptr);
  if (length == 0 || length >= sizeof message) return text;
  while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' || message[length - 1] == ' '))
    --length;
  if (length == 0) return text;
  return text + ": " + Utf8FromAnsi(std::string(message, length));
}
