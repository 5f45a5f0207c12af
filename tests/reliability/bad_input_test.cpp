// Input that no one meant, in whole runs on the field machine: tails and INF arguments
// of any length and byte, files in the way, packages with files missing, "ProgramFiles"
// values and current folders of every length. Each run passes the shared check, and
// each case also checks what it did.
#include <filesystem>
#include <functional>

#include "tests/support/machine.h"

namespace {

namespace fs = std::filesystem;
using namespace where;

// A folder path of exactly `length` characters below C:\, in levels Linux can name.
std::string LongFolder(size_t length) {
  std::string path = "C:";
  while (path.size() < length)
    path += "\\" + std::string(std::min<size_t>(length - path.size() - 1, 200), 'd');
  return path;
}

class BadInputTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    PrepareTemplate(kModes[0]);
  }
  std::string Stored(const std::string& label) {
    for (const fs::directory_entry& entry : fs::directory_iterator(Linux("C:\\Windows\\INF")))
      if (Read("C:\\Windows\\INF\\" + entry.path().filename().string()).find("; " + label) !=
          std::string::npos)
        return "stored ";
    return "";
  }
  std::string Staged(const std::string& name) { return Exists(kInstall + name) ? "staged " : ""; }
};

TEST_F(BadInputTest, OddTailsFilesInTheWayAndPackagesWithFilesMissing) {
  const std::string driver = std::string(kInstall) + "RX90K.SYS";
  const std::string name227(223, 'i'),
      name228(224, 'j');  // with ".inf": the longest path that fits, and one more
  const DWORD all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const auto install = [this] { return Str(kProduct, "Install"); };
  const struct {
    std::string tail;
    std::function<void()> arrange;
    std::function<std::string()> observe;
    std::string expected;
  } cases[] = {
      {std::string(100000, 'x') + " /au " + std::string(100000, 'y'), [] {}, install, "Success"},
      {"/inf=" + name227 + ".inf", [&] { Write("C:\\pkg\\" + name227 + ".inf", InfText("227")); },
       [&] { return Stored("227") + Staged(name227 + ".inf"); }, "stored staged "},
      {"/inf=" + name228 + ".inf", [&] { Write("C:\\pkg\\" + name228 + ".inf", InfText("228")); },
       [&] { return Stored("228") + Staged(name228 + ".inf"); }, ""},
      // Bytes of other code pages pass through; options still count around control bytes.
      {"\x80\xff\x01 /inf=\xe4\xf6.inf \x1f", [this] { Write("C:\\pkg\\\xe4\xf6.inf", InfText("latin")); },
       [this] { return Stored("latin") + Staged("\xe4\xf6.inf"); }, "stored staged "},
      {"/inf=\x01\x02.inf /au\x7f", [] {}, install, "Fail"},
      {"/au /inf= \t\r\n\v\f", [] {}, [&] { return install() + (Has(kEntry) ? "entry" : ""); }, "Fail"},
      // A staged file is made writable and kept; an older self-copy is replaced.
      {"", [&] { Write(driver, "older driver", all); },
       [&] { return Read(driver) + std::to_string(Attributes(driver)); }, "older driver0"},
      {"/au", [&] { Write(kSelfCopy, "older program", all); }, [this] { return Read(kSelfCopy) + output_; },
       "program image\n"},
      {"/au", [this] { fs::create_directories(Linux(kSelfCopy)); }, [this] { return output_; },
       "CopyFile error, error value = 5CopyFile error, error value = 5"},
      {"/au", [this] { fs::remove(Linux("C:\\pkg\\qnetprep.exe")); },
       [this] { return (Exists(kSelfCopy) ? "copied" : "") + output_; },
       "SetFileAttributes error, error value = 2SetFileAttributes error, error value = 2"},
      {"",
       [this] {
         fs::remove_all(Linux("C:\\Program Files\\Orvix"));
         Write("C:\\Program Files\\Orvix", "a file");
       },
       [&] { return Read("C:\\Program Files\\Orvix") + Stored("net7341a.inf"); }, "a file"},
      {"/au",
       [this] {
         for (const fs::directory_entry& entry : fs::directory_iterator(Linux("C:\\pkg")))
           fs::remove(entry.path());
       },
       [&] { return install() + (Has(kEntry) ? "entry" : "") + (Exists(kSelfCopy) ? "copied" : ""); },
       "Fail"},
      // The version comes from the success; the failure only changes "Install".
      {"/au", [this] { fs::remove(Linux("C:\\pkg\\net73417.inf")); },
       [&] {
         return Stored("net7341a.inf") + Str(kParameters, "RenamedInf") + "|" +
                Str(kParameters, "RenamedInf1") + "|" + install() + Str(kProduct, "Version");
       },
       "stored C:\\Windows\\INF\\oem0.inf||Fail0.0.3.6"},
      // A climbing argument stages nothing outside the install folder.
      {"/inf=..\\..\\Zentrix\\new.inf", [this] { Write("C:\\Zentrix\\new.inf", InfText("zentrix")); },
       [&] { return Stored("zentrix") + (Exists("C:\\Program Files\\Zentrix\\new.inf") ? "staged" : ""); },
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail.substr(0, 60));
    OpenCopy();
    c.arrange();
    CheckedRun(c.tail);
    EXPECT_EQ(c.observe(), c.expected);
  }
}

