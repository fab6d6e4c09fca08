// The machine generator: a seed chooses which of the vendor's items a machine
// holds, where, with which attributes and odd names, and which look-alikes
// stand beside them.
#include "safety_machine.h"

#include <algorithm>
#include <stdexcept>

#include "../portable/registry_expected_rows.h"
#include "safety_text.h"

namespace safety {
namespace {

// splitmix64: the same sequence on every compiler and library, so a seed
// names the same machine in the simulation and in a Wine prefix.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
  size_t Between(size_t low, size_t high) { return low + Below(high - low + 1); }
  bool Chance(unsigned percent) { return Below(100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& list) {
    return list[Below(list.size())];
  }
  template <typename T, size_t N>
  const T& Pick(const T (&list)[N]) {
    return list[Below(N)];
  }

 private:
  uint64_t state_;
};

std::string Hex(uint64_t value, size_t digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(digits, '0');
  for (size_t i = digits; i-- > 0; value >>= 4) out[i] = kDigits[value & 15];
  return out;
}

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }

// UTF-8 text of Latin-1 letters as code page 1252 bytes.
std::string AnsiOfLatin1(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      out += static_cast<char>(((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

const char kProductsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";
const char kBoardKey[] = "Software\\Velmora\\Imaging Board";
const char kLibraryKey[] = "Software\\Velmora\\Velmora Imaging Library";
const char kOlderReleaseKey[] = "SOFTWARE\\Velmora\\KIP\\LUMRunTime";
const char kVendorProvider[] = "Velmorex Ltd.- Imaging";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kUninstallKey32[] = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kProfileListKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const char kUserUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The catalogue products whose cached package each step sees (by row).
struct CatalogueProduct {
  int row;
  const char* code;
  const char* packageFate;  // "" when the run deletes the package, else why it stays
};
const CatalogueProduct kCatalogueProducts[] = {
    {41, "D3BDADF132C15117AC28250D473A7306", "package of a product the catalogue removes before the discovery walk"},
    {42, "493604D965DBDF07CBD9787843BDA16B", "package of a product the catalogue removes before the discovery walk"},
    {51, "29D92E1AC49FC9D3FCD85E486087B9F1", "package of a product the catalogue removes before the discovery walk"},
    {58, "418971715DAFE532CBA131606E950EB9", "package of a product the catalogue removes before the discovery walk"},
    {68, "474D491C63F739C69D360A09F4BD89EB", "package of a product the catalogue removes before the discovery walk"},
    {75, "1AA2C1FDC6EE8A564A38006F73D6564B", ""},  // the install-directory step deletes it
    {81, "B7DF34E1765EF2026957BECF995A489C", ""},  // the registry step deletes it before row 81
};

// Keeps the generated names of one machine apart: Windows compares names
// without regard to case, so two items may not differ by case alone, and
// nothing may lie below a file.
class Claims {
 public:
  bool Free(const std::string& id) const { return used_.count(UpperText(id)) == 0; }
  void Take(const std::string& id) { used_.insert(UpperText(id)); }

 private:
  std::set<std::string> used_;
};

class Generator {
 public:
  Generator(uint64_t seed, const Options& options) : rng_(seed), applications_(seed ^ 0xA5F1C3D7E9B2460Full) {
    m_.seed = seed;
    m_.options = options;
    // Every catalogue row is the vendor's whether this machine has it or
    // not: nothing foreign may be put below one.
    for (const ExpectedRow& row : kExpectedRows)
      vendorRoots_.insert(KeyId(HiveOfRow(row.root), MachinePath(row.root, row.path)));
  }

  Machine Build() {
    ChooseSystem();
    AddTools();
    AddForeignSurroundings();
    ChooseRelease();
    if (rng_.Chance(70)) AddCatalogueRows();
    AddCatalogueLookAlikes();
    if (sim() && rng_.Chance(50)) AddSecondProfile();
    if (rng_.Chance(60)) AddBoards();
    if (rng_.Chance(60)) AddInstallerProducts();
    if (rng_.Chance(50)) AddEnvironmentValues();
    if (rng_.Chance(70)) AddInstallFolders();
    if (rng_.Chance(60)) AddShortcuts();
    if (rng_.Chance(60)) AddSystemFiles();
    if (rng_.Chance(60)) AddInfFiles();
    if (m_.options.simulatedOnly && rng_.Chance(60)) AddProcesses();
    AddServices();
    return m_;
  }

 private:
  Random rng_;
  // The other applications draw from a stream of their own, so that adding
  // them left every other choice of a seed as it was.
  Random applications_;
  Machine m_;
  Claims fileClaims_;
  Claims keyClaims_;
  std::map<std::string, Owner> keyOwners_;
  std::set<std::string> vendorRoots_;   // ids of vendor items: everything below is the vendor's
  std::set<std::string> foreignItems_;  // ids of foreign items (keys of foreign values)
  bool allowLongPath_ = false;
  std::vector<std::string> linkTargets_;  // foreign folders a link may point at
  std::string otherApplication_;          // another vendor's registered install location
  std::vector<std::string> boardNames_;

  bool sim() const { return m_.options.simulatedOnly; }
  std::string drive() const { return m_.windowsDirectory.substr(0, 1); }
  std::string OnDrive(const std::string& rest) const { return drive() + rest; }

  // ---- names ---------------------------------------------------------------
  std::string NameChars(size_t length, bool forKey, bool codePageOnly = false) {
    static const char kPlain[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static const char kOdd[] = " _-&%!^()[]{}#@~,;=+'`$.";
    static const char kKeyOnly[] = "/*?\"<>|:";
    // Letters of the code page, in UTF-8 as every name is held.
    static const char* const kEightBit[] = {"\u00C0", "\u00C9", "\u00E9", "\u00F6",
                                            "\u00FC", "\u00DF", "\u00A7", "\u00E8"};
    std::string name;
    while (name.size() < length) {
      size_t kind = rng_.Below(10);
      if (kind < 7)
        name += kPlain[rng_.Below(sizeof kPlain - 1)];
      else if (kind < 9)
        name += kOdd[rng_.Below(sizeof kOdd - 1)];
      else if (forKey && rng_.Chance(50))
        name += kKeyOnly[rng_.Below(sizeof kKeyOnly - 1)];
      else if (sim() && (forKey || codePageOnly || rng_.Chance(50)))
        name += kEightBit[rng_.Below(sizeof kEightBit / sizeof kEightBit[0])];
      else if (sim())
        name += rng_.Pick(kOutsideCodePage);
      else
        name += kPlain[rng_.Below(sizeof kPlain - 1)];
    }
    return name;
  }

  // Characters of file names the ANSI code page cannot spell (UTF-8): Greek,
  // Cyrillic, Japanese, Polish, an emoji, and fullwidth forms its best fit
  // reads as '/', '.' and 'A'.
  const std::vector<std::string> kOutsideCodePage = {"\xCE\xA9",         "\xCE\xB1", "\xD0\x96", "\xE6\x97\xA5",
                                                     "\xE6\x9C\xAC",     "\xC5\x81", "\xC5\xBA",
                                                     "\xF0\x9F\x93\xB7", "\xEF\xBC\x8F", "\xEF\xBC\x8E",
                                                     "\xEF\xBC\xA1"};

  // A file or folder name Windows keeps as written: no leading dot, no
  // trailing dot or blank.
  std::string FileName(size_t maxLength = 24, bool codePageOnly = false) {
    std::string name = NameChars(rng_.Between(1, maxLength), false, codePageOnly);
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    while (!name.empty() && (name[0] == '.' || name[0] == ' ')) name.erase(0, 1);
    return name.empty() ? "x" + Hex(rng_.Next(), 3) : name;
  }

  std::string KeyName(size_t maxLength = 24) {
    std::string name = NameChars(rng_.Between(1, maxLength), true);
    return name;
  }

  // ---- items -----------------------------------------------------------------
  // Every file item claims its path and its parents; a name already taken
  // (in another case, too) is not used twice.
  bool ClaimPath(const std::string& path) {
    if (!fileClaims_.Free("item " + path)) return false;
    std::vector<std::string> parts = Split(path, true);
    std::string prefix;
    for (size_t i = 0; i < parts.size(); ++i) {
      prefix += (i ? "\\" : "") + parts[i];
      if (!fileClaims_.Free("leaf " + prefix)) return false;  // below a file or link
    }
    return true;
  }

  void TakePath(const std::string& path, bool leaf) {
    std::vector<std::string> parts = Split(path, true);
    std::string prefix;
    for (size_t i = 0; i < parts.size(); ++i) {
      prefix += (i ? "\\" : "") + parts[i];
      fileClaims_.Take("item " + prefix);
    }
    if (leaf) fileClaims_.Take("leaf " + prefix);
  }

  // A foreign item never lies below a vendor root, and no vendor root above a
  // foreign item: whatever the run deletes must be the vendor's.
  bool Allowed(const std::string& id, Owner owner) const {
    if (owner == Owner::Foreign) {
      for (size_t cut = id.size(); cut != std::string::npos; cut = cut ? id.rfind('\\', cut - 1) : std::string::npos) {
        if (vendorRoots_.count(id.substr(0, cut))) return false;
        if (cut == 0) break;
      }
      return true;
    }
    if (foreignItems_.count(id)) return false;
    auto below = foreignItems_.lower_bound(id + "\\");
    return below == foreignItems_.end() || below->compare(0, id.size() + 1, id + "\\") != 0;
  }

  void Record(const std::string& id, Owner owner) {
    (owner == Owner::Vendor ? vendorRoots_ : foreignItems_).insert(id);
  }

  // Paths stay within MAX_PATH unless an entry is meant to exceed it.
  bool Fits(const std::string& path) const { return allowLongPath_ || path.size() < 240; }

  bool Dir(const std::string& path, Owner owner, uint32_t attributes = kDirectory) {
    if (!Fits(path) || !Allowed(FileId(path), owner) || !ClaimPath(path)) return false;
    Record(FileId(path), owner);
    TakePath(path, false);
    m_.dirs.push_back({path, owner, attributes | kDirectory});
    return true;
  }

  FileItem* File(const std::string& path, Owner owner, const std::string& content = "",
                 uint32_t attributes = kArchive) {
    if (!Fits(path) || !Allowed(FileId(path), owner) || !ClaimPath(path)) return nullptr;
    Record(FileId(path), owner);
    TakePath(path, true);
    m_.files.push_back({path, content.empty() ? "data of " + path : content, attributes, owner});
    return &m_.files.back();
  }

  bool Link(const std::string& path, const std::string& target, bool directory, Owner owner) {
    if (!Fits(path) || !Allowed(FileId(path), owner) || !ClaimPath(path)) return false;
    Record(FileId(path), owner);
    TakePath(path, true);
    m_.links.push_back({path, target, directory, owner});
    return true;
  }

  // True when the key now exists with that owner (it may have been added before).
  bool Key(Hive hive, const std::string& path, Owner owner) {
    std::string id = KeyId(hive, path);
    auto known = keyOwners_.find(id);
    if (known != keyOwners_.end()) return known->second == owner;
    if (!Allowed(id, owner)) return false;
    Record(id, owner);
    keyOwners_[id] = owner;
    m_.keys.push_back({hive, path, owner, false, false, ""});
    return true;
  }

  // A vendor value may sit in a foreign key (the environment values); a
  // foreign value never in a vendor key.
  bool Value(Hive hive, const std::string& path, const std::string& name, uint32_t type,
             const std::string& data, Owner owner) {
    std::string id = ValueId(hive, path, name);
    if (!keyClaims_.Free(id)) return false;
    if (owner == Owner::Foreign && !Allowed(KeyId(hive, path), owner)) return false;
    keyClaims_.Take(id);
    if (owner == Owner::Foreign) Record(KeyId(hive, path), owner);
    m_.values.push_back({hive, path, name, type, data, owner});
    return true;
  }

  std::string RandomData(uint32_t* type) {
    switch (rng_.Below(6)) {
      case 0:
        *type = kRegDword;
        return std::string("\x01\x00\x00\x80", 4);
      case 1:
        *type = kRegBinary;
        return std::string("\x00\xFF\x10\x00\x7F", rng_.Between(0, 5));
      case 2:
        *type = kRegMultiSz;
        return std::string("one\0two\0\0", 9);
      case 3:
        *type = kRegExpandSz;
        return Sz("%SystemRoot%\\" + FileName());
      case 4:
        *type = kRegSz;
        return FileName();  // stored without its terminator
      default:
        *type = kRegSz;
        return Sz(NameChars(rng_.Between(0, 40), false));
    }
  }

  // Names no code page spells, as a user of any language may give a key:
  // Japanese, Greek, Polish, an emoji, and fullwidth signs that the code
  // page's best fit reads as "x/../victim".
  std::string WideName() {
    static const char* const kNames[] = {u8"\u65E5\u672C\u8A9E", u8"\u03A9\u03BC\u03AD\u03B3\u03B1",
                                         u8"\u0141\u00F3d\u017A", u8"\U0001F600", u8"x\uFF0F\uFF0E\uFF0E\uFF0Fvictim"};
    return kNames[rng_.Below(sizeof kNames / sizeof kNames[0])];
  }

  // A registry link at path to another vendor's key: the vendor's key (it
  // goes as itself), never its target.
  void LinkKey(Hive hive, const std::string& path) {
    static const char* const kTargets[] = {"SOFTWARE\\Contoso\\Viewer", "SOFTWARE\\Contoso"};
    std::string target = std::string("\\REGISTRY\\MACHINE\\") + kTargets[rng_.Below(2)];
    size_t keys = m_.keys.size();
    if (!Key(hive, path, Owner::Vendor) || m_.keys.size() == keys) return;
    m_.keys.back().linkTarget = target;
    std::string data;  // UTF-16, without a terminator, as Windows keeps it
    for (char c : target) data += std::string(1, c) + '\0';
    Value(hive, path, "SymbolicLinkValue", kRegLink, data, Owner::Vendor);
  }

  // A vendor key with values and a random subtree; in the simulation some
  // keys refuse deletion or opening, some names are long or outside the code
  // page, and some keys are links to other vendors' keys.
  void KeyTree(Hive hive, const std::string& path, int depth, bool refusalsAllowed) {
    size_t valueCount = rng_.Between(0, 3);
    for (size_t i = 0; i < valueCount; ++i) {
      uint32_t type = kRegSz;
      std::string data = RandomData(&type);
      Value(hive, path, i == 0 && rng_.Chance(40) ? "" : KeyName(12), type, data, Owner::Vendor);
    }
    bool hostile = refusalsAllowed && sim() && m_.options.blockers;
    if (hostile && rng_.Chance(6)) LinkKey(hive, path + "\\" + KeyName(10));
    if (depth <= 0) return;
    size_t children = rng_.Between(0, depth >= 3 ? 3 : 2);
    for (size_t i = 0; i < children; ++i) {
      bool longName = sim() && m_.options.blockers && rng_.Chance(4);
      std::string name = longName ? NameChars(200, true) + std::string(55, 'L') : KeyName(20);
      if (hostile && rng_.Chance(10)) name = KeyName(8) + WideName();
      std::string child = path + "\\" + name;
      if (!Key(hive, child, Owner::Vendor)) continue;
      if (refusalsAllowed && sim() && m_.options.blockers && rng_.Chance(5)) {
        KeyItem& item = m_.keys.back();
        if (rng_.Chance(50))
          item.refuseDelete = true;
        else
          item.refuseOpen = true;
      }
      KeyTree(hive, child, depth - 1, refusalsAllowed);
    }
  }

  // A folder of the vendor's with files of every kind: read-only, hidden and
  // system files, files in use, ".svn" and other dot-named entries, links to
  // folders that are not the vendor's.
  void FileTree(const std::string& path, int depth) {
    size_t entries = rng_.Between(0, depth >= 2 ? 5 : 3);
    for (size_t i = 0; i < entries; ++i) {
      size_t kind = rng_.Below(20);
      std::string name = FileName();
      if (kind < 8) {
        static const uint32_t kAttributes[] = {kArchive, kArchive, kReadOnly, kHidden, kSystem,
                                               kReadOnly | kHidden | kSystem, kNormal};
        FileItem* file = File(path + "\\" + name, Owner::Vendor, "", rng_.Pick(kAttributes));
        if (file && sim() && m_.options.blockers && rng_.Chance(6)) file->inUse = true;
      } else if (kind < 13) {
        if (depth > 0 && Dir(path + "\\" + name, Owner::Vendor,
                             rng_.Chance(20) ? kReadOnly | kHidden : kDirectory))
          FileTree(path + "\\" + name, depth - 1);
      } else if (kind < 15) {
        std::string svn = rng_.Chance(50) ? ".svn" : ".svn-base";
        if (Dir(path + "\\" + svn, Owner::Vendor, kHidden)) FileTree(path + "\\" + svn, depth - 1);
      } else if (kind < 16) {
        if (!m_.options.blockers || !rng_.Chance(40)) continue;
        static const char* const kDotNames[] = {".git", ".gitignore", ".vs", ".keep", "..x", ".SVN"};
        std::string dot = rng_.Pick(kDotNames);
        if (dot == ".git" || dot == ".vs" || dot == ".SVN") {
          if (Dir(path + "\\" + dot, Owner::Vendor, kHidden)) File(path + "\\" + dot + "\\HEAD", Owner::Vendor);
        } else {
          File(path + "\\" + dot, Owner::Vendor);
        }
      } else if (kind < 18) {
        if (m_.options.directoryLinks && !linkTargets_.empty())
          Link(path + "\\" + name + " link", rng_.Pick(linkTargets_), true, Owner::Vendor);
      } else if (kind < 19) {
        if (m_.options.fileLinks) Link(path + "\\" + name + ".lnk2", "C:\\Data\\settings.ini", false, Owner::Vendor);
      } else if (sim() && m_.options.blockers && rng_.Chance(30)) {
        // An entry whose path does not fit MAX_PATH: the walk stops there.
        size_t room = path.size() < 250 ? 262 - path.size() : 8;
        allowLongPath_ = true;
        File(path + "\\" + std::string(room, 'W') + ".dat", Owner::Vendor);
        allowLongPath_ = false;
      }
    }
  }

  // ---- the machine ------------------------------------------------------------
  void ChooseSystem() {
    if (sim() && rng_.Chance(15)) {
      m_.windowsDirectory = "D:\\Windows";
      m_.systemDirectory = "D:\\Windows\\system32";
    } else if (!sim()) {
      m_.windowsDirectory = "C:\\windows";
      m_.systemDirectory = "C:\\windows\\system32";
      m_.majorVersion = m_.options.majorVersion;
    }
    if (sim()) {
      static const uint32_t kVersions[] = {6, 6, 6, 5, 4};
      m_.majorVersion = rng_.Pick(kVersions);
      m_.amd64 = rng_.Chance(80);
    }
    m_.arguments = rng_.Chance(30) ? "silent noreboot msi" : "silent noreboot";
    m_.defaultInstallDirectory = OnDrive(":\\Program Files\\Velmora Imaging");
    // The known folders as the simulation reports them (Windows 10's layout on
    // the Windows directory's drive), or as a Wine prefix does.
    std::string users = sim() ? ":\\Users" : ":\\users";
    m_.commonPrograms = OnDrive(":\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    m_.commonDesktop = OnDrive(users + "\\Public\\Desktop");
    m_.commonDocuments = OnDrive(users + "\\Public\\Documents");
    m_.programFilesX86 = OnDrive(m_.amd64 ? ":\\Program Files (x86)" : ":\\Program Files");
    // The folders the run removes by name are the vendor's on every machine.
    std::vector<std::string> roots = {m_.defaultInstallDirectory, OnDrive(":\\Parlow"),
                                      m_.windowsDirectory + "\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}",
                                      m_.windowsDirectory + "\\Installer\\{17179814-FAD5-235E-BC1A-1306E659E09B}"};
    for (const std::string& folder : SharedDocumentsFolders(m_)) roots.push_back(folder);
    for (const std::string& folder : ProductInstallerFolders(m_)) roots.push_back(folder);
    for (const std::string& folder : roots) vendorRoots_.insert(FileId(folder));
  }

  // The program's folder with the vendor's tools: they are not the vendor's
  // installation and stay.
  void AddTools() {
    for (const char* tool : {"drvmanage.exe", "drvinst.exe", "lumdrv.exe", "LumNetworkServer.exe",
                             "MsiCleanup\\MsiCleanup.exe"})
      File(m_.workingDirectory + "\\" + tool, Owner::Foreign, "MZ tool");
  }

  // Things of other vendors where a wrong path would reach them: the shared
  // top-level folders, the Windows directory, the working directory, and the
  // folders that links inside the vendor's folders point at.
  void AddForeignSurroundings() {
    File(OnDrive(":\\Program Files\\Contoso\\app.exe"), Owner::Foreign, "MZ other vendor");
    File(OnDrive(":\\Program Files (x86)\\Contoso\\app32.exe"), Owner::Foreign, "MZ other vendor");
    File(OnDrive(":\\ProgramData\\Contoso\\settings.ini"), Owner::Foreign, "[x]");
    File(OnDrive(":\\Users\\Public\\Documents\\Contoso\\notes.txt"), Owner::Foreign, "notes");
    File(OnDrive(":\\Documents and Settings\\All Users\\Start Menu\\Programs\\Contoso\\Contoso.lnk"),
         Owner::Foreign, "L");
    File(m_.windowsDirectory + "\\contoso-shell.exe", Owner::Foreign, "MZ windows");
    File(m_.windowsDirectory + "\\Temp\\Lum\\keep.txt", Owner::Foreign, "windows temp");
    File(m_.systemDirectory + "\\contoso32.dll", Owner::Foreign, "MZ windows", kArchive | kSystem);
    File(m_.windowsDirectory + "\\Installer\\contoso.msi", Owner::Foreign, "msi of another vendor");
    // What a relative or climbing "Directory" would name from the working directory.
    File(m_.workingDirectory + "\\Program Files\\Velmora Imaging\\tool.cfg", Owner::Foreign, "relative trap");
    File("C:\\Velmora Imaging\\keep.txt", Owner::Foreign, "parent trap");
    File("C:\\pagefile.sys", Owner::Foreign, "root file", kArchive | kHidden | kSystem);
    File("C:\\Data\\Shared\\report.txt", Owner::Foreign, "shared");
    File("C:\\Data\\Shared\\deep\\more.txt", Owner::Foreign, "shared deeper", kReadOnly);
    File("C:\\Data\\settings.ini", Owner::Foreign, "file link target");
    linkTargets_ = {"C:\\Data\\Shared", "C:\\Data", m_.windowsDirectory, OnDrive(":\\Program Files"),
                    "C:\\"};

    File(OnDrive(":\\Program Files\\Common Files\\Contoso\\shared.dll"), Owner::Foreign, "MZ shared component");
    AddOtherApplications();

    Key(Hive::LocalMachine, "SOFTWARE\\Contoso\\Viewer", Owner::Foreign);
    Value(Hive::LocalMachine, "SOFTWARE\\Contoso\\Viewer", "Version", kRegSz, Sz("1.0"), Owner::Foreign);
    Value(Hive::CurrentUser, "Software\\Contoso", "Theme", kRegDword, std::string("\x02\0\0\0", 4), Owner::Foreign);
  }

  // Another vendor's application registered in one of the three Uninstall
  // keys, which a "Directory" value may name or hold; and the vendor's own
  // registered product inside the default folder, which refuses nothing.
  void AddOtherApplications() {
    otherApplication_ = "C:\\Apps\\Contoso Scope " + Hex(applications_.Next(), 2);
    size_t view = applications_.Below(3);
    if (view == 1 && !m_.amd64) view = 0;  // 32-bit Windows has no 32-bit view of its own
    Hive hive = view == 2 ? Hive::CurrentUser : Hive::LocalMachine;
    std::string key = std::string(view == 0 ? kUninstallKey : view == 1 ? kUninstallKey32 : kUserUninstallKey) +
                      "\\Contoso Scope";
    if (Key(hive, key, Owner::Foreign)) {
      Value(hive, key, "Publisher", kRegSz, Sz("Contoso Ltd."), Owner::Foreign);
      Value(hive, key, "InstallLocation", kRegSz, Sz(otherApplication_ + (applications_.Chance(50) ? "\\" : "")),
            Owner::Foreign);
    }
    File(otherApplication_ + "\\scope.exe", Owner::Foreign, "MZ other application");
    std::string vendorKey = std::string(kUninstallKey) + "\\Velmora Imaging Lum Runtime";
    if (applications_.Chance(50) && Key(Hive::LocalMachine, vendorKey, Owner::Foreign)) {
      Value(Hive::LocalMachine, vendorKey, "Publisher", kRegSz, Sz("Velmora Imaging, Inc."), Owner::Foreign);
      Value(Hive::LocalMachine, vendorKey, "InstallLocation", kRegSz, Sz(m_.defaultInstallDirectory + "\\bin"),
            Owner::Foreign);
    }
  }

  // Catalogue rows, each with values and a random subtree.
  void AddCatalogueRows() {
    bool all = rng_.Chance(8);
    for (const ExpectedRow& row : kExpectedRows) {
      if (!all && !rng_.Chance(12)) continue;
      Hive hive = HiveOfRow(row.root);
      std::string path = MachinePath(row.root, row.path);
      // A user's own key may be a link to another vendor's.
      if (hive == Hive::CurrentUser && row.number != 22 && sim() && m_.options.blockers && rng_.Chance(10)) {
        LinkKey(hive, path);
        continue;
      }
      if (!Key(hive, path, Owner::Vendor)) continue;
      KeyTree(hive, path, static_cast<int>(rng_.Between(0, 3)), true);
      AddCatalogueProductProperties(row.number, hive, path);
      // The row's own key may refuse too; not the keys that other steps read
      // (the board and library keys, the products with cached packages).
      static const int kReadElsewhere[] = {25, 26, 74, 75, 81};
      bool readElsewhere = std::find(std::begin(kReadElsewhere), std::end(kReadElsewhere), row.number) !=
                           std::end(kReadElsewhere);
      if (!readElsewhere && sim() && m_.options.blockers && rng_.Chance(3)) {
        for (KeyItem& key : m_.keys)
          if (key.hive == hive && key.path == path) (rng_.Chance(50) ? key.refuseDelete : key.refuseOpen) = true;
      }
    }
  }

  // A second user's profile whose hives are loaded, as while that user is
  // logged on: the vendor's per-user keys and classes beside other vendors'
  // and look-alikes. They are the run's only with "allusers"; without it they
  // must stay like any other user's keys.
  void AddSecondProfile() {
    const std::string sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
    Value(Hive::LocalMachine, std::string(kProfileListKey) + "\\" + sid, "ProfileImagePath", kRegExpandSz,
          Sz("%SystemDrive%\\Users\\labuser"), Owner::Foreign);
    bool everyone = rng_.Chance(60);
    if (everyone) m_.arguments += " allusers";
    Owner owner = everyone ? Owner::Vendor : Owner::Foreign;
    for (const ExpectedRow& row : kExpectedRows) {
      std::string root = row.root;
      if ((root != "HKCU" && root != "HKCR") || !rng_.Chance(root == "HKCU" ? 60 : 8)) continue;
      std::string path = sid + (root == "HKCR" ? "_Classes\\" : "\\") + row.path;
      if (!Key(Hive::Users, path, owner)) continue;
      if (everyone) {
        KeyTree(Hive::Users, path, static_cast<int>(rng_.Between(0, 2)), true);
      } else {
        Value(Hive::Users, path, "Keep", kRegSz, Sz("not cleaned without allusers"), owner);
      }
    }
    for (const char* other : {"\\Software\\Velmora2", "\\Software\\Velmora Imaging Viewer", "\\Software\\Contoso\\Viewer",
                              "_Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}"})
      if (rng_.Chance(50) && Key(Hive::Users, sid + other, Owner::Foreign))
        Value(Hive::Users, sid + other, "Keep", kRegSz, Sz("other"), Owner::Foreign);
  }

  static Hive HiveOfRow(const std::string& root) {
    if (root == "HKCU") return Hive::CurrentUser;
    if (root == "HKU") return Hive::Users;
    return Hive::LocalMachine;
  }

  static std::string MachinePath(const std::string& root, const std::string& path) {
    return root == "HKCR" ? "SOFTWARE\\Classes\\" + path : path;
  }

  // The catalogue products keep their installer data with a cached package.
  void AddCatalogueProductProperties(int row, Hive hive, const std::string& path) {
    for (const CatalogueProduct& product : kCatalogueProducts) {
      if (product.row != row) continue;
      std::string properties = path + "\\InstallProperties";
      if (!Key(hive, properties, Owner::Vendor)) return;
      std::string package = m_.windowsDirectory + "\\Installer\\" + Hex(rng_.Next(), 5) + ".msi";
      Value(hive, properties, "Publisher", kRegSz,
            Sz(rng_.Chance(50) ? "Velmora Imaging" : "Velmorex"), Owner::Vendor);
      Value(hive, properties, "LocalPackage", kRegSz, Sz(package), Owner::Vendor);
      if (!File(package, Owner::Vendor, "cached msi")) return;
      // Every one lies in the cache; some stay because their product is gone
      // before anything looks for its package.
      m_.cachePackages[UpperText(product.code)] = package;
      if (*product.packageFate) m_.keptByDesign[FileId(package)] = product.packageFate;
    }
  }

  // Beside every catalogue row: keys whose names begin like the row's, and
  // values in the row's parent. None of them is the vendor's.
  void AddCatalogueLookAlikes() {
    for (const ExpectedRow& row : kExpectedRows) {
      if (!rng_.Chance(10)) continue;
      Hive hive = HiveOfRow(row.root);
      std::string path = MachinePath(row.root, row.path);
      std::string parent = path.substr(0, path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\'));
      std::string last = path.substr(parent.empty() ? 0 : parent.size() + 1);
      std::vector<std::string> beside = {path + "2", path + " Extra", path + ".bak", path + "_old"};
      if (last.size() > 1) beside.push_back((parent.empty() ? "" : parent + "\\") + last.substr(0, last.size() - 1));
      std::string lookAlike = rng_.Pick(beside);
      if (Key(hive, lookAlike, Owner::Foreign)) {
        Value(hive, lookAlike, "Keep", kRegSz, Sz("not the vendor's"), Owner::Foreign);
        if (rng_.Chance(50) && Key(hive, lookAlike + "\\Inside", Owner::Foreign))
          Value(hive, lookAlike + "\\Inside", "", kRegSz, Sz("inside"), Owner::Foreign);
      }
      if (!parent.empty()) Value(hive, parent, "Keep " + Hex(rng_.Next(), 4), kRegSz, Sz("parent"), Owner::Foreign);
    }
    // The vendor's own folder in the registry holds keys of other products too.
    for (const char* other : {"SOFTWARE\\Velmora\\Imaging Board Tools", "SOFTWARE\\Velmora\\Velmora Imaging Library 2",
                              "Software\\Velmorex2", "Software\\Velmorexx\\Sub", "SOFTWARE\\Velmora\\Other Product"}) {
      if (!rng_.Chance(40)) continue;
      if (Key(Hive::LocalMachine, other, Owner::Foreign))
        Value(Hive::LocalMachine, other, "Keep", kRegSz, Sz("other product"), Owner::Foreign);
    }
    if (rng_.Chance(40) && Key(Hive::CurrentUser, "Software\\Velmora2", Owner::Foreign))
      Value(Hive::CurrentUser, "Software\\Velmora2", "Keep", kRegSz, Sz("other"), Owner::Foreign);
  }

  // Board types under the board key: Tarvel, GigE and plain names, odd
  // characters, names up to 255 characters, and the three non-board subkeys.
  void AddBoards() {
    if (!Key(Hive::LocalMachine, kBoardKey, Owner::Vendor)) return;
    static const char* const kPrefixes[] = {"Tarvel", "DruvanGigE", "vlxGigE", "tarvel", "DRUVANGIGE",
                                            "Parlow-CL", "Falcro", ""};
    size_t count = rng_.Chance(10) ? rng_.Between(20, 60) : rng_.Between(0, 6);
    for (size_t i = 0; i < count; ++i) {
      std::string name = rng_.Pick(kPrefixes);
      size_t extra = rng_.Chance(10) ? 255 - name.size() : rng_.Between(name.empty() ? 1 : 0, 16);
      name += NameChars(extra, true);
      std::string path = std::string(kBoardKey) + "\\" + name;
      if (!Key(Hive::LocalMachine, path, Owner::Vendor)) continue;
      boardNames_.push_back(name);
      KeyTree(Hive::LocalMachine, path, static_cast<int>(rng_.Between(0, 1)), true);
    }
    for (const char* nonBoard : {"Host", "gpu", "VGA"}) {
      if (!rng_.Chance(40)) continue;
      std::string path = std::string(kBoardKey) + "\\" + nonBoard;
      if (Key(Hive::LocalMachine, path, Owner::Vendor)) KeyTree(Hive::LocalMachine, path, 1, false);
    }
  }

  // The library release and its "Directory" value: a folder of the library,
  // or one of the dangerous forms, which the run must take as no value.
  void ChooseRelease() {
    m_.newerRelease = rng_.Chance(60);
    static const char* const kNewer[] = {"9.0", "10.0", "8.2", "7.6", "9.5.2", " 9", "1e1"};
    static const char* const kOlder[] = {"7.5", "7.0", "", "abc", "-3", "0"};
    std::string revisionKey = kLibraryKey;
    bool libraryKey = m_.newerRelease || rng_.Chance(50);
    if (libraryKey && Key(Hive::LocalMachine, revisionKey, Owner::Vendor)) {
      if (m_.newerRelease || rng_.Chance(70))
        Value(Hive::LocalMachine, revisionKey, "Revision", kRegSz,
              Sz(m_.newerRelease ? rng_.Pick(kNewer) : rng_.Pick(kOlder)), Owner::Vendor);
    }
    // Older releases name their folder under another key, which no step deletes.
    std::string directoryKey = m_.newerRelease ? revisionKey : kOlderReleaseKey;
    Owner directoryOwner = m_.newerRelease ? Owner::Vendor : Owner::Foreign;
    if (!m_.newerRelease && rng_.Chance(70)) Key(Hive::LocalMachine, directoryKey, Owner::Foreign);
    if ((m_.newerRelease && !libraryKey) || !rng_.Chance(80)) return;

    if (rng_.Chance(55)) {
      std::string text = AcceptedDirectory();
      if (text.empty()) return;
      m_.directoryAccepted = true;
      m_.directoryText = text;
      uint32_t type = rng_.Chance(80) ? kRegSz : kRegExpandSz;
      std::string data = AnsiOfLatin1(text);  // the folder's path is UTF-8, the value the code page's
      Value(Hive::LocalMachine, directoryKey, "Directory", type, rng_.Chance(85) ? Sz(data) : data,
            directoryOwner);
    } else {
      std::string data = DangerousDirectory();
      Value(Hive::LocalMachine, directoryKey, "Directory", rng_.Chance(80) ? kRegSz : kRegBinary, data,
            directoryOwner);
    }
  }

  std::string AcceptedDirectory() {
    std::string d = drive();
    switch (rng_.Below(sim() ? 9 : 6)) {
      case 0: return m_.defaultInstallDirectory;
      case 1: return m_.defaultInstallDirectory + "\\";
      case 2: return d + ":/program files/velmora imaging";
      case 3: return d + ":\\Velmora\\Lum " + Hex(rng_.Next(), 2);
      case 4: return d + ":\\Lum & Co %PATH% !x (1)";
      case 5: return d + ":\\Vendor\\" + std::string(rng_.Between(60, 150), 'v') + "\\Velmora Imaging";
      case 6: return "E:\\Imaging\\Velmora Lum";
      case 7: {
        // Any name, but not one that reads like an 8.3 alias ("~1"), which
        // could name another folder and is refused as such.
        // The value is read through the code page: its letters are the code page's.
        std::string name = FileName(40, true);
        for (size_t i = 0; i + 1 < name.size(); ++i)
          if (name[i] == '~' && name[i + 1] >= '0' && name[i + 1] <= '9') name[i] = '-';
        return d + ":\\Velmora\\" + name;
      }
      default: {
        // The registered folder is itself a link: only the link goes.
        std::string link = d + ":\\Lum Link " + Hex(rng_.Next(), 2);
        if (!m_.options.directoryLinks || !Link(link, "C:\\Data\\Shared", true, Owner::Vendor)) return "";
        return link;
      }
    }
  }

  std::string DangerousDirectory() {
    std::string d = drive();
    const std::string& w = m_.windowsDirectory;
    std::vector<std::string> forms = {
        "",
        " ",
        d + ":",
        d + ":\\",
        d + ":/",
        w,
        w + "\\",
        UpperText(w),
        m_.systemDirectory,
        w + "\\Temp\\Lum",
        "Program Files\\Velmora Imaging",
        "\\Program Files\\Velmora Imaging",
        "..\\Velmora Imaging",
        m_.defaultInstallDirectory + "\\..",
        d + ":\\Program Files\\..\\Program Files\\Velmora Imaging",
        d + ":\\..",
        d + ":\\Program Files",
        d + ":\\Program Files\\",
        d + ":\\PROGRAM FILES",
        d + ":\\Users",
        d + ":\\ProgramData",
        d + ":\\Documents and Settings",
        d + ":\\Program Files (x86)",
        d + ":\\Program Files.",
        d + ":\\Program Files\\.\\Velmora Imaging",
        d + ":\\Program Files\\Common Files",
        d + ":\\Users\\Public",
        otherApplication_,
        otherApplication_ + "\\",
        "C:\\Apps",
        "\\\\?\\" + m_.defaultInstallDirectory,
        "\\\\server\\share\\Velmora",
        d + ":\\PROGRA~1\\VELMOR~1",
        m_.defaultInstallDirectory + "\\*",
        d + ":\\Velmora\\a:b",
        std::string("\x01\x02\x03", 3),
        d + ":\\Program Files\\Velmora Imaging\x07",
    };
    std::string text = rng_.Pick(forms);
    if (rng_.Chance(10)) return std::string(1100, 'x');  // longer than the run reads
    return Sz(text);
  }

  // Vendor products found by their publisher, with cached packages; beside
  // them products whose publisher only looks like the vendor's, and vendor
  // products whose LocalPackage names a file outside the installer cache.
  void AddInstallerProducts() {
    size_t count = rng_.Between(1, 5);
    for (size_t i = 0; i < count; ++i) {
      std::string code = Hex(rng_.Next(), 16) + Hex(rng_.Next(), 16);
      std::string product = std::string(kProductsKey) + "\\" + code;
      std::string properties = product + "\\InstallProperties";
      size_t kind = rng_.Below(10);
      bool vendor = kind < 6;
      Owner owner = vendor ? Owner::Vendor : Owner::Foreign;
      if (!Key(Hive::LocalMachine, product, owner)) continue;
      if (kind == 9) {  // no InstallProperties: passed over
        Value(Hive::LocalMachine, product, "Keep", kRegSz, Sz("no properties"), owner);
        continue;
      }
      Key(Hive::LocalMachine, properties, owner);
      if (vendor) {
        static const char* const kVendorPublishers[] = {"Velmora Imaging", "Velmora Imaging, Inc.",
                                                        "The Velmora Imaging Group", "Velmora Imagingworks"};
        Value(Hive::LocalMachine, properties, "Publisher", kRegSz, Sz(rng_.Pick(kVendorPublishers)), owner);
        KeyTree(Hive::LocalMachine, product, static_cast<int>(rng_.Between(0, 2)), true);
        if (sim() && m_.options.blockers && rng_.Chance(8)) {
          // Its properties cannot be read: the walk cannot tell it is the vendor's.
          for (KeyItem& key : m_.keys)
            if (key.path == properties) key.refuseOpen = true;
        }
      } else {
        static const char* const kLookAlikes[] = {"velmora imaging", "VELMORA IMAGING", "Velmoran Imaging",
                                                  "Velmora Imagin", "Velmora  Imaging", "Contoso"};
        if (kind == 8) {
          std::string publisher = std::string(1200, 'p') + "Velmora Imaging";  // cannot be read whole
          Value(Hive::LocalMachine, properties, "Publisher", kRegSz, Sz(publisher), owner);
        } else if (kind == 7 && rng_.Chance(50)) {
          Value(Hive::LocalMachine, properties, "Publisher", kRegSz,
                std::string("Contoso\0Velmora Imaging\0", 24), owner);
        } else {
          Value(Hive::LocalMachine, properties, "Publisher", kRegSz, Sz(rng_.Pick(kLookAlikes)), owner);
        }
      }
      AddPackage(code, properties, owner);
    }
  }

  void AddPackage(const std::string& code, const std::string& properties, Owner owner) {
    const std::string& w = m_.windowsDirectory;
    std::string package = w + "\\Installer\\" + Hex(rng_.Next(), 6) + ".msi";
    if (owner == Owner::Foreign || rng_.Chance(75)) {
      if (!File(package, owner, "cached msi", rng_.Chance(15) ? kReadOnly : kArchive)) return;
      FileItem& file = m_.files.back();
      if (owner == Owner::Vendor && sim() && m_.options.blockers && rng_.Chance(10)) file.inUse = true;
      Value(Hive::LocalMachine, properties, "LocalPackage", kRegSz, Sz(package), owner);
      if (owner == Owner::Vendor) m_.cachePackages[UpperText(code)] = package;
      return;
    }
    // A LocalPackage that names a file outside the cache: the file is not the vendor's.
    std::string victim = w + "\\system32\\victim" + Hex(rng_.Next(), 3) + ".dll";
    std::vector<std::string> values = {victim,
                                       w + "\\Installer\\..\\system32\\" + victim.substr(victim.rfind('\\') + 1),
                                       "victim.msi",
                                       w + "\\Installer",
                                       w + "\\Installer\\",
                                       w + "\\Installer\\sub\\..\\..\\contoso-shell.exe",
                                       w + "\\Installer\\ ..\\contoso-shell.exe",
                                       "C:\\Data\\settings.ini"};
    std::string value = rng_.Pick(values);
    File(victim, Owner::Foreign, "MZ victim");
    File(m_.workingDirectory + "\\victim.msi", Owner::Foreign, "victim in the working directory");
    Value(Hive::LocalMachine, properties, "LocalPackage", kRegSz, Sz(value), owner);
  }

  void AddEnvironmentValues() {
    for (const char* name : {"genicam_root", "LUM_GENICAM_PATH", "Lum_Path", "tarvel", "PARLOW"})
      if (rng_.Chance(60))
        Value(Hive::LocalMachine, kSystemEnvironment, name, kRegExpandSz, Sz("C:\\Lum\\" + FileName()),
              Owner::Vendor);
    for (const char* name : {"Path", "lum_path2", "Tarvel_Home", "GENICAM_ROOT_OLD", "Lum"})
      if (rng_.Chance(50))
        Value(Hive::LocalMachine, kSystemEnvironment, name, kRegSz, Sz("keep"), Owner::Foreign);
    if (rng_.Chance(40)) {
      std::string sub = std::string(kSystemEnvironment) + "\\Nested";
      Value(Hive::LocalMachine, sub, "lum_path", kRegSz, Sz("keep"), Owner::Foreign);
    }
    for (const char* key : {kControlSet001Environment, kControlSet003Environment})
      if (rng_.Chance(60)) Value(Hive::LocalMachine, key, "Lum_Path", kRegSz, Sz("x"), Owner::Vendor);
    if (rng_.Chance(50))
      Value(Hive::LocalMachine, "SYSTEM\\ControlSet002\\Control\\Session Manager\\Environment", "Lum_Path",
            kRegSz, Sz("keep"), Owner::Foreign);
    if (rng_.Chance(50)) Value(Hive::LocalMachine, kControlSet001Environment, "Path", kRegSz, Sz("keep"), Owner::Foreign);
  }

  // The installation directory (the registered one or the default), the
  // other folders the install-directory step removes, and folders beside them.
  void AddInstallFolders() {
    // The folder the run is to delete, written plainly (the value may use
    // forward slashes or end in a separator).
    std::string canonical = m_.directoryAccepted ? m_.directoryText : m_.defaultInstallDirectory;
    std::replace(canonical.begin(), canonical.end(), '/', '\\');
    while (canonical.size() > 3 && canonical.back() == '\\') canonical.pop_back();
    bool isLink = false;
    for (const LinkItem& link : m_.links) isLink = isLink || link.path == canonical;
    if (!isLink && Dir(canonical, Owner::Vendor, rng_.Chance(20) ? kReadOnly : kDirectory)) {
      FileTree(canonical, 3);
      if (sim() && rng_.Chance(20)) PathReadingNames(canonical);
      if (EqualsDefault(canonical)) {
        File(canonical + "\\Tools\\VlxGigeService.exe", Owner::Vendor, "MZ", rng_.Chance(20) ? kReadOnly : kArchive);
        File(canonical + "\\Tools\\LumNetworkServer.exe", Owner::Vendor, "MZ");
      }
    }
    // Beside it: folders whose names begin like it.
    std::string parent = canonical.substr(0, canonical.find_last_of('\\'));
    std::string leaf = canonical.substr(parent.size() + 1);
    for (const std::string& beside : {parent + "\\" + leaf + "2", parent + "\\" + leaf + ".old",
                                      parent + "\\" + leaf + " Tools"})
      if (rng_.Chance(40)) File(beside + "\\keep.txt", Owner::Foreign, "beside the installation");

    if (m_.newerRelease && rng_.Chance(50) && Dir(OnDrive(":\\Parlow"), Owner::Vendor)) {
      FileTree(OnDrive(":\\Parlow"), 2);
      if (sim() && rng_.Chance(30)) PathReadingNames(OnDrive(":\\Parlow"));
    }
    if (rng_.Chance(40)) File(OnDrive(":\\Parlow2\\keep.txt"), Owner::Foreign, "beside Parlow");

    const std::string& w = m_.windowsDirectory;
    std::vector<std::string> trees = ProductInstallerFolders(m_);
    for (const std::string& folder : SharedDocumentsFolders(m_)) trees.push_back(folder);
    trees.push_back(w + "\\Installer\\{A1E29D92-F94C-3D9C-CF8D-E58406789B1F}");
    trees.push_back(w + "\\Installer\\{17179814-FAD5-235E-BC1A-1306E659E09B}");
    if (m_.majorVersion == 6 && rng_.Chance(40)) {
      // Where the older versions kept them: on Vista and later no more than
      // look-alikes a user could have made, which the run does not touch.
      File("C:\\WINDOWS\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}\\keep.ini", Owner::Foreign, "old place");
      File(OnDrive(":\\Documents and Settings\\All Users\\Documents\\Velmora Imaging\\keep.txt"), Owner::Foreign,
           "old place");
    }
    for (const std::string& tree : trees) {
      if (!rng_.Chance(40)) continue;
      if (rng_.Chance(10))
        LinkedFolder(tree);
      else if (Dir(tree, Owner::Vendor))
        FileTree(tree, 2);
    }
    if (rng_.Chance(50)) File(w + "\\Installer\\943df.msi", Owner::Vendor, "msi");
    if (rng_.Chance(30)) File("C:\\WINDOWS\\Installer\\{DF1C2AA1-EE6C-65A8-A483-00F6376D65B5}\\keep.msi", Owner::Foreign);
    if (rng_.Chance(30)) File(OnDrive(":\\Users\\Public\\Documents\\Velmora Imaging Extra\\keep.txt"), Owner::Foreign);
    if (rng_.Chance(30)) File(w + "\\Installer\\943df.msi.bak", Owner::Foreign);
  }

  // Names in a vendor folder that the code page's best fit reads as a way out
  // of it ("x/../../target"): the names go, and what they seem to name (beside
  // the folder's parent) stays.
  void PathReadingNames(const std::string& folder) {
    std::string parent = folder.substr(0, folder.find_last_of('\\'));
    std::string target = "target" + Hex(rng_.Next(), 3);
    const std::string up = u8"\uFF0F\uFF0E\uFF0E\uFF0F\uFF0E\uFF0E\uFF0F";
    if (File(parent + "\\" + target + "\\keep.txt", Owner::Foreign, "what a name reads as"))
      File(folder + "\\x" + up + target + "\\board.cfg", Owner::Vendor);
    if (File(parent + "\\" + target + ".txt", Owner::Foreign, "what a name reads as"))
      File(folder + "\\y" + up + target + ".txt", Owner::Vendor);
  }

  // A folder of the vendor's that is a junction to a folder that is not:
  // only the junction may go.
  void LinkedFolder(const std::string& path) {
    if (m_.options.directoryLinks && !linkTargets_.empty()) Link(path, rng_.Pick(linkTargets_), true, Owner::Vendor);
  }

  bool EqualsDefault(const std::string& path) const {
    return CanonicalPath(path) == CanonicalPath(m_.defaultInstallDirectory);
  }

  void AddShortcuts() {
    std::vector<std::string> groups = ShortcutGroupFolders(m_);
    if (groups.empty()) return;
    std::string programs = groups.front().substr(0, groups.front().find_last_of('\\') + 1);
    // The French group names the same folder as the first on Vista and later.
    if (m_.majorVersion != 4) groups.resize(15);
    for (const std::string& path : groups) {
      if (!rng_.Chance(25)) continue;
      if (rng_.Chance(8)) {
        LinkedFolder(path);
      } else if (Dir(path, Owner::Vendor)) {
        File(path + "\\Lum Control Center.lnk", Owner::Vendor, "L", rng_.Chance(30) ? kReadOnly : kArchive);
        FileTree(path, 1);
      }
    }
    for (const char* other : {"Velmora Imaging Extras", "Parlow Native Library 4.0", "Velmora Imaging Products2",
                              "Falcro-II Digital 3.1"})
      if (rng_.Chance(30)) File(programs + other + "\\Other.lnk", Owner::Foreign, "L");
    if (m_.majorVersion == 4) return;

    std::vector<std::string> allGroups = ShortcutGroupFolders(m_);
    if (sim() && allGroups.size() > 15 && rng_.Chance(40)) {
      const std::string& french = allGroups[15];
      if (Dir(french, Owner::Vendor)) FileTree(french, 1);
    }
    for (const std::string& shortcut : DesktopShortcuts(m_)) {
      std::string base = shortcut.substr(0, shortcut.find_last_of('\\') + 1);
      if (rng_.Chance(50)) {
        FileItem* file = File(shortcut, Owner::Vendor, "L",
                              rng_.Chance(20) ? kReadOnly : (rng_.Chance(30) ? kHidden : kArchive));
        if (file && sim() && m_.options.blockers && rng_.Chance(10)) file->inUse = true;
      }
      if (rng_.Chance(40)) File(base + "Lum Control Center (2).lnk", Owner::Foreign, "L");
      if (rng_.Chance(30)) File(base + "Lum Control Center.lnk.bak", Owner::Foreign, "L");
    }
    if (m_.majorVersion == 6 && rng_.Chance(40)) {
      // The old fixed places: on Vista and later no more than folders a user could make.
      File(OnDrive(":\\Documents and Settings\\All Users\\Start Menu\\Programs\\Velmora Imaging\\Lum.lnk"),
           Owner::Foreign, "old place");
      File(OnDrive(":\\Documents and Settings\\All Users\\Desktop\\Lum Control Center.lnk"), Owner::Foreign, "L");
    }
  }

  // Libraries and drivers in System32, and files there that only resemble them.
  void AddSystemFiles() {
    std::string system32 = m_.windowsDirectory + "\\System32\\";
    static const char* const kNamed[] = {"Pyxlib.dll", "lum.dll", "LumAux.dll", "lumcore.dll", "LUMVC.dll",
                                         "Lumzor.dll", "lumquovin.dll"};
    for (const char* name : kNamed)
      if (rng_.Chance(30)) AddSystemFile(system32 + name, true);
    size_t patterned = rng_.Between(0, 4);
    for (size_t i = 0; i < patterned; ++i) {
      std::string name = std::string(rng_.Chance(50) ? "lum" : "LUM") + FileName(10) + (rng_.Chance(50) ? ".dll" : ".DLL");
      AddSystemFile(system32 + name, true);
    }
    for (const char* other : {"alum.dll", "plum.dll", "lu.dll", "lum.dl", "lum.exe", "lum.dll.bak", "glumcore.dll",
                              "Pyxlib2.dll", "lumdll"})
      if (rng_.Chance(30)) File(system32 + other, Owner::Foreign, "MZ other");
    if (rng_.Chance(30)) File(system32 + "lumdata.dll\\inside.txt", Owner::Foreign, "a folder that matches");
    if (rng_.Chance(30)) File(m_.windowsDirectory + "\\SysWOW64\\lumcore.dll", Owner::Foreign, "32-bit copy");

    std::string drivers = system32 + "drivers\\";
    if (rng_.Chance(50)) AddSystemFile(drivers + "vlxdma0.sys", false);
    static const char* const kBoardDrivers[] = {"AmbrelGE51.sys", "AmbrelGX51.sys", "AmbrelGE60.sys",
                                                "AmbrelGX60.sys", "DruvanGigeNic.sys", "DruvanGigE.sys",
                                                "Druvan.sys", "Plenth.sys", "PlenthQxt.sys", "Tuv.sys",
                                                "Tarvel.sys"};
    for (const char* driver : kBoardDrivers) {
      if (!rng_.Chance(25)) continue;
      if (m_.options.fileLinks && rng_.Chance(10)) {
        // A link where the driver would be, to a protected file that is not
        // the vendor's: only the link may go.
        std::string target = "C:\\Data\\Drivers\\" + std::string(driver) + ".target";
        FileItem* protectedFile = File(target, Owner::Foreign, "MZ not the vendor's", kReadOnly | kHidden | kSystem);
        if (protectedFile && sim()) protectedFile->denyAccess = protectedFile->foreignOwner = true;
        Link(drivers + driver, target, false, Owner::Vendor);
        continue;
      }
      FileItem* file = File(drivers + driver, Owner::Vendor, "MZ driver",
                            rng_.Chance(50) ? kReadOnly | kHidden | kSystem : kArchive);
      if (file && sim()) {
        file->denyAccess = rng_.Chance(50);
        file->foreignOwner = rng_.Chance(50);
        file->inUse = m_.options.blockers && rng_.Chance(10);
      }
    }
    for (const char* other : {"other.sys", "Tarvel.sys.bak", "vlxdma1.sys", "Tuv2.sys"})
      if (rng_.Chance(30)) File(drivers + other, Owner::Foreign, "MZ other driver");
    // A folder where a driver file would be: the forced deletion must not empty it.
    if (rng_.Chance(20)) File(drivers + "Plenth.sys\\inside.txt", Owner::Foreign, "not a driver file");
  }

  // A library in System32: read-only ones stay (no step clears their
  // attributes), so do ones in use.
  void AddSystemFile(const std::string& path, bool library) {
    static const uint32_t kAttributes[] = {kArchive, kArchive, kHidden, kSystem, kReadOnly, kNormal};
    FileItem* file = File(path, Owner::Vendor, library ? "MZ library" : "MZ dma driver", rng_.Pick(kAttributes));
    if (file && sim() && m_.options.blockers && rng_.Chance(10)) file->inUse = true;
  }

  std::string Inf(const std::string& strings, bool withStrings) {
    std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Image\r\nProvider=%Mfg%\r\n\r\n";
    text += "[Manufacturer]\r\n%Mfg%=Models\r\n\r\n";
    if (withStrings) text += "[Strings]\r\n" + strings;
    return text;
  }

  void AddInfFiles() {
    std::string inf = m_.windowsDirectory + "\\inf\\";
    size_t count = rng_.Between(0, 6);
    for (size_t i = 0; i < count; ++i) {
      std::string base = inf + (rng_.Chance(50) ? "oem" : "OEM") + std::to_string(rng_.Between(0, 120));
      std::string infPath = base + (rng_.Chance(80) ? ".inf" : ".INF");
      std::string pnf = base + ".PNF";
      size_t kind = rng_.Below(10);
      if (kind < 5) {
        std::string key = rng_.Chance(50) ? "Mfg" : KeyName(8);
        for (char& c : key)
          if (c == '"' || c == '=' || c == ';' || c == '[' || c == ']' || c == '%' || c == ',' || c == ' ') c = 'k';
        std::string strings = "Other=\"Contoso\"\r\n" + key + " = \"" + kVendorProvider + "\"\r\n";
        FileItem* file = File(infPath, Owner::Vendor, Inf(strings, true), rng_.Chance(15) ? kReadOnly : kArchive);
        if (!file) continue;
        if (sim() && m_.options.blockers && rng_.Chance(10)) file->inUse = true;
        m_.vendorInfs.insert(UpperText(infPath));
        if (rng_.Chance(80)) File(pnf, Owner::Vendor, "PNF");
        if (sim() && rng_.Chance(60)) AddPackage(infPath, Owner::Vendor);
      } else {
        static const char* const kProviders[] = {"\"Contoso\"", "\"velmorex ltd.- imaging\"", "\"Velmorex Ltd.- Imaging2\"",
                                                 "\" Velmorex Ltd.- Imaging\"", "\"Velmorex Ltd.-  Imaging\""};
        std::string text = kind == 9 ? Inf("", false) + "[Other]\r\nMfg=\"Velmorex Ltd.- Imaging\"\r\n"
                                     : Inf(std::string("Mfg=") + rng_.Pick(kProviders) + "\r\n", true);
        if (!File(infPath, Owner::Foreign, text)) continue;
        if (rng_.Chance(70)) File(pnf, Owner::Foreign, "PNF");
        if (sim() && rng_.Chance(50)) AddPackage(infPath, Owner::Foreign);
      }
    }
    if (rng_.Chance(40)) File(inf + "machine.inf", Owner::Foreign, Inf(std::string("Mfg=\"") + kVendorProvider + "\"\r\n", true));
    if (rng_.Chance(30)) File(inf + "xoem6.inf", Owner::Foreign, Inf(std::string("Mfg=\"") + kVendorProvider + "\"\r\n", true));
    if (rng_.Chance(30)) File(inf + "oem999.PNF", Owner::Foreign, "orphan PNF");
  }

  // The driver store's copy of a published INF: a FileRepository folder with
  // the original INF and its catalogue; some in use, some refused.
  void AddPackage(const std::string& infPath, Owner owner) {
    std::string publishedName = infPath.substr(infPath.rfind('\\') + 1);
    for (const PackageItem& package : m_.packages)
      if (UpperText(package.publishedName) == UpperText(publishedName)) return;
    std::string original = owner == Owner::Vendor ? "velmora" : "contoso";
    std::string folder = m_.systemDirectory + "\\DriverStore\\FileRepository\\" + original + ".inf_amd64_" +
                         Hex(rng_.Next(), 16);
    if (!Dir(folder, owner)) return;
    File(folder + "\\" + original + ".inf", owner, "INF");
    File(folder + "\\" + original + ".cat", owner, "catalogue");
    PackageItem package{publishedName, folder, owner};
    package.inUse = rng_.Chance(30);
    if (rng_.Chance(10)) package.refuseError = 5;
    m_.packages.push_back(package);
  }

  // The three background processes of the library, in any case and any
  // account, some twice, one perhaps refusing termination; and others.
  void AddProcesses() {
    static const char* const kVendorImages[] = {"vlxgigeservice.exe", "VLXGIGESERVICE.EXE", "pyxMon.exe",
                                                "PYXMON.EXE", "LumNetworkServer.exe", "lumnetworkserver.exe"};
    static const char* const kOtherImages[] = {"explorer.exe", "pyxMon.exe.old", "LumNetworkServer2.exe",
                                               "vlxgigeservice", "xvlxgigeservice.exe", "svchost.exe"};
    size_t count = rng_.Between(1, 6);
    for (size_t i = 0; i < count; ++i) {
      bool vendor = rng_.Chance(60);
      ProcessItem process;
      process.image = vendor ? rng_.Pick(kVendorImages) : rng_.Pick(kOtherImages);
      process.account = rng_.Chance(50) ? "SYSTEM" : "User";
      process.owner = vendor ? Owner::Vendor : Owner::Foreign;
      process.refuseTerminate = rng_.Chance(8);
      process.isProtected = rng_.Chance(8);
      m_.processes.push_back(process);
    }
  }

  void AddServices() {
    if (sim() && rng_.Chance(50)) m_.services.push_back({"TrkServer", Owner::Vendor});
    if (sim()) {
      m_.services.push_back({"Spooler", Owner::Foreign});
      if (rng_.Chance(50)) m_.services.push_back({"TrkServerHelper", Owner::Foreign});
    }
  }
};

}  // namespace

std::string Machine::Describe() const {
  std::string text = "seed " + std::to_string(seed) + ": Windows " + std::to_string(majorVersion) + " in " +
                     windowsDirectory + (amd64 ? " (AMD64)" : " (x86)") + ", " +
                     (newerRelease ? "newer" : "older") + " release, ";
  text += directoryAccepted ? "\"Directory\" " + directoryText : "no usable \"Directory\"";
  text += ", " + std::to_string(keys.size()) + " keys, " + std::to_string(files.size()) + " files, " +
          std::to_string(links.size()) + " links, " + std::to_string(processes.size()) + " processes";
  return text;
}

std::vector<std::string> ShortcutGroupFolders(const Machine& machine) {
  static const char* const kNt4Groups[] = {"Velmora Imaging Products", "Velmora Imaging", "Velmora Tarvel Native Library",
                                           "Parlow Native Library 2.0", "Parlow Native Library 2.2",
                                           "Parlow Native Library 3.1"};
  static const char* const kGroups[] = {"Velmora Imaging", "Velmora Imaging Products", "Velmora Tarvel Native Library",
                                        "Parlow Native Library", "Parlow Native Library 2.0", "Parlow Native Library 2.1",
                                        "Parlow Native Library 2.2", "Parlow Native Library 3.01",
                                        "Parlow Native Library 3.1", "Parlow Native Library 3.23",
                                        "Parlow Native Library 3.25", "Falcro-II Digital 2.2", "Falcro-II Digital 3.0",
                                        "Falcro-II Digital-CL 2.2", "Falcro-II Digital-CL 3.0"};
  std::vector<std::string> out;
  std::string drive = machine.windowsDirectory.substr(0, 1);
  if (machine.majorVersion == 4) {
    for (const char* group : kNt4Groups)
      out.push_back(machine.windowsDirectory + "\\Profiles\\All Users\\Start Menu\\Programs\\" + group);
  } else if (machine.majorVersion == 6) {
    for (const char* group : kGroups) out.push_back(machine.commonPrograms + "\\" + group);
  } else if (machine.majorVersion == 5) {
    for (const char* group : kGroups)
      out.push_back(drive + ":\\Documents and Settings\\All Users\\Start Menu\\Programs\\" + group);
    out.push_back(drive + ":\\Documents and Settings\\All Users\\Menu D\xC3\xA9marrer\\Programmes\\Velmora Imaging");  // UTF-8
  }
  return out;
}

std::vector<std::string> DesktopShortcuts(const Machine& machine) {
  std::string drive = machine.windowsDirectory.substr(0, 1);
  if (machine.majorVersion == 6) return {machine.commonDesktop + "\\Lum Control Center.lnk"};
  if (machine.majorVersion == 5)
    return {drive + ":\\Documents and Settings\\All Users\\Desktop\\Lum Control Center.lnk",
            drive + ":\\Documents and Settings\\All Users\\Bureau\\Lum Control Center.lnk"};
  return {};
}

std::vector<std::string> ProductInstallerFolders(const Machine& machine) {
  const std::string code = "{DF1C2AA1-EE6C-65A8-A483-00F6376D65B4}";
  if (machine.majorVersion == 6)
    return {machine.windowsDirectory + "\\Installer\\" + code,
            machine.programFilesX86 + "\\InstallShield Installation Information\\" + code};
  return {"C:\\WINDOWS\\Installer\\" + code,
          "C:\\Program Files (x86)\\InstallShield Installation Information\\" + code};
}

std::vector<std::string> SharedDocumentsFolders(const Machine& machine) {
  std::string drive = machine.windowsDirectory.substr(0, 1);
  if (machine.majorVersion == 6) return {machine.commonDocuments + "\\Velmora Imaging"};
  return {drive + ":\\Documents and Settings\\All Users\\Documents\\Velmora Imaging",
          drive + ":\\Users\\Public\\Documents\\Velmora Imaging"};
}

Machine Generate(uint64_t seed, const Options& options) { return Generator(seed, options).Build(); }

std::string HiveName(Hive hive) {
  switch (hive) {
    case Hive::LocalMachine: return "HKLM";
    case Hive::CurrentUser: return "HKCU";
    case Hive::Users: return "HKU";
  }
  return "?";
}

std::string CanonicalPath(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return "";
  std::vector<std::string> parts = Split(path, true);
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 && parts[i] == ".") continue;
    if (parts[i] == "..") return "";
    out += (i ? "\\" : "") + parts[i];
  }
  if (parts.size() == 1) out += "\\";
  return UpperText(out);
}

std::string FileId(const std::string& path) { return "file " + CanonicalPath(path); }

std::string KeyId(Hive hive, const std::string& path) {
  // Only '\' separates key names; '/' is an ordinary character in them.
  std::string joined;
  std::string part;
  for (char c : path + "\\") {
    if (c != '\\') {
      part += c;
    } else if (!part.empty()) {
      joined += "\\" + part;
      part.clear();
    }
  }
  return "key " + HiveName(hive) + UpperText(joined);
}

std::string ValueId(Hive hive, const std::string& path, const std::string& name) {
  return "value " + KeyId(hive, path).substr(4) + " : " + UpperText(name);
}

std::string ProcessId(size_t index, const std::string& image) {
  return "process " + std::to_string(index) + " " + image;
}

std::string ServiceId(const std::string& name) { return "service " + UpperText(name); }

}  // namespace safety
