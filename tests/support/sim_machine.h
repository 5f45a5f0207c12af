// A fresh simulated machine for each test, in a temporary folder that is removed
// afterwards, with helpers to seed and inspect it without going through the calls
// under test (so seeding neither counts as calls nor opens handles).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/sim_control.h"

// The text of an INF file that opens in the Windows NT style, as the INF store
// accepts no other, with `comment` in it to tell contents apart (the store keeps one
// copy per content).
std::string InfFileText(const std::string& comment);
// A package file as the tests write it: "<name> <version>", and for an INF file the
// INF text with that comment.
std::string PackageFileText(const std::string& name, const std::string& version);

class SimMachineTest : public ::testing::Test {
 protected:
  // The machine folder is new and empty; the current folder is C:\pkg, which exists.
  void SetUp() override;
  void TearDown() override;

  // Registry below HKEY_LOCAL_MACHINE; paths like "SOFTWARE\\Orvix\\qnetprep".
  void CreateKey(const std::string& path);
  bool KeyExists(const std::string& path);
  void SetString(const std::string& keyPath, const std::string& name, const std::string& text);
  void SetValueBytes(const std::string& keyPath, const std::string& name, uint32_t type,
                     const std::vector<uint8_t>& data);
  // The value's raw data and type; false when the key or value is missing.
  bool GetValue(const std::string& keyPath, const std::string& name, uint32_t* type,
                std::vector<uint8_t>* data);
  // The text of a REG_SZ value up to its first NUL ("" when missing).
  std::string GetString(const std::string& keyPath, const std::string& name);

  // Files by Windows path ("C:\\pkg\\net7341a.inf").
  std::string LinuxPath(const std::string& windowsPath);
  void WriteFile(const std::string& windowsPath, const std::string& content);
  std::string ReadFile(const std::string& windowsPath);
  bool FileExists(const std::string& windowsPath);  // a file, not a folder
  bool FolderExists(const std::string& windowsPath);

  // Devices and services as the simulated device installer keeps them.
  void AddDevice(const std::string& classGuid, const std::string& instanceId, const char* description);
  bool DeviceExists(const std::string& instanceId);
  void AddService(const std::string& name);
  bool ServiceExists(const std::string& name);

  void ExpectNoOpenHandles();

  std::string folder_;
};
