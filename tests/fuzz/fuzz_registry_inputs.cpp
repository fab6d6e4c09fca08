// The whole run, silent and without restart, on a simulated machine whose
// registry-derived inputs come from the fuzzer: board names, the library's
// "Revision" and "Directory" (both release keys), installer products'
// "Publisher" and "LocalPackage", deep and wide key trees below catalogue
// rows, the command line and the Windows version. Any crash, sanitizer report
// or touched sentinel is a finding.
//
// Input: lines of one letter and its bytes (a blank after the letter is dropped):
//   b <name>        a board type under Software\Velmora\Imaging Board
//   r <bytes>       "Revision" (stored as given, without a terminator)
//   d <bytes>       "Directory" under the newer release's key
//   k <bytes>       "Directory" under the older release's key
//   p <bytes>       a new installer product with this "Publisher"
//   l <bytes>       "LocalPackage" of the last product
//   t <r><d><w><f><name>  a key tree below catalogue row r: depth d, width w,
//                   flags f (1 refuse deletion, 2 refuse opening), names from name
//   a <text>        the argument string (default "silent noreboot")
//   v <m><a>        Windows major version m and AMD64 when a is odd
//   z <type>        the type of the next value set (its first byte)
#include <windows.h>

#include <string>
#include <vector>

#include "../portable/registry_expected_rows.h"
#include "fuzz_support.h"
#include "main/main_sequence.h"
#include "winsim/machine.h"

