// Names as the simulated Windows keeps them: UTF-8 text, compared as Windows
// compares names (without regard to case, by upper-cased characters), and the
// ANSI code page (Windows-1252) with its best-fit table, as the "A" calls
// convert them.
#include <cstring>

#include "internal.h"

namespace winsim {

namespace {

// Windows-1252 bytes 0x80-0x9F; the five it leaves undefined map to the same code point, as Windows does.
const unsigned k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// A part of Windows' best-fit table for code page 1252 (bestfit1252.txt): the
// fullwidth forms of ASCII (U+FF01-U+FF5E) are handled by range; these are
// the letters of Central European languages that 1252 lacks, and a few signs.
struct BestFit {
  unsigned codePoint;
  char ansi;
};
const BestFit kBestFit[] = {
    {0x0100, 'A'}, {0x0101, 'a'}, {0x0102, 'A'}, {0x0103, 'a'}, {0x0104, 'A'}, {0x0105, 'a'},
    {0x0106, 'C'}, {0x0107, 'c'}, {0x010C, 'C'}, {0x010D, 'c'}, {0x010E, 'D'}, {0x010F, 'd'},
    {0x0110, 'D'}, {0x0111, 'd'}, {0x0118, 'E'}, {0x0119, 'e'}, {0x011A, 'E'}, {0x011B, 'e'},
    {0x0141, 'L'}, {0x0142, 'l'}, {0x0143, 'N'}, {0x0144, 'n'}, {0x0147, 'N'}, {0x0148, 'n'},
    {0x0150, 'O'}, {0x0151, 'o'}, {0x0158, 'R'}, {0x0159, 'r'}, {0x015A, 'S'}, {0x015B, 's'},
    {0x0162, 'T'}, {0x0163, 't'}, {0x0164, 'T'}, {0x0165, 't'}, {0x016E, 'U'}, {0x016F, 'u'},
    {0x0170, 'U'}, {0x0171, 'u'}, {0x0179, 'Z'}, {0x017A, 'z'}, {0x017B, 'Z'}, {0x017C, 'z'},
    {0x2215, '/'}, {0x2216, '\\'}, {0x2236, ':'}, {0x2044, '/'},
};

// One character of UTF-8 text at p (n bytes left): its code point, and how
// many bytes it takes. A byte that starts no valid sequence stands for itself
// as a Windows-1252 character (callers that still hand in ANSI bytes).
unsigned DecodeOne(const unsigned char* p, size_t n, size_t& used) {
  unsigned c = p[0];
  used = 1;
  if (c < 0x80) return c;
  size_t need = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
  if (need > 0 && need < n) {
    unsigned cp = need == 1 ? (c & 0x1F) : need == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (size_t k = 1; k <= need && ok; ++k) {
      if ((p[k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[k] & 0x3F);
    }
    const unsigned minimum[4] = {0, 0x80, 0x800, 0x10000};
    if (ok && cp >= minimum[need] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
      used = need + 1;
      return cp;
    }
  }
  return c >= 0x80 && c < 0xA0 ? k1252High[c - 0x80] : c;
}

void EncodeOne(unsigned cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

unsigned UpperCodePoint(unsigned c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 0x20;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs: upper case first, except in 0139-0148 and 0179-017E.
    bool upperOdd = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (upperOdd) return (c % 2 == 0) ? c - 1 : c;
    return (c % 2 == 1) ? c - 1 : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 0x20;                       // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // fullwidth Latin
  return c;
}

std::string Upper(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    size_t used = 0;
    unsigned cp = DecodeOne(p + i, n - i, used);
    if (used == 1 && p[i] >= 0x80) {
      out += UpperChar(static_cast<char>(p[i]));  // an ANSI byte keeps its own fold
    } else {
      EncodeOne(UpperCodePoint(cp), out);
    }
    i += used;
  }
  return out;
}

namespace {

// The next upper-cased character of a name, for comparisons without copies.
unsigned NextUpper(const std::string& text, size_t& i) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  if (p[i] < 0x80) {
    unsigned c = p[i++];
    return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
  }
  size_t used = 0;
  unsigned cp = DecodeOne(p + i, text.size() - i, used);
  i += used;
  return UpperCodePoint(cp);
}

int CompareNoCase(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    unsigned x = NextUpper(a, i);
    unsigned y = NextUpper(b, j);
    if (x != y) return x < y ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

bool EqualsNoCase(const std::string& a, const std::string& b) { return CompareNoCase(a, b) == 0; }

bool NoCaseLess::operator()(const std::string& a, const std::string& b) const { return CompareNoCase(a, b) < 0; }

unsigned WideOfAnsiByte(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? k1252High[byte - 0x80] : byte; }

int AnsiByteOfCodePoint(unsigned cp, bool bestFit) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (unsigned b = 0; b < 32; ++b)
    if (k1252High[b] == cp) return static_cast<int>(0x80 + b);
  if (!bestFit) return -1;
  if (cp >= 0xFF01 && cp <= 0xFF5E) return static_cast<int>(cp - 0xFF01 + 0x21);
  for (const BestFit& fit : kBestFit)
    if (fit.codePoint == cp) return static_cast<unsigned char>(fit.ansi);
  return -1;
}

std::string Utf8FromAnsi(const std::string& ansi) {
  std::string out;
  for (char c : ansi) EncodeOne(WideOfAnsiByte(static_cast<unsigned char>(c)), out);
  return out;
}

std::string AnsiFromUtf8(const std::string& utf8, bool* lossy) {
  std::string out;
  bool lost = false;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) {
    size_t used = 0;
    unsigned cp = DecodeOne(p + i, utf8.size() - i, used);
    i += used;
    int byte = AnsiByteOfCodePoint(cp, true);
    if (byte < 0 || AnsiByteOfCodePoint(cp, false) < 0) lost = true;
    out += byte < 0 ? '?' : static_cast<char>(byte);
  }
  if (lossy) *lossy = lost;
  return out;
}

std::string Utf8FromWide(const std::u16string& wide) {
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    unsigned c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate: NTFS allows it, UTF-8 cannot hold it
    }
    EncodeOne(c, out);
  }
  return out;
}

std::u16string WideFromUtf8(const std::string& utf8) {
  std::u16string out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  for (size_t i = 0; i < utf8.size();) {
    size_t used = 0;
    unsigned cp = DecodeOne(p + i, utf8.size() - i, used);
    i += used;
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

}  // namespace winsim
