// Shared set-up for tests on the simulated machine.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "winsim/machine.h"

// Each test starts from a fresh default machine (see winsim::ResetMachine)
// with the vendor's drvmanage.exe in the working directory C:\Tools.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winsim::ResetMachine();
    winsim::MakeFile("C:\\Tools\\drvmanage.exe", "MZ");
  }

  // Runs the whole program with the argument string; the full command line is
  // the program path followed by the arguments.
  int RunProgram(const std::string& arguments,
                 const std::string& programPath = "C:\\Tools\\CleanLum.exe");

  std::string Log() const { return winsim::ReadFileText("C:\\Temp\\LUMInstall.log"); }
};
