// Text rules the generator and the outcome model share: Windows' upper case
// of ASCII and the Latin-1 letters, in UTF-8 text, and path splitting.
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

// Names are UTF-8: a Latin-1 small letter (0xC3 followed by 0xA0-0xBE, but
// not the division sign) has its capital 0x20 below it; other characters
// outside ASCII are kept as they are.
inline std::string UpperText(std::string text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char u = static_cast<unsigned char>(text[i]);
    if (u == 0xC3 && i + 1 < text.size()) {
      unsigned char next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0xA0 && next <= 0xBE && next != 0xB7) text[i + 1] = static_cast<char>(next - 0x20);
      ++i;
    } else if (u < 0x80) {
      text[i] = Upper(text[i]);
    }
  }
  return text;
}

// Characters in UTF-8 text (as the code page's calls count them: one per letter).
inline size_t CharCount(const std::string& text) {
  size_t count = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  return count;
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
