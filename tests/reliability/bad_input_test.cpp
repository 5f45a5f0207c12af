// Input that no one meant: command tails and INF arguments of any length and byte,
// paths that do not fit, long environment values and current folders, supported-device
// lists with names and values around every capacity, damaged record slots, files in
// the way and packages with files missing. Whatever the input, a run ends with exit
// code 1, releases its handles, writes nothing but its two error lines and changes
// nothing outside the installer's own footprint; each case also checks what it does.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/file_attributes.h"
#include "tests/reliability/reliability_machine.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kStagingFolder = "C:\\Program Files\\Orvix\\qnetprep\\";
constexpr const char* kSelfCopy = "C:\\Windows\\System32\\qnetprep.exe";

std::string Repeat(char c, size_t count) {
  return std::string(count, c);
}

// A folder path of exactly `length` characters below C:\, in levels that Linux can name.
std::string LongFolder(size_t length) {
  std::string path = "C:";
  while (path.size() < length) {
    const size_t room = length - path.size() - 1;
    path += "\\" + Repeat('d', room < 200 ? room : 200);
  }
  return path;
}

std::string PciId(const std::string& vendor, const std::string& device) {
  return "PCI\\VEN_" + vendor + "&DEV_" + device + "&SUBSYS_00000000&REV_00\\3&1&0&00";
}

class BadInputTest : public ReliabilityTest {
 protected:
  void SetUp() override {
    ReliabilityTest::SetUp();
    PrepareTemplate(RunMode{"default", "", false});
  }
  void TearDown() override {
    setenv("ProgramFiles", "C:\\Program Files", 1);
    ReliabilityTest::TearDown();
  }

  // A fresh copy of the field machine, for the case to arrange.
  void Fresh() {
    OpenTemplateCopy();
    installFolder_.clear();
    ownDevices_.clear();
  }

  // Runs `tail` and checks what every run must keep to, whatever its input. The case
  // names the install folder when "ProgramFiles" moves it, and the devices it added
  // that the run may remove.
  void RunChecked(const char* tail, RunState* state = nullptr) {
    ProductFootprint footprint = FootprintFor(RunMode{"case", tail, false});
    if (!installFolder_.empty()) footprint.installFolder = installFolder_;
    footprint.ownDevices.insert(ownDevices_.begin(), ownDevices_.end());
    const MachineState before = CaptureMachineState();
    const HandleCounts handles = CurrentHandles();
    EXPECT_EQ(Run(tail, state), 1);
    EXPECT_EQ(HandlesLeftSince(handles), "");
    EXPECT_TRUE(IsErrorLineOutput(output_)) << output_;
    EXPECT_EQ(ForeignChanges(before, footprint), "");
  }

  // Whether the INF store holds a file with this content.
  bool StoreHolds(const std::string& content) {
    for (const fs::directory_entry& entry : fs::directory_iterator(LinuxPath("C:\\Windows\\INF"))) {
      if (ReadFile("C:\\Windows\\INF\\" + entry.path().filename().string()) == content) return true;
    }
    return false;
  }
  std::vector<std::string> StagedNames() {
    std::vector<std::string> names;
    const std::string folder = LinuxPath(kStagingFolder);
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  bool Staged(const std::string& name) { return FileExists(kStagingFolder + name); }
  DWORD Attributes(const std::string& path) { return sim::StoredAttributes(LinuxPath(path)); }
  void SetAttributes(const std::string& path, DWORD bits) { sim::StoreAttributes(LinuxPath(path), bits); }

  // Replaces the supported-device list by the given subkeys and their values.
  struct ListValue {
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  void ReplaceList(const std::vector<std::pair<std::string, std::vector<ListValue>>>& subkeys) {
    sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, "SOFTWARE\\Orvix\\Kadrimov"),
                          "SupportedDevices");
    CreateKey(kSupportedListKey);
    for (const auto& [subkey, values] : subkeys) {
      CreateKey(std::string(kSupportedListKey) + "\\" + subkey);
      for (const ListValue& value : values) {
        SetValueBytes(std::string(kSupportedListKey) + "\\" + subkey, value.name, value.type, value.data);
      }
    }
  }
  static ListValue Entry(const std::string& name, size_t dataLength = 0, uint32_t type = REG_SZ) {
    return {name, type, std::vector<uint8_t>(dataLength, 'v')};
  }

  void SeedSlot(const char* slot, uint32_t type, const std::vector<uint8_t>& data) {
    SetValueBytes(kParametersKeyPath, slot, type, data);
  }
  static std::vector<uint8_t> Bytes(const std::string& text, size_t length) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.resize(length, 0);
    return bytes;
  }

  std::string installFolder_;
  std::vector<std::string> ownDevices_;
};

