// A fresh simulated machine for each test, in a temporary folder that is removed
// afterwards, with helpers to seed and inspect it without going through the calls
// under test (so seeding neither counts as calls nor opens handles).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/file_attributes.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_control.h"

// The text of an INF file that opens in the Windows NT style, as the INF store
// accepts no other, with `comment` in it to tell contents apart (the store keeps one
// copy per content).
std::string InfFileText(const std::string& comment);
// A package file as the tests write it: "<name> <version>", and for an INF file the
// INF text with that comment.
std::string PackageFileText(const std::string& name, const std::string& version);

// Where the installer keeps its things on the machine.
namespace where {
constexpr const char* kVendorKey = "SOFTWARE\\Orvix";
constexpr const char* kProductKey = "SOFTWARE\\Orvix\\qnetprep";
constexpr const char* kParametersKey = "SOFTWARE\\Orvix\\qnetprep\\Parameters";
constexpr const char* kListKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kEntryKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep";
constexpr const char* kSupportedList = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";
constexpr const char* kInstallFolder = "C:\\Program Files\\Orvix\\qnetprep\\";
constexpr const char* kSelfCopy = "C:\\Windows\\System32\\qnetprep.exe";
constexpr const char* kNetClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kOtherClass = "{4D36E97E-E325-11CE-BFC1-08002BE10318}";
}  // namespace where

class SimMachineTest : public ::testing::Test {
 protected:
  // The machine folder is new and empty; the current folder is C:\pkg, which exists.
  // "ProgramFiles" is C:\Program Files until the test changes it.
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
  bool HasValue(const std::string& keyPath, const std::string& name) {
    return GetValue(keyPath, name, nullptr, nullptr);
  }
  // The text of a REG_SZ value up to its first NUL ("" when missing).
  std::string GetString(const std::string& keyPath, const std::string& name);
  // A record value: REG_SZ of exactly 512 bytes, the text and then NUL bytes only.
  void ExpectRecord(const std::string& keyPath, const std::string& name, const std::string& text);

  // Files by Windows path ("C:\\pkg\\net7341a.inf").
  std::string LinuxPath(const std::string& windowsPath);
  void WriteFile(const std::string& windowsPath, const std::string& content);
  std::string ReadFile(const std::string& windowsPath);
  bool FileExists(const std::string& windowsPath);  // a file, not a folder
  bool FolderExists(const std::string& windowsPath);
  // Read-only, hidden and system bits that the machine keeps for a file.
  DWORD Attributes(const std::string& windowsPath) { return sim::StoredAttributes(LinuxPath(windowsPath)); }
  void SetAttributes(const std::string& path, DWORD bits) { sim::StoreAttributes(LinuxPath(path), bits); }
  // Every listed package file and the program in C:\pkg, as PackageFileText writes them.
  void WritePackage(const std::string& version = "v1");
  // nullptr: the variable is absent.
  static void SetProgramFiles(const char* value) {
    value != nullptr ? setenv("ProgramFiles", value, 1) : unsetenv("ProgramFiles");
  }

  // Devices and services as the simulated device installer keeps them.
  void AddDevice(const std::string& classGuid, const std::string& instanceId, const char* description);
  bool DeviceExists(const std::string& instanceId);
  void AddService(const std::string& name);
  bool ServiceExists(const std::string& name);

  // The details of the logged calls of one name, in order.
  static std::vector<std::string> Calls(const std::string& name);
  // What `step` writes to standard output.
  static std::string Output(const std::function<void()>& step);

  void ExpectNoOpenHandles();
  // Runs `step` on the machine that `seed` prepares, then again once for every platform
  // call that it made, with that call failing: every run must release what it opened.
  // Closes are not failed: a failed close keeps its handle whatever the caller does.
  void ExpectHandlesClosedWhenAnyCallFails(const std::function<void()>& seed,
                                           const std::function<void()>& step);

  std::string folder_;

 private:
  bool hadProgramFiles_ = false;
  std::string savedProgramFiles_;
};
