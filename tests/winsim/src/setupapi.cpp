// setupapi: Windows-4 style INF files read from the simulated file system.
//
// The reader follows the platform's INF syntax:
// - "[name]" starts a section; names compare without regard to case, and a
//   section that appears twice is one section. The rest of the line is ignored.
// - An entry is "key = field, field, ..." or just "field, field, ..."; a line
//   with a single field and no key has that field as its key too.
// - ';' starts a comment outside quotes. Double quotes enclose literal text,
//   in which "" stands for one quote. Blanks around fields are dropped, blanks
//   inside them kept.
// - A backslash followed only by blanks (or a comment) up to the line end
//   joins the next line, whose leading blanks are dropped; anywhere else a
//   backslash is an ordinary character.
// - Ctrl-Z ends the file; a NUL reads as a blank. Files may be ANSI, UTF-8 with
//   a byte-order mark, or UTF-16LE with a byte-order mark.
// - %name% in a field is replaced, when read, by the value of name in the
//   "Strings" section (or by a directory for a number such as %10%); %% is one %.
// - A Windows-4 style file has a [Version] section whose Signature is
//   "$Chicago$", "$Windows NT$" or "$Windows 95$"; any other file is refused
//   with ERROR_WRONG_INF_STYLE.
//
// Trace: "inf-open: <full path>" for every file that SetupOpenInfFileA reads.
//
// The driver store (see DriverStoreState): SetupUninstallOEMInfA takes the
// bare published name of a package and removes its published INF, the PNF and
// the store folder. Refusals, checked in this order: a name with a path or
// none (ERROR_INVALID_PARAMETER), a caller without administrator rights
// (ERROR_ACCESS_DENIED), a name the store does not publish
// (ERROR_NOT_AN_INSTALLED_OEM_INF), the package's own refusal, a package in use
// without SUOI_FORCEDELETE (ERROR_INF_IN_USE_BY_DEVICES).
// Trace: "uninstall-oem-inf: <name> <flags> -> <error code>" for every call.
#include <cstdio>
#include <cstring>

#include <setupapi.h>

#include "internal.h"

namespace winsim {
namespace {

const size_t kMaxSectionName = 255;
const size_t kMaxField = MAX_INF_STRING_LENGTH;

struct InfLine {
  bool hasKey = false;
  std::string key;
  std::vector<std::string> fields;
};

struct InfSection {
  std::string name;
  std::vector<InfLine> lines;
};

struct InfFile {
  std::string path;
  std::vector<InfSection> sections;
};

int FindSection(const InfFile& file, const std::string& name) {
  for (size_t i = 0; i < file.sections.size(); ++i)
    if (EqualsNoCase(file.sections[i].name, name)) return static_cast<int>(i);
  return -1;
}

// ---- Decoding: the file's bytes as ANSI (Windows-1252) text ------------------
void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
    out += static_cast<char>(cp);
  else
    out += '?';  // no ANSI form
}

std::string DecodeInfText(const std::string& bytes) {
  std::string out;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    for (size_t i = 2; i + 1 < n; i += 2) {
      uint32_t unit = b[i] | (b[i + 1] << 8);
      if (unit >= 0xD800 && unit <= 0xDFFF) {
        if (unit < 0xDC00) i += 2;  // a surrogate pair stands for one character
        out += '?';
        continue;
      }
      AppendCodePoint(out, unit);
    }
  } else if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    for (size_t i = 3; i < n;) {
      unsigned char c = b[i];
      int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
      if (extra < 0 || i + extra >= n) {
        out += '?';
        ++i;
        continue;
      }
      uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
      for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (b[i + k] & 0x3F);
      AppendCodePoint(out, cp);
      i += extra + 1;
    }
  } else {
    out = bytes;
  }
  for (char& c : out)
    if (c == '\0') c = ' ';
  return out;
}

// ---- Parsing -------------------------------------------------------------------
class InfParser {
 public:
  InfParser(const std::string& text, InfFile& file) : s_(text), file_(file) {}

