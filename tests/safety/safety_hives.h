// The registry root of a generated machine's hive, for the code that builds
// and reads machines through the Win32 API (the simulation's or Wine's).
#pragma once

#include <windows.h>

#include "safety_machine.h"

namespace safety {

inline HKEY RootOf(Hive hive) {
  switch (hive) {
    case Hive::LocalMachine: return HKEY_LOCAL_MACHINE;
    case Hive::CurrentUser: return HKEY_CURRENT_USER;
    case Hive::Users: return HKEY_USERS;
  }
  return HKEY_LOCAL_MACHINE;
}

}  // namespace safety
