// The inventory, in run order: boards with their command lines, the DMA
// tool's runs, shortcuts, the install-directory step's folders, processes and
// cached package, the registry catalogue with the vendor's installer products
// and environment values, the System32 files, and the vendor's INF packages.
// Every list and decision comes from the steps' own tables and functions.
//
// Only read access is asked for anywhere, and nothing is followed through a
// link: a folder's size counts what lies in it, not what a link points at.
#include "inventory/inventory.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <initializer_list>
#include <set>

#include "drivers/driver_commands.h"
#include "drivers/drivers.h"
#include "files/file_tables.h"
#include "files/tree_walk.h"
#include "registry/registry.h"
#include "registry/registry_catalogue.h"
#include "registry/user_profiles.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

const int kMaxTreeDepth = 64;
const DWORD kMaxBoards = 512;  // as many as the board step reads
const DWORD kTextLength = 1024;
// A key name is at most 255 characters; one more for the terminator.
const DWORD kKeyNameLength = 256;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(const std::string& text) {
  std::string upper = text;
  for (char& c : upper) c = UpperAscii(c);
  return upper;
}

bool SameNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (UpperAscii(*a) != UpperAscii(*b)) return false;
  return *a == *b;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

HKEY RootOfItemPath(const std::string& path, std::string& rest) {
  struct Known {
    const char* name;
    RegistryCatalogue::Root root;
  };
  const Known known[] = {{"HKCR\\", RegistryCatalogue::HKCR}, {"HKCU\\", RegistryCatalogue::HKCU},
                         {"HKLM\\", RegistryCatalogue::HKLM}, {"HKU\\", RegistryCatalogue::HKU}};
  for (const Known& k : known) {
    size_t length = std::strlen(k.name);
    if (path.compare(0, length, k.name) == 0) {
      rest = path.substr(length);
      return RegistryCatalogue::RootKey(k.root);
    }
  }
  return nullptr;
}

// 0 when the key opens, as the tree deletion reaches it, else the error.
DWORD ProbeKey(HKEY root, const WideString& path, REGSAM access = KEY_READ) {
  HKEY key = nullptr;
  LONG status = OpenRegistryKeyAsWalked(root, path, access, &key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  RegCloseKey(key);
  return 0;
}

DWORD ProbeValue(HKEY root, const char* path, const char* name) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
  status = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return static_cast<DWORD>(status);
}

// Reads a text value whole (a value stored without its terminator still ends).
bool ReadText(HKEY key, const char* name, char (&text)[kTextLength + 1]) {
  std::memset(text, 0, sizeof text);
  DWORD length = kTextLength;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(text), &length) !=
      ERROR_SUCCESS) {
    text[0] = '\0';
    return false;
  }
  return true;
}

// Files and bytes below folder; links are counted as entries, never followed.
// By path, where Windows has no walk by handle.
void CountTreeByPath(const char* folder, unsigned long long& files, unsigned long long& bytes, int depth) {
  if (depth > kMaxTreeDepth) return;
  char searchPattern[MAX_PATH];
  if (!BuildText(searchPattern, folder, "\\*")) return;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(searchPattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) continue;
    bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (directory && !link) {
      char child[MAX_PATH];
      if (BuildText(child, folder, "\\", entry.cFileName)) CountTreeByPath(child, files, bytes, depth + 1);
      continue;
    }
    ++files;
    bytes += (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
  } while (FindNextFileA(search, &entry));
  FindClose(search);
}

// What is at a path (UTF-8): looked at as itself by handle, or by path where
// Windows has no walk by handle (a path the code page cannot spell is then
// unreadable).
PathLook LookAt(const std::string& utf8Path) {
  if (FileWalkByHandle()) return LookAtPath(utf8Path);
  PathLook look;
  std::string ansi;
  if (!AnsiFromUtf8Exactly(utf8Path, ansi)) {
    look.present = true;
    look.error = ERROR_NO_UNICODE_TRANSLATION;
    return look;
  }
  DWORD attributes = GetFileAttributesA(ansi.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    look.present = !IsMissing(error);
    look.error = look.present ? error : 0;
    return look;
  }
  look.present = true;
  look.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  look.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) && !look.link;
  return look;
}

class Reader {
 public:
  explicit Reader(Inventory& inventory) : inventory_(inventory) {}

  void SetStep(const char* step) { step_ = step; }