TEST_F(BadInputTest, CommandTailsOfAnyLengthAndByte) {
  // A tail far longer than any buffer: searched, never copied.
  Fresh();
  const std::string huge = Repeat('x', 100000) + " /au " + Repeat('y', 100000);
  RunChecked(huge.c_str());
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Success");

  // An INF argument over 511 characters keeps 511; no path can hold it, so nothing of
  // it is staged or pre-installed, not even a shortened name.
  Fresh();
  WriteFile("C:\\pkg\\" + Repeat('q', 200), InfText("short name"));
  RunState state{};
  const std::string longArgument = "/inf=" + Repeat('q', 600) + Repeat('z', 100000);
  RunChecked(longArgument.c_str(), &state);
  EXPECT_EQ(std::strlen(state.InfArgument), 511u);
  for (const std::string& staged : StagedNames()) EXPECT_NE(staged[0], 'q') << "a shortened name: " << staged;

  // Bytes of other code pages and control bytes pass through as they are: a byte the
  // file system refuses stages nothing; options still count around them.
  Fresh();
  WriteFile("C:\\pkg\\\xe4\xf6.inf", InfText("latin-1 name"));
  RunChecked("\x80\xff\x01 /inf=\xe4\xf6.inf \x1f");
  EXPECT_TRUE(Staged("\xe4\xf6.inf"));
  EXPECT_TRUE(StoreHolds(InfText("latin-1 name")));
  Fresh();
  RunChecked("/inf=\x01\x02.inf /au\x7f");
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Fail")
      << "recorded, and nothing to pre-install";

  // Nothing but white space after "/inf=": the argument is empty.
  Fresh();
  RunState empty{};
  RunChecked("/au /inf= \t\r\n\v\f", &empty);
  EXPECT_STREQ(empty.InfArgument, "");
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Fail");
  EXPECT_FALSE(KeyExists(std::string(kUninstallListKey) + "\\qnetprep"));
}

TEST_F(BadInputTest, InfNamesAroundTheLongestPathThatFits) {
  // The install folder takes 32 characters, so a name of 227 makes the longest path
  // Windows accepts (259) and one of 228 makes a path that fits no buffer of MAX_PATH.
  for (const size_t length : {227u, 228u}) {
    SCOPED_TRACE(length);
    Fresh();
    const std::string name = Repeat('i', length - 4) + ".inf";
    WriteFile("C:\\pkg\\" + name, InfText("long inf " + std::to_string(length)));
    RunChecked(("/inf=" + name).c_str());
    EXPECT_EQ(StoreHolds(InfText("long inf " + std::to_string(length))), length == 227);
    int longNames = 0;
    for (const std::string& staged : StagedNames()) {
      if (staged.size() < 100) continue;
      EXPECT_EQ(staged, name) << "a shortened name";
      ++longNames;
    }
    EXPECT_EQ(longNames, length == 227 ? 1 : 0);
  }
}

TEST_F(BadInputTest, ProgramFilesValuesOfEveryLength) {
  const std::string usual = "C:\\Program Files\\Orvix\\qnetprep";
  struct Case {
    std::string value;
    bool unset;
    std::string installFolder;
    bool staged;
  };
  const Case cases[] = {
      {"", true, usual, true},
      {"", false, usual, true},
      {"C:\\Program Files\\", false, usual, true},
      {"C:\\Apps", false, "C:\\Apps\\Orvix\\qnetprep", true},
      {"Q:\\Missing drive", false, "Q:\\Missing drive\\Orvix\\qnetprep", false},
      // The folders fit; no staged file does.
      {LongFolder(235), false, LongFolder(235) + "\\Orvix\\qnetprep", false},
      {LongFolder(259), false, LongFolder(259) + "\\Orvix\\qnetprep", false},
      // A value that does not fit the 260-character buffer counts as absent.
      {LongFolder(260), false, usual, true},
      {LongFolder(1000), false, usual, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unset ? "(unset)" : c.value.substr(0, 40) + "... of " + std::to_string(c.value.size()));
    Fresh();
    if (c.value == "C:\\Apps" || c.value.size() == 235) fs::create_directories(LinuxPath(c.value));
    if (c.unset) {
      unsetenv("ProgramFiles");
    } else {
      setenv("ProgramFiles", c.value.c_str(), 1);
    }
    installFolder_ = c.installFolder;
    RunChecked("");
    EXPECT_EQ(StoreHolds(PackageContent("net7341a.inf")), c.staged);
    if (c.staged) {
      EXPECT_TRUE(FileExists(c.installFolder + "\\net7341a.inf"));
    }
  }
}