  // 0, or the error code with *errorLine set to the line where it was found.
  DWORD Parse(UINT* errorLine, UINT* lineBeforeFirstSection) {
    while (true) {
      SkipBlankLines();
      if (AtEof(p_)) break;
      char c = s_[p_];
      if (c == ';') {
        SkipToEol();
      } else if (c == '[') {
        DWORD error = ParseSectionName();
        if (error) {
          *errorLine = line_;
          return error;
        }
      } else if (section_ < 0) {
        // An entry before the first section: tolerated only in some files,
        // which the caller decides once the whole file is known.
        if (!*lineBeforeFirstSection) *lineBeforeFirstSection = line_;
        SkipToEol();
      } else {
        ParseEntry();
      }
    }
    return 0;
  }

 private:
  enum class End { Key, Comma, LineEnd };

  bool AtEof(size_t p) const { return p >= s_.size() || s_[p] == '\x1a'; }
  bool AtEol(size_t p) const { return AtEof(p) || s_[p] == '\n'; }
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

  void SkipToEol() {
    while (!AtEol(p_)) ++p_;
  }

  void SkipBlankLines() {
    while (!AtEof(p_)) {
      if (s_[p_] == '\n') {
        ++line_;
      } else if (!IsBlank(s_[p_])) {
        return;
      }
      ++p_;
    }
  }

  DWORD ParseSectionName() {
    size_t start = p_ + 1;
    size_t end = start;
    while (!AtEol(end) && s_[end] != ']') ++end;
    if (AtEol(end)) return ERROR_BAD_SECTION_NAME_LINE;
    std::string name = s_.substr(start, end - start);
    if (name.size() > kMaxSectionName) return ERROR_SECTION_NAME_TOO_LONG;
    section_ = FindSection(file_, name);
    if (section_ < 0) {
      file_.sections.push_back(InfSection{name, {}});
      section_ = static_cast<int>(file_.sections.size()) - 1;
    }
    p_ = end + 1;
    SkipToEol();  // anything after the closing bracket is ignored
    return 0;
  }

  void ParseEntry() {
    InfLine entry;
    std::string token;
    End end = ReadField(true, token);
    if (end == End::Key) {
      entry.hasKey = true;
      entry.key = token;
      end = End::Comma;
    } else {
      entry.fields.push_back(token);
    }
    while (end == End::Comma) {
      end = ReadField(false, token);
      entry.fields.push_back(token);
    }
    if (!entry.hasKey && entry.fields.size() == 1) {
      entry.hasKey = true;
      entry.key = entry.fields[0];
    }
    file_.sections[section_].lines.push_back(entry);
  }

  void Append(std::string& token, const std::string& text) {
    size_t room = kMaxField > token.size() ? kMaxField - token.size() : 0;
    token += text.substr(0, room);  // longer fields are cut as the platform cuts them
  }

  // Reads one field (or the key) from p_; leaves p_ on its terminator.
  End ReadField(bool keyPosition, std::string& token) {
    token.clear();
    std::string blanks;   // blanks after some content, kept if more content follows
    bool started = false;  // content (or a quoted part) seen
    while (true) {
      if (AtEol(p_)) return End::LineEnd;
      char c = s_[p_];
      if (c == ',') {
        ++p_;
        return End::Comma;
      }
      if (c == '=' && keyPosition) {
        ++p_;
        return End::Key;
      }
      if (c == ';') {
        SkipToEol();
        return End::LineEnd;
      }
      if (IsBlank(c)) {
        if (started) blanks += c;
        ++p_;
        continue;
      }
      if (c == '"') {
        Append(token, blanks);
        blanks.clear();
        started = true;
        ReadQuoted(token);
        continue;
      }
      if (c == '\\') {
        size_t run = p_;
        if (JoinsNextLine()) {
          blanks.clear();  // blanks before the backslash go with it
          continue;
        }
        if (AtEof(p_)) {
          blanks.clear();
          return End::LineEnd;
        }
        // Not at a line end: the backslashes and blanks are text.
        Append(token, blanks + s_.substr(run, p_ - run));
        blanks.clear();
        started = true;
        continue;
      }
      Append(token, blanks + std::string(1, c));
      blanks.clear();
      started = true;
      ++p_;
    }
  }

