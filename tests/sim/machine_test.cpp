// Opening and saving the simulated machine: what a new machine holds, that a save
// leaves no partial file behind, and that a damaged machine is never overwritten.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "tests/support/sim_machine.h"

namespace {

using MachineFolder = SimMachineTest;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Spill(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

TEST_F(MachineFolder, ANewMachineHasTheSystemFoldersAndKeys) {
  const std::string fresh = folder_ + "/nested/machine";
  sim::OpenMachine(fresh, fresh + "/drive_c");
  EXPECT_EQ(sim::MachineFolder(), fresh);
  EXPECT_TRUE(FolderExists("C:\\Windows\\System32"));
  EXPECT_TRUE(FolderExists("C:\\Windows\\INF"));
  EXPECT_TRUE(FolderExists("C:\\Program Files"));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
  EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Enum"));
  EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Services"));
  char current[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, current), 0u);
  EXPECT_STREQ(current, "C:\\");
}

TEST_F(MachineFolder, SaveAndOpenKeepTheRegistryAndLeaveNoTemporaryFile) {
  SetString("SOFTWARE\\Orvix\\qnetprep", "Install", "Success");
  AddService("RX90K");
  sim::SaveMachine();
  sim::SaveMachine();  // a second save replaces the first
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.reg" || name == "file-attributes.txt" || name.rfind("drive_", 0) == 0)
        << "left in the machine folder: " << name;
  }
  EXPECT_EQ(Slurp(folder_ + "/registry.reg").rfind("REGEDIT4", 0), 0u);

  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Success");
  EXPECT_TRUE(ServiceExists("RX90K"));
}

TEST_F(MachineFolder, OpeningResetsTheCallsAndTheLastError) {
  GetFileAttributesA("C:\\none");
  sim::FailCall("DeleteFileA", sim::Fault{});
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  EXPECT_EQ(sim::CallCount(), 0u);
  EXPECT_EQ(GetLastError(), 0u);
  WriteFile("C:\\pkg\\a.txt", "a");
  EXPECT_TRUE(DeleteFileA("C:\\pkg\\a.txt"));
}

TEST_F(MachineFolder, ADamagedRegistryFileStopsTheProcessAndIsKept) {
  const std::string damaged = "this is not a registry file\n[HKEY_LOCAL_MACHINE\\SOFTWARE\n";
  Spill(folder_ + "/registry.reg", damaged);
  EXPECT_EXIT(
      {
        sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
        sim::SaveMachine();
      },
      ::testing::ExitedWithCode(2), "registry.reg");
  EXPECT_EQ(Slurp(folder_ + "/registry.reg"), damaged);
}

TEST_F(MachineFolder, ADamagedAttributesFileStopsTheProcessAndIsKept) {
  sim::SaveMachine();
  const std::string damaged = "read-only C:\\pkg\\a.inf\n";
  Spill(folder_ + "/file-attributes.txt", damaged);
  EXPECT_EXIT(
      {
        sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
        sim::SaveMachine();
      },
      ::testing::ExitedWithCode(2), "file-attributes.txt");
  EXPECT_EQ(Slurp(folder_ + "/file-attributes.txt"), damaged);
}

TEST(DefaultMachineFolder, ComesFromTheEnvironmentOrTheHomeFolder) {
  const char* saved = std::getenv("QNETPREP_MACHINE");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("QNETPREP_MACHINE", "/srv/machines/one", 1);
  EXPECT_EQ(sim::DefaultMachineFolder(), "/srv/machines/one");
  unsetenv("QNETPREP_MACHINE");
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') {
    EXPECT_EQ(sim::DefaultMachineFolder(), std::string(home) + "/.qnetprep-machine");
  }
  if (saved != nullptr) setenv("QNETPREP_MACHINE", previous.c_str(), 1);
}

}  // namespace
