// Reading the command line. The installer's three words keep the rule its
// installers have always relied on (substrings, case-sensitive, the program's
// path counting for the first test); every newer word is a whole argument.
#include "run/options.h"

#include <cstring>

#include "system/text.h"

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool SameWord(const std::string& argument, const char* word) {
  size_t length = std::strlen(word);
  if (argument.size() != length) return false;
  for (size_t i = 0; i < length; ++i)
    if (LowerAscii(argument[i]) != LowerAscii(word[i])) return false;
  return true;
}

// The value after "name=" when argument starts with it (any capitals).
bool ValueOf(const std::string& argument, const char* name, std::string& value) {
  size_t length = std::strlen(name);
  if (argument.size() < length || !SameWord(argument.substr(0, length), name)) return false;
  value = argument.substr(length);
  return true;
}

// Minutes in decimal digits only, 1 to kMaxToolWaitMinutes; 0 otherwise.
DWORD ParseMinutes(const std::string& text) {
  if (text.empty() || text.size() > 4) return 0;
  DWORD minutes = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    minutes = minutes * 10 + static_cast<DWORD>(c - '0');
  }
  return minutes <= kMaxToolWaitMinutes ? minutes : 0;
}

const char* const kHelpWords[] = {"help", "/?", "-?", "/h", "-h", "--help"};

// True when the argument is one of the whole words; sets its option.
bool ReadWholeWord(const std::string& argument, Options& options) {
  for (const char* word : kHelpWords)
    if (SameWord(argument, word)) return options.help = true;
  if (SameWord(argument, "version")) return options.version = true;
  if (SameWord(argument, "preview")) return options.preview = true;
  if (SameWord(argument, "managed")) return options.managed = true;
  if (SameWord(argument, "restorepoint")) return options.restorePoint = true;
  if (SameWord(argument, "allusers")) return options.allUsers = true;
  std::string value;
  if (ValueOf(argument, "reportdir=", value)) {
    if (value.empty()) return false;
    if (options.reportDir.empty()) options.reportDir = value;
    return true;
  }
  if (ValueOf(argument, "toolwait=", value)) {
    DWORD minutes = ParseMinutes(value);
    if (minutes == 0) return false;
    if (options.toolWaitMinutes == 0) options.toolWaitMinutes = minutes;
    return true;
  }
  return false;
}

bool HasInstallerWord(const std::string& argument) {
  return ContainsText(argument.c_str(), "silent") || ContainsText(argument.c_str(), "noreboot") ||
         ContainsText(argument.c_str(), "msi");
}

}  // namespace

std::vector<std::string> SplitArguments(const char* arguments) {
  std::vector<std::string> words;
  if (!arguments) return words;
  const char* p = arguments;
  while (*p) {
    while (IsBlank(*p)) ++p;
    if (!*p) break;
    std::string word;
    bool quoted = false;
    for (; *p && (quoted || !IsBlank(*p)); ++p) {
      if (*p == '"')
        quoted = !quoted;
      else
        word += *p;
    }
    words.push_back(word);
  }
  return words;
}

Options ReadOptions(const char* commandLine, const char* arguments) {
  if (!commandLine) commandLine = "";
  if (!arguments) arguments = "";
  Options options;
  options.silent = ContainsText(commandLine, "silent");
  options.msi = ContainsText(commandLine, "msi");
  options.restartSilent = ContainsText(arguments, "silent");
  options.noReboot = ContainsText(arguments, "noreboot");
  options.arguments = arguments;
  for (const std::string& argument : SplitArguments(arguments))
    if (!ReadWholeWord(argument, options) && !HasInstallerWord(argument)) options.ignored.push_back(argument);
  return options;
}
