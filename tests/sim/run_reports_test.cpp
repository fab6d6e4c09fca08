// The preview and the result report on the simulated machine: the preview
// changes nothing and lists the vendor's items with the run's own command
// lines; a real run's result report says what it left and why.
#include <windows.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "inventory/report.h"
#include "main/main_sequence.h"
#include "system/wide_text.h"
#include "report_schema.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kLibraryKey[] = "Software\\Velmora\\Velmora Imaging Library";
const char kInstallFolder[] = "C:\\Program Files\\Velmora Imaging";

class RunReportsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    winsim::SetString(HKEY_LOCAL_MACHINE, kLibraryKey, "Revision", "8.2");
    winsim::SetString(HKEY_LOCAL_MACHINE, kLibraryKey, "Directory", kInstallFolder);
    winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\Parlow-CL");
    winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\Host");
    winsim::MakeFile(std::string(kInstallFolder) + "\\bin\\lumview.exe", "12345");
    winsim::MakeFile(std::string(kInstallFolder) + "\\readme.txt", "abc");
    winsim::MakeFile("C:\\Windows\\System32\\lumcore.dll", "MZ");
    winsim::MakeFile("C:\\Windows\\System32\\lumberjack.txt", "not a library");  // look-alike
    winsim::MakeFile("C:\\Program Files\\Other\\lum.dll", "MZ");                 // look-alike
    winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Other Vendor\\Velmora");
    winsim::SetString(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "lum_path",
                      "C:\\x\xE9");  // a Windows-1252 byte: the JSON holds UTF-8
  }

  // Every file and key of the machine, with the program's windows, boxes, runs and restarts.
  std::vector<std::string> WholeState() {
    std::vector<std::string> state = winsim::DumpTree("C:");
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS})
      for (const std::string& line : winsim::DumpRegistry(root)) state.push_back(line);
    for (const std::string& name : winsim::RunningImageNames()) state.push_back("process " + name);
    state.push_back("windows " + std::to_string(M().ui.windows.size()));
    state.push_back("boxes " + std::to_string(M().ui.messageBoxes.size()));
    state.push_back("runs " + std::to_string(M().processes.runs.size()) + " " +
                    std::to_string(M().processes.spawns.size()));
    state.push_back("restarts " + std::to_string(M().ui.exitWindowsCalls.size()));
    return state;
  }

  // The report files in folder whose names start with prefix.
  std::vector<std::string> Reports(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : winsim::DumpTree(folder))
      if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line.substr(0, line.find(' ')));
    return found;
  }

  nlohmann::json Json(const std::string& path) {
    nlohmann::json report = nlohmann::json::parse(winsim::ReadFileText(path));
    std::vector<std::string> problems = CheckReportSchema(report);
    EXPECT_TRUE(problems.empty()) << problems.front();
    return report;
  }

  static const nlohmann::json* Item(const nlohmann::json& report, const std::string& path) {
    for (const auto& item : report["items"])
      if (item["path"] == path) return &item;
    return nullptr;
  }
};

TEST_F(RunReportsTest, PreviewChangesNothingButItsReportAndNeedsNoAdministrator) {
  M().system.isAdmin = false;
  std::vector<std::string> before = WholeState();

  EXPECT_EQ(1, RunProgram("PreView"));  // the vendor's items are there

  std::vector<std::string> after = WholeState();
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  std::vector<std::string> removed;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(removed));
  EXPECT_TRUE(removed.empty()) << removed.front();
  ASSERT_EQ(2u, added.size());
  EXPECT_EQ(0u, added[0].find("Temp\\CleanLum-preview-20261208-090503.json "));
  EXPECT_EQ(0u, added[1].find("Temp\\CleanLum-preview-20261208-090503.txt "));
}