  // The files of folder whose names match pattern, as the pattern deletion finds them.
  void AddMatchingFiles(const char* folder, const char* pattern) {
    if (FileWalkByHandle()) {
      for (const std::string& path : MatchingFiles(folder, pattern)) AddEntryUtf8(path, "", true);
      return;
    }
    char searchPattern[MAX_PATH];
    char path[MAX_PATH];
    if (!BuildText(searchPattern, folder, "\\", pattern)) return;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(searchPattern, &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      if (BuildText(path, folder, "\\", entry.cFileName)) AddFile(path);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
  }

  // path is ANSI code page text, as the narrow calls read it.
  InventoryItem& Add(ItemKind kind, const std::string& path) { return AddUtf8(kind, Utf8FromAnsi(path)); }

  // path is UTF-8, as names read through the wide calls become.
  InventoryItem& AddUtf8(ItemKind kind, const std::string& path) {
    InventoryItem item;
    item.kind = kind;
    item.step = step_;
    item.path = path;
    inventory_.items.push_back(item);
    return inventory_.items.back();
  }

  // A file or folder, when present or unreadable; each path is listed once.
  InventoryItem* AddPath(const char* path, const std::string& keptReason = "") {
    return path ? AddEntryUtf8(Utf8FromAnsi(path), Utf8FromAnsi(keptReason), false) : nullptr;
  }

  // A file that a step deletes as a file: a folder of that name stays, and is not listed.
  InventoryItem* AddFile(const char* path, const std::string& keptReason = "") {
    return path ? AddEntryUtf8(Utf8FromAnsi(path), Utf8FromAnsi(keptReason), true) : nullptr;
  }

  // keptReason is UTF-8. A folder is sized as the tree deletion walks it,
  // unless that walk would refuse it: then it is kept, and the reason says why.
  InventoryItem* AddEntryUtf8(const std::string& path, const std::string& keptReason, bool filesOnly) {
    if (path.empty()) return nullptr;
    PathLook look = LookAt(path);
    if (filesOnly && look.folder) return nullptr;
    if (!seenPaths_.insert(Upper(path)).second) return nullptr;
    if (!look.present) return nullptr;
    if (look.error != 0) {
      InventoryItem& item = AddUtf8(ItemKind::File, path);
      item.error = look.error;
      return &item;
    }
    InventoryItem& item = AddUtf8(look.folder ? ItemKind::Folder : ItemKind::File, path);
    item.keptReason = keptReason;
    std::string native;
    if (!look.folder || !keptReason.empty() || !AnsiFromUtf8Exactly(path, native)) return &item;
    if (FileWalkByHandle()) {
      WalkRootVerdict verdict = JudgeWalkRoot(native.c_str());
      if (verdict.refused) {
        item.keptReason = "refused by the walk: " + verdict.reason;
        return &item;
      }
      item.hasSize = true;
      CountTree(native.c_str(), item.files, item.bytes);
    } else {
      item.hasSize = true;
      CountTreeByPath(native.c_str(), item.files, item.bytes, 0);
    }
    return &item;
  }

  // True when the key is listed (present, or there but unreadable).
  bool AddKey(RegistryCatalogue::Root root, const char* path) {
    std::string name = std::string(RegistryCatalogue::RootName(root)) + "\\" + path;
    if (!seenKeys_.insert(Upper(name)).second) return false;
    DWORD error = ProbeKey(RegistryCatalogue::RootKey(root), WideFromAnsi(path));
    if (IsMissing(error)) return false;
    Add(ItemKind::RegistryKey, name).error = error;
    return true;
  }

  bool KeyListed(const std::string& name) const { return seenKeys_.count(Upper(name)) != 0; }

  void NoteProfile(const std::string& sid, const std::string& folder) { inventory_.profiles.push_back({sid, folder}); }

  void AddValue(RegistryCatalogue::Root root, const char* path, const char* name) {
    DWORD error = ProbeValue(RegistryCatalogue::RootKey(root), path, name);
    if (IsMissing(error)) return;
    InventoryItem& item = Add(ItemKind::RegistryValue, std::string(RegistryCatalogue::RootName(root)) + "\\" + path);
    item.valueName = Utf8FromAnsi(name);
    item.error = error;
  }

 private:
  Inventory& inventory_;
  const char* step_ = "";
  std::set<std::string> seenPaths_;
  std::set<std::string> seenKeys_;
};

bool IsNonBoardSubkey(const char* name) {
  for (const char* subkey : kNonBoardSubkeys)
    if (SameNoCase(name, subkey)) return true;
  return false;
}

// The monitor's service, when it is installed; only a Tarvel board has it removed.
void AddMonitorService(Reader& reader, bool tarvelBoard) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return;
  SC_HANDLE service = OpenServiceA(manager, kMonitorService, SERVICE_QUERY_STATUS);
  DWORD error = service ? 0 : GetLastError();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (error == ERROR_SERVICE_DOES_NOT_EXIST) return;
  InventoryItem& item = reader.Add(ItemKind::Service, kMonitorService);
  item.error = error;
  if (!tarvelBoard) item.keptReason = "kept by design: no Tarvel board is registered, so its service is not removed";
}

