// Runs the built program as a process on a machine folder of its own, the way a user
// or the Add/Remove list starts it, and reads back everything that the run left.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/registry_tree.h"
#include "platform/sim/win32_api.h"
#include "tests/support/sim_machine.h"

struct ProcessResult {
  int exitCode = -1;
  std::string output;  // standard output
};

class ScenarioTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the program with `arguments` in the Linux folder `linuxFolder` (the
  // package folder, C:\pkg, unless given). `programFiles` nullptr: the variable is
  // absent.
  ProcessResult Run(const std::vector<std::string>& arguments, const std::string& linuxFolder = std::string(),
                    const char* programFiles = "C:\\Program Files");

  // The package in C:\pkg: every listed file with its own content, and the program.
  void WritePackage(const std::string& version = "v1");

  // Changes the machine between runs through the simulated machine itself: `edit`
  // runs with the machine open (sim::TheMachine()) and the machine is saved after.
  void EditMachine(const std::function<void()>& edit);

  // The registry that the last run saved, parsed from registry.reg.
  std::shared_ptr<sim::RegKey> Registry();
  bool KeyExists(const std::string& path);
  // Keys and values below `path`, one line each, in the order the file keeps them:
  // "<key path>" and "<key path>: <value> type <t>, <n> bytes, "<text>"[ + NULs]".
  std::vector<std::string> Describe(const std::string& path);

  // The machine's files (not its registry or attribute files), relative to the
  // machine folder, sorted.
  std::vector<std::string> Files();
  std::string Linux(const std::string& relativePath) { return machine_ + "/" + relativePath; }
  std::string ReadFile(const std::string& relativePath);
  void WriteFile(const std::string& relativePath, const std::string& content);
  // Read-only, hidden and system bits that the machine keeps for a file.
  DWORD Attributes(const std::string& relativePath);

  static const std::vector<std::string>& PackageFiles();

  std::string machine_;     // Linux folder of the machine
  std::string packageDir_;  // Linux folder of C:\pkg
};
