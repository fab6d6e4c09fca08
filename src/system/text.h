// Bounded text building over fixed character buffers. A text that does not
// fit its buffer is refused, never cut: a shortened path or command line could
// name a different file, key or program.
#pragma once

#include <cstddef>
#include <string>

// Copies source into destination (size characters, terminator included).
// False, with destination untouched, when it does not fit.
bool CopyText(char* destination, size_t size, const char* source);

// Appends source to the text already in destination. False, with destination
// untouched, when the whole does not fit.
bool AppendText(char* destination, size_t size, const char* source);

// Builds destination from parts in order. False, with destination emptied,
// when the whole does not fit.
bool JoinText(char* destination, size_t size, const char* const* parts, size_t count);

// The text with its ASCII letters upper-cased; every other byte (UTF-8
// included) stays, so names compare as Windows compares ASCII case.
std::string UpperAscii(const std::string& text);

// True when word occurs anywhere in text, compared byte for byte.
bool ContainsText(const char* text, const char* word);

template <size_t N>
bool CopyText(char (&destination)[N], const char* source) {
  return CopyText(destination, N, source);
}

template <size_t N>
bool AppendText(char (&destination)[N], const char* source) {
  return AppendText(destination, N, source);
}

template <size_t N, typename... Parts>
bool BuildText(char (&destination)[N], const Parts*... parts) {
  const char* list[] = {parts...};
  return JoinText(destination, N, list, sizeof...(parts));
}