void ReadBoards(Reader& reader, Inventory& inventory) {
  reader.SetStep("boards");
  BoardSystem system = ReadBoardSystem();
  char directory[kDriverCommandSize];
  QueryCurrentDirectory(directory);  // emptied when it cannot be read in full
  HKEY boardKey = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kBoardKey, 0, KEY_READ, &boardKey);
  bool tarvel = false;
  if (status == ERROR_SUCCESS) {
    // The step removes the non-board subkeys first and then reads up to its limit.
    DWORD boards = 0;
    for (DWORD index = 0; boards < kMaxBoards; ++index) {
      WCHAR wideName[kTextLength];
      DWORD nameLength = kTextLength;
      if (RegEnumKeyExW(boardKey, index, wideName, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      WideString name(wideName, nameLength);
      std::string ansi;
      std::string problem = BoardNameProblem(name, ansi);
      if (problem.empty() && IsNonBoardSubkey(ansi.c_str())) continue;
      ++boards;
      std::string utf8 = Utf8FromWide(name);
      InventoryItem& item = reader.Add(ItemKind::Board, std::string("HKLM\\") + kBoardKey + "\\" + utf8);
      if (!problem.empty())
        item.keptReason = "passed over: " + problem + ", which no command line may carry; its driver tool is not "
                          "run, and its key goes with the registry catalogue";
      // The kinds' prefixes are ASCII: the UTF-8 form of a name passed over still shows them.
      const char* board = problem.empty() ? ansi.c_str() : utf8.c_str();
      tarvel = tarvel || IsTarvelBoard(board);
      BoardCommandLines lines;
      BuildBoardCommandLines(system, directory, board, lines, !problem.empty());
      for (const ChildCommand* command :
           {&lines.driver, &lines.filter, &lines.blockService, &lines.stopService, &lines.deleteService})
        if (command->line[0]) item.commands.push_back(Utf8FromAnsi(command->line));
      item.removesGigeService = lines.deleteService.line[0] != '\0';
    }
    RegCloseKey(boardKey);
  } else if (!IsMissing(static_cast<DWORD>(status))) {
    reader.Add(ItemKind::RegistryKey, std::string("HKLM\\") + kBoardKey).error = static_cast<DWORD>(status);
  }
  AddMonitorService(reader, tarvel);
  ChildCommand networkServer;
  BuildBoardNetworkServerCommandLine(system, networkServer);
  if (networkServer.line[0]) inventory.commands.push_back(Utf8FromAnsi(networkServer.line));
}

void ReadDma(const char* revisionText, Inventory& inventory) {
  char directory[kDriverCommandSize];
  QueryCurrentDirectory(directory);
  DmaTool tool = ChooseDmaTool(QueryVersion(), QueryProcessorArchitecture(), revisionText);
  if (tool == DmaTool::None) return;
  ChildCommand command;
  BuildDmaCommandLine(tool, directory, command);
  if (command.line[0]) inventory.commands.push_back(Utf8FromAnsi(command.line));
  BuildDmaNetworkServerCommandLine(directory, command);
  if (command.line[0]) inventory.commands.push_back(Utf8FromAnsi(command.line));
}

void ReadShortcuts(Reader& reader, const char* windowsDirectory) {
  reader.SetStep("shortcuts");
  for (const StepPlace& place : ShortcutPlaces(QueryVersion().dwMajorVersion, windowsDirectory))
    place.removeWith == RemoveWith::File ? reader.AddFile(place.path.c_str()) : reader.AddPath(place.path.c_str());
}

// The cached package that an open InstallProperties key names, when it lies
// in the installer's cache (only then is it deleted).
void AddCachedPackage(Reader& reader, HKEY properties, const std::string& keptReason = "") {
  std::string package;
  if (!ReadCachedPackage(properties, package) || package.empty()) return;
  // A package named outside the cache is never deleted, and need not be the vendor's: not listed.
  if (IsInInstallerCache(package.c_str())) reader.AddFile(package.c_str(), keptReason);
}

void AddCachedPackageOf(Reader& reader, const char* packedCode) {
  char path[kTextLength];
  if (!BuildText(path, kInstallerProductsKey, "\\", packedCode, "\\InstallProperties")) return;
  HKEY properties = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &properties) != ERROR_SUCCESS) return;
  AddCachedPackage(reader, properties);
  RegCloseKey(properties);
}

