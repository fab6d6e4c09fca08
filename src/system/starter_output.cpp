// Text for whoever started the program.
#include "system/starter_output.h"

#include <windows.h>

#include "system/output_file.h"

namespace {

bool WriteToConsole(HANDLE console, const std::string& text) {
  const char* data = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD chunk = left > 8192 ? 8192 : static_cast<DWORD>(left);  // older consoles refuse large writes
    DWORD written = 0;
    if (!WriteConsoleA(console, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    left -= written;
  }
  return true;
}

}  // namespace

bool PrintToStarter(const std::string& text) {
  std::string lines;
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  // Output redirected to a file or a pipe by the starter goes there.
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output && output != INVALID_HANDLE_VALUE) return WriteAll(output, lines.data(), lines.size());
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  // Attaching gives a process started without standard handles the console's.
  bool printed = false;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  bool opened = false;
  if (!console || console == INVALID_HANDLE_VALUE) {
    console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    opened = console != INVALID_HANDLE_VALUE;
  }
  if (console && console != INVALID_HANDLE_VALUE) {
    // The parent's prompt stands on the current line: begin on a line of its own.
    printed = WriteToConsole(console, "\r\n" + lines);
    if (opened) CloseHandle(console);
  }
  FreeConsole();
  return printed;
}
