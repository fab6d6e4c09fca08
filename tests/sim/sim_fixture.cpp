#include "sim_fixture.h"

#include "main/main_sequence.h"

int SimTest::RunProgram(const std::string& arguments, const std::string& programPath) {
  winsim::M().system.commandLine = programPath + (arguments.empty() ? "" : " " + arguments);
  return RunCleanLum(reinterpret_cast<HINSTANCE>(0x400000), arguments.c_str());
}
