// One INF installed on its own, with and without records: what each failure exit leaves,
// the stored lengths of the records, and the hardening that starts every run.
#include "app/dll_search.h"
#include "app/resource_strings.h"
#include "install/install_inf.h"
#include "platform/sim/registry_tree.h"
#include "tests/support/machine.h"

namespace {

using namespace where;

class InstallTest : public MachineTest {
 protected:
  void Fresh() {
    folder_ = workspace_ + "/m" + std::to_string(copies_++);
    std::filesystem::create_directories(folder_ + "/drive_c/pkg");
    sim::OpenMachine(folder_, folder_ + "/drive_c/pkg");
    Write("C:\\pkg\\net7341a.inf", InfText("a", "rx90kw2a.cat"));
    Write("C:\\pkg\\rx90kw2a.cat", "catalog");
    Write("C:\\pkg\\qnetprep.exe", "program");
  }
  // What an install left, in the order it makes things.
  std::string Left(bool installed) {
    std::string left = installed ? "true" : "false";
    if (Exists(std::string(kInstall) + "net7341a.inf")) left += " staged";
    if (Exists("C:\\Windows\\INF\\oem0.inf")) left += " stored";
    if (Has(kProduct, "Install")) left += " " + Str(kProduct, "Install");
    for (const char* slot : {"RenamedInf", "RenamedInf1"})
      if (Has(kParameters, slot)) left += std::string(" ") + slot + "=" + Str(kParameters, slot);
    if (Has(kEntry, "DisplayName")) left += " name";
    if (Has(kEntry, "UninstallString")) left += " command";
    if (Exists(kSelfCopy)) left += " copied";
    return left;
  }
};

TEST_F(InstallTest, EachFailureExitLeavesWhatCameBeforeIt) {
  const std::string all =
      "true staged stored Success RenamedInf=C:\\Windows\\INF\\oem0.inf name command copied";
  const std::string entry = "false staged stored Success RenamedInf=C:\\Windows\\INF\\oem0.inf";
  RunState state{};
  const struct {
    bool record;
    const char* call;
    uint32_t occurrence;
    sim::Fault fault;
    std::string left;
  } cases[] = {
      {false, "", 0, {}, "true staged stored"},
      // Without "SOFTWARE" the install gives up, in either mode.
      {false, "RegOpenKeyExA", 1, {}, "false staged"},
      {false, "SetupCopyOEMInfA", 2, {}, "false staged"},
      {true, "", 0, {}, all},
      {true, "RegOpenKeyExA", 1, {}, "false staged"},
      {true, "RegCreateKeyExA", 1, {}, "false staged"},
      {true, "RegCreateKeyExA", 2, {}, "false staged"},
      {true, "RegCreateKeyExA", 3, {}, "false staged"},
      // Only the full copy decides; the catalog pass before it does not.
      {true, "SetupCopyOEMInfA", 1, {}, all},
      {true, "SetupCopyOEMInfA", 2, {}, "false staged Fail"},
      {true, "RegSetValueExA", 4, {}, "false staged stored Success"},
      {true, "RegOpenKeyExA", 2, {}, entry},
      {true, "RegCreateKeyExA", 4, {}, entry},
      // Both values of the entry are written whatever the first write did.
      {true, "RegSetValueExA", 5, {}, entry + " command"},
      {true, "RegSetValueExA", 6, {}, entry + " name"},
      {true, "GetCurrentDirectoryA", 1, {}, "false"},
      {true, "GetCurrentDirectoryA", 1, {0, true, MAX_PATH}, "false"},
      // A "ProgramFiles" that fills its buffer counts as absent.
      {true, "GetEnvironmentVariableA", 1, {0, true, MAX_PATH}, all},
      {true, "GetSystemDirectoryA", 1, {}, all.substr(0, all.size() - 7)},
      // A system folder that fills its whole buffer is no folder at all.
      {true, "GetSystemDirectoryA", 1, {0, true, 512}, all.substr(0, all.size() - 7)},
      {true, "GetSystemDirectoryA", 1, {0, true, 300}, all.substr(0, all.size() - 7)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.occurrence) + (c.record ? " recorded" : ""));
    Fresh();
    state = RunState{};
    ASSERT_TRUE(LoadResourceStrings(state));
    state.RecordMode = c.record;
    // Left by the install before: a folder, or text too long to join with the program's name.
    const std::string before = c.fault.result == 300 ? std::string(300, 's') : "C:\\Windows\\System32";
    std::memcpy(state.SystemFolder, before.c_str(), before.size() + 1);
    if (*c.call != '\0') sim::FailCall(c.call, c.fault, c.occurrence);
    testing::internal::CaptureStdout();
    const bool installed = InstallInf(state, "net7341a.inf");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Left(installed), c.left);
    EXPECT_EQ(sim::OpenRegistryKeyCount(), 0);
  }
  // The records are 512 bytes each, the entry's values their text (with the NUL that
  // Windows adds when the byte after the text is one).
  for (const auto& [key, name] : {std::pair(kProduct, "Install"), std::pair(kProduct, "reboot"),
                                  std::pair(kProduct, "Version"), std::pair(kParameters, "RenamedInf")}) {
    const sim::RegValue* value = sim::FindValue(*sim::FindKeyPath(sim::TheMachine().localMachine, key), name);
    EXPECT_TRUE(value->type == REG_SZ && value->data.size() == 512) << name;
  }
  const auto entryKey = sim::FindKeyPath(sim::TheMachine().localMachine, kEntry);
  EXPECT_EQ(sim::FindValue(*entryKey, "DisplayName")->data.size(), 35u);
  EXPECT_EQ(sim::FindValue(*entryKey, "UninstallString")->data.size(), 16u);
  EXPECT_EQ(Str(kProduct, "reboot") + Str(kProduct, "Version"), "reboot0.0.3.6");
}