// Whether a process of that executable name runs. A snapshot names every
// process without opening it, so no privilege is needed or changed.
bool IsRunning(const char* image) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
    found = SameNoCase(entry.szExeFile, image);
  CloseHandle(snapshot);
  return found;
}

void ReadInstallDirectory(Reader& reader, Inventory& inventory, const char* revisionText,
                          const char* windowsDirectory) {
  reader.SetStep("install directory");
  bool haveDrive = windowsDirectory[0] && windowsDirectory[1] == ':';
  const char drive[2] = {haveDrive ? windowsDirectory[0] : '\0', '\0'};
  char path[MAX_PATH];

  AddCachedPackageOf(reader, kLibraryPackedCode);
  const DWORD majorVersion = QueryVersion().dwMajorVersion;
  for (const std::string& folder : ProductInstallerFolders(majorVersion, windowsDirectory))
    reader.AddPath(folder.c_str());

  InstallDirectoryChoice choice;
  ChooseInstallDirectory(revisionText, KEY_QUERY_VALUE, choice);
  if (choice.newerRelease && haveDrive && BuildText(path, drive, kParlowFolder)) reader.AddPath(path);

  // The older release's value is removed without stopping the processes.
  bool stopsProcesses = choice.newerRelease || choice.source != InstallDirectorySource::RegistryValue;
  for (const char* image : kBackgroundProcesses) {
    if (!IsRunning(image)) continue;
    InventoryItem& item = reader.Add(ItemKind::Process, image);
    if (!stopsProcesses) item.keptReason = "kept by design: the older release's removal stops no process";
  }
  if (stopsProcesses && haveDrive && BuildText(path, drive, kGigeServiceFile))
    if (InventoryItem* item = reader.AddFile(path)) item->afterProcesses = true;
  if (InventoryItem* item = reader.AddPath(choice.folder)) item->afterProcesses = stopsProcesses;
  if (choice.source == InstallDirectorySource::Refused)
    reader.AddPath(choice.refusedValue,
                   std::string("refused by the \"Directory\" guard: ") + choice.rule);
  if (!choice.newerRelease && choice.source == InstallDirectorySource::RegistryValue) {
    char systemDirectory[MAX_PATH];
    if (QuerySystemDirectory(systemDirectory)) reader.AddMatchingFiles(systemDirectory, kLibraryPattern);
  }
  for (const std::string& folder : SharedDocumentsFolders(majorVersion, windowsDirectory))
    reader.AddPath(folder.c_str());
  if (windowsDirectory[0]) {
    for (const char* folder : kWindowsInstallerFolders)
      if (BuildText(path, windowsDirectory, folder)) reader.AddPath(path);
    if (BuildText(path, windowsDirectory, kWindowsInstallerPackage)) reader.AddFile(path);
  }

  char command[kDeferredRemovalSize];
  BuildDeferredRemovalCommand(haveDrive ? drive : nullptr, command);
  if (command[0]) {
    inventory.logonCommandKey = std::string("HKLM\\") + kRunOnceKey + "\\" + kDeferredRemovalValue;
    inventory.logonCommand = Utf8FromAnsi(command);
  }
}

