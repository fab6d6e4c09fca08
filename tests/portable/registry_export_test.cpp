// The registry backup: what "reg export" would write for the same keys.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "registry/registry_export.h"
#include "registry_test_support.h"

namespace {

using regtest::SetBytes;

WideString W(const char* text) { return WideFromUtf8(text); }

const char kRoot[] = "Software\\CleanLumTest\\Export";

class RegistryExportTest : public regtest::PrivateKeyTest {
 protected:
  RegistryExportTest() : PrivateKeyTest(kRoot) {}

  // The export as text: each UTF-16 unit below 0x100 as one character (the
  // Latin-1 range, where Windows-1252 and Unicode agree).
  static std::string Text(const RegistryExport& backup) {
    std::string text;
    EXPECT_GE(backup.bytes.size(), 2u);
    EXPECT_EQ(0xFF, backup.bytes[0]);
    EXPECT_EQ(0xFE, backup.bytes[1]);
    for (size_t i = 2; i + 1 < backup.bytes.size(); i += 2) {
      EXPECT_EQ(0, backup.bytes[i + 1]) << "unit at byte " << i;
      text += static_cast<char>(backup.bytes[i]);
    }
    return text;
  }
};

TEST_F(RegistryExportTest, EveryValueTypeIsWrittenAsRegExportWritesIt) {
  const std::string key = kRoot;
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "", REG_SZ, std::string("top\0", 4)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "quote\"and\\back", REG_SZ, std::string("C:\\x \"y\"\0", 9)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "caf\xE9=[1]", REG_SZ, std::string("\xE9\0", 2)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "dw", REG_DWORD, std::string("\x78\x56\x34\x12", 4)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "qw", REG_QWORD, std::string("\1\2\3\4\5\6\7\x8", 8)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "bin", REG_BINARY, std::string("\0\xFF", 2)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "none", REG_NONE, ""));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "exp", REG_EXPAND_SZ, std::string("%A%\0", 4)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "raw", REG_SZ, "abc"));  // no terminating zero
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "odd", 0x20, "\x01"));
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, key, "empty", REG_SZ, std::string("\0", 1)));
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, key + "\\Child", "v", "1"));
  ASSERT_TRUE(regtest::CreateKey(HKEY_CURRENT_USER, key + "\\Child\\Deep"));

  RegistryExport backup;
  BeginRegistryExport(backup);
  ExportRegistryTree(backup, HKEY_CURRENT_USER, W(kRoot));

  // "raw" is written as it is stored: without a terminating zero, as hex(1)
  // (should a registry add one, as the quoted string).
  char raw[8];
  DWORD rawSize = sizeof raw;
  HKEY opened = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &opened));
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(opened, WIDE_TEXT("raw"), nullptr, nullptr, reinterpret_cast<BYTE*>(raw),
                                            &rawSize));
  RegCloseKey(opened);
  std::string rawLine = rawSize == 6 ? "\"raw\"=hex(1):61,00,62,00,63,00" : "\"raw\"=\"abc\"";

  // Values come in the registry's enumeration order (creation order on
  // Windows, by name on Wine): compared as a set.
  std::vector<std::string> values = {
      "@=\"top\"",
      "\"quote\\\"and\\\\back\"=\"C:\\\\x \\\"y\\\"\"",
      "\"caf\xE9=[1]\"=\"\xE9\"",
      "\"dw\"=dword:12345678",
      "\"qw\"=hex(b):01,02,03,04,05,06,07,08",
      "\"bin\"=hex:00,ff",
      "\"none\"=hex(0):",
      "\"exp\"=hex(2):25,00,41,00,25,00,00,00",
      "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00",
      rawLine,
      "\"odd\"=hex(20):01",
      "\"empty\"=\"\"",
  };
  const std::string header = "[HKEY_CURRENT_USER\\Software\\CleanLumTest\\Export";
  std::string text = Text(backup);
  std::string first = "Windows Registry Editor Version 5.00\r\n\r\n" + header + "]\r\n";
  ASSERT_EQ(first, text.substr(0, first.size()));
  size_t end = text.find("\r\n\r\n", first.size());
  ASSERT_NE(std::string::npos, end);
  std::vector<std::string> written;
  for (size_t at = first.size(); at < end;) {
    size_t next = text.find("\r\n", at);
    written.push_back(text.substr(at, next - at));
    at = next + 2;
  }
  std::sort(values.begin(), values.end());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(values, written);
  EXPECT_EQ("\r\n\r\n" + header + "\\Child]\r\n\"v\"=\"1\"\r\n\r\n" + header + "\\Child\\Deep]\r\n\r\n",
            text.substr(end));
  EXPECT_EQ(3u, backup.keyCount);
  EXPECT_EQ(13u, backup.valueCount);
  EXPECT_TRUE(backup.missing.empty());

  // A subtree already written is not written again, nor is a key below it.
  size_t size = backup.bytes.size();
  ExportRegistryTree(backup, HKEY_CURRENT_USER, W("SOFTWARE\\CleanLumTest\\Export\\child"));
  ExportRegistryTree(backup, HKEY_CURRENT_USER, W("Software\\CleanLumTest\\Export\\"));
  EXPECT_EQ(size, backup.bytes.size());
}

