// SHA-256 digests, always computed by Windows' own cryptography: CNG
// (bcrypt.dll, loaded from System32 at run time) or, where Windows has no CNG,
// CryptoAPI's AES provider. Never a digest of the program's own making.
#pragma once

#include <cstddef>
#include <string>

// The SHA-256 of size bytes at data as 64 lower-case hexadecimal digits;
// false, with digest untouched, on a Windows that offers neither interface.
bool ComputeSha256(const void* data, size_t size, std::string& digest);