// The products the vendor product walk deletes, read as it reads them: wide
// names, each product's properties opened by their path.
void ReadVendorProducts(Reader& reader) {
  HKEY products = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromAnsi(kInstallerProductsKey).c_str(), 0, KEY_READ, &products) !=
      ERROR_SUCCESS)
    return;
  std::set<WideString> seen;
  // Any answer but a name ends the listing: an index is never asked for twice.
  for (DWORD index = 0;; ++index) {
    WCHAR name[kKeyNameLength];
    DWORD nameLength = kKeyNameLength;
    if (RegEnumKeyExW(products, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    WideString product(name, nameLength < kKeyNameLength ? nameLength : 0);
    if (product.empty() || product.find(WCHAR(0)) != WideString::npos || !seen.insert(product).second) continue;
    std::string path = std::string("HKLM\\") + kInstallerProductsKey + "\\" + Utf8FromWide(product);
    // A product whose registration a catalogue row removed before the walk is not seen by it.
    if (reader.KeyListed(path)) continue;
    HKEY properties = nullptr;
    WideString propertiesPath = product + WIDE_TEXT("\\InstallProperties");
    if (RegOpenKeyExW(products, propertiesPath.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &properties) ==
        ERROR_SUCCESS) {
      WCHAR publisher[kTextLength + 1] = {};
      DWORD size = kTextLength * sizeof(WCHAR);
      if (RegQueryValueExW(properties, WIDE_TEXT("Publisher"), nullptr, nullptr, reinterpret_cast<LPBYTE>(publisher),
                           &size) == ERROR_SUCCESS &&
          IsVendorPublisher(WideString(publisher))) {  // text to its first zero, as the walk reads it
        AddCachedPackage(reader, properties);
        reader.AddUtf8(ItemKind::InstallerProduct, path);
      }
      RegCloseKey(properties);
    }
  }
  RegCloseKey(products);
}

void ReadRegistry(Reader& reader) {
  using namespace RegistryCatalogue;
  reader.SetStep("registry");
  auto rows = [&reader](size_t first, size_t last) {
    for (size_t row = first; row <= last && row <= kRowCount; ++row)
      reader.AddKey(kRows[row - 1].root, kRows[row - 1].path);
  };
  // Installer registrations among the rows before the vendor products' walk:
  // their cached packages stay, since nothing looks for them once the
  // registration is gone.
  for (size_t row = 1; row <= 80; ++row) {
    if (!reader.AddKey(kRows[row - 1].root, kRows[row - 1].path)) continue;
    char propertiesPath[kTextLength];
    HKEY properties = nullptr;
    if (!BuildText(propertiesPath, kRows[row - 1].path, "\\InstallProperties") ||
        RegOpenKeyExA(RootKey(kRows[row - 1].root), propertiesPath, 0, KEY_QUERY_VALUE, &properties) !=
            ERROR_SUCCESS)
      continue;
    AddCachedPackage(reader, properties,
                     "kept by design: the package of a product whose registration the registry step "
                     "removes before it looks for packages");
    RegCloseKey(properties);
  }
  AddCachedPackageOf(reader, kRegistryStepPackedCode);
  ReadVendorProducts(reader);
  rows(81, 89);
  for (const char* name : kSystemEnvironmentValues) reader.AddValue(HKLM, kSystemEnvironmentKey, name);
  rows(90, 94);
  for (const EnvironmentValue& value : kControlSetValues) reader.AddValue(value.root, value.key, value.name);
  rows(95, kRowCount);
}

// Every profile's per-user keys, each hive looked at as the run reaches it; a
// hive that cannot be opened is listed with its error.
void ReadProfileKeys(Reader& reader) {
  std::vector<ProfileRow> rows = ProfileRows();
  for (const UserProfile& profile : ReadUserProfiles()) {
    std::string folder = Utf8FromWide(profile.folder);
    reader.NoteProfile(profile.sid, folder);
    for (ProfileHiveKind kind : {ProfileHiveKind::User, ProfileHiveKind::Classes}) {
      auto mark = [&](InventoryItem& item) {
        item.profileSid = profile.sid;
        item.profileFolder = folder;
        item.classesHive = kind == ProfileHiveKind::Classes;
      };
      ProfileHive hive(profile, kind);
      if (!hive.Root()) {
        // A hive file that is not there holds nothing (listed for the record
        // when it is the user's own); one that cannot be opened is unreadable.
        bool missing = hive.Error() == ERROR_FILE_NOT_FOUND;
        if (kind == ProfileHiveKind::User || !missing) {
          InventoryItem& item = reader.AddUtf8(ItemKind::RegistryKey, ProfileKeyName(profile.sid, kind, ""));
          if (missing)
            item.keptReason = "the profile has no hive file (NTUSER.DAT): nothing of it to clean";
          else
            item.error = hive.Error();
          mark(item);
        }
        continue;
      }
      for (const ProfileRow& row : rows) {
        if (row.hive != kind) continue;
        std::string name = ProfileKeyName(profile.sid, kind, row.path);
        // The fixed account's row has listed its key already where its hive was loaded.
        if (hive.LoadedFile().empty() && reader.KeyListed(name)) continue;
        DWORD error = ProbeKey(hive.Root(), WideFromAnsi(row.path));
        if (IsMissing(error)) continue;
        InventoryItem& item = reader.AddUtf8(ItemKind::RegistryKey, name);
        item.error = error;
        mark(item);
      }
    }
  }
}

void ReadLibraryFiles(Reader& reader, const char* windowsDirectory) {
  reader.SetStep("library files");
  if (!windowsDirectory[0]) return;
  char folder[MAX_PATH];
  char path[MAX_PATH];
  if (BuildText(folder, windowsDirectory, kSystemFolder)) reader.AddMatchingFiles(folder, kLibraryPattern);
  if (BuildText(path, windowsDirectory, kDmaDriver)) reader.AddFile(path);
  for (const char* driver : kBoardDrivers)
    if (BuildText(path, windowsDirectory, kDriversFolder, driver)) reader.AddFile(path);
  for (const char* library : kLibraryFiles)
    if (BuildText(path, windowsDirectory, kSystemFolder, "\\", library)) reader.AddFile(path);
}

void ReadInfPackages(Reader& reader, const char* windowsDirectory) {
  reader.SetStep("inf");
  char directory[1024];
  if (!windowsDirectory[0] || !BuildText(directory, windowsDirectory, kInfFolder)) return;
  ForEachVendorInf(
      directory, kVendorInfPattern,
      [](const VendorInf& inf, void* context) {
        Reader& r = *static_cast<Reader*>(context);
        if (InventoryItem* item = r.AddFile(inf.infPath)) item->package = Utf8FromAnsi(inf.publishedName);
        if (inf.companionPath[0]) r.AddFile(inf.companionPath);
        // The package's copy in the driver store, where Windows keeps one.
        char store[MAX_PATH];
        if (FindDriverStoreFolder(inf.infPath, store))
          if (InventoryItem* item = r.AddPath(store)) item->package = Utf8FromAnsi(inf.publishedName);
      },
      &reader);
}

// ---- after the run ----------------------------------------------------------

// Why a file that is still there could not be deleted, where that can be seen.
std::string FileReason(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return "read-only";
  HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return "";
  }
  DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return "in use";
  if (error == ERROR_ACCESS_DENIED) return "access denied";
  return "";
}

