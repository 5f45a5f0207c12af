// A simulated machine as the installer meets it in the field: the package in the
// current folder, supported adapters in both classes, the driver's service, and
// neighbours everywhere the installer reaches - other vendors, other products of the
// same vendor, other Add/Remove entries, INF files, services, devices and files.
// Machines are prepared once per mode and copied for every run, so each run starts
// from the same state.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "tests/reliability/machine_state.h"
#include "tests/support/sim_machine.h"

// One of the runs that the reliability tests cover.
struct RunMode {
  const char* name;
  const char* tail;
  // Whether a recorded install ("/au") ran on the machine before this run.
  bool afterRecordedInstall;
};

// Open handles of the simulated machine. Registry keys start from none on every newly
// opened machine; device sets and service handles are counted per process.
struct HandleCounts {
  int keys;
  int deviceSets;
  int services;
};
HandleCounts CurrentHandles();
// The handles opened since `before` and still open, one kind a line; "" when none. A
// close that fails keeps its handle on the simulated machine (Windows never fails the
// close of a valid handle, so nothing could release it): when `faultedCall` is such a
// close, exactly as many handles of its kind as closes failed may stay.
std::string HandlesLeftSince(const HandleCounts& before, const std::string& faultedCall = "",
                             int failedCloses = 1);

// Whether `output` consists of nothing but the installer's two error lines, each with a
// lower-case hexadecimal code and no line break.
bool IsErrorLineOutput(const std::string& output);

// Names the mode in test output.
void PrintTo(const RunMode& mode, std::ostream* out);
// The mode's name as a test name: its letters and digits.
std::string ModeTestName(const ::testing::TestParamInfo<RunMode>& info);

// Default, "/au", "/au" over an earlier recorded install, "/inf=", "/u" after a
// recorded install.
const std::vector<RunMode>& CoveredModes();

constexpr const char* kNetClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kOtherClass = "{4D36E97E-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kDisplayClass = "{4D36E968-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kSupportedListKey = "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices";
constexpr const char* kUninstallListKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kParametersKeyPath = "SOFTWARE\\Orvix\\qnetprep\\Parameters";

// The adapters that the installer supports and removes: built-in ones in both classes
// and one that only the supported-device list names.
const std::vector<std::string>& OwnDevices();

// The text of an INF file that the INF store accepts, told apart by `label`, naming
// `catalog` (none when empty).
std::string InfText(const std::string& label, const std::string& catalog = "");
// What the field machine's package holds in the file of that name.
std::string PackageContent(const std::string& name);

// A neighbour that must survive every run: a registry key or value ("key ...",
// "value ... : name") or a file ("file C:\..."), as MachineState names entries.
const std::vector<std::string>& NeighbourEntries();
constexpr const char* kLumoraEntry = "key SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora";

class ReliabilityTest : public SimMachineTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  void SeedPackage();
  void SeedOwnDevicesAndService();
  void SeedNeighbours();
  // Everything above.
  void SeedFieldMachine();

  // Seeds the open machine for `mode` (running a recorded install first when the mode
  // asks for one) and saves it as the template of the runs that follow.
  void PrepareTemplate(const RunMode& mode);
  // Opens a fresh copy of the template (in its own folder) as the machine; returns the
  // copy's folder.
  std::string OpenTemplateCopy();
  // A copy of the template in a new folder, not opened.
  std::string CopyTemplate(const std::string& name);

  // What a run of `mode` may change on the open machine, read before the run.
  ProductFootprint FootprintFor(const RunMode& mode);

  // Runs the installer in this process (with a fresh RunState unless one is given) and
  // returns its result; what it wrote to standard output is left in output_.
  int Run(const char* tail, RunState* state = nullptr);

  // The changes outside the footprint since `before`, one a line.
  std::string ForeignChanges(const MachineState& before, const ProductFootprint& footprint);

  std::string output_;
  std::string workspace_;
  std::string template_;
  int copies_ = 0;
};
