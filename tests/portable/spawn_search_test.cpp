// The runtime's spawn with path search, as the board step starts the board
// monitor: a bare program name is looked for in the current directory first,
// then along PATH, and the child is not waited for. Uses the private folder
// C:\CleanLumSpawnTest.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <string>

#include "probe_child.h"
#include "test_folders.h"

namespace {

const std::string kRoot = "C:\\CleanLumSpawnTest";
const std::string kRecord = kRoot + "\\record.txt";
const std::string kWork = kRoot + "\\Work";
const std::string kPathFolder = kRoot + "\\Monitor Tools";

class SpawnSearchTest : public test_folders::PrivateFolderTest {
 protected:
  SpawnSearchTest() : PrivateFolderTest(kRoot) {}
  void SetUp() override {
    PrivateFolderTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(CreateDirectoryA(kWork.c_str(), nullptr));
    DWORD length = GetCurrentDirectoryA(sizeof previousDirectory_, previousDirectory_);
    ASSERT_TRUE(length > 0 && length < sizeof previousDirectory_);
    previousPath_ = GetPathVariable();
    SetPathVariable(previousPath_ + ";" + kPathFolder);
    ASSERT_TRUE(SetCurrentDirectoryA(kWork.c_str()));
  }
  void TearDown() override {
    SetCurrentDirectoryA(previousDirectory_);
    SetPathVariable(previousPath_);
    PrivateFolderTest::TearDown();
  }

  // Spawns the bare name without waiting, then waits here for the probe's end
  // (so that its files can be removed) and returns what it recorded.
  static ProbeRecord SpawnProbe() {
    DeleteFileA(kRecord.c_str());
    intptr_t child = _spawnlp(_P_NOWAIT, "spawnprobe.exe", "spawnprobe.exe", kRecord.c_str(), "0",
                              static_cast<const char*>(nullptr));
    if (child == -1) return ProbeRecord{};
    WaitForSingleObject(reinterpret_cast<HANDLE>(child), 20000);
    CloseHandle(reinterpret_cast<HANDLE>(child));
    return ReadProbeRecord(kRecord);
  }

  char previousDirectory_[MAX_PATH] = "";
  std::string previousPath_;
};

TEST_F(SpawnSearchTest, BareNameIsFoundAlongPathThenInTheCurrentDirectoryFirst) {
  ASSERT_TRUE(InstallProbeChild(kPathFolder + "\\spawnprobe.exe"));
  ProbeRecord fromPath = SpawnProbe();
  EXPECT_TRUE(fromPath.ended);
  EXPECT_TRUE(EqualsIgnoringCase(kPathFolder + "\\spawnprobe.exe", fromPath.module)) << fromPath.module;

  ASSERT_TRUE(InstallProbeChild(kWork + "\\spawnprobe.exe"));
  ProbeRecord fromWork = SpawnProbe();
  EXPECT_TRUE(fromWork.ended);
  EXPECT_TRUE(EqualsIgnoringCase(kWork + "\\spawnprobe.exe", fromWork.module)) << fromWork.module;
}

TEST_F(SpawnSearchTest, NameFoundNowhereIsNotStarted) {
  EXPECT_EQ(-1, _spawnlp(_P_NOWAIT, "spawnprobe.exe", "spawnprobe.exe", static_cast<const char*>(nullptr)));
}

}  // namespace