TEST_F(BadInputTest, CurrentFoldersOfEveryLength) {
  // The package is read from the current folder. At 259 characters the folder is read
  // but no file in it has a path that fits; from 260 on it cannot be read at all, and
  // nothing is staged or pre-installed. The root of a drive has its backslash already.
  struct Case {
    std::string folder;
    bool staged;
  };
  const Case cases[] = {
      {LongFolder(259), false}, {LongFolder(260), false}, {LongFolder(300), false}, {"C:\\", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder.size());
    Fresh();
    if (c.folder == "C:\\") {
      for (const char* name : {"net7341a.inf", "net73417.inf", "rx90kw2a.cat", "RX90KW2K.CAT"}) {
        WriteFile(std::string("C:\\") + name, PackageContent(name));
      }
    }
    sim::TheMachine().currentDirectory = c.folder;
    RunChecked("");
    EXPECT_EQ(Staged("net7341a.inf"), c.staged);
    EXPECT_EQ(StoreHolds(PackageContent("net7341a.inf")), c.staged);
  }
}

TEST_F(BadInputTest, SupportedDeviceListNamesAndValuesAroundTheirCapacities) {
  Fresh();
  ReplaceList({
      {"1111", {Entry("0001")}},
      // Three characters add nothing; a device without a vendor field must not match.
      {"ABC", {Entry("0000")}},
      {"ABCDE", {Entry("0005")}},
      {"ABCE" + Repeat('e', 123), {Entry("0127")}},
      // 128 characters do not fit: the walk over the vendors (in the registry's order)
      // ends here, before FFFF.
      {"FFFE" + Repeat('f', 124), {Entry("0128")}},
      {"FFFF", {Entry("0001")}},
      {"BEEF",
       {Entry("00"), Entry("0001"), Entry("0002" + Repeat('x', 507)), Entry("0003" + Repeat('x', 508)),
        Entry("0004")}},
      {"CAFE", {Entry("0001", 511), Entry("0002", 512), Entry("0003", 513), Entry("0004")}},
      {"D00D",
       {Entry("0001", 4, REG_DWORD), Entry("0002", 3, REG_BINARY), Entry("0003", 9, REG_MULTI_SZ),
        Entry("0004", 0, REG_NONE)}},
      {"\x01\xc4\x43\x44", {Entry("0001")}},
      {"FACE",
       {Entry("0\x01"
              "12"),
        Entry("12\xff"
              "4"),
        Entry("\x7f"), Entry("0001")}},
      {"babe", {Entry("00ff")}},
  });
  struct Device {
    std::string vendor;
    std::string device;
    bool removed;
  };
  const Device devices[] = {
      {"1111", "0001", true},  {"ABCD", "0005", true},  {"ABCE", "0127", true}, {"FFFE", "0128", false},
      {"FFFF", "0001", false}, {"BEEF", "0000", false}, {"BEEF", "0001", true}, {"BEEF", "0002", true},
      {"BEEF", "0003", false}, {"BEEF", "0004", false}, {"CAFE", "0001", true}, {"CAFE", "0002", true},
      {"CAFE", "0003", false}, {"CAFE", "0004", false}, {"D00D", "0001", true}, {"D00D", "0002", true},
      {"D00D", "0003", true},  {"D00D", "0004", true},  {"FACE", "0001", true}, {"BABE", "00FF", true},
  };
  for (const Device& device : devices) {
    AddDevice(kNetClass, PciId(device.vendor, device.device), "adapter");
    if (device.removed) ownDevices_.push_back(PciId(device.vendor, device.device));
  }
  RunChecked("/u");
  for (const Device& device : devices) {
    EXPECT_EQ(DeviceExists(PciId(device.vendor, device.device)), !device.removed)
        << device.vendor << " " << device.device;
  }
  EXPECT_TRUE(DeviceExists("ROOT\\NET\\0000"));
}