  void ReadQuoted(std::string& token) {
    ++p_;  // opening quote
    std::string text;
    while (!AtEol(p_)) {
      char c = s_[p_];
      if (c == '"') {
        if (p_ + 1 < s_.size() && s_[p_ + 1] == '"') {
          text += '"';
          p_ += 2;
          continue;
        }
        ++p_;
        break;
      }
      text += c;
      ++p_;
    }
    Append(token, text);  // an unclosed quote ends with the line
  }

  // At a backslash: true when only backslashes, blanks and a comment follow
  // up to the line end; p_ is then at the first non-blank of the next line.
  // Otherwise p_ is left after the backslashes and blanks.
  bool JoinsNextLine() {
    while (true) {
      while (!AtEof(p_) && (s_[p_] == '\\' || (s_[p_] != '\n' && IsBlank(s_[p_])))) ++p_;
      if (!AtEof(p_) && s_[p_] == ';') SkipToEol();
      if (AtEof(p_) || s_[p_] != '\n') return false;
      ++line_;
      ++p_;
      while (!AtEol(p_) && IsBlank(s_[p_])) ++p_;
      if (AtEof(p_) || s_[p_] != '\\') return true;
      // the next line starts with a backslash of its own: look at it the same way
      size_t run = p_;
      while (!AtEof(p_) && (s_[p_] == '\\' || (s_[p_] != '\n' && IsBlank(s_[p_])))) ++p_;
      if (!AtEof(p_) && s_[p_] == ';') SkipToEol();
      if (!AtEof(p_) && s_[p_] == '\n') {
        p_ = run;
        continue;
      }
      p_ = run;
      return true;  // the caller reads that backslash as text
    }
  }

  const std::string& s_;
  InfFile& file_;
  size_t p_ = 0;
  UINT line_ = 1;
  int section_ = -1;
};

bool HasWin4Signature(const InfFile& file) {
  int version = FindSection(file, "Version");
  if (version < 0) return false;
  for (const InfLine& line : file.sections[version].lines) {
    if (!line.hasKey || !EqualsNoCase(line.key, "Signature")) continue;
    if (line.fields.empty()) return false;
    const std::string& signature = line.fields[0];
    return EqualsNoCase(signature, "$Chicago$") || EqualsNoCase(signature, "$Windows NT$") ||
           EqualsNoCase(signature, "$Windows 95$");
  }
  return false;
}

std::string VersionValue(const InfFile& file, const std::string& key) {
  int version = FindSection(file, "Version");
  if (version < 0) return "";
  for (const InfLine& line : file.sections[version].lines)
    if (line.hasKey && EqualsNoCase(line.key, key) && !line.fields.empty()) return line.fields[0];
  return "";
}

// The directories that %number% stands for; "" when the number is not one.
std::string DirectoryId(const InfFile& file, const std::string& text) {
  if (text.empty() || text.size() > 5) return "";
  for (char c : text)
    if (c < '0' || c > '9') return "";
  int id = std::stoi(text);
  const SystemState& s = M().system;
  switch (id) {
    case 1: {  // the INF file's own folder
      size_t slash = file.path.find_last_of('\\');
      return slash == std::string::npos ? "" : file.path.substr(0, slash + 1);
    }
    case 10: return s.windowsDirectory;
    case 11: return s.systemDirectory;
    case 12: return s.systemDirectory + "\\drivers";
    case 17: return s.windowsDirectory + "\\inf";
    case 24: return s.windowsDirectory.substr(0, 2) + "\\";
    default: return "";
  }
}

