// Privileges enabled for one piece of work and put back as they were after
// it: in the thread's token when the thread has one, else in the process's.
#pragma once

#include <windows.h>

#include <vector>

class PrivilegeScope {
 public:
  PrivilegeScope(const char* const* names, size_t count);
  ~PrivilegeScope() { Release(); }
  PrivilegeScope(const PrivilegeScope&) = delete;
  PrivilegeScope& operator=(const PrivilegeScope&) = delete;

  // All the privileges named are enabled; else Error() says why.
  bool Enabled() const { return error_ == ERROR_SUCCESS; }
  DWORD Error() const { return error_; }
  // Puts back the state each privilege had before (the destructor does it too).
  void Release();

 private:
  HANDLE token_ = nullptr;
  std::vector<unsigned char> previous_;  // a TOKEN_PRIVILEGES: what the enabling changed
  DWORD error_ = ERROR_SUCCESS;
};
