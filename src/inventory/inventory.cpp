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

#include <cstring>
#include <initializer_list>
#include <set>

#include "drivers/driver_commands.h"
#include "drivers/drivers.h"
#include "files/file_tables.h"
#include "files/install_directory_guard.h"
#include "inventory/machine_look.h"
#include "files/tree_walk.h"
#include "registry/registry.h"
#include "registry/registry_catalogue.h"
#include "registry/user_profiles.h"
#include "system/system_facts.h"
#include "system/text.h"
#include "system/wide_text.h"

namespace {

const DWORD kTextLength = 1024;
// A key name is at most 255 characters; one more for the terminator.
const DWORD kKeyNameLength = 256;

bool IsMissing(DWORD error) { return IsMissingError(error); }

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
    if (!seenPaths_.insert(UpperAscii(path)).second) return nullptr;
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
      CountFolder(native.c_str(), item.files, item.bytes);
    }
    return &item;
  }

  // True when the key is listed (present, or there but unreadable).
  bool AddKey(RegistryCatalogue::Root root, const char* path) {
    std::string name = std::string(RegistryCatalogue::RootName(root)) + "\\" + path;
    if (!seenKeys_.insert(UpperAscii(name)).second) return false;
    DWORD error = ProbeKey(RegistryCatalogue::RootKey(root), WideFromAnsi(path));
    if (IsMissing(error)) return false;
    Add(ItemKind::RegistryKey, name).error = error;
    return true;
  }

  bool KeyListed(const std::string& name) const { return seenKeys_.count(UpperAscii(name)) != 0; }

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

// The monitor's service, when it is installed; only a Tarvel board has it removed.
void AddMonitorService(Reader& reader, bool tarvelBoard) {
  DWORD error = ProbeService(kMonitorService);
  if (error == ERROR_SERVICE_DOES_NOT_EXIST) return;
  // Kept, and not known to be there: nothing to say about it.
  if (!tarvelBoard && error != 0) return;
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
  // The GigE service, where it is installed: what a GigE board's removal deletes.
  bool gigeServiceThere = ProbeService(kGigeService) != ERROR_SERVICE_DOES_NOT_EXIST;
  if (status == ERROR_SUCCESS) {
    // As the step reads them, once it has deleted the subkeys that are no boards.
    for (const BoardEntry& board : ReadBoardList(boardKey, true)) {
      InventoryItem& item = reader.AddUtf8(ItemKind::Board, std::string("HKLM\\") + kBoardKey + "\\" + board.utf8);
      if (!board.problem.empty())
        item.skipReason = "passed over: " + board.problem + ", which no command line may carry; its driver tool "
                          "is not run, and its key goes with the registry catalogue";
      tarvel = tarvel || IsTarvelBoard(board.KindName());
      BoardCommandLines lines;
      BuildBoardCommandLines(system, directory, board.KindName(), lines, !board.problem.empty());
      for (const ChildCommand* command :
           {&lines.driver, &lines.filter, &lines.blockService, &lines.stopService, &lines.deleteService})
        if (command->line[0]) item.commands.push_back(Utf8FromAnsi(command->line));
      for (const ChildCommand* command : {&lines.driver, &lines.filter})
        if (command->line[0]) item.toolCommands.push_back(Utf8FromAnsi(command->line));
      item.removesGigeService = lines.deleteService.line[0] != '\0';
      if (item.removesGigeService && gigeServiceThere) item.evidence.push_back({ItemKind::Service, kGigeService});
    }
    RegCloseKey(boardKey);
  } else if (!IsMissing(static_cast<DWORD>(status))) {
    reader.Add(ItemKind::RegistryKey, std::string("HKLM\\") + kBoardKey).error = static_cast<DWORD>(status);
  }
  AddMonitorService(reader, tarvel);
  ChildCommand networkServer;
  BuildBoardNetworkServerCommandLine(system, networkServer);
  if (networkServer.line[0]) inventory.commands.push_back({"boards", Utf8FromAnsi(networkServer.line)});
}

// The DMA driver, when its service key or its driver file is there: its tool
// is to remove both. The network server's run follows the tool's.
void ReadDma(Reader& reader, const char* revisionText, Inventory& inventory, const char* windowsDirectory) {
  reader.SetStep("dma");
  char directory[kDriverCommandSize];
  QueryCurrentDirectory(directory);
  DmaTool tool = ChooseDmaTool(QueryVersion(), QueryProcessorArchitecture(), revisionText);
  if (tool == DmaTool::None) return;
  ChildCommand command;
  BuildDmaCommandLine(tool, directory, command);
  std::vector<EvidenceItem> evidence;
  if (!IsMissing(ProbeKey(HKEY_LOCAL_MACHINE, WideFromAnsi(kDmaServiceKey))))
    evidence.push_back({ItemKind::RegistryKey, std::string("HKLM\\") + kDmaServiceKey});
  char file[MAX_PATH];
  if (windowsDirectory[0] && BuildText(file, windowsDirectory, kDmaDriver) &&
      GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES)
    evidence.push_back({ItemKind::File, Utf8FromAnsi(file)});
  if (!evidence.empty()) {
    InventoryItem& item = reader.AddUtf8(ItemKind::Driver, kDmaDriverName);
    if (command.line[0]) item.commands.push_back(Utf8FromAnsi(command.line));
    item.toolCommands = item.commands;
    item.evidence = evidence;
  } else if (command.line[0]) {
    inventory.commands.push_back({"dma", Utf8FromAnsi(command.line)});
  }
  BuildDmaNetworkServerCommandLine(directory, command);
  if (command.line[0]) inventory.commands.push_back({"dma", Utf8FromAnsi(command.line)});
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
  ChooseInstallDirectory(revisionText, ReadInstallDirectoryFacts(), choice);
  if (choice.newerRelease && haveDrive && BuildText(path, drive, kParlowFolder)) reader.AddPath(path);

  // The older release's value is removed without stopping the processes.
  bool stopsProcesses = choice.newerRelease || choice.source != InstallDirectorySource::RegistryValue;
  for (const char* image : kBackgroundProcesses) {
    if (!IsProcessRunning(image)) continue;
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
    inventory.logonCommandKey = std::string("HKLM\\") + kRunOnceKey;
    inventory.logonCommandValue = kDeferredRemovalValue;
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
    } else if (IsRemnantOfRemoval(products, product)) {
      reader.AddUtf8(ItemKind::InstallerProduct, path);
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

}  // namespace

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
  ReadDma(reader, revisionText, inventory, windowsDirectory);
  ReadShortcuts(reader, windowsDirectory);
  ReadInstallDirectory(reader, inventory, revisionText, windowsDirectory);
  ReadRegistry(reader);
  if (everyProfile) ReadProfileKeys(reader);
  ReadLibraryFiles(reader, windowsDirectory);
  ReadInfPackages(reader, windowsDirectory);
  std::string why;
  inventory.fileWalk = FileWalkByHandle(&why) ? "by handle" : "by path: " + why;
  for (InventoryItem& item : inventory.items) {
    if (!item.keptReason.empty())
      item.status = ItemStatus::KeptByDesign;
    else if (item.error != 0)
      item.status = ItemStatus::Unreadable;
  }
  FoldItems(inventory.items);
  return inventory;
}
