// Wide (UTF-16) text: the form in which Windows keeps file and key names.
// The calls that walk names read from a machine use it, so that a name
// outside the ANSI code page is neither lost nor turned into another name by
// the code page's best-fit table.
#pragma once

#include <windows.h>

#include <string>

// A wide literal: WIDE_TEXT("x") is L"x" where WCHAR is wchar_t (Windows) and
// u"x" where it is char16_t (the simulation).
#ifdef _WIN32
#define WIDE_TEXT(text) L##text
#else
#define WIDE_TEXT(text) u##text
#endif

typedef std::basic_string<WCHAR> WideString;

// ANSI code page text as UTF-16; empty for empty or unconvertible text.
WideString WideFromAnsi(const char* text);

// UTF-8 as UTF-16; empty for empty or invalid text.
WideString WideFromUtf8(const std::string& text);

// ANSI code page text as UTF-8 (the reports' encoding); empty for empty or
// unconvertible text.
std::string Utf8FromAnsi(const std::string& text);

// UTF-16 as UTF-8; empty for empty or unconvertible text.
std::string Utf8FromWide(const WCHAR* text, size_t length);
inline std::string Utf8FromWide(const WideString& text) { return Utf8FromWide(text.data(), text.size()); }

// The ANSI code page's own spelling of text: false, with ansi untouched, when
// a character has none (no best fit, no default character) or text holds a
// zero.
bool AnsiFromWideExactly(const WideString& text, std::string& ansi);
bool AnsiFromUtf8Exactly(const std::string& text, std::string& ansi);

// UTF-8 text in the ANSI code page for a console or a program reading it: a
// character the code page cannot spell shows as '?', never as a best fit that
// reads as something else ("x/../victim" for fullwidth forms).
std::string AnsiForDisplay(const std::string& text);
