// A simulated machine as the installer meets it in the field: the package in the
// current folder, supported adapters in both classes, the driver's service, and
// neighbours everywhere the installer reaches. Machines are prepared once per mode and
// copied for every run, so each run starts from the same state. The whole machine can
// be captured as flat entries, and two captures told apart by what the installer may
// change and what it may not.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "tests/support/sim_machine.h"

// One of the runs that the reliability tests cover; `name` is a test name.
struct RunMode {
  const char* name;
  const char* tail;
  bool afterRecordedInstall;  // a recorded install ("/au") ran on the machine before
};
inline void PrintTo(const RunMode& mode, std::ostream* out) {
  *out << mode.name;
}
inline std::string ModeName(const ::testing::TestParamInfo<RunMode>& info) {
  return info.param.name;
}
// Default, "/au", "/au" over an earlier recorded install, "/inf=", "/u" after a recorded install.
const std::vector<RunMode>& CoveredModes();

// Registry keys are counted from none on every newly opened machine; device sets and
// service handles per process.
struct HandleCounts {
  int keys, deviceSets, services;
};
HandleCounts CurrentHandles();
// The handles opened since `before` and still open; "" when none. A close that fails
// keeps its handle (Windows never fails the close of a valid handle, so nothing could
// release it): when `faultedCall` is such a close, as many of its kind as failed may stay.
std::string HandlesLeftSince(const HandleCounts& before, const std::string& faultedCall = "",
                             int failedCloses = 1);
// Whether `output` is nothing but the installer's error lines, in lower-case hexadecimal.
bool IsErrorLineOutput(const std::string& output);

// Entries "key PATH", "value PATH : name", "folder C:\..", "file C:\.." and
// "attributes C:\.."; the text is the value's type and bytes, the content or the bits.
using MachineState = std::map<std::string, std::string>;
MachineState CaptureMachineState();
enum class ChangeKind { kAdded, kRemoved, kModified };
struct Change {
  std::string entry;
  ChangeKind kind;
};
std::vector<Change> Differences(const MachineState& before, const MachineState& after);
// Every change, one a line; "" when there is none.
std::string DescribeAll(const std::vector<Change>& changes);

// What one run may change: its own keys, folders, files, devices and service.
struct ProductFootprint {
  bool uninstall = false;                    // which also removes the "Lumora" Add/Remove entry
  std::set<std::string> ownDevices;          // present, supported instance identifiers
  std::set<std::string> recordedInfs;        // stored INFs the records name: they and their PNFs may go
  std::set<std::string> packageInfContents;  // what a new copy in the INF store may hold
  std::string installFolder = "C:\\Program Files\\Orvix\\qnetprep";  // the folder above may be created
  std::set<std::string> stagedNames;  // files staging copies there and clears attributes of
};

// The supported adapters that every mode removes.
const std::vector<std::string>& OwnDevices();
// An INF the store accepts, told apart by `label`, naming `catalog` (none when empty).
std::string InfText(const std::string& label, const std::string& catalog = "");
// What the field machine's package holds in the file of that name.
std::string PackageContent(const std::string& name);
// Neighbours that must survive every run, as MachineState names them.
const std::vector<std::string>& NeighbourEntries();
constexpr const char* kLumoraEntry = "key SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumora";

class ReliabilityTest : public SimMachineTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  void SeedOwnDevicesAndService();
  // The package, own devices and service, and every neighbour.
  void SeedFieldMachine();
  // Seeds the open machine for `mode` and saves it as the template of the runs.
  void PrepareTemplate(const RunMode& mode);
  // A copy of the template in a new folder, not opened; OpenTemplateCopy opens one.
  std::string CopyTemplate(const std::string& name);
  std::string OpenTemplateCopy();
  // What a run of `tail` may change on the open machine, read before the run.
  ProductFootprint FootprintFor(const std::string& tail);
  // Runs the installer in this process; its standard output is left in output_.
  int Run(const char* tail, RunState* state = nullptr);
  // The changes outside the footprint since `before`, one a line.
  std::string ForeignChanges(const MachineState& before, const ProductFootprint& footprint);

  std::string output_, workspace_, template_;
  int copies_ = 0;
};
