// Vendor INF clean-up: the vendor's driver packages, which Windows publishes in
// its INF directory as oemNN.inf, each with its precompiled oemNN.PNF, and
// (since Vista) keeps whole in its driver store.
//
// A file is the vendor's only when a line of its "Strings" section reads, as
// the platform's INF parser returns it, exactly the vendor's provider text.
// Nothing else in the directory is deleted: other INF files, files that do not
// match the pattern, and PNF files whose INF is not the vendor's all stay.
//
// Each vendor package is first handed to SetupUninstallOEMInfA, which removes
// the INF, its PNF and the store copy, so that Windows cannot reinstall the
// driver by itself. The call takes a bare name and acts on the Windows INF
// directory, so it is only made for a file of that directory whose name is a
// published name. Whatever it refuses or leaves goes as files, as before.
#include <windows.h>
#include <setupapi.h>

#include <cstring>

#include "drivers/drivers.h"
#include "system/system_facts.h"
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

bool SameTextNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
    char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
    if (x != y) return false;
    if (!x) return true;
  }
}

// True when directory is the Windows INF directory, spelt as the main
// sequence builds it: only there does a bare name given to
// SetupUninstallOEMInfA name the file that was judged the vendor's.
bool IsWindowsInfDirectory(const char* directory) {
  char windows[MAX_PATH];
  char infDirectory[MAX_PATH];
  if (!QueryWindowsDirectory(windows) || !BuildText(infDirectory, windows, "\\inf")) return false;
  return SameTextNoCase(directory, infDirectory);
}

typedef BOOL(WINAPI* UninstallOemInf)(PCSTR infFileName, DWORD flags, PVOID reserved);

// SetupUninstallOEMInfA, looked up at run time: Windows before XP lacks it,
// and a static import would keep the program from starting there. The
// program imports setupapi.dll for its INF parser, so the module is loaded.
UninstallOemInf FindUninstallOemInf() {
  HMODULE setupapi = GetModuleHandleA("setupapi.dll");
  if (!setupapi) return nullptr;
  FARPROC entry = GetProcAddress(setupapi, "SetupUninstallOEMInfA");
  // Through void(*)(): the entry point's true type is only known here.
  return reinterpret_cast<UninstallOemInf>(reinterpret_cast<void (*)()>(entry));
}

typedef BOOL(WINAPI* StoreLocation)(PCSTR fileName, PVOID alternatePlatform, PCSTR localeName, PSTR buffer,
                                     DWORD bufferSize, PDWORD requiredSize);

struct Removal {
  UninstallOemInf uninstall;  // null when Windows lacks the call
  bool windowsInfDirectory;
  VendorInfOutcomeSink report;
  void* context;
};

// 0 when the file went or was not there, else why it stayed.
DWORD DeleteFileReporting(const char* path) {
  if (DeleteFileA(path)) return 0;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
}

void RemoveVendorInf(const VendorInf& inf, void* context) {
  const Removal& removal = *static_cast<const Removal*>(context);
  VendorInfOutcome outcome = {inf, InfRemoval::FilesOnly, 0, false};
  // A name found only through its 8.3 alias (oem1.infx) is no published name.
  if (removal.windowsInfDirectory && HasInfExtension(inf.publishedName)) {
    if (!removal.uninstall) {
      outcome.error = ERROR_PROC_NOT_FOUND;
    } else if (
        // SUOI_FORCEDELETE: the vendor's tools have already uninstalled the
        // boards' devices earlier in the run, and the run ends with a
        // restart; without the flag Windows refuses a package that devices
        // were installed with, present or not.
        removal.uninstall(inf.publishedName, SUOI_FORCEDELETE, nullptr)) {
      outcome.removal = InfRemoval::DriverStore;
    } else {
      outcome.removal = InfRemoval::FilesAfterRefusal;
      outcome.error = GetLastError();
    }
  }
  // The file deletion of old: after a refusal, or where the call cannot be
  // made. After a removal through the store it finds nothing on Windows and
  // takes the PNF that an implementation of the call may leave behind; should
  // the published name already be an INF again, it is judged afresh. The
  // companion goes whether the INF deletion succeeded or not.
  bool stillTheVendors = outcome.removal != InfRemoval::DriverStore ||
                         GetFileAttributesA(inf.infPath) == INVALID_FILE_ATTRIBUTES || IsVendorInf(inf.infPath);
  if (stillTheVendors) {
    outcome.infDeleteError = DeleteFileReporting(inf.infPath);
    if (inf.companionPath[0]) outcome.companionDeleteError = DeleteFileReporting(inf.companionPath);
  }
  outcome.infLeft = GetFileAttributesA(inf.infPath) != INVALID_FILE_ATTRIBUTES;
  if (removal.report) removal.report(outcome, removal.context);
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
  if (!directory || !pattern || !visit || !BuildText(searchSpec, directory, "\\", pattern)) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(searchSpec, &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    char infPath[MAX_PATH];
    char companion[MAX_PATH];
    // A path that would not fit is passed over: a shortened one could name another file.
    if (!BuildText(infPath, directory, "\\", entry.cFileName)) continue;
    // Only a file whose own "Strings" section names the vendor is handed on.
    if (!IsVendorInf(infPath)) continue;
    if (!BuildCompanionPath(companion, infPath, entry.cFileName)) companion[0] = '\0';
    VendorInf inf = {entry.cFileName, infPath, companion};
    visit(inf, context);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

void DeleteVendorInfs(const char* directory, const char* pattern, VendorInfOutcomeSink report, void* context) {
  if (!directory) return;
  Removal removal = {FindUninstallOemInf(), IsWindowsInfDirectory(directory), report, context};
  ForEachVendorInf(directory, pattern, RemoveVendorInf, &removal);
}

bool FindDriverStoreFolder(const char* infPath, char (&folder)[MAX_PATH]) {
  folder[0] = '\0';
  HMODULE setupapi = GetModuleHandleA("setupapi.dll");
  if (!infPath || !setupapi) return false;
  FARPROC entry = GetProcAddress(setupapi, "SetupGetInfDriverStoreLocationA");
  if (!entry) return false;  // before the driver store (Vista; XP in the simulation)
  StoreLocation locate = reinterpret_cast<StoreLocation>(reinterpret_cast<void (*)()>(entry));
  char location[MAX_PATH];
  DWORD required = 0;
  if (!locate(infPath, nullptr, nullptr, location, sizeof location, &required)) return false;
  location[sizeof location - 1] = '\0';
  char* slash = std::strrchr(location, '\\');
  if (!slash || slash == location) return false;
  *slash = '\0';  // the package's folder, not its INF
  return CopyText(folder, location);
}
