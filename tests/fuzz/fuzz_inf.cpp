// INF text through the vendor check and the INF clean-up. The input's first
// byte picks the file's name, the rest is the file's bytes (ANSI or UTF-16,
// any section layout, continued lines, overlong lines). Findings: a crash or
// sanitizer report; a vendor file left, or a file deleted that is not the
// vendor file or its companion. (Whether a text is the provider's is the
// INF parser's business: a continued line may build it from two lines.)
#include <windows.h>

#include <string>

#include "drivers/drivers.h"
#include "fuzz_support.h"
#include "winsim/machine.h"

namespace {

const char kInfDirectory[] = "C:\\Windows\\inf";

// The fuzzed file's name, and the companion that goes with it when it is the vendor's.
struct InfName {
  const char* name;
  const char* companion;
};
const InfName kNames[] = {
    {"oem1.inf", "oem1.PNF"},       {"OEM77.INF", "OEM77.PNF"},  {"oem.inf", "oem.PNF"},
    {"oem1.x.inf", "oem1.x.PNF"},   {"oem1 .inf", "oem1 .PNF"},  {"oem12.inf", "oem12.PNF"},
};

// Beside it: another package's INF and PNF, a PNF whose name only begins
// like the companion's, and a vendor INF that the pattern does not name.
const fuzz::SentinelFile kSentinels[] = {
    {"C:\\Windows\\inf\\oem2.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Strings]\r\nMfg=\"Contoso\"\r\n"},
    {"C:\\Windows\\inf\\oem2.PNF", "pnf of another package"},
    {"C:\\Windows\\inf\\oem1.PNF.bak", "not a companion"},
    {"C:\\Windows\\inf\\vendor.inf",
     "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Strings]\r\nMfg=\"Velmorex Ltd.- Imaging\"\r\n"},
    {"C:\\Windows\\sentinel.inf", "outside the INF directory"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  winsim::ResetMachine();
  const InfName& pick = kNames[data[0] % (sizeof kNames / sizeof kNames[0])];
  std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string path = std::string(kInfDirectory) + "\\" + pick.name;
  std::string companion = std::string(kInfDirectory) + "\\" + pick.companion;
  winsim::MakeFile(path, content);
  winsim::MakeFile(companion, "pnf");
  std::vector<fuzz::SentinelFile> sentinels(std::begin(kSentinels), std::end(kSentinels));
  fuzz::Plant(sentinels);

  bool vendor = IsVendorInf(path.c_str());
  if (IsVendorInf(path.c_str()) != vendor) fuzz::Finding("two answers for one file");

  DeleteVendorInfs(kInfDirectory, "oem*.inf");
  if (vendor && winsim::PathExists(path)) fuzz::Finding("vendor INF left");
  if (vendor && winsim::PathExists(companion)) fuzz::Finding("companion of a vendor INF left");
  if (!vendor && (!winsim::PathExists(path) || !winsim::PathExists(companion)))
    fuzz::Finding("a file deleted that is not the vendor's");
  fuzz::CheckPlanted(sentinels);
  if (winsim::M().files.openSearches != 0) fuzz::Finding("a file search left open");
  return 0;
}