// A field as the platform returns it: %name% replaced once, not recursively.
std::string Substitute(const InfFile& file, const std::string& text) {
  std::string out;
  size_t p = 0;
  while (p < text.size()) {
    size_t open = text.find('%', p);
    size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
    if (close == std::string::npos) {
      out += text.substr(p);
      break;
    }
    out += text.substr(p, open - p);
    std::string name = text.substr(open + 1, close - open - 1);
    bool found = false;
    std::string value;
    if (name.empty()) {
      value = "%";
      found = true;
    } else {
      int strings = FindSection(file, "Strings");
      if (strings >= 0) {
        for (const InfLine& line : file.sections[strings].lines) {
          if (line.hasKey && EqualsNoCase(line.key, name)) {
            if (!line.fields.empty()) {
              value = line.fields[0];
              found = true;
            }
            break;
          }
        }
      }
      if (!found) {
        value = DirectoryId(file, name);
        found = !value.empty();
        // A directory followed by a backslash gives no doubled backslash.
        if (found && value.back() == '\\' && close + 1 < text.size() && text[close + 1] == '\\')
          value.pop_back();
      }
    }
    out += found ? value : text.substr(open, close - open + 1);
    p = close + 1;
  }
  if (out.size() > kMaxField) out.resize(kMaxField);
  return out;
}

std::shared_ptr<InfFile> InfOf(HINF inf) {
  HandleEntry* entry = LookupHandle(inf, HandleKind::Inf);
  return entry ? std::static_pointer_cast<InfFile>(entry->object) : nullptr;
}

const InfLine* LineOf(const INFCONTEXT* context, std::shared_ptr<InfFile>* file) {
  if (!context) return nullptr;
  *file = InfOf(context->CurrentInf);
  if (!*file || context->Section >= (*file)->sections.size()) return nullptr;
  const InfSection& section = (*file)->sections[context->Section];
  return context->Line < section.lines.size() ? &section.lines[context->Line] : nullptr;
}

}  // namespace
}  // namespace winsim

using namespace winsim;

HINF SetupOpenInfFileA(PCSTR fileName, PCSTR infClass, DWORD infStyle, PUINT errorLine) {
  if (!fileName) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  // A bare name is looked for in the INF directory, then in the system directory.
  std::vector<std::string> candidates;
  if (std::strpbrk(fileName, "\\/")) {
    candidates.push_back(FullPath(fileName));
  } else {
    candidates.push_back(M().system.windowsDirectory + "\\inf\\" + fileName);
    candidates.push_back(M().system.systemDirectory + "\\" + fileName);
  }
  FsNode* node = nullptr;
  std::string path;
  for (const std::string& candidate : candidates) {
    node = FindNode(candidate);
    path = FullPath(candidate);
    if (node) break;
  }
  if (!node) {
    size_t slash = path.find_last_of('\\');
    FsNode* folder = slash == std::string::npos ? nullptr : FindNode(path.substr(0, slash + 1));
    return Fail(folder && folder->IsDirectory() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND,
                INVALID_HANDLE_VALUE);
  }
  if (node->IsDirectory() || node->denyAccess) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  Trace("inf-open: " + path);

  auto file = std::make_shared<InfFile>();
  file->path = path;
  std::string text = DecodeInfText(node->content);
  UINT line = 0;
  UINT lineBeforeFirstSection = 0;
  DWORD error = InfParser(text, *file).Parse(&line, &lineBeforeFirstSection);
  if (!error && (!(infStyle & INF_STYLE_WIN4) || !HasWin4Signature(*file))) {
    error = ERROR_WRONG_INF_STYLE;
    line = 0;
  }
  // Text before the first section is passed over in a file with a "Strings" section.
  if (!error && lineBeforeFirstSection && FindSection(*file, "Strings") < 0) {
    error = ERROR_EXPECTED_SECTION_NAME;
    line = lineBeforeFirstSection;
  }
  if (!error && infClass && !EqualsNoCase(VersionValue(*file, "Class"), infClass))
    error = ERROR_CLASS_MISMATCH;
  if (error) {
    if (errorLine) *errorLine = line;
    return Fail(error, INVALID_HANDLE_VALUE);
  }
  M().system.lastError = ERROR_SUCCESS;
  return AllocHandle(HandleKind::Inf, file);
}

