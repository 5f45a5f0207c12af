#include "tests/support/sim_machine.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "install/package_files.h"
#include "platform/sim/paths.h"

namespace {

std::shared_ptr<sim::RegKey> LocalMachine() {
  return sim::TheMachine().localMachine;
}

std::string MakeTemporaryFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qnetprep-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary folder from " << pattern;
    return std::string();
  }
  return pattern;
}

}  // namespace

void SimMachineTest::SetUp() {
  folder_ = MakeTemporaryFolder();
  ASSERT_FALSE(folder_.empty());
  std::filesystem::create_directories(folder_ + "/drive_c/pkg");
  sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
  folder_ = sim::MachineFolder();
  const char* programFiles = std::getenv("ProgramFiles");
  hadProgramFiles_ = programFiles != nullptr;
  if (hadProgramFiles_) savedProgramFiles_ = programFiles;
  SetProgramFiles("C:\\Program Files");
}

void SimMachineTest::TearDown() {
  SetProgramFiles(hadProgramFiles_ ? savedProgramFiles_.c_str() : nullptr);
  if (folder_.empty()) return;
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

void SimMachineTest::CreateKey(const std::string& path) {
  sim::CreateKeyPath(LocalMachine(), path);
}

bool SimMachineTest::KeyExists(const std::string& path) {
  return sim::FindKeyPath(LocalMachine(), path) != nullptr;
}

void SimMachineTest::SetString(const std::string& keyPath, const std::string& name, const std::string& text) {
  sim::SetStringValue(*sim::CreateKeyPath(LocalMachine(), keyPath), name, text);
}

void SimMachineTest::SetValueBytes(const std::string& keyPath, const std::string& name, uint32_t type,
                                   const std::vector<uint8_t>& data) {
  sim::SetValue(*sim::CreateKeyPath(LocalMachine(), keyPath), name, type, data.data(), data.size());
}

bool SimMachineTest::GetValue(const std::string& keyPath, const std::string& name, uint32_t* type,
                              std::vector<uint8_t>* data) {
  const std::shared_ptr<sim::RegKey> key = sim::FindKeyPath(LocalMachine(), keyPath);
  if (key == nullptr) return false;
  const sim::RegValue* value = sim::FindValue(*key, name);
  if (value == nullptr) return false;
  if (type != nullptr) *type = value->type;
  if (data != nullptr) *data = value->data;
  return true;
}

std::string SimMachineTest::GetString(const std::string& keyPath, const std::string& name) {
  std::vector<uint8_t> data;
  if (!GetValue(keyPath, name, nullptr, &data)) return std::string();
  const std::string text(data.begin(), data.end());
  return text.substr(0, text.find('\0'));
}

void SimMachineTest::ExpectRecord(const std::string& keyPath, const std::string& name,
                                  const std::string& text) {
  std::vector<uint8_t> expected(512, 0);
  std::copy(text.begin(), text.end(), expected.begin());
  uint32_t type = 0;
  std::vector<uint8_t> data;
  EXPECT_TRUE(GetValue(keyPath, name, &type, &data) && type == REG_SZ && data == expected)
      << keyPath << " " << name << " is not \"" << text << "\" in 512 bytes";
}

std::string SimMachineTest::LinuxPath(const std::string& windowsPath) {
  sim::MappedPath mapped;
  DWORD error = 0;
  if (!sim::MapWindowsPath(windowsPath, &mapped, &error)) {
    ADD_FAILURE() << "the machine cannot map " << windowsPath << " (error " << error << ")";
    return std::string();
  }
  return mapped.linuxPath;
}

void SimMachineTest::WriteFile(const std::string& windowsPath, const std::string& content) {
  const std::string path = LinuxPath(windowsPath);
  ASSERT_FALSE(path.empty());
  std::filesystem::create_directories(sim::LinuxParent(path));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string SimMachineTest::ReadFile(const std::string& windowsPath) {
  std::ifstream in(LinuxPath(windowsPath), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool SimMachineTest::FileExists(const std::string& windowsPath) {
  std::error_code error;
  return std::filesystem::is_regular_file(LinuxPath(windowsPath), error);
}

bool SimMachineTest::FolderExists(const std::string& windowsPath) {
  std::error_code error;
  return std::filesystem::is_directory(LinuxPath(windowsPath), error);
}

void SimMachineTest::WritePackage(const std::string& version) {
  for (const char* name : kPackageFiles)
    WriteFile(std::string("C:\\pkg\\") + name, PackageFileText(name, version));
  WriteFile("C:\\pkg\\qnetprep.exe", PackageFileText("qnetprep.exe", version));
}

void SimMachineTest::AddDevice(const std::string& classGuid, const std::string& instanceId,
                               const char* description) {
  const auto key = sim::CreateKeyPath(LocalMachine(), std::string(sim::kEnumKeyPath) + "\\" + instanceId);
  sim::SetStringValue(*key, "ClassGUID", classGuid);
  if (description != nullptr) sim::SetStringValue(*key, "DeviceDesc", description);
}

bool SimMachineTest::DeviceExists(const std::string& instanceId) {
  return KeyExists(std::string(sim::kEnumKeyPath) + "\\" + instanceId);
}

void SimMachineTest::AddService(const std::string& name) {
  const auto key = sim::CreateKeyPath(LocalMachine(), std::string(sim::kServicesKeyPath) + "\\" + name);
  const uint32_t kernelDriver = 1;
  sim::SetValue(*key, "Type", REG_DWORD, reinterpret_cast<const uint8_t*>(&kernelDriver),
                sizeof kernelDriver);
}

bool SimMachineTest::ServiceExists(const std::string& name) {
  return KeyExists(std::string(sim::kServicesKeyPath) + "\\" + name);
}

std::vector<std::string> SimMachineTest::Calls(const std::string& name) {
  std::vector<std::string> details;
  for (const sim::CallRecord& call : sim::CallLog()) {
    if (call.name == name) details.push_back(call.detail);
  }
  return details;
}

std::string SimMachineTest::Output(const std::function<void()>& step) {
  testing::internal::CaptureStdout();
  step();
  return testing::internal::GetCapturedStdout();
}

void SimMachineTest::ExpectNoOpenHandles() {
  EXPECT_EQ(sim::OpenRegistryKeyCount(), 0) << "registry keys left open";
  EXPECT_EQ(sim::OpenDeviceSetCount(), 0) << "device sets left open";
  EXPECT_EQ(sim::OpenServiceHandleCount(), 0) << "service handles left open";
}

void SimMachineTest::ExpectHandlesClosedWhenAnyCallFails(const std::function<void()>& seed,
                                                         const std::function<void()>& step) {
  seed();
  sim::ResetCalls();
  step();
  ExpectNoOpenHandles();
  const std::vector<sim::CallRecord> calls = sim::CallLog();
  for (uint32_t k = 1; k <= calls.size(); ++k) {
    const std::string& name = calls[k - 1].name;
    if (name == "RegCloseKey" || name == "CloseServiceHandle" || name == "SetupDiDestroyDeviceInfoList")
      continue;
    SCOPED_TRACE("call " + std::to_string(k) + " fails: " + name + " " + calls[k - 1].detail);
    seed();
    sim::ResetCalls();
    sim::FailCallNumber(k, sim::Fault{ERROR_ACCESS_DENIED});
    Output(step);
    ExpectNoOpenHandles();
  }
}

std::string InfFileText(const std::string& comment) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\n; " + comment + "\r\n";
}

std::string PackageFileText(const std::string& name, const std::string& version) {
  const std::string text = name + " " + version;
  const bool inf = name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".inf") == 0;
  return inf ? InfFileText(text) : text;
}
