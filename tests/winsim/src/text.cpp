// kernel32 code-page conversions (the ANSI code page is Windows-1252 here),
// the parent's console and the computer's name.
#include <cstring>
#include <vector>

#include "internal.h"

using winsim::M;

namespace {

const WCHAR kReplacement = 0xFFFD;

// Decodes UTF-8 into code points; false at the first invalid sequence when strict.
bool DecodeUtf8(const unsigned char* p, size_t n, bool strict, std::vector<unsigned>& out) {
  size_t i = 0;
  while (i < n) {
    unsigned c = p[i];
    unsigned need = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
    unsigned cp = need == 0 ? c : need == 1 ? (c & 0x1F) : need == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = need != 9;
    for (size_t k = 1; ok && k <= need; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (ok) {
      const unsigned minimum[4] = {0, 0x80, 0x800, 0x10000};
      if (cp < minimum[need] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ok = false;
    }
    if (!ok) {
      if (strict) return false;
      out.push_back(kReplacement);
      i += 1;
      continue;
    }
    out.push_back(cp);
    i += need + 1;
  }
  return true;
}

int Finish(const std::vector<WCHAR>& result, LPWSTR wide, int wideLength) {
  if (wideLength == 0) return static_cast<int>(result.size());
  if (static_cast<size_t>(wideLength) < result.size()) return winsim::Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  std::memcpy(wide, result.data(), result.size() * sizeof(WCHAR));
  return static_cast<int>(result.size());
}

}  // namespace

BOOL AttachConsole(DWORD) {
  if (!M().system.parentConsole) return winsim::Fail(ERROR_INVALID_HANDLE, FALSE);
  if (M().system.consoleAttached) return winsim::Fail(ERROR_ACCESS_DENIED, FALSE);
  M().system.consoleAttached = true;
  return TRUE;
}

BOOL FreeConsole() {
  M().system.consoleAttached = false;
  return TRUE;
}

// A program of the GUI subsystem started without redirection has no standard
// handles; the starter's redirection (a file here) comes first, and attaching
// to a console gives the console's output handle.
HANDLE GetStdHandle(DWORD which) {
  if (which != STD_INPUT_HANDLE && which != STD_OUTPUT_HANDLE && which != STD_ERROR_HANDLE)
    return winsim::Fail(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE);
  if (which != STD_OUTPUT_HANDLE) return nullptr;
  const std::string& file = M().system.standardOutputFile;
  if (!file.empty())
    return CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                       nullptr);
  if (M().system.consoleAttached) return winsim::AllocHandle(winsim::HandleKind::Console, nullptr);
  return nullptr;
}

BOOL WriteConsoleA(HANDLE console, const void* text, DWORD count, LPDWORD written, LPVOID) {
  if (!winsim::LookupHandle(console, winsim::HandleKind::Console) || !M().system.consoleAttached)
    return winsim::Fail(ERROR_INVALID_HANDLE, FALSE);
  M().system.consoleOutput.append(static_cast<const char*>(text), count);
  if (written) *written = count;
  return TRUE;
}

namespace {

const struct {
  DWORD error;
  const char* text;
} kSystemMessages[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {32, "The process cannot access the file because it is being used by another process."},
    {87, "The parameter is incorrect."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {145, "The directory is not empty."},
    {206, "The filename or extension is too long."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1060, "The specified service does not exist as an installed service."},
    {1062, "The service has not been started."},
    {1072, "The specified service has been marked for deletion."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1460, "This operation returned because the timeout period expired."},
    {1603, "Fatal error during installation."},
    {3010, "The requested operation is successful. Changes will not be effective until the system is rebooted."},
};

}  // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size, va_list*) {
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !buffer)
    return winsim::Fail(ERROR_INVALID_PARAMETER, DWORD{0});
  for (const auto& message : kSystemMessages) {
    if (message.error != messageId) continue;
    std::string text = std::string(message.text) + "\r\n";
    if (text.size() + 1 > size) return winsim::Fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
  }
  return winsim::Fail(317 /* ERROR_MR_MID_NOT_FOUND */, DWORD{0});
}

BOOL GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (!size) return winsim::Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::string& name = M().system.computerName;
  if (!buffer || *size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    return winsim::Fail(ERROR_BUFFER_OVERFLOW, FALSE);
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return TRUE;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR wide, int wideLength) {
  if (!text || length == 0 || wideLength < 0 || (wideLength > 0 && !wide) ||
      (codePage != CP_ACP && codePage != CP_UTF8))
    return winsim::Fail(ERROR_INVALID_PARAMETER, 0);
  size_t n = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  std::vector<WCHAR> result;
  if (codePage == CP_ACP) {
    for (size_t i = 0; i < n; ++i)
      result.push_back(static_cast<WCHAR>(winsim::WideOfAnsiByte(p[i])));
  } else {
    std::vector<unsigned> points;
    if (!DecodeUtf8(p, n, (flags & MB_ERR_INVALID_CHARS) != 0, points))
      return winsim::Fail(ERROR_NO_UNICODE_TRANSLATION, 0);
    for (unsigned cp : points) {
      if (cp >= 0x10000) {
        result.push_back(static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10)));
        result.push_back(static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        result.push_back(static_cast<WCHAR>(cp));
      }
    }
  }
  return Finish(result, wide, wideLength);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength, LPSTR text, int length,
                        LPCCH defaultChar, LPBOOL usedDefaultChar) {
  if (!wide || wideLength == 0 || length < 0 || (length > 0 && !text) ||
      (codePage != CP_ACP && codePage != CP_UTF8))
    return winsim::Fail(ERROR_INVALID_PARAMETER, 0);
  // UTF-8 has no default character: both must be null.
  if (codePage == CP_UTF8 && (defaultChar || usedDefaultChar)) return winsim::Fail(ERROR_INVALID_PARAMETER, 0);
  size_t n = 0;
  if (wideLength < 0) {
    while (wide[n]) ++n;
    ++n;
  } else {
    n = static_cast<size_t>(wideLength);
  }
  std::string result;
  bool usedDefault = false;
  for (size_t i = 0; i < n; ++i) {
    unsigned c = wide[i];
    if (codePage == CP_ACP) {
      // Without WC_NO_BEST_FIT_CHARS, characters 1252 lacks take their best
      // fit (U+FF0F becomes '/'), which is not the default character.
      int byte = winsim::AnsiByteOfCodePoint(c, (flags & WC_NO_BEST_FIT_CHARS) == 0);
      if (byte < 0) {
        result += defaultChar ? *defaultChar : '?';
        usedDefault = true;
      } else {
        result += static_cast<char>(byte);
      }
      continue;
    }
    unsigned cp = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      cp = kReplacement;  // a lone surrogate
    }
    if (cp < 0x80) {
      result += static_cast<char>(cp);
    } else if (cp < 0x800) {
      result += static_cast<char>(0xC0 | (cp >> 6));
      result += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      result += static_cast<char>(0xE0 | (cp >> 12));
      result += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      result += static_cast<char>(0xF0 | (cp >> 18));
      result += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      result += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  if (length == 0) return static_cast<int>(result.size());
  if (static_cast<size_t>(length) < result.size()) return winsim::Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  std::memcpy(text, result.data(), result.size());
  return static_cast<int>(result.size());
}

DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
  if (!text) return 0;
  for (DWORD i = 0; i < length; ++i)
    if (text[i] < 0xD800 || text[i] > 0xDFFF) text[i] = static_cast<WCHAR>(winsim::UpperCodePoint(text[i]));
  return length;
}
