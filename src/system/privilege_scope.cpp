// Enabling privileges for a while.
#include "system/privilege_scope.h"

#include <cstddef>
#include <cstring>

namespace {

const DWORD kTokenRights = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;

size_t PrivilegesSize(size_t count) {
  return offsetof(TOKEN_PRIVILEGES, Privileges) + (count ? count : 1) * sizeof(LUID_AND_ATTRIBUTES);
}

}  // namespace

PrivilegeScope::PrivilegeScope(const char* const* names, size_t count) {
  if (!OpenThreadToken(GetCurrentThread(), kTokenRights, TRUE, &token_)) {
    token_ = nullptr;
    DWORD error = GetLastError();
    if (error != ERROR_NO_TOKEN || !OpenProcessToken(GetCurrentProcess(), kTokenRights, &token_)) {
      token_ = nullptr;
      error_ = error != ERROR_NO_TOKEN ? error : GetLastError();
      if (error_ == ERROR_SUCCESS) error_ = ERROR_ACCESS_DENIED;
      return;
    }
  }
  std::vector<unsigned char> request(PrivilegesSize(count), 0);
  TOKEN_PRIVILEGES* wanted = reinterpret_cast<TOKEN_PRIVILEGES*>(request.data());
  wanted->PrivilegeCount = static_cast<DWORD>(count);
  for (size_t i = 0; i < count; ++i) {
    LUID_AND_ATTRIBUTES entry;
    if (!LookupPrivilegeValueA(nullptr, names[i], &entry.Luid)) {
      error_ = GetLastError() ? GetLastError() : static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE);
      return;
    }
    entry.Attributes = SE_PRIVILEGE_ENABLED;
    std::memcpy(request.data() + offsetof(TOKEN_PRIVILEGES, Privileges) + i * sizeof entry, &entry, sizeof entry);
  }
  previous_.assign(PrivilegesSize(count), 0);
  DWORD returned = 0;
  SetLastError(ERROR_SUCCESS);
  if (!AdjustTokenPrivileges(token_, FALSE, wanted, static_cast<DWORD>(previous_.size()),
                             reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()), &returned)) {
    error_ = GetLastError();
    previous_.clear();
    return;
  }
  // The call succeeds also when the token lacks a privilege.
  if (GetLastError() == ERROR_NOT_ALL_ASSIGNED) error_ = ERROR_PRIVILEGE_NOT_HELD;
}

void PrivilegeScope::Release() {
  if (token_ && !previous_.empty() && reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data())->PrivilegeCount > 0)
    AdjustTokenPrivileges(token_, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(previous_.data()), 0, nullptr, nullptr);
  previous_.clear();
  if (token_) CloseHandle(token_);
  token_ = nullptr;
}
