// Bounded text building.
#include "system/text.h"

#include <cstring>

bool CopyText(char* destination, size_t size, const char* source) {
  if (!destination || !source || size == 0) return false;
  size_t length = std::strlen(source);
  if (length >= size) return false;
  std::memcpy(destination, source, length + 1);
  return true;
}

bool AppendText(char* destination, size_t size, const char* source) {
  if (!destination || !source || size == 0) return false;
  size_t used = strnlen(destination, size);
  if (used == size) return false;  // destination is not even terminated
  size_t length = std::strlen(source);
  if (length >= size - used) return false;
  std::memcpy(destination + used, source, length + 1);
  return true;
}

bool JoinText(char* destination, size_t size, const char* const* parts, size_t count) {
  if (!destination || size == 0) return false;
  destination[0] = '\0';
  for (size_t i = 0; i < count; ++i) {
    if (!AppendText(destination, size, parts[i])) {
      destination[0] = '\0';
      return false;
    }
  }
  return true;
}

bool ContainsText(const char* text, const char* word) {
  return text && word && std::strstr(text, word) != nullptr;
}

std::string UpperAscii(const std::string& text) {
  std::string upper = text;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}
