// Reports what a program of ours sees of the system, for the end-to-end tests:
//   probe.exe version          "major.minor.build platform" from GetVersionExA
//   probe.exe manifest PATH    the program's embedded manifest, or "(none)"
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc == 2 && !std::strcmp(argv[1], "version")) {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return 1;
    std::printf("%lu.%lu.%lu %lu\n", version.dwMajorVersion, version.dwMinorVersion,
                version.dwBuildNumber, version.dwPlatformId);
    return 0;
  }
  if (argc == 3 && !std::strcmp(argv[1], "manifest")) {
    HMODULE module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return 1;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (!resource) {
      std::printf("(none)\n");
      return 0;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return 1;
    std::fwrite(bytes, 1, SizeofResource(module, resource), stdout);
    return 0;
  }
  return 2;
}
