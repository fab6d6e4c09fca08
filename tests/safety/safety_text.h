// Text rules the generator and the outcome model share: Windows' upper case
// of the ANSI code page 1252, and path splitting.
#pragma once

#include <string>
#include <vector>

namespace safety {

inline char Upper(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 'a' + 'A');
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 0x20);
  return c;
}

inline std::string UpperText(std::string text) {
  for (char& c : text) c = Upper(c);
  return text;
}

// The non-empty parts between backslashes (and slashes, for file paths:
// in key names a slash is an ordinary character).
inline std::vector<std::string> Split(const std::string& path, bool slashToo) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\' || (slashToo && c == '/')) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

}  // namespace safety
