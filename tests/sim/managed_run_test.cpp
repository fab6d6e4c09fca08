// "managed": the exit codes deployment engines read, the result marker, the
// Application event, and no restart of the program's own.
#include <windows.h>

#include <functional>
#include <string>

#include "main/main_sequence.h"
#include "sim_fixture.h"

using winsim::M;

namespace {

const char kBoard[] = "Software\\Velmora\\Imaging Board\\Parlow-CL";

struct ManagedCase {
  const char* name;
  int exitCode;
  bool vendorItem;  // a board is registered
  std::function<void()> arrange;
  bool changes;     // the vendor's board goes
};

class ManagedRunTest : public SimTest, public ::testing::WithParamInterface<ManagedCase> {};

DWORD MarkerNumber(const char* name) {
  const winsim::RegValue* value = winsim::FindValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLum", name);
  if (!value || value->type != REG_DWORD || value->data.size() != 4) return 0xFFFFFFFF;
  return static_cast<DWORD>(value->data[0] | value->data[1] << 8 | value->data[2] << 16 | value->data[3] << 24);
}

std::string MarkerText(const char* name) {
  const winsim::RegValue* value = winsim::FindValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLum", name);
  if (!value || value->type != REG_SZ || value->data.empty()) return "(missing)";
  return std::string(value->data.begin(), value->data.end() - 1);
}

TEST_P(ManagedRunTest, ExitCodeMarkerAndEventWithoutABoxOrARestart) {
  const ManagedCase& c = GetParam();
  M().ui.visibleWindowStation = false;  // as under a deployment engine's service
  if (c.vendorItem) winsim::SetString(HKEY_LOCAL_MACHINE, kBoard, "", "");
  if (c.arrange) c.arrange();

  EXPECT_EQ(c.exitCode, RunProgram("Managed reportdir=C:\\Reports"));

  EXPECT_TRUE(M().ui.messageBoxes.empty());
  EXPECT_TRUE(M().ui.exitWindowsCalls.empty());
  EXPECT_EQ(c.vendorItem && !c.changes, winsim::KeyExists(HKEY_LOCAL_MACHINE, kBoard));
  EXPECT_EQ(c.changes, winsim::PathExists("C:\\Temp\\LUMInstall.log"));
  if (!M().system.isAdmin) return;  // neither marker nor event can be written
  EXPECT_EQ(static_cast<DWORD>(c.exitCode), MarkerNumber("LastResult"));
  // What is still there: the board's keys when nothing ran, the library held open.
  bool success = c.exitCode == 0 || c.exitCode == 3010;
  if (success)
    EXPECT_EQ(0u, MarkerNumber("Remaining"));
  else
    EXPECT_GE(MarkerNumber("Remaining"), 1u);
  EXPECT_EQ("2026-12-08T09:05:03Z", MarkerText("Time"));
  EXPECT_NE("(missing)", MarkerText("Version"));
  std::string report = MarkerText("Report");
  EXPECT_EQ(0u, report.find("C:\\Reports\\CleanLum-result-20261208-090503.json")) << report;
  EXPECT_TRUE(winsim::PathExists(report));
  ASSERT_EQ(1u, M().eventLog.events.size());
  const winsim::SimEvent& event = M().eventLog.events[0];
  EXPECT_EQ("CleanLum", event.source);
  EXPECT_EQ(success ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, event.type);
  EXPECT_EQ(success ? 0x40000001u : 0xC0000002u, event.eventId);
  ASSERT_EQ(1u, event.strings.size());
  EXPECT_EQ(0u, event.strings[0].find("Summary: ")) << event.strings[0];
  // The program file is the source's message file.
  const winsim::RegValue* file = winsim::FindValue(
      HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\CleanLum", "EventMessageFile");
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(REG_EXPAND_SZ, file->type);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ManagedRunTest,
    ::testing::Values(
        ManagedCase{"Cleaned", 3010, true, nullptr, true},
        ManagedCase{"NothingFound", 0, false, nullptr, false},
        ManagedCase{"InstallerBusy", 1618, true, [] { M().eventLog.mutexes.insert("Global\\_MSIExecute"); }, false},
        ManagedCase{"InstallerBusyAndRefused", 1618, true,
                    [] {
                      M().eventLog.mutexes.insert("Global\\_MSIExecute");
                      M().eventLog.refusedMutexes.insert("Global\\_MSIExecute");
                    },
                    false},
        ManagedCase{"NotElevated", 740, true, [] { M().system.isAdmin = false; }, false},
        ManagedCase{"ToolMissing", 2, true, [] { winsim::FindNode("C:\\Tools")->children.clear(); }, false},
        ManagedCase{"LibraryInUse", 1603, true,
                    [] { winsim::MakeFile("C:\\Windows\\system32\\lumcore.dll", "MZ").inUse = true; }, true},
        // Nobody could look at it after the run: nobody can say it is gone.
        ManagedCase{"KeyUnreadable", 1603, true,
                    [] { winsim::CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmora\\DrvManage").refuseOpen = true; },
                    true},
        // The monitor's service stays without a Tarvel board: nothing to do.
        ManagedCase{"OnlyWhatIsKeptByDesign", 0, false, [] { winsim::AddService("TrkServer"); }, false}),
    [](const ::testing::TestParamInfo<ManagedCase>& info) { return std::string(info.param.name); });

// A whole word only: "unmanaged", or "managed" in the program's path, asks for nothing new.
using ManagedWordTest = SimTest;

TEST_F(ManagedWordTest, OnlyTheWholeWordAsksForManagedMode) {
  winsim::SetString(HKEY_LOCAL_MACHINE, kBoard, "", "");
  winsim::MakeFile("C:\\managed\\drvmanage.exe", "MZ");
  M().system.currentDirectory = "C:\\managed";
  EXPECT_EQ(0, RunProgram("silent unmanaged", "C:\\managed\\CleanLum.exe"));
  EXPECT_EQ(1u, M().ui.exitWindowsCalls.size());  // the usual restart
  EXPECT_FALSE(winsim::KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\CleanLum"));
  EXPECT_TRUE(M().eventLog.events.empty());
}

// A managed run shows no box at all, even where one could be seen: not the
// two that tell a debug privilege out of reach, which a run without the word
// shows.
TEST_F(ManagedWordTest, NoBoxEvenWhenTheDebugPrivilegeIsOutOfReach) {
  for (const char* words : {"silent noreboot", "managed"}) {
    SetUp();
    winsim::SetString(HKEY_LOCAL_MACHINE, kBoard, "", "");
    winsim::AddProcess("LumNetworkServer.exe", "SYSTEM");
    M().tokens.failOpenThreadTokenAfterImpersonation = true;
    RunProgram(words);
    EXPECT_EQ(std::string(words) == "managed", M().ui.messageBoxes.empty()) << words;
  }
}

// The restart a run asks for is what completes the removal: a second run in
// the same boot, which finds nothing, still says 3010; the first run after
// Windows restarted says 0 and forgets it.
TEST_F(ManagedWordTest, ARestartStillToComeOutlivesASecondRunAndEndsWithTheBoot) {
  winsim::SetString(HKEY_LOCAL_MACHINE, kBoard, "", "");
  EXPECT_EQ(3010, RunProgram("managed"));
  EXPECT_EQ(1u, MarkerNumber("RestartPending"));

  M().system.localTime.wMinute += 5;  // five minutes later, same boot
  M().system.uptimeMs += 5 * 60 * 1000;
  EXPECT_EQ(3010, RunProgram("managed"));
  EXPECT_EQ(3010u, MarkerNumber("LastResult"));
  EXPECT_EQ(1u, MarkerNumber("RestartPending"));
  EXPECT_EQ("2026-12-08T09:05:03Z", MarkerText("RestartSince"));

  M().system.localTime.wHour += 1;  // Windows restarted ten minutes ago
  M().system.uptimeMs = 10 * 60 * 1000;
  EXPECT_EQ(0, RunProgram("managed"));
  EXPECT_EQ(0u, MarkerNumber("LastResult"));
  EXPECT_EQ(0u, MarkerNumber("RestartPending"));
  EXPECT_EQ("", MarkerText("RestartSince"));
}

}  // namespace