// The first entry left below folder that shows why the tree deletion (which
// clears attributes) stopped: a file in use or denied, or a path too long.
bool FindBlockedFile(const char* folder, std::string& path, std::string& reason, int depth) {
  if (depth > kMaxTreeDepth) return false;
  char searchPattern[MAX_PATH];
  if (!BuildText(searchPattern, folder, "\\*")) {
    path = folder;
    reason = "too long a path to delete";
    return true;
  }
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA(searchPattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (std::strcmp(entry.cFileName, ".") == 0 || std::strcmp(entry.cFileName, "..") == 0) continue;
    char child[MAX_PATH];
    if (!BuildText(child, folder, "\\", entry.cFileName)) {
      path = std::string(folder) + "\\" + entry.cFileName;
      reason = "too long a path to delete";
      found = true;
      break;
    }
    bool directory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (directory && !link) {
      found = FindBlockedFile(child, path, reason, depth + 1);
    } else {
      reason = FileReason(child);
      if (reason == "read-only") reason.clear();  // the tree deletion clears it
      if (!reason.empty()) {
        path = child;
        found = true;
      }
    }
  } while (!found && FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

// The narrow calls below take an item's texts in the ANSI code page; a text
// the code page cannot spell exactly is never looked at through a best fit.
bool NativeText(const std::string& utf8, std::string& native) { return AnsiFromUtf8Exactly(utf8, native); }

// Keys are looked at through the wide calls, by the UTF-8 path read.
DWORD ProbeItemKey(const InventoryItem& item, REGSAM access = KEY_READ) {
  std::string rest;
  HKEY root = RootOfItemPath(item.path, rest);
  return root ? ProbeKey(root, WideFromUtf8(rest), access) : static_cast<DWORD>(ERROR_FILE_NOT_FOUND);
}

bool IsRegistryKeyKind(ItemKind kind) {
  return kind == ItemKind::Board || kind == ItemKind::RegistryKey || kind == ItemKind::InstallerProduct;
}

bool IsPresent(const InventoryItem& item, DWORD& error) {
  error = 0;
  if (item.kind == ItemKind::Folder || item.kind == ItemKind::File) {
    PathLook look = LookAt(item.path);
    error = look.error;
    return look.present;
  }
  if (IsRegistryKeyKind(item.kind)) {
    error = ProbeItemKey(item);
    return !IsMissing(error);
  }
  std::string rest;
  std::string path, valueName;
  if (!NativeText(item.path, path) || !NativeText(item.valueName, valueName)) {
    error = ERROR_NO_UNICODE_TRANSLATION;
    return true;
  }
  switch (item.kind) {
    case ItemKind::Process:
      return IsRunning(path.c_str());
    case ItemKind::Service: {
      SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
      if (!manager) {
        error = GetLastError();
        return true;
      }
      SC_HANDLE service = OpenServiceA(manager, path.c_str(), SERVICE_QUERY_STATUS);
      if (!service) error = GetLastError();
      if (service) CloseServiceHandle(service);
      CloseServiceHandle(manager);
      if (error == ERROR_SERVICE_DOES_NOT_EXIST) return false;
      return true;
    }
    case ItemKind::Folder:
    case ItemKind::File:
      return true;  // looked at above
    case ItemKind::RegistryValue: {
      HKEY root = RootOfItemPath(path, rest);
      error = root ? ProbeValue(root, rest.c_str(), valueName.c_str()) : ERROR_FILE_NOT_FOUND;
      return !IsMissing(error);
    }
    default:
      break;
  }
  return false;
}

// True when the logon command that a run wrote will remove path (the default
// installation folder or something inside it).
bool LeftForLogon(const std::string& path) {
  char windowsDirectory[MAX_PATH];
  if (!QueryWindowsDirectory(windowsDirectory) || windowsDirectory[1] != ':') return false;
  const char drive[2] = {windowsDirectory[0], '\0'};
  char command[kDeferredRemovalSize];
  char folder[MAX_PATH];
  BuildDeferredRemovalCommand(drive, command);
  if (!command[0] || !BuildText(folder, drive, kDefaultInstallFolder)) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  char written[kTextLength + 1];
  bool same = ReadText(key, kDeferredRemovalValue, written) && std::strcmp(written, command) == 0;
  RegCloseKey(key);
  if (!same) return false;
  std::string upperPath = Upper(path);
  std::string upperFolder = Upper(folder);
  return upperPath == upperFolder || upperPath.compare(0, upperFolder.size() + 1, upperFolder + "\\") == 0;
}

// Why an item is still there, as UTF-8 text; "" where it cannot be seen.
std::string RemainingReason(const InventoryItem& item, bool processLeft) {
  if (!item.keptReason.empty()) return item.keptReason;
  if (item.afterProcesses && processLeft) return "a background process could not be stopped";
  if (!item.profileSid.empty()) return "";  // the run's own report of the key, where it made one
  if (IsRegistryKeyKind(item.kind) || item.kind == ItemKind::RegistryValue)
    return ProbeItemKey(item, KEY_ALL_ACCESS) == ERROR_ACCESS_DENIED ? "access denied" : "";
  if (FileWalkByHandle() && item.kind == ItemKind::File) return FileDeletionBlocker(item.path);
  std::string native;
  if (!NativeText(item.path, native)) return "";
  if (FileWalkByHandle() && item.kind == ItemKind::Folder) {
    WalkRootVerdict verdict = JudgeWalkRoot(native.c_str());
    if (verdict.refused) return "refused by the walk: " + verdict.reason;
    std::string path, reason;
    if (FindBlockedEntry(native.c_str(), path, reason)) return path + " is " + reason;
    return FileDeletionBlocker(item.path);
  }
  switch (item.kind) {
    case ItemKind::Process:
      return "still running";
    case ItemKind::File:
      return FileReason(native.c_str());
    case ItemKind::Folder: {
      std::string path, reason;
      if (FindBlockedFile(native.c_str(), path, reason, 0)) return Utf8FromAnsi(path) + " is " + reason;
      return FileReason(native.c_str());
    }
    default:
      return "";
  }
}

}  // namespace

HKEY SplitRegistryItemPath(const std::string& path, std::string& rest) { return RootOfItemPath(path, rest); }

std::string ReadRevision() {
  char revision[kTextLength + 1];
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLibraryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return "";
  ReadText(key, "Revision", revision);
  RegCloseKey(key);
  return revision;
}

Inventory TakeInventory(const char* revisionText, bool everyProfile) {
  Inventory inventory;
  Reader reader(inventory);
  char windowsDirectory[MAX_PATH];
  QueryWindowsDirectory(windowsDirectory);  // emptied when it cannot be read

  ReadBoards(reader, inventory);
  ReadDma(revisionText, inventory);
  ReadShortcuts(reader, windowsDirectory);
  ReadInstallDirectory(reader, inventory, revisionText, windowsDirectory);
  ReadRegistry(reader);
  if (everyProfile) ReadProfileKeys(reader);
  ReadLibraryFiles(reader, windowsDirectory);
  ReadInfPackages(reader, windowsDirectory);
  std::string why;
  inventory.fileWalk = FileWalkByHandle(&why) ? "by handle" : "by path: " + why;
  for (InventoryItem& item : inventory.items)
    if (item.error != 0) item.status = ItemStatus::Unreadable;
  return inventory;
}

// What is there of the profiles' keys: each profile's hive opened once, and
// loaded again where the run had to load it. A hive that cannot be opened
// leaves its keys unreadable; an item for such a hive keeps its error.
struct Presence {
  bool present = true;
  DWORD error = 0;
};

std::vector<Presence> LookAtProfileKeys(const std::vector<InventoryItem>& items) {
  std::vector<Presence> seen(items.size());
  std::vector<bool> done(items.size(), false);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].profileSid.empty() || done[i]) continue;
    ProfileHiveKind kind = items[i].classesHive ? ProfileHiveKind::Classes : ProfileHiveKind::User;
    UserProfile profile{items[i].profileSid, WideFromUtf8(items[i].profileFolder)};
    std::string hiveName = ProfileKeyName(profile.sid, kind, "");
    ProfileHive hive(profile, kind);
    for (size_t j = i; j < items.size(); ++j) {
      const InventoryItem& item = items[j];
      if (item.profileSid != items[i].profileSid || item.classesHive != items[i].classesHive) continue;
      done[j] = true;
      if (item.path == hiveName) {
        seen[j].error = item.error;  // the hive itself stays as the start found it
      } else if (!hive.Root()) {
        seen[j].error = hive.Error();
      } else {
        DWORD error = ProbeKey(hive.Root(), WideFromUtf8(item.path.substr(hiveName.size() + 1)));
        seen[j].present = !IsMissing(error);
        seen[j].error = seen[j].present ? error : 0;
      }
    }
  }
  return seen;
}

