// A simulated machine with the driver package in its current folder, C:\pkg, and the
// checks that the install tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "platform/sim/file_attributes.h"
#include "tests/support/sim_machine.h"

// The package files after the INF argument, in copy order, as the package spells them.
inline const std::vector<std::string>& ListedPackageFiles() {
  static const std::vector<std::string> files = {
      "Net73417.din", "7341XDEL.EXE", "7341XNDI.DLL", "net7341a.inf", "net73417.inf", "rx90kw2a.cat",
      "RX90KW2K.CAT", "RX90K.CAT",    "RX90KA.CAT",   "RX90K.SYS",    "RX90KNT.SYS",  "RX90KNT5.SYS",
      "PRBQ410.EXE",  "WKE736.VXD",   "Kadrimov.exe", "OrvixNic.dll", "rx90kodi.com"};
  return files;
}

constexpr const char* kInstallFolder = "C:\\Program Files\\Orvix\\qnetprep\\";
constexpr const char* kProductKey = "SOFTWARE\\Orvix\\qnetprep";
constexpr const char* kParametersKey = "SOFTWARE\\Orvix\\qnetprep\\Parameters";
constexpr const char* kEntryKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep";
constexpr const char* kSelfCopy = "C:\\Windows\\System32\\qnetprep.exe";

class PackageTest : public SimMachineTest {
 protected:
  void SetUp() override {
    SimMachineTest::SetUp();
    const char* programFiles = std::getenv("ProgramFiles");
    hadProgramFiles_ = programFiles != nullptr;
    if (hadProgramFiles_) savedProgramFiles_ = programFiles;
    setenv("ProgramFiles", "C:\\Program Files", 1);
  }
  void TearDown() override {
    if (hadProgramFiles_) {
      setenv("ProgramFiles", savedProgramFiles_.c_str(), 1);
    } else {
      unsetenv("ProgramFiles");
    }
    SimMachineTest::TearDown();
  }

  // Every listed file, each with its own content; the two INF files differ, as the
  // INF store keeps one copy per content.
  void WritePackage(const std::string& version = "v1") {
    for (const std::string& name : ListedPackageFiles())
      WriteFile("C:\\pkg\\" + name, PackageFileText(name, version));
  }
  void WriteProgram() { WriteFile("C:\\pkg\\qnetprep.exe", "program image"); }

  DWORD Attributes(const std::string& windowsPath) { return sim::StoredAttributes(LinuxPath(windowsPath)); }
  void SetAttributes(const std::string& windowsPath, DWORD attributes) {
    sim::StoreAttributes(LinuxPath(windowsPath), attributes);
  }

  // The details of the logged calls of one name, in order.
  static std::vector<std::string> Calls(const std::string& name) {
    std::vector<std::string> details;
    for (const sim::CallRecord& call : sim::CallLog()) {
      if (call.name == name) details.push_back(call.detail);
    }
    return details;
  }

  // A record value: REG_SZ of exactly 512 bytes, the text and then NUL bytes only.
  void ExpectRecord(const std::string& keyPath, const std::string& name, const std::string& text) {
    SCOPED_TRACE(keyPath + " " + name);
    uint32_t type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(GetValue(keyPath, name, &type, &data));
    EXPECT_EQ(type, REG_SZ);
    std::vector<uint8_t> expected(512, 0);
    std::copy(text.begin(), text.end(), expected.begin());
    EXPECT_EQ(data, expected);
  }

  bool HasValue(const std::string& keyPath, const std::string& name) {
    return GetValue(keyPath, name, nullptr, nullptr);
  }

  RunState state_{};

 private:
  bool hadProgramFiles_ = false;
  std::string savedProgramFiles_;
};
