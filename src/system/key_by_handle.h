// Registry keys deleted by handle: the one way to delete a registry link as
// itself. Every path-based deletion (RegDeleteKey*, RegDeleteTree, SHDeleteKey)
// opens the key it names without REG_OPTION_OPEN_LINK, so a link there leads
// it to the link's target.
#pragma once

#include <windows.h>

// ntdll's key deletion, looked up when made (where ntdll lacks it, nothing
// is deleted; no Windows NT version lacks it).
class KeyDeletion {
 public:
  KeyDeletion();
  bool Available() const { return deleteKey_ != nullptr; }
  // Deletes the key that key was opened on (NtDeleteKey). The handle needs
  // DELETE access; a key opened with REG_OPTION_OPEN_LINK goes as the link
  // itself. A Win32 error: ERROR_ACCESS_DENIED also for a key that still has
  // subkeys, ERROR_PROC_NOT_FOUND where the call is missing.
  DWORD Delete(HKEY key) const;

 private:
  typedef LONG(WINAPI* NtDeleteKeyCall)(HANDLE key);
  typedef ULONG(WINAPI* StatusToErrorCall)(LONG status);
  NtDeleteKeyCall deleteKey_ = nullptr;
  StatusToErrorCall statusToError_ = nullptr;
};