TEST_F(RunReportsTest, PreviewListsTheVendorsItemsWithTheRunsCommandLines) {
  EXPECT_EQ(1, RunProgram("preview"));  // the vendor's items are there
  nlohmann::json report = Json("C:\\Windows\\Logs\\CleanLum\\CleanLum-preview-20261208-090503.json");
  EXPECT_EQ("preview", report["mode"]);
  EXPECT_EQ("WINSIM", report["machine"]);

  const nlohmann::json* board = Item(report, "HKLM\\Software\\Velmora\\Imaging Board\\Parlow-CL");
  ASSERT_NE(nullptr, board);
  EXPECT_EQ(nlohmann::json::array({"C:\\Tools\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet"}),
            (*board)["commands"]);
  EXPECT_EQ(nullptr, Item(report, "HKLM\\Software\\Velmora\\Imaging Board\\Host"));

  const nlohmann::json* folder = Item(report, kInstallFolder);
  ASSERT_NE(nullptr, folder);
  EXPECT_EQ(2u, (*folder)["files"]);
  EXPECT_EQ(8u, (*folder)["bytes"]);
  EXPECT_NE(nullptr, Item(report, "C:\\Windows\\System32\\lumcore.dll"));
  EXPECT_EQ(nullptr, Item(report, "C:\\Windows\\System32\\lumberjack.txt"));
  EXPECT_EQ(nullptr, Item(report, "C:\\Program Files\\Other\\lum.dll"));

  const nlohmann::json* environment =
      Item(report, "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
  ASSERT_NE(nullptr, environment);
  EXPECT_EQ("lum_path", (*environment)["value"]);
  EXPECT_EQ("%comspec% /c rd /s /q \"C:\\Program Files\\Velmora Imaging\"", report["logonCommand"]["data"]);

  std::string text = winsim::ReadFileText("C:\\Windows\\Logs\\CleanLum\\CleanLum-preview-20261208-090503.txt");
  EXPECT_EQ(0u, text.find("\xEF\xBB\xBF" "CleanLum "));
  EXPECT_NE(std::string::npos, text.find("runs: C:\\Tools\\drvmanage.exe uninstall inf=Parlow-CL.inf -log -quiet\r\n"));
}

TEST_F(RunReportsTest, NamesTheCodePageCannotSpellAndPathsPast260AreListedAndRemoved) {
  const std::u16string install = u"C:\\Program Files\\Velmora Imaging";
  winsim::MakeFile(install + u"\\\u65E5\u672C\u8A9E\\\u03A9mega.txt", "12");  // Japanese folder, Greek file
  std::string deep = kInstallFolder;
  for (char level = 'a'; level < 'g'; ++level) deep += "\\" + std::string(60, level);
  winsim::MakeFile(deep + "\\deep.txt", "four");
  winsim::MakeFile(u"C:\\Windows\\System32\\lum\u0141\U0001F4F7.dll", "MZ");  // Polish letter, emoji
  const std::string library = "C:\\Windows\\System32\\lum\xC5\x81\xF0\x9F\x93\xB7.dll";

  EXPECT_EQ(1, RunProgram("preview"));
  nlohmann::json preview = Json("C:\\Windows\\Logs\\CleanLum\\CleanLum-preview-20261208-090503.json");
  EXPECT_EQ("by handle", preview["fileWalk"]);
  ASSERT_NE(nullptr, Item(preview, library));
  const nlohmann::json* folder = Item(preview, kInstallFolder);
  ASSERT_NE(nullptr, folder);
  EXPECT_EQ(4u, (*folder)["files"]);
  EXPECT_EQ(14u, (*folder)["bytes"]);

  EXPECT_EQ(0, RunProgram("silent noreboot"));
  nlohmann::json result = Json("C:\\Windows\\Logs\\CleanLum\\CleanLum-result-20261208-090503.json");
  EXPECT_EQ("removed", (*Item(result, library))["status"]);
  EXPECT_EQ("removed", (*Item(result, kInstallFolder))["status"]);
  EXPECT_FALSE(winsim::PathExists(kInstallFolder));

  // Where ntdll lacks an entry point the walks go by path, and the reports say so.
  M().loader.missingExports.insert("NtCreateFile");
  winsim::FindNode("C:\\Windows\\Logs\\CleanLum")->children.clear();
  EXPECT_EQ(0, RunProgram("preview"));  // nothing left after the run
  EXPECT_EQ(0u, Json("C:\\Windows\\Logs\\CleanLum\\CleanLum-preview-20261208-090503.json")["fileWalk"].get<std::string>().find(
                    "by path: ntdll has no NtCreateFile"));
}

// Exit 0 means "nothing of the vendor's here" to detection scripts: items a
// run keeps by design do not count, anything a run would act on does.
TEST(PreviewExitCode, ZeroOnlyWhenNothingARunWouldActOnIsPresent) {
  winsim::ResetMachine();
  M().system.isAdmin = false;
  M().system.commandLine = "C:\\Tools\\CleanLum.exe preview";
  EXPECT_EQ(0, RunCleanLum(nullptr, "preview"));

  winsim::AddService("TrkServer");  // kept without a Tarvel board, and listed as kept
  M().system.localTime.wSecond = 10;
  EXPECT_EQ(0, RunCleanLum(nullptr, "preview"));
  nlohmann::json report = nlohmann::json::parse(winsim::ReadFileText("C:\\Temp\\CleanLum-preview-20261208-090510.json"));
  ASSERT_EQ(1u, report["items"].size());
  EXPECT_TRUE(report["items"][0].contains("kept"));

  winsim::MakeFile("C:\\Windows\\system32\\lumcore.dll", "MZ");
  EXPECT_EQ(1, RunCleanLum(nullptr, "preview"));
  EXPECT_TRUE(winsim::PathExists("C:\\Windows\\system32\\lumcore.dll"));
}

TEST_F(RunReportsTest, OnlyTheWholeWordAsksForThePreview) {
  // Not a preview: the confirmation is asked (and declined).
  M().ui.messageBoxAnswers.push_back(IDCANCEL);
  EXPECT_EQ(0, RunProgram("previews"));
  EXPECT_EQ(1u, M().ui.messageBoxes.size());
  EXPECT_TRUE(Reports("C:\\Temp", "CleanLum-").empty());
  // Only the administrator's log of the cancelled run: no report.
  EXPECT_TRUE(Reports("C:\\Windows\\Logs\\CleanLum", "CleanLum-preview-").empty());
  EXPECT_TRUE(Reports("C:\\Windows\\Logs\\CleanLum", "CleanLum-result-").empty());
}

TEST_F(RunReportsTest, ResultReportNamesWhatTheRunLeftAndWhy) {
  winsim::MakeFile(std::string(kInstallFolder) + "\\bin\\locked.dll", "x").inUse = true;
  winsim::MakeFile("C:\\Windows\\System32\\lumcor.dll", "MZ").attributes |= FILE_ATTRIBUTE_READONLY;
  // A key the registry step cannot delete, named outside the code page: the
  // report names it, with the error its deletion met.
  winsim::CreateKey(HKEY_CURRENT_USER, u"Software\\Velmora\\Lum\\\u65e5\u672c").refuseDelete = true;
  winsim::CreateKey(HKEY_CURRENT_USER, "Software\\Velmora\\Lum\\Settings");
  std::string quiet = "silent noreboot reportdir=\"C:\\Reports\\Lum run\"";

  EXPECT_EQ(0, RunProgram(quiet));

  nlohmann::json report = Json("C:\\Reports\\Lum run\\CleanLum-result-20261208-090503.json");
  std::vector<std::string> remaining;
  for (const auto& item : report["items"])
    if (item["status"] != "removed") remaining.push_back(item["path"].get<std::string>() + " " +
                                                          item["status"].get<std::string>() + ": " +
                                                          item.value("reason", ""));
  EXPECT_EQ((std::vector<std::string>{
                "C:\\Program Files\\Velmora Imaging pendingRestart: left for the RunOnce removal at the next "
                "logon (C:\\Program Files\\Velmora Imaging\\bin\\locked.dll is in use; it could not be deleted: "
                "Win32 error 32: The process cannot access the file because it is being used by another process.)",
                "HKCU\\Software\\Velmora remaining: its subkey Lum\\\u65e5\u672c could not be deleted: Win32 error 5: "
                "Access is denied.",
                "C:\\Windows\\System32\\lumcor.dll remaining: read-only; it could not be deleted: Win32 error 5: Access is "
                "denied."}),
            remaining);
  EXPECT_FALSE(winsim::KeyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Lum\\Settings"));
  EXPECT_EQ(2u, report["summary"]["remaining"]);
  EXPECT_EQ(1u, report["summary"]["pendingRestart"]);
  EXPECT_EQ(report["items"].size() - 3, report["summary"]["removed"]);
  EXPECT_FALSE(winsim::PathExists("C:\\Windows\\Logs\\CleanLum\\CleanLum-result-20261208-090503.json"));
}

TEST_F(RunReportsTest, AnUnwritableReportFolderLeavesTheRunAsItIs) {
  winsim::MakeFile("C:\\Blocked", "a file where the folder would be");
  EXPECT_EQ(0, RunProgram("silent noreboot reportdir=C:\\Blocked\\Reports"));
  EXPECT_FALSE(winsim::PathExists("C:\\Program Files\\Velmora Imaging"));
  EXPECT_NE(std::string::npos, Log().find("Riruv Lum ended at "));
}

TEST(ReportText, ItemTextsAreUtf8AndInvalidTextNeverThrows) {
  winsim::ResetMachine();
  EXPECT_EQ("Menu D\xC3\xA9marrer \xE2\x82\xAC", Utf8FromAnsi("Menu D\xE9marrer \x80"));
  Inventory inventory;
  InventoryItem item;
  item.path = "C:\\\xFF\xFE";  // no UTF-8: replaced, never thrown over
  inventory.items.push_back(item);
  item.path = "C:\\x\xEF\xBC\x8F..";  // UTF-8 (a fullwidth solidus) goes through as it is
  inventory.items.push_back(item);
  ReportHeader header;
  nlohmann::json report = nlohmann::json::parse(ReportJson(header, inventory));
  EXPECT_EQ("C:\\\xEF\xBF\xBD\xEF\xBF\xBD", report["items"][0]["path"]);
  EXPECT_EQ("C:\\x\xEF\xBC\x8F..", report["items"][1]["path"]);
}

}  // namespace
