// SHA-256 through CNG or CryptoAPI.
#include "system/file_digest.h"

#include <windows.h>

#include <cstdio>

#include "system/system_library.h"

namespace {

const DWORD kDigestLength = 32;

// CNG's calls, found at run time: bcrypt.dll is not a DLL every process maps.
typedef LONG(WINAPI* OpenAlgorithmProc)(void** algorithm, LPCWSTR name, LPCWSTR implementation, ULONG flags);
typedef LONG(WINAPI* CloseAlgorithmProc)(void* algorithm, ULONG flags);
typedef LONG(WINAPI* CreateHashProc)(void* algorithm, void** hash, BYTE* object, ULONG objectSize, BYTE* secret,
                                     ULONG secretSize, ULONG flags);
typedef LONG(WINAPI* HashDataProc)(void* hash, BYTE* data, ULONG size, ULONG flags);
typedef LONG(WINAPI* FinishHashProc)(void* hash, BYTE* output, ULONG size, ULONG flags);
typedef LONG(WINAPI* DestroyHashProc)(void* hash);

// Data is handed over in pieces no call's length type can overflow.
const size_t kPiece = 0x10000000;

bool HashWithCng(const BYTE* data, size_t size, BYTE (&digest)[kDigestLength]) {
  HMODULE cng = LoadSystemLibrary("bcrypt.dll");
  OpenAlgorithmProc open = FindExport<OpenAlgorithmProc>(cng, "BCryptOpenAlgorithmProvider");
  CloseAlgorithmProc close = FindExport<CloseAlgorithmProc>(cng, "BCryptCloseAlgorithmProvider");
  CreateHashProc create = FindExport<CreateHashProc>(cng, "BCryptCreateHash");
  HashDataProc hashData = FindExport<HashDataProc>(cng, "BCryptHashData");
  FinishHashProc finish = FindExport<FinishHashProc>(cng, "BCryptFinishHash");
  DestroyHashProc destroy = FindExport<DestroyHashProc>(cng, "BCryptDestroyHash");
  if (!open || !close || !create || !hashData || !finish || !destroy) return false;
  const WCHAR name[] = {'S', 'H', 'A', '2', '5', '6', 0};  // BCRYPT_SHA256_ALGORITHM
  void* algorithm = nullptr;
  if (open(&algorithm, name, nullptr, 0) != 0) return false;
  void* hash = nullptr;
  bool done = create(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  for (size_t at = 0; done && at < size; at += kPiece) {
    size_t piece = size - at < kPiece ? size - at : kPiece;
    done = hashData(hash, const_cast<BYTE*>(data + at), static_cast<ULONG>(piece), 0) == 0;
  }
  done = done && finish(hash, digest, kDigestLength, 0) == 0;
  if (hash) destroy(hash);
  close(algorithm, 0);
  return done;
}

bool HashWithCryptoApi(const BYTE* data, size_t size, BYTE (&digest)[kDigestLength]) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return false;
  HCRYPTHASH hash = 0;
  bool done = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != FALSE;
  for (size_t at = 0; done && at < size; at += kPiece) {
    size_t piece = size - at < kPiece ? size - at : kPiece;
    done = CryptHashData(hash, data + at, static_cast<DWORD>(piece), 0) != FALSE;
  }
  DWORD length = kDigestLength;
  done = done && CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == kDigestLength;
  if (hash) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return done;
}

}  // namespace

bool ComputeSha256(const void* data, size_t size, std::string& digest) {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  BYTE value[kDigestLength];
  if (!HashWithCng(bytes, size, value) && !HashWithCryptoApi(bytes, size, value)) return false;
  char hex[2 * kDigestLength + 1];
  for (DWORD i = 0; i < kDigestLength; ++i) std::snprintf(hex + 2 * i, 3, "%02x", value[i]);
  digest.assign(hex, 2 * kDigestLength);
  return true;
}