TEST_F(BadInputTest, DeviceIdentifiersAndDescriptionsAroundTheirCapacities) {
  Fresh();
  // Identifiers of 4095 characters fit the 4096-character buffer with their NUL; longer
  // ones cannot be read and their devices stay. So do devices whose description does
  // not fit.
  const std::string fits = "PCI\\VEN_1E7C&DEV_4C43&" + Repeat('f', 4095 - 22 - 2) + "\\1";
  const std::string tooLong = "PCI\\VEN_1E7C&DEV_4C41&" + Repeat('t', 4096 - 22 - 2) + "\\1";
  ASSERT_EQ(fits.size(), 4095u);
  ASSERT_EQ(tooLong.size(), 4096u);
  AddDevice(kNetClass, fits, "adapter");
  AddDevice(kNetClass, tooLong, "adapter");
  AddDevice(kNetClass, PciId("1E7C", "4C46"), Repeat('d', 4095).c_str());
  AddDevice(kNetClass, PciId("1E7C", "4C47"), Repeat('d', 4096).c_str());
  // Short identifiers: the fields past the end are 0. The bus prefix is not compared.
  AddDevice(kOtherClass, "PCI\\VEN_1E7C\\1", "adapter");
  AddDevice(kOtherClass, "A\\B\\C", "adapter");
  AddDevice(kOtherClass, "XYZ\\VEN_1E7C&DEV_4C40\\1", "adapter");
  ownDevices_ = {fits, PciId("1E7C", "4C46"), "XYZ\\VEN_1E7C&DEV_4C40\\1"};
  RunChecked("/u");
  EXPECT_FALSE(DeviceExists(fits));
  EXPECT_TRUE(DeviceExists(tooLong));
  EXPECT_FALSE(DeviceExists(PciId("1E7C", "4C46")));
  EXPECT_TRUE(DeviceExists(PciId("1E7C", "4C47")));
  EXPECT_TRUE(DeviceExists("PCI\\VEN_1E7C\\1"));
  EXPECT_TRUE(DeviceExists("A\\B\\C"));
  EXPECT_FALSE(DeviceExists("XYZ\\VEN_1E7C&DEV_4C40\\1"));
}

TEST_F(BadInputTest, RecordSlotsThatAreTooLongUnterminatedOrOfAnotherType) {
  const std::string stored = "C:\\Windows\\INF\\oem5.inf";
  struct Case {
    const char* what;
    uint32_t type;
    std::vector<uint8_t> data;
    bool deleted;         // the stored INF and its PNF are gone
    bool recordsRemoved;  // the slot was read, so the record keys went too
    const char* output;   // what the run wrote
  };
  const Case cases[] = {
      {"a 512-byte record", REG_SZ, Bytes(stored, 512), true, true, ""},
      {"one byte too long", REG_SZ, Bytes(stored, 513), false, false, ""},
      {"512 bytes without a NUL", REG_SZ, Bytes(stored + Repeat(' ', 512 - stored.size()), 512), false, false,
       ""},
      {"a path too long for any file", REG_SZ, Bytes("C:\\Windows\\INF\\" + Repeat('p', 496), 512), false,
       true, "SetFileAttributes error, error value = ce"},
      {"no data", REG_SZ, {}, false, true, "SetFileAttributes error, error value = 3"},
      {"a number", REG_DWORD, {7, 0, 0, 0}, false, true, "SetFileAttributes error, error value = 7b"},
      {"binary data holding the path", REG_BINARY, Bytes(stored, stored.size() + 1), true, true, ""},
      {"text stored without its NUL", REG_SZ, Bytes(stored, stored.size()), true, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    WriteFile(stored, "stored copy\n");
    WriteFile("C:\\Windows\\INF\\oem5.pnf", "stored pnf\n");
    SeedSlot("RenamedInf", c.type, c.data);
    RunChecked("/u");
    EXPECT_EQ(FileExists(stored), !c.deleted);
    EXPECT_EQ(FileExists("C:\\Windows\\INF\\oem5.pnf"), !c.deleted);
    // The uninstall removes the keys whole in any case; the output tells whether the
    // clean-up read the slot.
    EXPECT_FALSE(KeyExists(kParametersKeyPath));
    EXPECT_EQ(output_, c.output);
  }

  // Read by a clean-up that goes on to install, a slot that counts as absent leaves
  // the records in place; one that was read lets them go.
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("before an install: ") + c.what);
    Fresh();
    WriteFile(stored, "stored copy\n");
    SeedSlot("RenamedInf", c.type, c.data);
    RunChecked("");
    EXPECT_EQ(KeyExists(kParametersKeyPath), !c.recordsRemoved);
  }
}

