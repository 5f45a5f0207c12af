// Whole runs of the program on machine folders: what each mode leaves in the registry,
// the INF store, the install folder and the system folder, and what it prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/file_attributes.h"
#include "platform/sim/machine.h"
#include "tests/scenarios/scenario_machine.h"

namespace {

constexpr const char* kVendorKey = "SOFTWARE\\Orvix";
constexpr const char* kProductKey = "SOFTWARE\\Orvix\\qnetprep";
constexpr const char* kListKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kEntryKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep";
constexpr const char* kStaged = "drive_c/Program Files/Orvix/qnetprep/";
constexpr const char* kStore = "drive_c/Windows/INF/";
constexpr const char* kSelfCopy = "drive_c/Windows/System32/qnetprep.exe";

// What a recorded default run leaves below the vendor key and in the Add/Remove list.
const std::vector<std::string> kRecordedProductKey = {
    "SOFTWARE\\Orvix\\qnetprep",
    "SOFTWARE\\Orvix\\qnetprep: Install type 1, 512 bytes, \"Success\" + NULs",
    "SOFTWARE\\Orvix\\qnetprep: reboot type 1, 512 bytes, \"reboot\" + NULs",
    "SOFTWARE\\Orvix\\qnetprep: Version type 1, 512 bytes, \"0.0.3.6\" + NULs",
    "SOFTWARE\\Orvix\\qnetprep\\Parameters",
    "SOFTWARE\\Orvix\\qnetprep\\Parameters: RenamedInf type 1, 512 bytes, \"C:\\Windows\\INF\\oem0.inf\" + "
    "NULs",
    "SOFTWARE\\Orvix\\qnetprep\\Parameters: RenamedInf1 type 1, 512 bytes, \"C:\\Windows\\INF\\oem1.inf\" + "
    "NULs",
};
// Written with the texts' lengths; the platform stores the NUL that follows each text.
const std::vector<std::string> kEntry = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep: DisplayName type 1, 35 bytes, "
    "\"Orvix adapter installation program\" + NULs",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qnetprep: UninstallString type 1, 16 bytes, "
    "\"qnetprep.exe /u\" + NULs",
};

class InstallScenarioTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    WritePackage();
  }

  // Files of the package folder, the staged package and the given others, sorted.
  std::vector<std::string> ExpectedFiles(const std::vector<std::string>& others, bool staged = true) {
    std::vector<std::string> files = others;
    for (const std::string& name : PackageFiles()) {
      files.push_back("drive_c/pkg/" + name);
      if (staged) files.push_back(kStaged + name);
    }
    files.push_back("drive_c/pkg/qnetprep.exe");
    std::sort(files.begin(), files.end());
    return files;
  }

  static std::vector<std::string> StoredPair(int number) {
    const std::string base = std::string(kStore) + "oem" + std::to_string(number);
    return {base + ".inf", base + ".pnf"};
  }

  static std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

TEST_F(InstallScenarioTest, AFirstDefaultRunStagesAndPreInstallsWithoutRecords) {
  const ProcessResult run = Run({});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(Describe(kVendorKey), std::vector<std::string>{kVendorKey});
  EXPECT_EQ(Describe(kListKey), std::vector<std::string>{kListKey});
  EXPECT_EQ(Files(), ExpectedFiles(Join(StoredPair(0), StoredPair(1))));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem0.inf"), PackageFileText("net7341a.inf", "v1"));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem1.inf"), PackageFileText("net73417.inf", "v1"));
  for (const std::string& name : PackageFiles())
    EXPECT_EQ(ReadFile(kStaged + name), PackageFileText(name, "v1"));
}

TEST_F(InstallScenarioTest, AFirstRecordedRunRecordsBothInfsTheEntryAndTheSelfCopy) {
  const ProcessResult run = Run({"/au"});

  EXPECT_EQ(run.exitCode, 1);
  // Only the first self-copy finds no older copy; the second replaces the first.
  EXPECT_EQ(run.output, "SetFileAttributes error, error value = 2");
  EXPECT_EQ(Describe(kVendorKey), Join({kVendorKey}, kRecordedProductKey));
  EXPECT_EQ(Describe(kListKey), Join({kListKey}, kEntry));
  EXPECT_EQ(Files(), ExpectedFiles(Join(Join(StoredPair(0), StoredPair(1)), {kSelfCopy})));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem0.inf"), PackageFileText("net7341a.inf", "v1"));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem1.inf"), PackageFileText("net73417.inf", "v1"));
  EXPECT_EQ(ReadFile(kSelfCopy), "program v1");
}

