// Set-up for tests of the two driver steps on the simulated machine: a
// progress window as the main sequence creates it, the step run on its own.
#pragma once

#include <string>
#include <vector>

#include "drivers/drivers.h"
#include "run/run_log.h"
#include "sim_fixture.h"

class DriverStepTest : public StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    // The vendor's tools where the steps look for them, and Windows' sc.
    for (const char* tool : {R"(C:\Tools\lumdrv.exe)", R"(C:\Tools\drvinst.exe)",
                             R"(C:\Tools\LumNetworkServer.exe)",
                             R"(C:\Program Files\Velmora Imaging\Tools\VlxGigeService.exe)",
                             R"(C:\Program Files\Velmora Imaging\Tools\LumNetworkServer.exe)",
                             R"(C:\Windows\system32\sc.exe)", R"(C:\Windows\SysWOW64\sc.exe)"})
      winsim::MakeFile(tool, "MZ");
  }

  void RunBoardStep() {
    RunLog log;
    log.Open();
    UninstallAllBoards(context_, log);
    log.Close();
  }

  void RunDmaStep(const char* revision) { UninstallDma(context_, revision); }

  static void AddBoard(const std::string& name) {
    winsim::CreateKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Imaging Board\\" + name);
  }

  // Every command line handed to CreateProcessA, started or not, in order.
  static std::vector<std::string> Runs() {
    std::vector<std::string> lines;
    for (const auto& run : winsim::M().processes.runs) lines.push_back(run.commandLine);
    return lines;
  }

  static std::vector<std::string> Captions() { return winsim::TraceOf("caption: "); }
  static size_t Steps() { return winsim::TraceOf("step: ").size(); }
  static std::vector<DWORD> Sleeps() { return winsim::M().system.sleeps; }

  // The trace lines of the given kinds ("run: ", "sleep: ", ...), prefixes kept.
  static std::vector<std::string> TraceOfKinds(const std::vector<std::string>& prefixes) {
    std::vector<std::string> out;
    for (const auto& line : winsim::TraceLines())
      for (const auto& prefix : prefixes)
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
  }

  // The "Call to " lines a run log holds, as they would be written for lines.
  static std::string CallLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "Call to " + line + "\r\n";
    return text;
  }

};
