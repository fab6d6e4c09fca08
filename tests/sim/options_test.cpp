// The command line, read once: the installer's words keep their substring
// rules, every newer word is a whole argument in any capitals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/options.h"

namespace {

struct OptionsCase {
  const char* program;    // what leads the full command line
  const char* arguments;  // the entry point's argument string
  // silent, msi, restartSilent, noReboot
  bool silent, msi, restartSilent, noReboot;
  // help, version, preview, managed, restorePoint, allUsers
  bool help, version, preview, managed, restorePoint, allUsers;
  const char* reportDir;
  DWORD toolWaitMinutes;
  std::vector<std::string> ignored;
};

class OptionsTable : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTable, ReadsEachWordByItsOwnRule) {
  const OptionsCase& c = GetParam();
  std::string commandLine = std::string(c.program) + (*c.arguments ? " " : "") + c.arguments;
  Options o = ReadOptions(commandLine.c_str(), c.arguments);
  EXPECT_EQ(c.silent, o.silent);
  EXPECT_EQ(c.msi, o.msi);
  EXPECT_EQ(c.restartSilent, o.restartSilent);
  EXPECT_EQ(c.noReboot, o.noReboot);
  EXPECT_EQ(c.help, o.help);
  EXPECT_EQ(c.version, o.version);
  EXPECT_EQ(c.preview, o.preview);
  EXPECT_EQ(c.managed, o.managed);
  EXPECT_EQ(c.restorePoint, o.restorePoint);
  EXPECT_EQ(c.allUsers, o.allUsers);
  EXPECT_EQ(c.reportDir, o.reportDir);
  EXPECT_EQ(c.toolWaitMinutes, o.toolWaitMinutes);
  EXPECT_EQ(c.ignored, o.ignored);
  EXPECT_EQ(c.arguments, o.arguments);
}

const char kProgram[] = "C:\\Tools\\CleanLum.exe";

INSTANTIATE_TEST_SUITE_P(
    Words, OptionsTable,
    ::testing::Values(
        // The installer's words: anywhere, inside longer words, small letters only.
        OptionsCase{kProgram, "silent noreboot", 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "/verysilentmsix", 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "SILENT MSI NOREBOOT", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", 0,
                    {"SILENT", "MSI", "NOREBOOT"}},
        // The program's path counts for the confirmation and MsiMode, not for the restart.
        OptionsCase{"C:\\silent\\msi\\noreboot\\CleanLum.exe", "", 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, "", 0, {}},
        // A value holding the letters still counts, as it always did.
        OptionsCase{kProgram, "\"reportdir=C:\\msi reports\"", 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, "C:\\msi reports", 0, {}},
        // Whole words in any capitals.
        OptionsCase{kProgram, "Preview MANAGED RestorePoint allusers Version", 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, "", 0, {}},
        OptionsCase{kProgram, "unmanaged previews restorepoints", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", 0,
                    {"unmanaged", "previews", "restorepoints"}},
        // Every spelling of help; "/help" and "?" are not among them.
        OptionsCase{kProgram, "/?", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "-?", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "/H", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "-h", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "--HELP", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "Help", 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, "", 0, {}},
        OptionsCase{kProgram, "/help ?", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", 0, {"/help", "?"}},
        // Values: the first non-empty one; a malformed one asks for nothing.
        OptionsCase{kProgram, "REPORTDIR= reportdir=D:\\a reportdir=D:\\b", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "D:\\a", 0,
                    {"REPORTDIR="}},
        OptionsCase{kProgram, "toolwait=30 toolwait=5", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", 30, {}},
        OptionsCase{kProgram, "ToolWait=1440", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "", 1440, {}},
        OptionsCase{kProgram, "toolwait=0 toolwait=1441 toolwait=-5 toolwait=5m toolwait= toolwait=00010000", 0, 0, 0,
                    0, 0, 0, 0, 0, 0, 0, "", 0,
                    {"toolwait=0", "toolwait=1441", "toolwait=-5", "toolwait=5m", "toolwait=", "toolwait=00010000"}},
        // Quotes group and are dropped; tabs separate.
        OptionsCase{kProgram, "\t\"man\"aged\t  \"\"", 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, "", 0, {""}}));

TEST(OptionsTest, NullTextsReadAsEmpty) {
  Options o = ReadOptions(nullptr, nullptr);
  EXPECT_FALSE(o.silent || o.msi || o.restartSilent || o.noReboot || o.help || o.managed);
  EXPECT_EQ("", o.arguments);
  EXPECT_TRUE(o.ignored.empty());
}

}  // namespace