TEST_F(InstallTest, RecordsInTheSecondSlotAndGivesUpWhenBothAreTaken) {
  for (int taken = 1; taken <= 2; ++taken) {
    Fresh();
    RunState state{};
    ASSERT_TRUE(LoadResourceStrings(state));
    state.RecordMode = true;
    SetString(kParameters, "RenamedInf", "C:\\Windows\\INF\\oem7.inf");
    if (taken == 2) SetString(kParameters, "RenamedInf1", "C:\\Windows\\INF\\oem8.inf");
    testing::internal::CaptureStdout();
    const bool installed = InstallInf(state, "net7341a.inf");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(Left(installed), taken == 1
                                   ? "true staged stored Success RenamedInf=C:\\Windows\\INF\\oem7.inf "
                                     "RenamedInf1=C:\\Windows\\INF\\oem0.inf name command copied"
                                   : "false staged RenamedInf=C:\\Windows\\INF\\oem7.inf "
                                     "RenamedInf1=C:\\Windows\\INF\\oem8.inf");
  }
}

// The DLL search leaves out the program's folder whatever the system offers, and the
// run goes on whatever the calls return.
TEST_F(InstallTest, TheDllSearchIsHardenedFirstAndTheRunGoesOnWhateverItGets) {
  const struct {
    const char* call;
    std::string calls;
  } cases[] = {
      {"", "GetModuleHandleA GetProcAddress SetDefaultDllDirectories(2048) "},
      {"GetModuleHandleA", "GetModuleHandleA SetDllDirectoryA() "},
      {"GetProcAddress", "GetModuleHandleA GetProcAddress SetDllDirectoryA() "},
      {"SetDefaultDllDirectories",
       "GetModuleHandleA GetProcAddress SetDefaultDllDirectories(2048) SetDllDirectoryA() "},
      {"SetDllDirectoryA", "GetModuleHandleA GetProcAddress SetDefaultDllDirectories(2048) "},
  };
  for (const auto& c : cases) {
    Fresh();
    Write("C:\\pkg\\net73417.inf", InfText("b"));
    if (*c.call != '\0') sim::FailCall(c.call, {});
    Run("");
    std::string calls;
    for (const sim::CallRecord& call : sim::CallLog()) {
      if (call.name == "LoadStringA" || (call.name == "GetModuleHandleA" && call.detail != "kernel32.dll"))
        break;
      calls += call.name + (call.name.find("Dll") != std::string::npos ? "(" + call.detail + ")" : "") + " ";
    }
    EXPECT_EQ(calls, c.calls) << c.call;
    EXPECT_TRUE(Exists("C:\\Windows\\INF\\oem0.inf") && Exists("C:\\Windows\\INF\\oem1.inf")) << c.call;
  }
}

}  // namespace
