// Text rules the generator and the outcome model share: Windows' upper case
// of names (UTF-8: ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and
// the fullwidth forms; a byte that starts no valid sequence is taken as a
// code page 1252 letter), and path splitting.
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

// The upper case of a code point as Windows compares names, for the letters
// the generated names use: Latin-1, Latin Extended-A, Greek, Cyrillic and the
// fullwidth forms.
inline unsigned UpperPoint(unsigned c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    bool upperOdd = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return upperOdd ? ((c % 2 == 0) ? c - 1 : c) : ((c % 2 == 1) ? c - 1 : c);
  }
  if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
  return c;
}

inline void AppendUtf8(unsigned c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

inline std::string UpperText(const std::string& text) {
  std::string out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    unsigned c = p[i];
    size_t need = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
    bool valid = need >= 1 && need <= 3;
    unsigned point = need == 1 ? (c & 0x1F) : need == 2 ? (c & 0x0F) : (c & 0x07);
    for (size_t k = 1; valid && k <= need; ++k) {
      if (i + k >= text.size() || (p[i + k] & 0xC0) != 0x80)
        valid = false;
      else
        point = (point << 6) | (p[i + k] & 0x3F);
    }
    if (need == 0) {
      out += Upper(static_cast<char>(c));
      ++i;
    } else if (valid) {
      AppendUtf8(UpperPoint(point), out);
      i += need + 1;
    } else {
      out += Upper(static_cast<char>(c));  // an ANSI byte
      ++i;
    }
  }
  return out;
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
