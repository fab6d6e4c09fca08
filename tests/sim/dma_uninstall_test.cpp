// DMA driver removal on the simulated machine: the tool chosen by Windows
// version, architecture and library revision, the 15000 ms waits, the network
// server from the working directory, and the early end without a revision.
#include <ostream>
#include <string>
#include <vector>

#include "driver_step_fixture.h"

using winsim::M;

namespace {

const std::string kDrvmanage = R"(C:\Tools\drvmanage.exe uninstall -log -quiet)";
const std::string kLumdrv = R"(C:\Tools\lumdrv.exe vlxdma -remove -noinfo)";
const std::string kNetworkServer = R"(C:\Tools\LumNetworkServer.exe --uninstall --resetfw_server)";

struct DmaCase {
  const char* name;
  DWORD major;
  DWORD platform;
  WORD architecture;
  const char* revision;  // null: the value is missing (the main sequence hands "")
  std::string dmaRun;    // "" when the step ends without a run
};

void PrintTo(const DmaCase& c, std::ostream* os) { *os << c.name; }

const DWORD kNt = VER_PLATFORM_WIN32_NT;

class DmaDecisionTest : public DriverStepTest, public ::testing::WithParamInterface<DmaCase> {};

TEST_P(DmaDecisionTest, ToolFollowsVersionArchitectureAndRevision) {
  const DmaCase& c = GetParam();
  M().system.majorVersion = c.major;
  M().system.platformId = c.platform;
  M().system.processorArchitecture = c.architecture;

  RunDmaStep(c.revision ? c.revision : "");

  EXPECT_EQ(std::vector<std::string>{"Uninstall Dma"}, Captions());
  if (c.dmaRun.empty()) {
    EXPECT_TRUE(Runs().empty());
    EXPECT_EQ(1u, Steps());
    return;
  }
  EXPECT_EQ((std::vector<std::string>{c.dmaRun, kNetworkServer}), Runs());
  EXPECT_EQ((std::vector<std::string>{"step: 20", "run: " + c.dmaRun, "step: 30", "run: " + kNetworkServer}),
            TraceOfKinds({"step: ", "run: "}));
  for (const auto& run : M().processes.runs) {
    EXPECT_EQ(0u, run.creationFlags) << run.commandLine;
    EXPECT_EQ(15000u, run.timeoutMs) << run.commandLine;
    // The program named in full: the command line's own first token.
    EXPECT_EQ(run.commandLine.substr(0, run.commandLine.find(".exe") + 4), run.applicationName);
    EXPECT_FALSE(run.inheritHandles) << run.commandLine;
  }
  EXPECT_EQ("", Log());  // this step writes nothing to the run log
}

INSTANTIATE_TEST_SUITE_P(
    Table, DmaDecisionTest,
    ::testing::Values(
        // Version 6 or AMD64: drvmanage whatever the revision says.
        DmaCase{"V6NoRevision", 6, kNt, 0, nullptr, kDrvmanage},
        DmaCase{"V6Revision8", 6, kNt, 0, "8.0", kDrvmanage},
        DmaCase{"V6NotNtRevisionText", 6, 1, 0, "abc", kDrvmanage},
        DmaCase{"Amd64NoRevision", 5, kNt, 9, nullptr, kDrvmanage},
        DmaCase{"Amd64Revision8", 4, kNt, 9, "8.0", kDrvmanage},
        // Otherwise the revision number decides.
        DmaCase{"X86NoRevision", 5, kNt, 0, nullptr, ""},
        DmaCase{"X86RevisionNotNumeric", 5, kNt, 0, "abc", ""},
        DmaCase{"X86RevisionZero", 5, kNt, 0, "0.0", ""},
        DmaCase{"X86RevisionMinusZero", 5, kNt, 0, "-0", ""},
        DmaCase{"X86Revision8", 5, kNt, 0, "8.0", kLumdrv},
        DmaCase{"X86Revision8Point99", 5, kNt, 0, "8.99", kLumdrv},
        DmaCase{"X86Revision9", 5, kNt, 0, "9.0", kDrvmanage},
        DmaCase{"X86RevisionPlain9", 5, kNt, 0, "9", kDrvmanage},
        DmaCase{"X86RevisionDotted", 5, kNt, 0, "9.5.2", kDrvmanage},
        DmaCase{"X86RevisionDottedBelow9", 5, kNt, 0, "8.9.9", kLumdrv},
        DmaCase{"X86RevisionNegative", 5, kNt, 0, "-1", kLumdrv},
        DmaCase{"X86RevisionLeadingBlanks", 5, kNt, 0, " \t 10.1 build 7", kDrvmanage},
        DmaCase{"X86RevisionExponent", 5, kNt, 0, "1e1", kDrvmanage},
        DmaCase{"X86RevisionFractionOnly", 5, kNt, 0, ".5", kLumdrv},
        // Only decimal texts are numbers: no hexadecimal, infinity or NaN spellings.
        DmaCase{"X86RevisionHexadecimal", 5, kNt, 0, "0x10", ""},
        DmaCase{"X86RevisionInfinity", 5, kNt, 0, "inf", ""},
        DmaCase{"X86RevisionNan", 5, kNt, 0, "nan", ""},
        DmaCase{"V4Revision8", 4, kNt, 0, "8.0", kLumdrv},
        DmaCase{"V4NotNtRevision9", 4, 1, 0, "9.0", kDrvmanage},
        DmaCase{"V5NotNtRevision8", 5, 1, 0, "8.0", kLumdrv}),
    [](const ::testing::TestParamInfo<DmaCase>& info) { return std::string(info.param.name); });

class DmaUninstallTest : public DriverStepTest {};

TEST_F(DmaUninstallTest, AToolStillRunningAfter15SecondsIsLeftRunningAndTheStepGoesOn) {
  winsim::SetProgramBehaviour("drvmanage.exe",
                              [](const winsim::ChildRun&) { return winsim::ChildOutcome{true, 0}; });

  RunDmaStep("");

  EXPECT_EQ(std::vector<std::string>{kDrvmanage}, winsim::TraceOf("wait-timeout: "));
  EXPECT_EQ(std::vector<std::string>{"drvmanage.exe"}, winsim::RunningImageNames());
  EXPECT_EQ((std::vector<std::string>{kDrvmanage, kNetworkServer}), Runs());
  EXPECT_EQ(2u, Steps());
}

TEST_F(DmaUninstallTest, MissingToolsAreIgnoredSilently) {
  winsim::FindNode(R"(C:\Tools)")->children.clear();

  RunDmaStep("");

  EXPECT_EQ((std::vector<std::string>{kDrvmanage, kNetworkServer}), winsim::TraceOf("run-failed: "));
  EXPECT_EQ(2u, Steps());
  EXPECT_TRUE(M().ui.messageBoxes.empty());
}

TEST_F(DmaUninstallTest, ToolsComeFromTheWorkingDirectoryWhereverItIs) {
  M().system.currentDirectory = R"(E:\Setup Files\Lum)";
  winsim::MakeFile(R"(E:\Setup Files\Lum\drvmanage.exe)", "MZ");
  winsim::MakeFile(R"(E:\Setup Files\Lum\LumNetworkServer.exe)", "MZ");

  RunDmaStep("");

  EXPECT_EQ((std::vector<std::string>{R"(E:\Setup Files\Lum\drvmanage.exe uninstall -log -quiet)",
                                      R"(E:\Setup Files\Lum\LumNetworkServer.exe --uninstall --resetfw_server)"}),
            winsim::TraceOf("run: "));
}

// Nothing runs from a working directory that cannot be read in full or whose
// command line would not fit; the step still steps the bar twice.
TEST_F(DmaUninstallTest, WorkingDirectoryTooLongForTheCommandLinesRunsNothing) {
  M().system.currentDirectory = "C:\\" + std::string(1100, 'd');  // does not fit the 1024 buffer
  RunDmaStep("");
  EXPECT_TRUE(Runs().empty());
  EXPECT_EQ(2u, Steps());

  // Fits the buffer, but not with the tool names after it.
  M().system.currentDirectory = "C:\\" + std::string(1000, 'd');
  M().trace.clear();
  RunDmaStep("");
  EXPECT_TRUE(Runs().empty());
  EXPECT_EQ(2u, Steps());

  // "\lumdrv.exe vlxdma -remove -noinfo" (34) fits where the network server's
  // command line (50) does not: only what fits runs.
  M().system.currentDirectory = "C:\\" + std::string(980, 'd');
  M().system.majorVersion = 5;
  M().system.processorArchitecture = 0;
  RunDmaStep("8.0");
  EXPECT_EQ(std::vector<std::string>{M().system.currentDirectory + R"(\lumdrv.exe vlxdma -remove -noinfo)"},
            Runs());
}

}  // namespace