void SetupCloseInfFile(HINF inf) {
  if (InfOf(inf)) ReleaseHandle(inf);
}

BOOL SetupFindFirstLineA(HINF inf, PCSTR section, PCSTR key, PINFCONTEXT context) {
  std::shared_ptr<InfFile> file = InfOf(inf);
  if (!file || !context) return Fail(ERROR_INVALID_HANDLE, FALSE);
  int index = FindSection(*file, section ? section : "");
  if (index >= 0) {
    const std::vector<InfLine>& lines = file->sections[index].lines;
    for (size_t i = 0; i < lines.size(); ++i) {
      if (key && !(lines[i].hasKey && EqualsNoCase(Substitute(*file, lines[i].key), key))) continue;
      context->Inf = inf;
      context->CurrentInf = inf;
      context->Section = static_cast<UINT>(index);
      context->Line = static_cast<UINT>(i);
      M().system.lastError = ERROR_SUCCESS;
      return TRUE;
    }
  }
  return Fail(ERROR_LINE_NOT_FOUND, FALSE);
}

BOOL SetupFindNextLine(PINFCONTEXT contextIn, PINFCONTEXT contextOut) {
  std::shared_ptr<InfFile> file;
  const InfLine* line = LineOf(contextIn, &file);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!contextOut) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!line || contextIn->Line + 1 >= file->sections[contextIn->Section].lines.size())
    return Fail(ERROR_LINE_NOT_FOUND, FALSE);
  INFCONTEXT next = *contextIn;
  next.Line += 1;
  *contextOut = next;
  M().system.lastError = ERROR_SUCCESS;
  return TRUE;
}

// The line's fields after substitution, joined by commas; the required size
// counts the terminating zero. A buffer too small is left untouched.
BOOL SetupGetLineTextA(PINFCONTEXT context, HINF inf, PCSTR section, PCSTR key, PSTR buffer,
                       DWORD bufferSize, PDWORD requiredSize) {
  INFCONTEXT found;
  if (!context) {
    if (!SetupFindFirstLineA(inf, section, key, &found)) return FALSE;
    context = &found;
  }
  std::shared_ptr<InfFile> file;
  const InfLine* line = LineOf(context, &file);
  if (!line) return Fail(file ? ERROR_LINE_NOT_FOUND : ERROR_INVALID_HANDLE, FALSE);
  std::string text;
  for (size_t i = 0; i < line->fields.size(); ++i) {
    if (i) text += ',';
    text += Substitute(*file, line->fields[i]);
  }
  DWORD required = static_cast<DWORD>(text.size() + 1);
  if (requiredSize) *requiredSize = required;
  if (buffer) {
    if (required > bufferSize) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(buffer, text.c_str(), required);
  }
  M().system.lastError = ERROR_SUCCESS;
  return TRUE;
}

