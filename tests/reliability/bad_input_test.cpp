// Input that no one meant: command tails and INF arguments of any length and byte,
// paths that do not fit, long environment values and current folders, supported-device
// lists with names and values around every capacity, damaged record slots, files in
// the way and packages with files missing. Whatever the input, a run ends with exit
// code 1, releases its handles, writes nothing but its error lines and changes nothing
// outside the installer's own footprint; each case also checks what it does.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/reliability/reliability_machine.h"

namespace {

namespace fs = std::filesystem;
using namespace where;

std::string Repeat(char c, size_t count) {
  return std::string(count, c);
}

// A folder path of exactly `length` characters below C:\, in levels that Linux can name.
std::string LongFolder(size_t length) {
  std::string path = "C:";
  while (path.size() < length) path += "\\" + Repeat('d', std::min<size_t>(length - path.size() - 1, 200));
  return path;
}

std::string PciId(const std::string& vendor, const std::string& device) {
  return "PCI\\VEN_" + vendor + "&DEV_" + device + "&SUBSYS_00000000&REV_00\\3&1&0&00";
}

std::vector<uint8_t> Bytes(const std::string& text, size_t length) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.resize(length, 0);
  return bytes;
}

class BadInputTest : public ReliabilityTest {
 protected:
  void SetUp() override {
    ReliabilityTest::SetUp();
    PrepareTemplate(RunMode{"Default", "", false});
  }

  // A fresh copy of the field machine, for the case to arrange.
  void Fresh() {
    OpenTemplateCopy();
    installFolder_.clear();
    ownDevices_.clear();
    state_ = RunState{};
  }

  // Runs `tail` and checks what every run must keep to, whatever its input. The case
  // names the install folder when "ProgramFiles" moves it, and the devices it added
  // that the run may remove.
  void RunChecked(const char* tail) {
    ProductFootprint footprint = FootprintFor(tail);
    if (!installFolder_.empty()) footprint.installFolder = installFolder_;
    footprint.ownDevices.insert(ownDevices_.begin(), ownDevices_.end());
    const MachineState before = CaptureMachineState();
    const HandleCounts handles = CurrentHandles();
    EXPECT_EQ(Run(tail, &state_), 1);
    EXPECT_EQ(HandlesLeftSince(handles), "");
    EXPECT_TRUE(IsErrorLineOutput(output_)) << output_;
    EXPECT_EQ(ForeignChanges(before, footprint), "");
  }

  // Whether the INF store holds a file with this content.
  bool StoreHolds(const std::string& content) {
    for (const fs::directory_entry& entry : fs::directory_iterator(LinuxPath("C:\\Windows\\INF")))
      if (ReadFile("C:\\Windows\\INF\\" + entry.path().filename().string()) == content) return true;
    return false;
  }
  // The names staged in the install folder of at least `shortest` characters, each after a space.
  std::string StagedNames(size_t shortest = 0) {
    std::string names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(LinuxPath(kInstallFolder), error))
      if (entry.path().filename().string().size() >= shortest)
        names += " " + entry.path().filename().string();
    return names;
  }
  void WriteWith(const std::string& path, const std::string& content, DWORD attributes) {
    WriteFile(path, content);
    SetAttributes(path, attributes);
  }
  bool Staged(const std::string& name) { return FileExists(kInstallFolder + name); }
  std::string Install() { return GetString(kProductKey, "Install"); }

  std::string installFolder_;
  std::vector<std::string> ownDevices_;
  RunState state_{};
};

