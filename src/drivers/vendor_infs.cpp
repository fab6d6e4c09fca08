// Vendor INF clean-up: the copies of the vendor's driver packages that Windows
// keeps in its INF directory as oemNN.inf, each with its precompiled oemNN.PNF.
//
// A file is the vendor's only when a line of its "Strings" section reads, as
// the platform's INF parser returns it, exactly the vendor's provider text.
// Nothing else in the directory is deleted: other INF files, files that do not
// match the pattern, and PNF files whose INF is not the vendor's all stay.
#include <windows.h>
#include <setupapi.h>

#include <cstring>

#include "drivers/drivers.h"
#include "system/text.h"

namespace {

const char kVendorProvider[] = "Velmorex Ltd.- Imaging";

// True when name ends in ".inf" (any case): only such a name has a companion.
bool HasInfExtension(const char* name) {
  size_t length = std::strlen(name);
  if (length < 4) return false;
  const char* extension = name + length - 4;
  const char lower[] = ".inf";
  for (int i = 0; i < 4; ++i) {
    char c = extension[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// oem12.inf gives oem12.PNF: the path up to and including its last period,
// then "PNF". The search also yields names whose 8.3 alias matches the
// pattern (oem1.infx as OEM1~1.INF); such a name has no companion, and the
// last-period rule would name the PNF of a different INF, so none is built.
bool BuildCompanionPath(char (&companion)[MAX_PATH], const char* infPath, const char* infName) {
  if (!HasInfExtension(infName)) return false;
  if (!CopyText(companion, infPath)) return false;
  char* period = std::strrchr(companion, '.');
  if (!period) return false;
  period[1] = '\0';
  return AppendText(companion, "PNF");
}

}  // namespace

bool IsVendorInf(const char* infPath) {
  if (!infPath) return false;
  UINT errorLine = 0;
  HINF inf = SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, &errorLine);
  if (inf == INVALID_HANDLE_VALUE) return false;

  bool vendor = false;
  INFCONTEXT line;
  BOOL more = SetupFindFirstLineA(inf, "Strings", nullptr, &line);
  while (more && !vendor) {
    char text[1024];
    // A line whose text does not fit the buffer is passed over, never compared cut short.
    if (SetupGetLineTextA(&line, nullptr, nullptr, nullptr, text, sizeof text, nullptr))
      vendor = std::strcmp(text, kVendorProvider) == 0;
    if (!vendor) more = SetupFindNextLine(&line, &line);
  }
  SetupCloseInfFile(inf);
  return vendor;
}

void ForEachVendorInf(const char* directory, const char* pattern, VendorInfVisitor visit, void* context) {
  char searchSpec[MAX_PATH];
  if (!BuildText(searchSpec, directory, "\\", pattern)) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(searchSpec, &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    char infPath[MAX_PATH];
    char companion[MAX_PATH];
    // A path that would not fit is passed over: a shortened one could name another file.
    if (!BuildText(infPath, directory, "\\", entry.cFileName)) continue;
    // Only a file whose own "Strings" section names the vendor is the vendor's.
    if (!IsVendorInf(infPath)) continue;
    bool haveCompanion = BuildCompanionPath(companion, infPath, entry.cFileName);
    visit(infPath, haveCompanion ? companion : nullptr, context);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

void DeleteVendorInfs(const char* directory, const char* pattern) {
  ForEachVendorInf(
      directory, pattern,
      [](const char* infPath, const char* companion, void*) {
        DeleteFileA(infPath);
        if (companion) DeleteFileA(companion);
      },
      nullptr);
}
