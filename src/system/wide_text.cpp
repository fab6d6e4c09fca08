// Wide text conversions.
#include "system/wide_text.h"

#include <vector>

namespace {

// The conversions take int lengths; longer texts are no names Windows holds.
const size_t kLongestText = 0x3fffffff;

}  // namespace

WideString WideFromAnsi(const char* text) {
  if (!text || !*text) return WideString();
  size_t length = 0;
  while (text[length]) ++length;
  if (length > kLongestText) return WideString();
  int count = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  if (count <= 0) return WideString();
  WideString wide(static_cast<size_t>(count), WCHAR(0));
  if (MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &wide[0], count) != count)
    return WideString();
  return wide;
}

WideString WideFromUtf8(const std::string& text) {
  if (text.empty() || text.size() > kLongestText) return WideString();
  int length = static_cast<int>(text.size());
  int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (count <= 0) return WideString();
  WideString wide(static_cast<size_t>(count), WCHAR(0));
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, &wide[0], count) != count)
    return WideString();
  return wide;
}

std::string Utf8FromAnsi(const std::string& text) { return Utf8FromWide(WideFromAnsi(text.c_str())); }

std::string Utf8FromWide(const WCHAR* text, size_t length) {
  if (!text || length == 0 || length > kLongestText) return std::string();
  int wideLength = static_cast<int>(length);
  int count = WideCharToMultiByte(CP_UTF8, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return std::string();
  std::string utf8(static_cast<size_t>(count), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, text, wideLength, &utf8[0], count, nullptr, nullptr) != count)
    return std::string();
  return utf8;
}

bool AnsiFromWideExactly(const WideString& text, std::string& ansi) {
  if (text.empty()) {
    ansi.clear();
    return true;
  }
  if (text.size() > kLongestText || text.find(WCHAR(0)) != WideString::npos) return false;
  int wideLength = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wideLength, nullptr, 0, nullptr,
                                  &usedDefault);
  if (count <= 0 || usedDefault) return false;
  std::string converted(static_cast<size_t>(count), '\0');
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), wideLength, &converted[0], count, nullptr,
                          &usedDefault) != count ||
      usedDefault)
    return false;
  // A double-byte code page may still spell a character by another one; the
  // round trip decides.
  if (WideFromAnsi(converted.c_str()) != text) return false;
  ansi = converted;
  return true;
}

bool AnsiFromUtf8Exactly(const std::string& text, std::string& ansi) {
  if (text.empty()) {
    ansi.clear();
    return true;
  }
  WideString wide = WideFromUtf8(text);
  return !wide.empty() && AnsiFromWideExactly(wide, ansi);
}

std::string AnsiForDisplay(const std::string& text) {
  WideString wide = WideFromUtf8(text);
  if (wide.empty()) return std::string();
  int wideLength = static_cast<int>(wide.size());
  int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return std::string();
  std::string ansi(static_cast<size_t>(count), '\0');
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, &ansi[0], count, nullptr,
                          nullptr) != count)
    return std::string();
  return ansi;
}
