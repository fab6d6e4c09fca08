// ANSI code page text as UTF-8.
#include "system/utf8.h"

#include <windows.h>

#include <vector>

std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return "";
  if (text.size() > 0x3fffffff) return "";
  int length = static_cast<int>(text.size());
  int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (wideLength <= 0) return "";
  std::vector<WCHAR> wide(static_cast<size_t>(wideLength));
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), wideLength) != wideLength) return "";
  int utf8Length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (utf8Length <= 0) return "";
  std::string utf8(static_cast<size_t>(utf8Length), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], utf8Length, nullptr, nullptr) !=
      utf8Length)
    return "";
  return utf8;
}
