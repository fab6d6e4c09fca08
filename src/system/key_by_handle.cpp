// ntdll's key deletion, looked up at run time.
#include "system/key_by_handle.h"

KeyDeletion::KeyDeletion() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll) return;
  // Through void(*)(): the entry points' true types are only known here.
  deleteKey_ = reinterpret_cast<NtDeleteKeyCall>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtDeleteKey")));
  statusToError_ = reinterpret_cast<StatusToErrorCall>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
}

DWORD KeyDeletion::Delete(HKEY key) const {
  if (!deleteKey_) return ERROR_PROC_NOT_FOUND;
  LONG status = deleteKey_(reinterpret_cast<HANDLE>(key));
  if (status == 0) return ERROR_SUCCESS;
  DWORD error = statusToError_ ? statusToError_(status) : 0;
  // Every failure stays a failure, whatever its translation.
  return error != ERROR_SUCCESS ? error : ERROR_ACCESS_DENIED;
}
