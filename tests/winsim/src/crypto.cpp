// SHA-256 as Windows' two cryptography interfaces offer it: CNG (bcrypt.dll,
// found with GetProcAddress) and CryptoAPI's AES provider (advapi32).
// LoaderState::missingModules with "bcrypt.dll" makes CNG absent, and
// cryptoApiWithoutAes makes CryptAcquireContextA refuse PROV_RSA_AES (as
// before Windows XP SP3). Trace: "hash: cng" or "hash: cryptoapi" per hash.
#include <cstring>
#include <memory>

#include "internal.h"

namespace winsim {
namespace {

// FIPS 180-4 SHA-256 (the simulation's stand-in for the system's).
class Sha256 {
 public:
  void Add(const BYTE* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      block_[used_++] = data[i];
      if (used_ == 64) Compress();
    }
    length_ += size;
  }
  void Finish(BYTE (&digest)[32]) {
    unsigned long long bits = length_ * 8;
    BYTE pad = 0x80;
    Add(&pad, 1);
    BYTE zero = 0;
    while (used_ != 56) Add(&zero, 1);
    for (int shift = 56; shift >= 0; shift -= 8) {
      BYTE byte = static_cast<BYTE>(bits >> shift);
      Add(&byte, 1);
    }
    for (int i = 0; i < 8; ++i)
      for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<BYTE>(state_[i] >> (24 - 8 * j));
  }

 private:
  static uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
  void Compress() {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = static_cast<uint32_t>(block_[4 * i]) << 24 | block_[4 * i + 1] << 16 | block_[4 * i + 2] << 8 |
             block_[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
      uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t v[8];
    std::memcpy(v, state_, sizeof v);
    for (int i = 0; i < 64; ++i) {
      uint32_t s1 = Rotate(v[4], 6) ^ Rotate(v[4], 11) ^ Rotate(v[4], 25);
      uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
      uint32_t t1 = v[7] + s1 + choice + k[i] + w[i];
      uint32_t s0 = Rotate(v[0], 2) ^ Rotate(v[0], 13) ^ Rotate(v[0], 22);
      uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      std::memmove(v + 1, v, 7 * sizeof v[0]);
      v[4] += t1;
      v[0] = t1 + s0 + majority;
    }
    for (int i = 0; i < 8; ++i) state_[i] += v[i];
    used_ = 0;
  }

  uint32_t state_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  BYTE block_[64] = {};
  size_t used_ = 0;
  unsigned long long length_ = 0;
};

// Handles of both interfaces are pointers to these.
struct Algorithm {};
struct Hash {
  Sha256 sha;
};

typedef LONG NTSTATUS;
const NTSTATUS kSuccess = 0;
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
const NTSTATUS kNotFound = static_cast<NTSTATUS>(0xC0000225);
const NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);

bool IsSha256Name(LPCWSTR name) {
  const char expected[] = "SHA256";
  for (size_t i = 0; i < sizeof expected; ++i)
    if (!name || name[i] != static_cast<WCHAR>(expected[i])) return false;
  return true;
}

NTSTATUS WINAPI SimBCryptOpenAlgorithmProvider(void** algorithm, LPCWSTR name, LPCWSTR implementation, ULONG flags) {
  if (!algorithm || implementation || flags) return kInvalidParameter;
  if (!IsSha256Name(name)) return kNotFound;
  *algorithm = new Algorithm;
  return kSuccess;
}

NTSTATUS WINAPI SimBCryptCloseAlgorithmProvider(void* algorithm, ULONG) {
  delete static_cast<Algorithm*>(algorithm);
  return kSuccess;
}

NTSTATUS WINAPI SimBCryptCreateHash(void* algorithm, void** hash, BYTE* object, ULONG objectSize, BYTE* secret,
                                    ULONG secretSize, ULONG flags) {
  if (!algorithm || !hash || object || objectSize || secret || secretSize || flags) return kInvalidParameter;
  *hash = new Hash;
  Trace("hash: cng");
  return kSuccess;
}

NTSTATUS WINAPI SimBCryptHashData(void* hash, BYTE* data, ULONG size, ULONG) {
  if (!hash || (!data && size)) return kInvalidParameter;
  static_cast<Hash*>(hash)->sha.Add(data, size);
  return kSuccess;
}

NTSTATUS WINAPI SimBCryptFinishHash(void* hash, BYTE* output, ULONG size, ULONG) {
  if (!hash || !output) return kInvalidParameter;
  if (size != 32) return kBufferTooSmall;
  BYTE digest[32];
  static_cast<Hash*>(hash)->sha.Finish(digest);
  std::memcpy(output, digest, 32);
  return kSuccess;
}

NTSTATUS WINAPI SimBCryptDestroyHash(void* hash) {
  delete static_cast<Hash*>(hash);
  return kSuccess;
}

template <typename Function>
FARPROC Entry(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

FARPROC FindCngExport(const std::string& name) {
  if (name == "BCryptOpenAlgorithmProvider") return Entry(&SimBCryptOpenAlgorithmProvider);
  if (name == "BCryptCloseAlgorithmProvider") return Entry(&SimBCryptCloseAlgorithmProvider);
  if (name == "BCryptCreateHash") return Entry(&SimBCryptCreateHash);
  if (name == "BCryptHashData") return Entry(&SimBCryptHashData);
  if (name == "BCryptFinishHash") return Entry(&SimBCryptFinishHash);
  if (name == "BCryptDestroyHash") return Entry(&SimBCryptDestroyHash);
  return nullptr;
}

}  // namespace winsim

using namespace winsim;

BOOL CryptAcquireContextA(HCRYPTPROV* provider, LPCSTR container, LPCSTR, DWORD type, DWORD flags) {
  if (!provider || container || !(flags & CRYPT_VERIFYCONTEXT)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (type != PROV_RSA_AES || M().loader.cryptoApiWithoutAes)
    return Fail(static_cast<DWORD>(0x80090017) /* NTE_PROV_TYPE_NOT_DEF */, FALSE);
  *provider = reinterpret_cast<HCRYPTPROV>(new Algorithm);
  return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD) {
  delete reinterpret_cast<Algorithm*>(provider);
  return TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH* hash) {
  if (!provider || !hash || key || flags) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (algorithm != CALG_SHA_256) return Fail(static_cast<DWORD>(NTE_BAD_ALGID), FALSE);
  *hash = reinterpret_cast<HCRYPTHASH>(new Hash);
  Trace("hash: cryptoapi");
  return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD) {
  if (!hash || (!data && length)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  reinterpret_cast<Hash*>(hash)->sha.Add(data, length);
  return TRUE;
}

BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD parameter, BYTE* data, DWORD* length, DWORD) {
  if (!hash || parameter != HP_HASHVAL || !length) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!data || *length < 32) {
    *length = 32;
    return Fail(ERROR_MORE_DATA, FALSE);
  }
  BYTE digest[32];
  reinterpret_cast<Hash*>(hash)->sha.Finish(digest);
  std::memcpy(data, digest, 32);
  *length = 32;
  return TRUE;
}

BOOL CryptDestroyHash(HCRYPTHASH hash) {
  delete reinterpret_cast<Hash*>(hash);
  return TRUE;
}
