// The pure parts of the logic: the options of the tail, bounded text, names that climb
// out of their folder, hexadecimal fields and the supported-device lookup; then the
// string table's load order and the order of steps of each mode.
#include <cstdlib>
#include <set>
#include <string>

using namespace std::string_literals;

#include "app/command_tail.h"
#include "app/options.h"
#include "app/resource_strings.h"
#include "app/run_installer.h"
#include "devices/hex_field.h"
#include "devices/supported_devices.h"
#include "platform/text.h"
#include "tests/support/machine.h"

namespace {

// The program's own rule for where its name ends in the command line, on a single-byte
// code page: characters compare as unsigned, so a letter above 127 is never a blank.
TEST(CommandTail, TheNameEndsAtItsClosingQuoteOrTheFirstBlankAndTheBlanksAfterItGo) {
  const struct {
    const char* line;
    const char* tail;
  } cases[] = {{"\"C:\\Program Files\\q.exe\" /au", "/au"},
               {"\"C:\\pkg\\qnetprep.exe\"/au", "/au"},
               {"\"\" /u", "/u"},
               {"\"C:\\pkg\\qnetprep.exe /au", ""},
               {"C:\\B\xfcro/updates/qnetprep.exe /au", "/au"},
               {"C:\\pkg\\qnetprep.exe\t\x01\x1f \x7f/u", "\x7f/u"},
               {"q.exe!/u", ""},
               {"q.exe", ""},
               {"", ""},
               {nullptr, ""}};
  for (const auto& c : cases) EXPECT_STREQ(CommandTailOf(c.line), c.tail) << (c.line ? c.line : "(null)");
}

TEST(CommandOptions, PlainCaseSensitiveSubstringsOutsideTheInfArgument) {
  const std::string longName(600, 'a');
  const struct {
    std::string tail;
    RunMode mode;
    bool record;
    std::string inf;
  } cases[] = {
      {"", RunMode::Default, false, ""},
      {"x/auto", RunMode::Default, true, ""},
      {"/AU /U /INF=a.inf", RunMode::Default, false, ""},
      {"/au /update", RunMode::Uninstall, true, ""},
      {"/u /inf=a.inf", RunMode::Uninstall, false, ""},
      {"/inf=a.inf /u", RunMode::Uninstall, false, ""},
      {"/inf= \t\r\n\v\fa.inf\tb", RunMode::SingleInf, false, "a.inf"},
      {"/inf=a.inf\rb /inf=c\nd\ve\ff /au", RunMode::SingleInf, true, "a.inf"},
      {"/inf=\"my a.inf\"", RunMode::SingleInf, false, "\"my"},
      {"/au /inf=   ", RunMode::SingleInf, true, ""},
      // The argument is a path: C:/updates/audio.inf holds "/u" and "/au" but selects nothing.
      {"/inf=C:/updates/audio.inf", RunMode::SingleInf, false, "C:/updates/audio.inf"},
      {"/inf=" + longName + "/u/au /au", RunMode::SingleInf, true, longName.substr(0, 511)},
      {"/inf=" + longName.substr(0, 511), RunMode::SingleInf, false, longName.substr(0, 511)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tail.substr(0, 40));
    // The argument buffer's neighbour must keep its byte: in RunState no sanitizer sees it.
    char buffer[513];
    std::memset(buffer, '#', sizeof buffer);
    const CommandOptions options = ReadCommandOptions(c.tail.c_str(), buffer, 512);
    EXPECT_EQ(options.mode, c.mode);
    EXPECT_EQ(options.recordMode, c.record);
    EXPECT_EQ(buffer[512], '#');
    if (c.mode == RunMode::SingleInf) {
      EXPECT_EQ(buffer, c.inf);
    }
  }
}

TEST(BoundedText, RefusesWhatDoesNotFitAndKeepsTheDestination) {
  char buffer[8] = "keep";
  EXPECT_FALSE(TextCopy(buffer, "12345678"));
  EXPECT_FALSE(TextCopy(buffer, 0, ""));
  EXPECT_TRUE(TextAppend(buffer, "123"));
  EXPECT_FALSE(TextAppend(buffer, "4"));
  EXPECT_FALSE(TextJoin(buffer, "C:", "\\", "pkg\\x"));
  EXPECT_STREQ(buffer, "keep123");
  char unterminated[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(TextAppend(unterminated, ""));
  EXPECT_TRUE(TextEndsWith("a.inf", ".inf") && TextEndsWith(".inf", ".inf") && !TextEndsWith("inf", ".inf"));
  EXPECT_FALSE(TextEndsWith("a.pnf", ".inf"));
  // Capacity, then limit, then the text's own end decide the length of a prefix.
  const struct {
    size_t capacity, limit;
    std::string kept;
  } prefixes[] = {{0, 9, "#####"},   {1, 9, "\0####"s}, {3, 9, "ab\0##"s}, {4, 9, "abc\0#"s},
                  {4, 4, "abc\0#"s}, {4, 2, "ab\0##"s}, {5, 3, "abc\0#"s}, {5, 9, "abcd\0"s}};
  for (const auto& p : prefixes) {
    char out[6] = "#####";
    TextCopyPrefix(out, p.capacity, "abcdef", p.limit);
    EXPECT_EQ(std::string(out, 5), p.kept) << p.capacity << " " << p.limit;
  }
}

TEST(PackageNames, ANameThatClimbsAboveItsFolderIsRefused) {
  for (const char* name : {"net.inf", "sub\\net.inf", "..inf", ".\\net.inf", "a..b\\net.inf", "", "a.b.\\x"})
    EXPECT_TRUE(StaysWithinFolder(name)) << name;
  for (const char* name :
       {"..", ". .\\x", "..\\net.inf", "sub/../../net.inf", "sub\\...\\net.inf", ".. \\net.inf", "sub\\.."})
    EXPECT_FALSE(StaysWithinFolder(name)) << name;
}

// A record slot may name anything: only what lies below the INF folder, in any ASCII
// case and without climbing back out, counts as inside.
TEST(PackageNames, APathIsInsideAFolderOnlyBelowItAndWithoutClimbingOut) {
  const char* inf = "C:\\Windows\\INF";
  const struct {
    const char *path, *folder, *below;
  } cases[] = {{"C:\\Windows\\INF\\oem1.inf", inf, "oem1.inf"},
               {"c:\\WINDOWS\\inf/sub\\x.inf", inf, "sub\\x.inf"},
               {"Z\\a", "z", "a"},
               {"a\\b", "A", "b"},
               {"C:\\x", "C:\\", "x"},
               {"C:\\Windows\\INF.old\\x", inf, nullptr},
               {"C:\\Windows\\INF", inf, nullptr},
               {"C:\\Windows\\INF\\", inf, nullptr},
               {"C:\\Windows\\IN", inf, nullptr},
               {"C:\\Windows\\INF\\..\\x.inf", inf, nullptr},
               {"C:\\Windows\\INF\\s\\.. \\..\\x", inf, nullptr},
               {"C:/Windows\\INF\\x", inf, nullptr},
               {"[\\x", "{", nullptr},
               {"\xc4\\x", "\xe4", nullptr},
               {"x", "", nullptr}};
  for (const auto& c : cases) {
    const char* below = PathWithinFolder(c.path, c.folder);
    EXPECT_STREQ(below, c.below) << c.path;
    if (below != nullptr) {
      EXPECT_EQ(below, c.path + std::strlen(c.path) - std::strlen(c.below));
    }
  }
}

TEST(HexField, TheFirstCountCharactersAsHexadecimalOrNoField) {
  const struct {
    const char* text;
    int count;
    bool field;
    uint32_t value;
  } cases[] = {{"09af", 4, true, 0x09AF},   {"AFaf", 4, true, 0xAFAF}, {"1E7C9", 4, true, 0x1E7C},
               {"09af", 2, true, 9},        {"0000", 4, true, 0},      {"/", 1, false, 0},
               {":", 1, false, 0},          {"`", 1, false, 0},        {"g", 1, false, 0},
               {"@", 1, false, 0},          {"G", 1, false, 0},        {"1E", 4, false, 0},
               {"1E7\0004C43", 4, false, 0}};
  for (const auto& c : cases) {
    uint32_t value = 77;
    EXPECT_EQ(ReadHexField(c.text, c.count, &value), c.field) << c.text;
    EXPECT_EQ(value, c.field ? c.value : 77u) << c.text;
    EXPECT_EQ(ParseHexField(c.text, c.count), static_cast<int32_t>(c.value)) << c.text;
  }
}

// The pass looks devices up in the sorted list: the same answers as the plain walk, for
// lists with repeats, the built-in table and pairs next to the entries.
TEST(SupportedDevices, TheSortedLookupAnswersAsThePlainWalk) {
  const std::set<uint32_t> kBuiltIn = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
                                       0x4C44, 0x4C45, 0x4C46, 0x4C47, 0x5B10, 0x6E03, 0x7D31};
  std::srand(7);
  for (uint32_t size : {0u, 1u, 2u, 3u, 17u, 256u}) {
    std::vector<DevicePair> list(size + 1);
    for (DevicePair& pair : list) pair = {0x1E7Bu + std::rand() % 3, 0x4C40u + std::rand() % 200};
    std::vector<DevicePair> sorted(list.begin(), list.begin() + size);
    SortSupportedDeviceList(sorted.data(), size);
    for (uint32_t vendor = 0x1E7A; vendor <= 0x1E7E; ++vendor)
      for (uint32_t device = 0x3A00; device <= 0x4D10;
           device += device < 0x3A20 || device >= 0x4C20 ? 1 : 0x100) {
        bool plain = vendor == 0x1E7C && kBuiltIn.count(device) != 0;
        for (uint32_t i = 0; i < size; ++i)
          plain = plain || (list[i].vendorId == vendor && list[i].deviceId == device);
        SCOPED_TRACE(testing::Message() << size << " entries, " << std::hex << vendor << ":" << device);
        ASSERT_EQ(IsSupportedDevice(vendor, device, size != 0 ? list.data() : nullptr, size), plain);
        ASSERT_EQ(IsSupportedDeviceInSortedList(vendor, device, size != 0 ? sorted.data() : nullptr, size),
                  plain);
      }
  }
}

using RunInstallerTest = MachineTest;

// The log reduced to the milestones that show which step ran.
std::string Milestones() {
  std::string steps;
  for (const sim::CallRecord& call : sim::CallLog()) {
    std::string step;
    if (call.name == "SetupDiGetClassDevsA")
      step = call.detail.find("4D36E972") != std::string::npos ? "net " : "other ";
    if (call.name == "RegQueryValueExA" && call.detail.find("Parameters:RenamedInf") != std::string::npos &&
        steps.find("cleanup") == std::string::npos)
      step = "cleanup ";
    if (call.name == "SetupCopyOEMInfA" && call.detail.find(" style=0x0") != std::string::npos)
      step = call.detail.substr(call.detail.find_last_of('\\') + 1,
                                call.detail.find(" style=") - call.detail.find_last_of('\\'));
    if (call.name == "SHDeleteKeyA") step = "uninstall ";
    if (steps.size() < step.size() || steps.compare(steps.size() - step.size(), step.size(), step) != 0)
      steps += step;
  }
  return steps;
}

TEST_F(RunInstallerTest, EveryModeClearsFirstThenRunsItsOwnSteps) {
  const struct {
    const char* tail;
    bool stringsLoad;
    std::string steps;
  } cases[] = {{"", true, "net other cleanup net7341a.inf net73417.inf "},
               {"/au", true, "net other cleanup net7341a.inf net73417.inf "},
               {"/inf=x.inf", true, "net other cleanup x.inf "},
               {"/au /u", true, "net other cleanup uninstall "},
               {"/u /inf=x.inf", true, "net other cleanup uninstall "},
               // Without strings the clean-up and the key removal give up; the device passes run.
               {"/u", false, "net other "}};
  for (const auto& c : cases) {
    SetString(where::kParameters, "RenamedInf", "C:\\Windows\\INF\\oem0.inf");
    sim::ResetCalls();
    if (!c.stringsLoad) sim::FailCall("LoadStringA", {});
    EXPECT_EQ(Run(c.tail), 1);
    EXPECT_EQ(Milestones(), c.steps) << c.tail;
  }
}

// Entries load in the order 1, 2, 3, 4, 11, 5, 7, 8, 9, 10; a missing one stops the
// load, and the entries after it keep what they held.
TEST_F(RunInstallerTest, StringsLoadInTableOrderAndStopAtTheFirstMissing) {
  for (uint32_t missing = 1; missing <= 11; ++missing) {
    RunState state{};
    const char* inOrder[] = {state.VendorKey,        state.ProductName, state.Parameters,   state.RenamedInf,
                             state.RenamedInf1,      state.ServiceName, state.UninstallKey, state.DisplayName,
                             state.UninstallCommand, state.Version};
    sim::ResetCalls();
    sim::FailCall("LoadStringA", {}, missing);
    EXPECT_EQ(LoadResourceStrings(state), missing == 11);
    for (uint32_t i = 0; i < 10; ++i)
      EXPECT_EQ(inOrder[i][0] != '\0', i + 1 < missing) << missing << " " << i;
  }
  RunState state{};
  sim::ResetCalls();
  ASSERT_TRUE(LoadResourceStrings(state));
  EXPECT_EQ(std::string(state.Version) + "|" + state.UninstallCommand + "|" + state.RenamedInf1,
            "0.0.3.6|qnetprep.exe /u|RenamedInf1");
}

}  // namespace
