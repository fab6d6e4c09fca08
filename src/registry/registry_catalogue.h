// The registry catalogue as data: the keys the registry step deletes, in
// order, and the environment values it removes.
#pragma once

#include <windows.h>

#include <cstddef>

namespace RegistryCatalogue {

enum Root { HKCR, HKCU, HKLM, HKU };

HKEY RootKey(Root root);
// "HKCR", "HKCU", "HKLM" or "HKU", as the reports write a key's root.
const char* RootName(Root root);

struct Row {
  Root root;
  const char* path;
};

// Rows 1 to 129; row n is kRows[n - 1].
const size_t kRowCount = 129;
extern const Row kRows[kRowCount];

// Values removed from the system environment key, in this order.
extern const char kSystemEnvironmentKey[];
const size_t kSystemEnvironmentValueCount = 5;
extern const char* const kSystemEnvironmentValues[kSystemEnvironmentValueCount];

// The library's path in the environment keys of the numbered control sets.
struct EnvironmentValue {
  Root root;
  const char* key;
  const char* name;
};
const size_t kControlSetValueCount = 2;
extern const EnvironmentValue kControlSetValues[kControlSetValueCount];

}  // namespace RegistryCatalogue