TEST_F(BadInputTest, OddTailsFilesInTheWayAndPackagesWithFilesMissing) {
  const std::string driver = std::string(kInstallFolder) + "RX90K.SYS";
  const std::string stored = "C:\\Windows\\INF\\oem5.inf", pnf = "C:\\Windows\\INF\\oem5.pnf";
  const std::string name227 = Repeat('i', 223) + ".inf", name228 = Repeat('j', 224) + ".inf";
  const DWORD all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const auto yes = [](bool fact) { return fact ? "y" : "n"; };
  const struct {
    const char* what;
    std::string tail;
    std::function<void()> arrange;
    std::function<std::string()> observe;
    std::string expected;
  } cases[] = {
      {"a tail far longer than any buffer: searched, never copied",
       Repeat('x', 100000) + " /au " + Repeat('y', 100000), [] {}, [this] { return Install(); }, "Success"},
      // No path can hold the kept 511 characters: nothing is staged, not even a shortened name.
      {"an INF argument over 511 characters", "/inf=" + Repeat('q', 600) + Repeat('z', 100000),
       [this] { WriteFile("C:\\pkg\\" + Repeat('q', 200), InfText("short name")); },
       [this] { return std::to_string(std::strlen(state_.InfArgument)) + StagedNames(100); }, "511"},
      // The install folder takes 32 characters, so a name of 227 makes the longest path
      // Windows accepts (259) and one of 228 makes a path that fits no buffer of MAX_PATH.
      {"an INF name of 227 characters", "/inf=" + name227,
       [&] { WriteFile("C:\\pkg\\" + name227, InfText("227")); },
       [&] { return yes(StoreHolds(InfText("227"))) + StagedNames(100); }, "y " + name227},
      {"an INF name of 228 characters", "/inf=" + name228,
       [&] { WriteFile("C:\\pkg\\" + name228, InfText("228")); },
       [&] { return yes(StoreHolds(InfText("228"))) + StagedNames(100); }, "n"},
      // A byte the file system refuses stages nothing; options still count around control bytes.
      {"bytes of other code pages pass through as they are", "\x80\xff\x01 /inf=\xe4\xf6.inf \x1f",
       [this] { WriteFile("C:\\pkg\\\xe4\xf6.inf", InfText("latin-1 name")); },
       [&] { return std::string(yes(Staged("\xe4\xf6.inf"))) + yes(StoreHolds(InfText("latin-1 name"))); },
       "yy"},
      {"a name the file system refuses", "/inf=\x01\x02.inf /au\x7f", [] {}, [this] { return Install(); },
       "Fail"},
      {"nothing but white space after /inf=", "/au /inf= \t\r\n\v\f", [] {},
       [&] { return state_.InfArgument + Install() + yes(KeyExists(kEntryKey)); }, "Failn"},
      {"a staged file with every attribute is made writable and kept", "",
       [&] { WriteWith(driver, "older driver", all); },
       [&] { return ReadFile(driver) + std::to_string(Attributes(driver)); }, "older driver0"},
      {"an older self-copy with every attribute is replaced", "/au",
       [&] { WriteWith(kSelfCopy, "older program", all); }, [this] { return ReadFile(kSelfCopy) + output_; },
       "program image\n"},
      {"a folder where the self-copy goes", "/au", [this] { fs::create_directories(LinuxPath(kSelfCopy)); },
       [&] { return yes(FolderExists(kSelfCopy)) + output_; },
       "yCopyFile error, error value = 5CopyFile error, error value = 5"},
      {"recorded stored files that are read-only, hidden or system", "/u",
       [&] {
         WriteWith(stored, "stored copy\n", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
         WriteWith(pnf, "stored pnf\n", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
         SetString(kParametersKey, "RenamedInf", stored);
       },
       [&] { return std::string(yes(FileExists(stored))) + yes(FileExists(pnf)); }, "nn"},
      {"a product key that holds more than the records: the clean-up takes one level only", "",
       [&] {
         SetString(std::string(kProductKey) + "\\Notes", "Owner", "the administrator");
         SetString(kParametersKey, "RenamedInf", stored);
       },
       [&] { return GetString(std::string(kProductKey) + "\\Notes", "Owner"); }, "the administrator"},
      {"a file where the vendor's folder goes", "",
       [this] {
         fs::remove_all(LinuxPath("C:\\Program Files\\Orvix"));
         WriteFile("C:\\Program Files\\Orvix", "a file");
       },
       [&] { return ReadFile("C:\\Program Files\\Orvix") + yes(StoreHolds(PackageContent("net7341a.inf"))); },
       "a filen"},
      {"an empty package: two failures recorded and nothing else", "/au",
       [this] {
         for (const fs::directory_entry& entry : fs::directory_iterator(LinuxPath("C:\\pkg")))
           fs::remove(entry.path());
       },
       [&] { return StagedNames() + Install() + yes(KeyExists(kEntryKey)) + yes(FileExists(kSelfCopy)); },
       " notes.txtFailnn"},
      {"only the first INF: installed and recorded, the second fails; the version kept from the success",
       "/au", [this] { fs::remove(LinuxPath("C:\\pkg\\net73417.inf")); },
       [&] {
         return yes(StoreHolds(PackageContent("net7341a.inf"))) + GetString(kParametersKey, "RenamedInf1") +
                yes(GetString(kParametersKey, "RenamedInf").empty()) + Install() +
                GetString(kProductKey, "Version");
       },
       "ynFail0.0.3.6"},
      {"no program image: nothing to copy, and not reported", "/au",
       [this] { fs::remove(LinuxPath("C:\\pkg\\qnetprep.exe")); },
       [&] { return yes(FileExists(kSelfCopy)) + output_; },
       "nSetFileAttributes error, error value = 2SetFileAttributes error, error value = 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    c.arrange();
    RunChecked(c.tail.c_str());
    EXPECT_EQ(c.observe(), c.expected);
  }
}

TEST_F(BadInputTest, ProgramFilesValuesAndCurrentFoldersOfEveryLength) {
  const std::string usual = "C:\\Program Files\\Orvix\\qnetprep";
  const struct {
    const char* value;  // nullptr: unset
    std::string installFolder;
    bool staged;
  } values[] = {
      {nullptr, usual, true},
      {"C:\\Program Files\\", usual, true},
      {"C:\\Apps", "C:\\Apps\\Orvix\\qnetprep", true},
      {"Q:\\Missing drive", "Q:\\Missing drive\\Orvix\\qnetprep", false},
      // The folders fit; no staged file does.
      {"235", LongFolder(235) + "\\Orvix\\qnetprep", false},
      // A value that does not fit the 260-character buffer counts as absent.
      {"260", usual, true},
  };
  for (const auto& c : values) {
    const std::string value = c.value == nullptr  ? ""
                              : c.value[0] == '2' ? LongFolder(std::atoi(c.value))
                                                  : c.value;
    SCOPED_TRACE(c.value == nullptr ? "(unset)"
                                    : value.substr(0, 40) + " of " + std::to_string(value.size()));
    Fresh();
    if (value == "C:\\Apps" || value.size() == 235) fs::create_directories(LinuxPath(value));
    SetProgramFiles(c.value == nullptr ? nullptr : value.c_str());
    installFolder_ = c.installFolder;
    RunChecked("");
    EXPECT_EQ(StoreHolds(PackageContent("net7341a.inf")), c.staged);
    EXPECT_TRUE(!c.staged || FileExists(c.installFolder + "\\net7341a.inf"));
  }
  SetProgramFiles("C:\\Program Files");
  // The package is read from the current folder. At 259 characters the folder is read
  // but no file in it has a path that fits; from 260 on it cannot be read at all. The
  // root of a drive has its backslash already.
  for (const std::string& folder : {LongFolder(259), LongFolder(260), std::string("C:\\")}) {
    SCOPED_TRACE(folder.size());
    Fresh();
    if (folder == "C:\\") {
      for (const char* name : {"net7341a.inf", "net73417.inf", "rx90kw2a.cat", "RX90KW2K.CAT"})
        WriteFile(std::string("C:\\") + name, PackageContent(name));
    }
    sim::TheMachine().currentDirectory = folder;
    RunChecked("");
    EXPECT_EQ(Staged("net7341a.inf"), folder == "C:\\");
    EXPECT_EQ(StoreHolds(PackageContent("net7341a.inf")), folder == "C:\\");
  }
}

TEST_F(BadInputTest, SupportedDeviceListNamesAndValuesAroundTheirCapacities) {
  Fresh();
  struct ListValue {
    std::string name;
    size_t length;
    uint32_t type;
  };
  const auto entry = [](const std::string& name, size_t length = 0, uint32_t type = REG_SZ) {
    return ListValue{name, length, type};
  };
  const std::pair<std::string, std::vector<ListValue>> list[] = {
      {"1111", {entry("0001")}},
      // Three characters add nothing; a device without a vendor field must not match.
      {"ABC", {entry("0000")}},
      {"ABCDE", {entry("0005")}},
      {"ABCE" + Repeat('e', 123), {entry("0127")}},
      // 128 characters do not fit: the walk over the vendors (in the registry's order)
      // ends here, before FFFF.
      {"FFFE" + Repeat('f', 124), {entry("0128")}},
      {"FFFF", {entry("0001")}},
      {"BEEF",
       {entry("00"), entry("0001"), entry("0002" + Repeat('x', 507)), entry("0003" + Repeat('x', 508)),
        entry("0004")}},
      {"CAFE", {entry("0001", 511), entry("0002", 512), entry("0003", 513), entry("0004")}},
      {"D00D",
       {entry("0001", 4, REG_DWORD), entry("0002", 3, REG_BINARY), entry("0003", 9, REG_MULTI_SZ),
        entry("0004", 0, REG_NONE)}},
      {"\x01\xc4\x43\x44", {entry("0001")}},
      {"FACE",
       {entry("0\x01"
              "12"),
        entry("12\xff"
              "4"),
        entry("\x7f"), entry("0001")}},
      {"babe", {entry("00ff")}},
  };
  sim::DeleteSubkeyTree(*sim::FindKeyPath(sim::TheMachine().localMachine, "SOFTWARE\\Orvix\\Kadrimov"),
                        "SupportedDevices");
  for (const auto& [subkey, values] : list) {
    CreateKey(std::string(kSupportedList) + "\\" + subkey);
    for (const ListValue& value : values)
      SetValueBytes(std::string(kSupportedList) + "\\" + subkey, value.name, value.type,
                    std::vector<uint8_t>(value.length, 'v'));
  }
  // Vendor, device, and whether the uninstall removes it.
  const std::tuple<const char*, const char*, bool> devices[] = {
      {"1111", "0001", true},  {"ABCD", "0005", true},  {"ABCE", "0127", true}, {"FFFE", "0128", false},
      {"FFFF", "0001", false}, {"BEEF", "0000", false}, {"BEEF", "0001", true}, {"BEEF", "0002", true},
      {"BEEF", "0003", false}, {"BEEF", "0004", false}, {"CAFE", "0001", true}, {"CAFE", "0002", true},
      {"CAFE", "0003", false}, {"CAFE", "0004", false}, {"D00D", "0001", true}, {"D00D", "0002", true},
      {"D00D", "0003", true},  {"D00D", "0004", true},  {"FACE", "0001", true}, {"BABE", "00FF", true},
  };
  for (const auto& [vendor, device, removed] : devices) {
    AddDevice(kNetClass, PciId(vendor, device), "adapter");
    if (removed) ownDevices_.push_back(PciId(vendor, device));
  }
  // Identifiers of 4095 characters fit the 4096-character buffer with their NUL; longer
  // ones cannot be read and their devices stay. So do devices whose description does
  // not fit. Short identifiers: the fields past the end are 0; the bus is not compared.
  const std::string fits = "PCI\\VEN_1E7C&DEV_4C43&" + Repeat('f', 4095 - 22 - 2) + "\\1";
  const std::string tooLong = "PCI\\VEN_1E7C&DEV_4C41&" + Repeat('t', 4096 - 22 - 2) + "\\1";
  const std::tuple<std::string, std::string, bool> more[] = {
      {fits, "adapter", true},
      {tooLong, "adapter", false},
      {PciId("1E7C", "4C46"), Repeat('d', 4095), true},
      {PciId("1E7C", "4C47"), Repeat('d', 4096), false},
      {"PCI\\VEN_1E7C\\1", "adapter", false},
      {"A\\B\\C", "adapter", false},
      {"XYZ\\VEN_1E7C&DEV_4C40\\1", "adapter", true},
  };
  for (const auto& [id, description, removed] : more) {
    AddDevice(kOtherClass, id, description.c_str());
    if (removed) ownDevices_.push_back(id);
  }
  RunChecked("/u");
  for (const auto& [vendor, device, removed] : devices)
    EXPECT_EQ(DeviceExists(PciId(vendor, device)), !removed) << vendor << " " << device;
  for (const auto& [id, description, removed] : more)
    EXPECT_EQ(DeviceExists(id), !removed) << id.substr(0, 40);
  EXPECT_TRUE(DeviceExists("ROOT\\NET\\0000"));
}

TEST_F(BadInputTest, RecordSlotsThatAreTooLongUnterminatedOrOfAnotherType) {
  const std::string stored = "C:\\Windows\\INF\\oem5.inf";
  const struct {
    const char* what;
    uint32_t type;
    std::vector<uint8_t> data;
    bool deleted;         // the stored INF and its PNF are gone
    bool recordsRemoved;  // the slot was read, so the record keys went too
    const char* output;   // what the uninstall wrote
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    WriteFile(stored, "stored copy\n");
    WriteFile("C:\\Windows\\INF\\oem5.pnf", "stored pnf\n");
    SetValueBytes(kParametersKey, "RenamedInf", c.type, c.data);
    RunChecked("/u");
    EXPECT_EQ(FileExists(stored), !c.deleted);
    EXPECT_EQ(FileExists("C:\\Windows\\INF\\oem5.pnf"), !c.deleted);
    // The uninstall removes the keys whole in any case; the output tells whether the
    // clean-up read the slot.
    EXPECT_FALSE(KeyExists(kParametersKey));
    EXPECT_EQ(output_, c.output);
    // Read by a clean-up that goes on to install, a slot that counts as absent leaves
    // the records in place; one that was read lets them go.
    Fresh();
    WriteFile(stored, "stored copy\n");
    SetValueBytes(kParametersKey, "RenamedInf", c.type, c.data);
    RunChecked("");
    EXPECT_EQ(KeyExists(kParametersKey), !c.recordsRemoved);
  }
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