TEST_F(BadInputTest, FilesInTheWay) {
  // A staged file that is read-only, hidden and system is made writable and kept.
  Fresh();
  WriteFile(std::string(kStagingFolder) + "RX90K.SYS", "older driver");
  SetAttributes(std::string(kStagingFolder) + "RX90K.SYS",
                FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  RunChecked("");
  EXPECT_EQ(ReadFile(std::string(kStagingFolder) + "RX90K.SYS"), "older driver");
  EXPECT_EQ(Attributes(std::string(kStagingFolder) + "RX90K.SYS"), 0u);

  // An older self-copy with every attribute is replaced.
  Fresh();
  WriteFile(kSelfCopy, "older program");
  SetAttributes(kSelfCopy, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  RunChecked("/au");
  EXPECT_EQ(ReadFile(kSelfCopy), "program image\n");
  EXPECT_EQ(output_, "");

  // A folder where the self-copy goes cannot be replaced; the failure is reported.
  Fresh();
  fs::create_directories(LinuxPath(kSelfCopy));
  RunChecked("/au");
  EXPECT_TRUE(FolderExists(kSelfCopy));
  EXPECT_EQ(output_, "CopyFile error, error value = 5CopyFile error, error value = 5");

  // Recorded stored files that are read-only and hidden are deleted all the same.
  Fresh();
  WriteFile("C:\\Windows\\INF\\oem5.inf", "stored copy\n");
  WriteFile("C:\\Windows\\INF\\oem5.pnf", "stored pnf\n");
  SetAttributes("C:\\Windows\\INF\\oem5.inf", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetAttributes("C:\\Windows\\INF\\oem5.pnf", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
  SetString(kParametersKeyPath, "RenamedInf", "C:\\Windows\\INF\\oem5.inf");
  RunChecked("/u");
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem5.inf"));
  EXPECT_FALSE(FileExists("C:\\Windows\\INF\\oem5.pnf"));

  // A file where the vendor's folder goes: nothing can be staged or pre-installed.
  Fresh();
  fs::remove_all(LinuxPath("C:\\Program Files\\Orvix"));
  WriteFile("C:\\Program Files\\Orvix", "a file");
  RunChecked("");
  EXPECT_EQ(ReadFile("C:\\Program Files\\Orvix"), "a file");
  EXPECT_FALSE(StoreHolds(PackageContent("net7341a.inf")));

  // A folder in the package where a file should be is skipped.
  Fresh();
  fs::remove(LinuxPath("C:\\pkg\\net7341a.inf"));
  fs::create_directories(LinuxPath("C:\\pkg") + "/net7341a.inf");
  RunChecked("");
  EXPECT_FALSE(Staged("net7341a.inf"));
  EXPECT_TRUE(StoreHolds(PackageContent("net73417.inf")));
}

TEST_F(BadInputTest, PackagesWithFilesMissing) {
  // An empty package folder: a recorded install records two failures and nothing else.
  Fresh();
  for (const fs::directory_entry& entry : fs::directory_iterator(LinuxPath("C:\\pkg")))
    fs::remove(entry.path());
  RunChecked("/au");
  EXPECT_EQ(StagedNames(), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Fail");
  EXPECT_FALSE(KeyExists(std::string(kUninstallListKey) + "\\qnetprep"));
  EXPECT_FALSE(FileExists(kSelfCopy));

  // Only the first INF: it is installed and recorded, the second fails.
  Fresh();
  fs::remove(LinuxPath("C:\\pkg\\net73417.inf"));
  RunChecked("/au");
  EXPECT_TRUE(StoreHolds(PackageContent("net7341a.inf")));
  EXPECT_NE(GetString(kParametersKeyPath, "RenamedInf"), "");
  EXPECT_EQ(GetString(kParametersKeyPath, "RenamedInf1"), "");
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Install"), "Fail");
  EXPECT_EQ(GetString("SOFTWARE\\Orvix\\qnetprep", "Version"), "0.0.3.6") << "kept from the success";

  // No program image in the package: nothing to copy, and not reported.
  Fresh();
  fs::remove(LinuxPath("C:\\pkg\\qnetprep.exe"));
  RunChecked("/au");
  EXPECT_FALSE(FileExists(kSelfCopy));
  EXPECT_EQ(output_, "SetFileAttributes error, error value = 2SetFileAttributes error, error value = 2");
}

TEST_F(BadInputTest, AnInfArgumentThatClimbsOutOfThePackageStagesNothingOutsideTheInstallFolder) {
  // "..\" in the argument resolves in both folders it is joined to: the staging would
  // reach another vendor's folder under Program Files, and any file that the climb
  // lands on in the install folder's place.
  Fresh();
  WriteFile("C:\\Zentrix\\new.inf", InfText("not this product's"));
  RunChecked("/inf=..\\..\\Zentrix\\new.inf");
  EXPECT_FALSE(FileExists("C:\\Program Files\\Zentrix\\new.inf"));

  Fresh();
  RunChecked("/inf=..\\..\\..\\Windows\\System32\\kadrimov.exe");
  EXPECT_EQ(Attributes("C:\\Windows\\System32\\kadrimov.exe"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

}  // namespace
