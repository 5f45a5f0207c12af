// A fresh simulated machine per test, the field machine of whole runs, and the check of a run.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "platform/sim/file_attributes.h"
#include "platform/sim/folder_security.h"
#include "platform/sim/machine.h"
#include "platform/sim/paths.h"
#include "platform/sim/registry_tree.h"
#include "platform/sim/sim_control.h"

using namespace std::string_literals;

constexpr const char* kProduct = "SOFTWARE\\Orvix\\qnetprep";
constexpr const char* kParameters = "SOFTWARE\\Orvix\\qnetprep\\Parameters";
constexpr const char* kEntry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep";
constexpr const char* kInstall = "C:\\Program Files\\Orvix\\qnetprep\\";
constexpr const char* kSelfCopy = "C:\\Windows\\System32\\qnetprep.exe";
constexpr const char* kNet = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kOther = "{4D36E97E-E325-11CE-BFC1-08002BE10318}";

inline std::string InfText(const std::string& label, const std::string& catalog = "") {
  return "[Version]\nSignature=\"$Windows NT$\"\n" +
         (catalog.empty() ? "" : "CatalogFile=" + catalog + "\n") + "; " + label + "\n";
}

using MachineState = std::map<std::string, std::string>;
// Entries "key P", "value P : name", "file/folder/attributes C:\.."; changes "added: entry".
std::string Differences(const MachineState& before, const MachineState& after);

// A call made to fail, by its name and a part of what it acts on as the call log writes it
// (a key path and value name, a file path; "": every call of the name).
struct Failing {
  const char* call = "";
  const char* on = "";
  sim::Fault fault = {};
};
// What a fault makes of a call, as a failure names it: "failing with its usual error", "failing with error
// 2", "returning 260" (a length that fills the buffer, or a result the call never gives).
std::string FaultText(const sim::Fault& fault);
// "GetCurrentDirectoryA on \"\" returning 260", or "no call failing".
std::string Describe(const Failing& failing);

struct Mode {
  const char *name, *tail;
  bool afterRecordedInstall;
};
constexpr Mode kModes[] = {{"Default", "", false},
                           {"Record", "/au", false},
                           {"RecordOverRecordedInstall", "/au", true},
                           {"SingleInf", "/inf=net7341a.inf", false},
                           {"UninstallAfterRecordedInstall", "/u", true}};

// The field machine's adapters of the package, seeded by PrepareTemplate with its service RX90K.
struct FieldDevice {
  const char *classGuid, *instance, *description;
};
extern const FieldDevice kOwnDevices[4];

class MachineTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override { std::filesystem::remove_all(workspace_); }
  void Open();  // a new, empty machine with C:\pkg as the current folder

  using Text = const std::string&;
  static std::shared_ptr<sim::RegKey> Root() { return sim::TheMachine().localMachine; }
  void SetBytes(Text key, Text name, uint32_t type, Text bytes) {
    sim::SetValue(*sim::CreateKeyPath(Root(), key), name, type, (const uint8_t*)bytes.data(), bytes.size());
  }
  void SetString(Text key, Text name, Text text) {
    sim::SetStringValue(*sim::CreateKeyPath(Root(), key), name, text);
  }
  const sim::RegValue* Value(Text key, Text name) {
    return sim::FindKeyPath(Root(), key) ? sim::FindValue(*sim::FindKeyPath(Root(), key), name) : nullptr;
  }
  std::string Str(Text key, Text name) {  // up to its first NUL
    const sim::RegValue* value = Value(key, name);
    return value ? std::string(value->data.begin(), value->data.end()).c_str() : "";
  }
  bool Has(Text key) { return sim::FindKeyPath(Root(), key) != nullptr; }
  std::string Linux(Text path) {  // "" for a path the machine refuses
    sim::MappedPath mapped;
    DWORD error = 0;
    return sim::MapWindowsPath(path, &mapped, &error) ? mapped.linuxPath : "";
  }
  void Write(Text path, Text content, DWORD attributes = 0) {
    std::filesystem::create_directories(sim::LinuxParent(Linux(path)));
    std::ofstream(Linux(path), std::ios::binary | std::ios::trunc) << content;
    sim::StoreAttributes(Linux(path), attributes);
  }
  static std::string Slurp(Text linuxPath) {
    std::ostringstream content;
    content << std::ifstream(linuxPath, std::ios::binary).rdbuf();
    return content.str();
  }
  bool Exists(Text path) { return std::filesystem::is_regular_file(Linux(path)); }
  void AddDevice(const char* classGuid, Text id, const char* description = "adapter") {
    SetString("SYSTEM\\CurrentControlSet\\Enum\\" + id, "ClassGUID", classGuid);
    if (description) SetString("SYSTEM\\CurrentControlSet\\Enum\\" + id, "DeviceDesc", description);
  }
  bool HasDevice(Text id) { return Has("SYSTEM\\CurrentControlSet\\Enum\\" + id); }
  void AddService(Text name) {
    SetBytes("SYSTEM\\CurrentControlSet\\Services\\" + name, "Type", REG_DWORD, std::string("\1\0\0\0", 4));
  }
  static std::vector<std::string> Calls(const std::string& name) {  // the details, in order
    std::vector<std::string> details;
    for (const sim::CallRecord& call : sim::CallLog())
      if (call.name == name) details.push_back(call.detail);
    return details;
  }
  static void Fail(const Failing& failing) {  // starts a new call log
    sim::ResetCalls();
    if (*failing.call != '\0') sim::FailCallOn(failing.call, failing.on, failing.fault);
  }
  int Run(const std::string& tail);
  template <class Step>
  static std::string OutputOf(const Step& step) {
    testing::internal::CaptureStdout();
    step();
    return testing::internal::GetCapturedStdout();
  }  // as WinMain runs it; standard output goes to output_

  void PrepareTemplate(const Mode& mode);
  std::string CopyTemplate(const std::string& name);
  void OpenCopy() {
    folder_ = CopyTemplate("run" + std::to_string(machines_++ % 2));
    sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  }
  MachineState Capture();
  // Exit code 1, no handle left open (but `failedCloses` of a faulted close), only error lines
  // on standard output, neighbours as they were, no change outside the product's.
  static constexpr int kEveryClose = -1;  // every call of the faulted name failed
  void CheckedRun(const std::string& tail, const std::string& faulted = "", int failedCloses = 0);

  std::string workspace_, folder_, template_, output_;
  int machines_ = 0;
};
