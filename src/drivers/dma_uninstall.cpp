// DMA driver removal: the tool is chosen by Windows version, architecture and
// the library's revision; then the network server from the working directory
// uninstalls itself. A command line that cannot be built whole (working
// directory unreadable or too long) is not run.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "drivers/driver_commands.h"
#include "drivers/drivers.h"
#include "run/progress_window.h"
#include "run/run_record.h"
#include "system/system.h"
#include "system/system_facts.h"
#include "system/text.h"

namespace {

const size_t kTextSize = 1024;
const DWORD kToolTimeoutMs = 15000;

// The tool path follows the working directory; the arguments follow the path.
struct DmaCommand {
  const char* tool;
  const char* arguments;
};

const DmaCommand kDrvmanage = {"\\drvmanage.exe", " uninstall -log -quiet"};
const DmaCommand kLumdrv = {"\\lumdrv.exe", " vlxdma -remove -noinfo"};
const DmaCommand kNetworkServer = {"\\LumNetworkServer.exe", " --uninstall --resetfw_server"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of the revision text: white space skipped, then the longest
// decimal prefix (sign, digits, point and digits, exponent) converted; 0.0
// when there is none. Only that prefix reaches strtod, so hexadecimal, "inf"
// or "nan" texts read as 0.0 with every C runtime, and the program's C locale
// makes '.' the decimal point.
double RevisionNumber(const char* text) {
  if (!text) return 0.0;
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const char* start = p;
  if (*p == '+' || *p == '-') ++p;
  const char* digits = p;
  while (IsDigit(*p)) ++p;
  size_t count = static_cast<size_t>(p - digits);
  if (*p == '.') {
    const char* fraction = ++p;
    while (IsDigit(*p)) ++p;
    count += static_cast<size_t>(p - fraction);
  }
  if (count == 0) return 0.0;
  if (*p == 'e' || *p == 'E') {
    const char* exponent = p + 1;
    if (*exponent == '+' || *exponent == '-') ++exponent;
    if (IsDigit(*exponent)) {
      p = exponent;
      while (IsDigit(*p)) ++p;
    }
  }
  char number[kTextSize];
  size_t length = static_cast<size_t>(p - start);
  if (length >= sizeof number) return 0.0;  // no registry value that long is a revision
  std::memcpy(number, start, length);
  number[length] = '\0';
  return std::strtod(number, nullptr);
}

// {cwd} + command, run from the working directory by full path; left empty
// when the directory is unknown or the whole does not fit.
void BuildFromDirectory(const char* directory, const DmaCommand& command, ChildCommand& child) {
  BuildChildCommand(child, directory, command.tool, command.arguments);
}

}  // namespace

DmaTool ChooseDmaTool(const OSVERSIONINFOA& version, WORD architecture, const char* revisionText) {
  if (version.dwMajorVersion == 6 || architecture == PROCESSOR_ARCHITECTURE_AMD64) return DmaTool::Drvmanage;
  double revision = RevisionNumber(revisionText);
  if (revision == 0.0) return DmaTool::None;  // no library revision known: nothing to remove
  return revision < 9.0 ? DmaTool::Lumdrv : DmaTool::Drvmanage;
}

void BuildDmaCommandLine(DmaTool tool, const char* workingDirectory, ChildCommand& command) {
  command.program[0] = command.line[0] = '\0';
  if (tool == DmaTool::None) return;
  BuildFromDirectory(workingDirectory, tool == DmaTool::Lumdrv ? kLumdrv : kDrvmanage, command);
}

void BuildDmaNetworkServerCommandLine(const char* workingDirectory, ChildCommand& command) {
  BuildFromDirectory(workingDirectory, kNetworkServer, command);
}

void UninstallDma(CleanupContext& context, const char* revisionText) {
  OSVERSIONINFOA version = QueryVersion();
  WORD architecture = QueryProcessorArchitecture();
  char directory[kTextSize];
  if (!QueryCurrentDirectory(directory)) directory[0] = '\0';

  ProgressWindow::SetCaption(context.progressWindow, "Uninstall Dma");
  ProgressWindow::Step(context.progressWindow);

  DmaTool tool = ChooseDmaTool(version, architecture, revisionText);
  if (tool == DmaTool::None) return;
  ChildCommand command;
  BuildDmaCommandLine(tool, directory, command);
  RunRecorded(context.record, "dma", command, 0, kToolTimeoutMs);
  ProgressWindow::Step(context.progressWindow);

  // The working directory is read anew for the network server.
  char current[kTextSize];
  if (!QueryCurrentDirectory(current)) return;
  BuildDmaNetworkServerCommandLine(current, command);
  RunRecorded(context.record, "dma", command, 0, kToolTimeoutMs);
}