TEST_F(RegistryExportTest, LongHexDataIsWrappedAsRegeditWrapsIt) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>(i);
  ASSERT_TRUE(SetBytes(HKEY_CURRENT_USER, kRoot, "big", REG_BINARY, data));

  RegistryExport backup;
  BeginRegistryExport(backup);
  ExportRegistryTree(backup, HKEY_CURRENT_USER, W(kRoot));
  std::string text = Text(backup);

  size_t start = text.find("\"big\"=hex:");
  ASSERT_NE(std::string::npos, start);
  std::string value = text.substr(start, text.find("\r\n\r\n", start) - start);
  // First line: the name and 23 bytes; then 25 bytes a line, each line ending
  // in ",\" and the next indented by two blanks; no line longer than 80.
  std::vector<std::string> lines;
  for (size_t at = 0;;) {
    size_t end = value.find("\r\n", at);
    lines.push_back(value.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 2;
  }
  ASSERT_EQ(13u, lines.size());
  EXPECT_EQ(10u + 23 * 3 + 1, lines[0].size());
  // Without the line ends' backslashes, the hex bytes in one run.
  std::string hex = lines[0].substr(10, lines[0].size() - 11);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ("  ", lines[i].substr(0, 2));
    bool last = i + 1 == lines.size();
    if (!last) {
      EXPECT_EQ(2u + 25 * 3 + 1, lines[i].size());
      EXPECT_EQ('\\', lines[i].back());
    }
    hex += lines[i].substr(2, lines[i].size() - (last ? 2 : 3));
  }
  for (size_t i = 0; i < 300; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(i & 0xFF));
    ASSERT_EQ(pair, hex.substr(i * 3, 2)) << i;
  }
}

TEST_F(RegistryExportTest, NamedValuesOnlyAndNothingForWhatIsMissing) {
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, kRoot, "lum_path", "C:\\Lum"));
  ASSERT_TRUE(regtest::SetText(HKEY_CURRENT_USER, kRoot, "Path", "C:\\Windows"));
  RegistryExport backup;
  BeginRegistryExport(backup);
  ExportRegistryValues(backup, HKEY_CURRENT_USER, W(kRoot), {W("genicam_root"), W("LUM_PATH")});
  ExportRegistryValues(backup, HKEY_CURRENT_USER, W(kRoot), {W("Tarvel")});
  ExportRegistryTree(backup, HKEY_CURRENT_USER, W("Software\\CleanLumTest\\Export\\Missing"));

  EXPECT_EQ("Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\CleanLumTest\\Export]\r\n"
            "\"lum_path\"=\"C:\\\\Lum\"\r\n\r\n",
            Text(backup));
  EXPECT_TRUE(backup.missing.empty());
}

TEST_F(RegistryExportTest, NamesThatWouldWriteSectionsOfTheirOwnAreLeftOutAndNamed) {
  // A subkey whose name ends its header and starts another (a key name holds
  // no backslash: the rest are keys below it), one with a control character,
  // a value whose name starts a line of its own, string data with a line break,
  // and a name outside every code page, which goes through as it is.
  const WideString root = W(kRoot);
  auto create = [&root](const WideString& path) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, (root + W("\\") + path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr);
    return rc == ERROR_SUCCESS ? key : nullptr;
  };
  auto set = [](HKEY key, const WideString& name, const WideString& text) {
    return RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
  };
  HKEY forged = create(W("k]\r\n[HKEY_CURRENT_USER\\Software\\CleanLumTest\\Pwned]"));
  ASSERT_NE(nullptr, forged);
  ASSERT_TRUE(set(forged, W("Pwned"), W("yes")));
  RegCloseKey(forged);
  HKEY control = create(W("tab\x01name"));
  ASSERT_NE(nullptr, control);
  RegCloseKey(control);
  HKEY plain = create(W("plain"));
  ASSERT_NE(nullptr, plain);
  ASSERT_TRUE(set(plain, W("v\r\n\"Pwned\"=\"yes\""), W("x")));
  ASSERT_TRUE(set(plain, W("lines"), W("one\r\ntwo")));
  ASSERT_TRUE(set(plain, W("ok"), W("fine")));
  RegCloseKey(plain);
  HKEY omega = create(W("\xCE\xA9"));  // U+03A9
  ASSERT_NE(nullptr, omega);
  RegCloseKey(omega);

  RegistryExport backup;
  BeginRegistryExport(backup);
  ExportRegistryTree(backup, HKEY_CURRENT_USER, root);

  WideString units;
  for (size_t i = 2; i + 1 < backup.bytes.size(); i += 2) units += static_cast<WCHAR>(backup.bytes[i] | backup.bytes[i + 1] << 8);
  std::string text = Utf8FromWide(units);
  const std::string top = "HKEY_CURRENT_USER\\Software\\CleanLumTest\\Export";
  std::vector<std::string> headers;
  for (size_t at = 0; (at = text.find("\r\n[", at)) != std::string::npos; at += 3)
    headers.push_back(text.substr(at + 3, text.find("\r\n", at + 3) - at - 3));
  std::sort(headers.begin(), headers.end());
  EXPECT_EQ((std::vector<std::string>{top + "\\plain]", top + "\\\xCE\xA9]", top + "]"}), headers) << text;
  EXPECT_EQ(std::string::npos, text.find("Pwned")) << text;
  EXPECT_NE(std::string::npos,
            text.find("\"lines\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00,74,00,77,00,6f,00,00,00\r\n"));
  EXPECT_NE(std::string::npos, text.find("\"ok\"=\"fine\"\r\n"));

  std::vector<std::string> missing = backup.missing;
  std::sort(missing.begin(), missing.end());
  EXPECT_EQ((std::vector<std::string>{
                top + "\\k]\\r\\n[HKEY_CURRENT_USER: not restorable from the backup, its name holds a line break, "
                      "which a .reg file cannot carry (nor anything below it)",
                top + "\\plain value \"v\\r\\n\"Pwned\"=\"yes\"\": not restorable from the backup, its name holds a "
                      "line break, which a .reg file cannot carry",
                top + "\\tab\\x01name: not restorable from the backup, its name holds a control character, which a "
                      ".reg file cannot carry (nor anything below it)"}),
            missing);
}

}  // namespace
