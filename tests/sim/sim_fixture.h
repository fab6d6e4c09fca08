// Shared set-up for tests on the simulated machine.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "run/cleanup_context.h"
#include "run/progress_window.h"
#include "system/system.h"
#include "winsim/machine.h"

// Each test starts from a fresh default machine (see winsim::ResetMachine)
// with the vendor's drvmanage.exe in the working directory C:\Tools.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winsim::ResetMachine();
    winsim::MakeFile("C:\\Tools\\drvmanage.exe", "MZ");
    NoMessageBoxes = false;  // the program's own, set by each run
  }

  // Runs the whole program with the argument string; the full command line is
  // the program path followed by the arguments.
  int RunProgram(const std::string& arguments,
                 const std::string& programPath = "C:\\Tools\\CleanLum.exe");

  std::string Log() const { return winsim::ReadFileText("C:\\Temp\\LUMInstall.log"); }
};

// For tests of one clean-up step on its own: the progress window as the main
// sequence creates it, then an empty trace, so that what the trace holds
// afterwards is the step's own doing.
class StepTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    context_.progressWindow = ProgressWindow::Create(reinterpret_cast<HINSTANCE>(0x400000));
    winsim::M().trace.clear();
  }

  CleanupContext context_;
};