// The road of a recorded run over an earlier recorded install: the supported adapter
// and the service go, the stored INFs are replaced and the slots start again at 0.
TEST_F(InstallScenarioTest, ARepeatedRecordedRunClearsTheEarlierInstallFirst) {
  ASSERT_EQ(Run({"/au"}).exitCode, 1);
  const std::string adapter = "PCI\\VEN_1E7C&DEV_4C60&SUBSYS_00011E7C&REV_01\\4&1A2B3C4D&0&00E0";
  EditMachine([&] {
    const auto root = sim::TheMachine().localMachine;
    sim::SetStringValue(*sim::CreateKeyPath(root, "SOFTWARE\\Orvix\\Kadrimov\\SupportedDevices\\1E7C"),
                        "4C60", "");
    const auto device = sim::CreateKeyPath(root, std::string(sim::kEnumKeyPath) + "\\" + adapter);
    sim::SetStringValue(*device, "ClassGUID", "{4D36E972-E325-11CE-BFC1-08002BE10318}");
    sim::SetStringValue(*device, "DeviceDesc", "Orvix adapter");
    const uint32_t kernelDriver = 1;
    sim::SetValue(*sim::CreateKeyPath(root, std::string(sim::kServicesKeyPath) + "\\RX90K"), "Type",
                  REG_DWORD, reinterpret_cast<const uint8_t*>(&kernelDriver), sizeof kernelDriver);
  });
  // The store's names are free again only if the earlier copies were deleted.
  WriteFile(std::string(kStore) + "oem2.inf", "another product's INF");
  WriteFile(std::string(kStore) + "oem2.pnf", "another product's PNF");

  const ProcessResult run = Run({"/au"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_FALSE(KeyExists(std::string(sim::kEnumKeyPath) + "\\" + adapter));
  EXPECT_FALSE(KeyExists(std::string(sim::kServicesKeyPath) + "\\RX90K"));
  const std::vector<std::string> vendor = Describe(kVendorKey);
  EXPECT_EQ(std::vector<std::string>(vendor.end() - kRecordedProductKey.size(), vendor.end()),
            kRecordedProductKey);
  EXPECT_EQ(Describe(kListKey), Join({kListKey}, kEntry));
  EXPECT_EQ(Files(),
            ExpectedFiles(Join(Join(Join(StoredPair(0), StoredPair(1)), StoredPair(2)), {kSelfCopy})));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem0.inf"), PackageFileText("net7341a.inf", "v1"));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem1.inf"), PackageFileText("net73417.inf", "v1"));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem2.inf"), "another product's INF");
}

TEST_F(InstallScenarioTest, TheUninstallRemovesOurRecordsAndEntriesOnly) {
  ASSERT_EQ(Run({"/au"}).exitCode, 1);
  EditMachine([] {
    const auto root = sim::TheMachine().localMachine;
    sim::SetStringValue(*sim::CreateKeyPath(root, std::string(kListKey) + "\\Lumora\\Sub"), "DisplayName",
                        "Lumora");
    sim::SetStringValue(*sim::CreateKeyPath(root, std::string(kListKey) + "\\OtherApp"), "DisplayName",
                        "Other");
    sim::CreateKeyPath(root, "SOFTWARE\\Orvix\\OtherProduct");
    sim::CreateKeyPath(root, "SOFTWARE\\Halvex\\qnetprep");
  });

  // The Add/Remove list starts the self-copy from the system folder.
  const ProcessResult run = Run({"/u"}, Linux("drive_c/Windows/System32"));

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(Describe(kVendorKey), (std::vector<std::string>{kVendorKey, "SOFTWARE\\Orvix\\OtherProduct"}));
  EXPECT_EQ(Describe(kListKey),
            (std::vector<std::string>{kListKey, std::string(kListKey) + "\\OtherApp",
                                      std::string(kListKey) + "\\OtherApp: DisplayName type 1, "
                                                              "6 bytes, \"Other\" + NULs"}));
  EXPECT_TRUE(KeyExists("SOFTWARE\\Halvex\\qnetprep"));
  // The install folder and the self-copy stay; the stored INFs are gone.
  EXPECT_EQ(Files(), ExpectedFiles({kSelfCopy}));
}