namespace {

const char kBoardKey[] = "Software\\Velmora\\Imaging Board";
const char kLibraryKey[] = "Software\\Velmora\\Velmora Imaging Library";
const char kOlderReleaseKey[] = "SOFTWARE\\Velmora\\KIP\\LUMRunTime";

// No "Directory" the run accepts, and no "LocalPackage" it honours, names
// these: files straight in a drive root, in the Windows and system
// directories, and straight in the shared top-level folders.
const std::vector<fuzz::SentinelFile>& Sentinels() {
  static const std::vector<fuzz::SentinelFile> files = {
      {"C:\\sentinel.sys", "root"},
      {"D:\\sentinel.txt", "other drive root"},
      {"C:\\Windows\\sentinel.dll", "windows"},
      {"C:\\Windows\\system32\\sentinel.dll", "system"},
      {"C:\\Program Files\\sentinel.txt", "shared"},
      {"C:\\Program Files (x86)\\sentinel.txt", "shared"},
      {"C:\\ProgramData\\sentinel.txt", "shared"},
      {"C:\\Users\\sentinel.txt", "shared"},
      {"C:\\Documents and Settings\\sentinel.txt", "shared"},
  };
  return files;
}

// Keys beside the vendor's that no input can make the run's.
const char* const kSentinelKeys[] = {
    "SOFTWARE\\Contoso\\Viewer",
    "Software\\Velmorex2",
    "SOFTWARE\\Velmora\\Other Product",
    "SOFTWARE\\Velmora\\Imaging Board Tools",
    "SOFTWARE\\Classes\\Installer\\Products\\Contoso",
};

std::string KeyName(const std::string& bytes, size_t limit = 255) {
  std::string name;
  for (char c : bytes) name += c == '\\' ? '_' : c;  // '\' separates key names
  if (name.size() > limit) name.resize(limit);
  return name;
}

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

// A tree below a key: depth levels, each with width siblings; the first
// sibling of each level carries the next level.
void Tree(const std::string& top, int depth, int width, int flags, const std::string& seed) {
  std::string path = top;
  for (int level = 0; level < depth; ++level) {
    std::string next;
    for (int i = 0; i < width; ++i) {
      std::string name = KeyName(seed.empty() ? "k" : seed) + std::to_string(level) + "_" + std::to_string(i);
      if (name.size() > 255) name = name.substr(name.size() - 255);
      std::string child = path + "\\" + name;
      winsim::RegKey& key = winsim::CreateKey(HKEY_LOCAL_MACHINE, child);
      winsim::SetString(HKEY_LOCAL_MACHINE, child, "v", seed);
      if (level == depth - 1 && i == width - 1) {
        key.refuseDelete = (flags & 1) != 0;
        key.refuseOpen = (flags & 2) != 0;
      }
      if (i == 0) next = child;
    }
    if (next.empty()) break;
    path = next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  winsim::ResetMachine();
  winsim::MakeFile("C:\\Tools\\drvmanage.exe", "MZ");
  winsim::MakeFile("C:\\Tools\\drvinst.exe", "MZ");
  winsim::MakeFile("C:\\Tools\\lumdrv.exe", "MZ");
  fuzz::Plant(Sentinels());
  for (const char* key : kSentinelKeys) winsim::SetString(HKEY_LOCAL_MACHINE, key, "Keep", "not the vendor's");

  std::string arguments = "silent noreboot";
  DWORD type = REG_SZ;
  int products = 0;
  std::string lastProperties;
  for (const fuzz::Field& field : fuzz::Fields(data, size)) {
    const std::string& b = field.bytes;
    switch (field.kind) {
      case 'b':
        if (!KeyName(b).empty()) winsim::CreateKey(HKEY_LOCAL_MACHINE, std::string(kBoardKey) + "\\" + KeyName(b));
        break;
      case 'r':
        winsim::SetValue(HKEY_LOCAL_MACHINE, kLibraryKey, "Revision", type, Bytes(b));
        break;
      case 'd':
        winsim::SetValue(HKEY_LOCAL_MACHINE, kLibraryKey, "Directory", type, Bytes(b));
        break;
      case 'k':
        winsim::SetValue(HKEY_LOCAL_MACHINE, kOlderReleaseKey, "Directory", type, Bytes(b));
        break;
      case 'p': {
        std::string code = "FACE0000000000000000000000000" + std::to_string(100 + products++);
        lastProperties = std::string(kMachineProducts) + "\\" + code + "\\InstallProperties";
        winsim::SetValue(HKEY_LOCAL_MACHINE, lastProperties, "Publisher", type, Bytes(b));
        break;
      }
      case 'l':
        if (!lastProperties.empty()) winsim::SetValue(HKEY_LOCAL_MACHINE, lastProperties, "LocalPackage", type, Bytes(b));
        break;
      case 't':
        if (b.size() >= 4) {
          const ExpectedRow& row = kExpectedRows[static_cast<unsigned char>(b[0]) % 129];
          std::string top = (std::string(row.root) == "HKCR" ? "SOFTWARE\\Classes\\" : "") + std::string(row.path);
          if (std::string(row.root) == "HKLM" || std::string(row.root) == "HKCR")
            Tree(top, static_cast<unsigned char>(b[1]) % 48, static_cast<unsigned char>(b[2]) % 6 + 1,
                 static_cast<unsigned char>(b[3]) & 3, b.substr(4));
        }
        break;
      case 'a':
        arguments = b.substr(0, b.find('\0'));
        break;
      case 'v':
        if (b.size() >= 2) {
          winsim::M().system.majorVersion = static_cast<unsigned char>(b[0]) % 8;
          winsim::M().system.processorArchitecture =
              (b[1] & 1) ? PROCESSOR_ARCHITECTURE_AMD64 : PROCESSOR_ARCHITECTURE_INTEL;
        }
        break;
      case 'z':
        if (!b.empty()) type = static_cast<unsigned char>(b[0]) % 12;
        break;
      default:
        break;
    }
  }

  winsim::M().system.commandLine = "C:\\Tools\\CleanLum.exe " + arguments;
  RunCleanLum(reinterpret_cast<HINSTANCE>(0x400000), arguments.c_str());

  fuzz::CheckPlanted(Sentinels());
  for (const char* key : kSentinelKeys)
    if (!winsim::FindValue(HKEY_LOCAL_MACHINE, key, "Keep")) fuzz::Finding(std::string("sentinel key touched: ") + key);
  if (winsim::M().files.openSearches != 0) fuzz::Finding("a file search left open");
  return 0;
}