void CheckAfterRun(Inventory& start) {
  // A background process still running kept the installation folder and the service file.
  bool processLeft = false;
  for (const InventoryItem& item : start.items) {
    DWORD error = 0;
    if (item.kind == ItemKind::Process && item.keptReason.empty() && IsPresent(item, error)) processLeft = true;
  }
  std::vector<Presence> profileKeys = LookAtProfileKeys(start.items);
  for (size_t index = 0; index < start.items.size(); ++index) {
    InventoryItem& item = start.items[index];
    DWORD error = 0;
    std::string native;
    bool present = item.profileSid.empty() ? IsPresent(item, error) : profileKeys[index].present;
    if (!item.profileSid.empty()) error = profileKeys[index].error;
    if (!present) {
      item.status = ItemStatus::Removed;
      item.reason.clear();
    } else if (error != 0) {
      item.status = ItemStatus::Unreadable;
      item.error = error;
    } else if (item.keptReason.empty() && NativeText(item.path, native) && LeftForLogon(native) &&
               (item.kind == ItemKind::Folder || item.kind == ItemKind::File)) {
      item.status = ItemStatus::PendingRestart;
      item.reason = "left for the RunOnce removal at the next logon";
      std::string why = RemainingReason(item, processLeft);
      if (!why.empty()) item.reason += " (" + why + ")";
    } else {
      item.status = ItemStatus::Remaining;
      item.reason = RemainingReason(item, processLeft);
    }
  }
}

const char* ItemKindName(ItemKind kind) {
  switch (kind) {
    case ItemKind::Board: return "board";
    case ItemKind::Service: return "service";
    case ItemKind::Process: return "process";
    case ItemKind::Folder: return "folder";
    case ItemKind::File: return "file";
    case ItemKind::RegistryKey: return "registry key";
    case ItemKind::RegistryValue: return "registry value";
    case ItemKind::InstallerProduct: return "installer product";
  }
  return "";
}

const char* ItemStatusName(ItemStatus status) {
  switch (status) {
    case ItemStatus::Present: return "present";
    case ItemStatus::Removed: return "removed";
    case ItemStatus::Remaining: return "remaining";
    case ItemStatus::PendingRestart: return "pending restart";
    case ItemStatus::Unreadable: return "unreadable";
  }
  return "";
}