TEST_F(InstallScenarioTest, RecordsThatCannotBeClearedBlockFurtherRecordedInstalls) {
  ASSERT_EQ(Run({"/au"}).exitCode, 1);
  // A subkey below Parameters keeps the clean-up from removing it, so both slots stay
  // taken while their files are deleted.
  EditMachine([] {
    sim::CreateKeyPath(sim::TheMachine().localMachine, "SOFTWARE\\Orvix\\qnetprep\\Parameters\\Extra");
  });

  const ProcessResult run = Run({"/au"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "");
  std::vector<std::string> expected = Join({kVendorKey}, kRecordedProductKey);
  expected.push_back("SOFTWARE\\Orvix\\qnetprep\\Parameters\\Extra");
  EXPECT_EQ(Describe(kVendorKey), expected);
  EXPECT_FALSE(KeyExists(kEntryKey));
  EXPECT_EQ(Files(), ExpectedFiles({kSelfCopy}));
}

TEST_F(InstallScenarioTest, TheInfOptionInstallsOneNamedInf) {
  WriteFile("drive_c/pkg/extra.inf", InfFileText("extra INF"));
  const ProcessResult run = Run({"/au", "/inf=extra.inf"});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "SetFileAttributes error, error value = 2");
  const std::vector<std::string> product = Describe(kProductKey);
  EXPECT_EQ(product, (std::vector<std::string>(kRecordedProductKey.begin(), kRecordedProductKey.end() - 1)));
  EXPECT_EQ(Describe(kListKey), Join({kListKey}, kEntry));
  EXPECT_EQ(ReadFile(std::string(kStaged) + "extra.inf"), InfFileText("extra INF"));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem0.inf"), InfFileText("extra INF"));
  EXPECT_EQ(Files(), ExpectedFiles(Join(Join(StoredPair(0), {kSelfCopy}),
                                        {"drive_c/pkg/extra.inf", std::string(kStaged) + "extra.inf"})));
}

TEST_F(InstallScenarioTest, TheInfOptionWithNothingAfterItRecordsAFailure) {
  const ProcessResult run = Run({"/au", "/inf="});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(Describe(kVendorKey),
            (std::vector<std::string>{kVendorKey, kProductKey,
                                      "SOFTWARE\\Orvix\\qnetprep: Install type 1, 512 bytes, \"Fail\" + NULs",
                                      "SOFTWARE\\Orvix\\qnetprep\\Parameters"}));
  EXPECT_FALSE(KeyExists(kEntryKey));
  EXPECT_EQ(Files(), ExpectedFiles({}));
}

TEST_F(InstallScenarioTest, TheInfOptionWithAFolderPartNeedsTheFolderOnBothSides) {
  WriteFile("drive_c/pkg/sub/nested.inf", InfFileText("nested INF"));
  ProcessResult run = Run({"/inf=sub\\nested.inf"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(Files(), ExpectedFiles({"drive_c/pkg/sub/nested.inf"}));

  std::filesystem::create_directories(Linux(std::string(kStaged) + "sub"));
  run = Run({"/inf=sub\\nested.inf"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(ReadFile(std::string(kStaged) + "sub/nested.inf"), InfFileText("nested INF"));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem0.inf"), InfFileText("nested INF"));
  EXPECT_EQ(Describe(kVendorKey), std::vector<std::string>{kVendorKey});
}

TEST_F(InstallScenarioTest, AStagedFileIsNeverReplaced) {
  ASSERT_EQ(Run({}).exitCode, 1);
  // A read-only staged file, a missing one and a newer package.
  EditMachine([&] {
    sim::StoreAttributes(Linux(std::string(kStaged) + "RX90K.SYS"), FILE_ATTRIBUTE_READONLY);
    sim::StoreAttributes(Linux(std::string(kStaged) + "net7341a.inf"), FILE_ATTRIBUTE_HIDDEN);
  });
  std::filesystem::remove(Linux(std::string(kStaged) + "OrvixNic.dll"));
  WritePackage("v2");

  const ProcessResult run = Run({});

  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(ReadFile(std::string(kStaged) + "RX90K.SYS"), "RX90K.SYS v1");
  EXPECT_EQ(Attributes(std::string(kStaged) + "RX90K.SYS"), 0u);
  EXPECT_EQ(Attributes(std::string(kStaged) + "net7341a.inf"), 0u);
  EXPECT_EQ(ReadFile(std::string(kStaged) + "OrvixNic.dll"), "OrvixNic.dll v2");
  // The INFs come from the staging, so the older ones are what the store holds.
  EXPECT_EQ(Files(), ExpectedFiles(Join(StoredPair(0), StoredPair(1))));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem0.inf"), PackageFileText("net7341a.inf", "v1"));
  EXPECT_EQ(ReadFile(std::string(kStore) + "oem1.inf"), PackageFileText("net73417.inf", "v1"));
}

TEST_F(InstallScenarioTest, TheInstallFolderFollowsProgramFiles) {
  std::filesystem::create_directories(Linux("drive_d/Apps"));
  ASSERT_EQ(Run({}, std::string(), "D:\\Apps").exitCode, 1);
  EXPECT_EQ(ReadFile("drive_d/Apps/Orvix/qnetprep/RX90K.SYS"), "RX90K.SYS v1");
  EXPECT_FALSE(std::filesystem::exists(Linux(std::string(kStaged) + "RX90K.SYS")));

  // Without the variable: the usual folder on drive C.
  ASSERT_EQ(Run({}, std::string(), nullptr).exitCode, 1);
  for (const std::string& name : PackageFiles())
    EXPECT_EQ(ReadFile(kStaged + name), PackageFileText(name, "v1"));
}

}  // namespace