TEST_F(BadInputTest, ProgramFilesValuesAndCurrentFoldersOfEveryLength) {
  const std::string usual = "C:\\Program Files\\Orvix\\qnetprep";
  const struct {
    const char* value;  // nullptr: unset
    std::string installFolder;
    bool staged;
  } values[] = {{nullptr, usual, true},
                {"C:\\Program Files\\", usual, true},
                {"C:\\Apps", "C:\\Apps\\Orvix\\qnetprep", true},
                {"Q:\\Missing drive", "Q:\\Missing drive\\Orvix\\qnetprep", false},
                // The folders fit; no staged file does.
                {"235", LongFolder(235) + "\\Orvix\\qnetprep", false},
                // A value that does not fit its 260-character buffer counts as absent.
                {"260", usual, true}};
  for (const auto& c : values) {
    const std::string value = c.value == nullptr  ? ""
                              : c.value[0] == '2' ? LongFolder(std::atoi(c.value))
                                                  : c.value;
    SCOPED_TRACE(value.substr(0, 40) + " of " + std::to_string(value.size()));
    OpenCopy();
    if (value == "C:\\Apps" || value.size() == 235) fs::create_directories(Linux(value));
    c.value == nullptr ? unsetenv("ProgramFiles") : setenv("ProgramFiles", value.c_str(), 1);
    installFolder_ = c.installFolder;
    CheckedRun("");
    EXPECT_EQ(Stored("net7341a.inf"), c.staged ? "stored " : "");
    EXPECT_EQ(c.staged, Exists(c.installFolder + "\\net7341a.inf"));
  }
  setenv("ProgramFiles", "C:\\Program Files", 1);
  // At 259 characters the current folder is read but no file in it has a path that
  // fits; from 260 on it cannot be read. The root of a drive has its backslash already.
  for (const std::string& folder : {LongFolder(259), LongFolder(260), std::string("C:\\")}) {
    SCOPED_TRACE(folder.size());
    OpenCopy();
    for (const char* name : {"net7341a.inf", "rx90kw2a.cat"})
      Write(std::string("C:\\") + name, Read(std::string("C:\\pkg\\") + name));
    sim::TheMachine().currentDirectory = folder;
    CheckedRun("");
    EXPECT_EQ(Staged("net7341a.inf") + Stored("net7341a.inf"), folder == "C:\\" ? "staged stored " : "");
  }
}

}  // namespace