// ---- Driver store ------------------------------------------------------------------
namespace winsim {
namespace {

std::string InfDirectory() { return M().system.windowsDirectory + "\\inf"; }

std::string CompanionName(const std::string& infName) {
  size_t period = infName.rfind('.');
  return (period == std::string::npos ? infName + "." : infName.substr(0, period + 1)) + "PNF";
}

// Removes a file or a whole folder from the simulated file system.
void RemoveNode(const std::string& path) {
  std::string full = FullPath(path);
  size_t slash = full.find_last_of('\\');
  if (slash == std::string::npos) return;
  FsNode* parent = FindNode(full.substr(0, slash + 1));
  if (parent) parent->children.erase(Utf8FromAnsi(full.substr(slash + 1)));
}

}  // namespace

DriverPackage& AddDriverPackage(const std::string& publishedName, const std::string& originalName,
                                const std::string& infText) {
  std::deque<DriverPackage>& packages = M().driverStore.packages;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08x", 0x5a17c0deu + static_cast<unsigned>(packages.size()) * 0x9e37u);
  std::string lower = originalName;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  DriverPackage package;
  package.publishedName = publishedName;
  package.storeFolder = M().system.systemDirectory + "\\DriverStore\\FileRepository\\" + lower + "_amd64_" + suffix;
  MakeFile(InfDirectory() + "\\" + publishedName, infText);
  MakeFile(InfDirectory() + "\\" + CompanionName(publishedName), "PNF");
  MakeFile(package.storeFolder + "\\" + originalName, infText);
  MakeFile(package.storeFolder + "\\" + originalName.substr(0, originalName.rfind('.')) + ".cat", "catalogue");
  packages.push_back(package);
  return packages.back();
}

DriverPackage* FindDriverPackage(const std::string& publishedName) {
  for (DriverPackage& package : M().driverStore.packages)
    if (!package.removed && EqualsNoCase(package.publishedName, publishedName)) return &package;
  return nullptr;
}

}  // namespace winsim

BOOL SetupUninstallOEMInfA(PCSTR infFileName, DWORD flags, PVOID) {
  DWORD error = ERROR_SUCCESS;
  DriverPackage* package = nullptr;
  if (!infFileName || !*infFileName || std::strpbrk(infFileName, "\\/:"))
    error = ERROR_INVALID_PARAMETER;
  else if (!M().system.isAdmin)
    error = ERROR_ACCESS_DENIED;
  else if (!(package = FindDriverPackage(infFileName)))
    error = ERROR_NOT_AN_INSTALLED_OEM_INF;
  else if (package->refuseError)
    error = package->refuseError;
  else if (package->inUse && !(flags & SUOI_FORCEDELETE))
    error = ERROR_INF_IN_USE_BY_DEVICES;
  else
    error = MachineChange("SetupUninstallOEMInf", infFileName, ERROR_ACCESS_DENIED);
  Trace("uninstall-oem-inf: " + std::string(infFileName ? infFileName : "(null)") + " " + std::to_string(flags) +
        " -> " + std::to_string(error));
  if (error) return Fail(error, FALSE);
  RemoveNode(InfDirectory() + "\\" + package->publishedName);
  RemoveNode(InfDirectory() + "\\" + CompanionName(package->publishedName));
  RemoveNode(package->storeFolder);
  package->removed = true;
  M().system.lastError = ERROR_SUCCESS;
  return TRUE;
}

// The store copy of a published INF: the INF file inside the package's
// FileRepository folder. Takes the published name or its path in the INF
// directory; ERROR_FILE_NOT_FOUND for anything the store does not publish.
BOOL SetupGetInfDriverStoreLocationA(PCSTR fileName, PVOID, PCSTR, PSTR buffer, DWORD bufferSize,
                                      PDWORD requiredSize) {
  if (!fileName || !*fileName) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::string name = fileName;
  size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) {
    if (!EqualsNoCase(name.substr(0, slash), InfDirectory())) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    name = name.substr(slash + 1);
  }
  DriverPackage* package = FindDriverPackage(name);
  FsNode* folder = package && !package->removed ? FindNode(package->storeFolder) : nullptr;
  std::string location;
  if (folder)
    for (const auto& child : folder->children)
      if (child.first.size() > 4 && EqualsNoCase(child.first.substr(child.first.size() - 4), ".inf"))
        location = package->storeFolder + "\\" + AnsiFromUtf8(child.first);
  if (location.empty()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (requiredSize) *requiredSize = static_cast<DWORD>(location.size() + 1);
  if (!buffer || bufferSize < location.size() + 1) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  std::memcpy(buffer, location.c_str(), location.size() + 1);
  return TRUE;
}
