// The pure parts of the logic: the command tail and its options, bounded text, paths that
// climb out of their folder, hexadecimal fields and the supported-device lookup.
#include <cstdlib>
#include <set>

#include "app/command_tail.h"
#include "app/options.h"
#include "devices/hex_field.h"
#include "devices/supported_devices.h"
#include "platform/text.h"
#include "tests/support/machine.h"

namespace {

// Where the program's name ends, on a single-byte code page: characters compare as
// unsigned, so a letter above 127 is never a blank. Pairs of line and tail.
TEST(CommandLine, TheTailFollowsTheNameAndTheBlanksAfterItAndOptionsCountOutsideTheInfArgument) {
  const char* const tails[][2] = {{"\"C:\\Program Files\\q.exe\" /au", "/au"},
                                  {"\"C:\\q.exe\"/au", "/au"},
                                  {"\"\" /u", "/u"},
                                  {"\"C:\\q.exe /au", ""},
                                  {"C:\\B\xfcro/updates/qnetprep.exe /au", "/au"},
                                  {"q.exe!/u", ""},
                                  {"C:\\q.exe\t\x01\x1f \x7f/u", "\x7f/u"},
                                  {"q.exe", ""},
                                  {"", ""},
                                  {nullptr, ""}};
  for (const auto& c : tails) EXPECT_STREQ(CommandTailOf(c[0]), c[1]) << (c[0] ? c[0] : "(null)");
  const std::string a600(600, 'a');
  const struct {
    std::string tail;
    RunMode mode;
    bool record;
    std::string inf;
  } cases[] = {{"", RunMode::Default, false, ""},
               {"x/auto", RunMode::Default, true, ""},
               {"/AU /U /INF=a.inf", RunMode::Default, false, ""},
               {"/au /update", RunMode::Uninstall, true, ""},
               {"/u /inf=a.inf", RunMode::Uninstall, false, ""},
               {"/inf=a.inf /u", RunMode::Uninstall, false, ""},
               {"/inf= \t\r\n\v\fa.inf\tb", RunMode::SingleInf, false, "a.inf"},
               {"/au /inf=  ", RunMode::SingleInf, true, ""},
               {"/inf=a.inf\rb /inf=c\nd\ve\ff /au", RunMode::SingleInf, true, "a.inf"},
               // The argument is a path: C:/updates/audio.inf holds "/u" and "/au" but selects nothing.
               {"/inf=C:/updates/audio.inf", RunMode::SingleInf, false, "C:/updates/audio.inf"},
               {"/inf=" + a600 + "/u/au /au", RunMode::SingleInf, true, a600.substr(89)},
               {"/inf=" + a600.substr(89), RunMode::SingleInf, false, a600.substr(89)}};
  for (const auto& c : cases) {
    // The byte after the argument's buffer stays: in RunState no sanitizer would see it.
    char buffer[513];
    std::memset(buffer, '#', sizeof buffer);
    const CommandOptions options = ReadCommandOptions(c.tail.c_str(), buffer, 512);
    EXPECT_EQ(options.mode, c.mode) << c.tail;
    EXPECT_EQ(options.recordMode, c.record) << c.tail;
    EXPECT_EQ(buffer[512], '#');
    EXPECT_EQ(options.mode == RunMode::SingleInf ? buffer : c.inf, c.inf) << c.tail;
  }
}

TEST(BoundedText, RefusesWhatDoesNotFitAndKeepsTheDestination) {
  char buffer[8] = "keep", unterminated[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(TextCopy(buffer, "12345678") || TextCopy(buffer, 0, "") || TextAppend(unterminated, ""));
  EXPECT_TRUE(TextAppend(buffer, "123"));
  EXPECT_FALSE(TextAppend(buffer, "4") || TextJoin(buffer, "C:", "\\", "pkg\\x"));
  EXPECT_STREQ(buffer, "keep123");
  EXPECT_TRUE(TextEndsWith("a.inf", ".inf") && TextEndsWith(".inf", ".inf"));
  EXPECT_FALSE(TextEndsWith("inf", ".inf") || TextEndsWith("a.pnf", ".inf"));
  // Capacity, then limit, then the text's own end decide the length of a prefix.
  const std::pair<std::pair<size_t, size_t>, std::string> prefixes[] = {
      {{0, 9}, "#####"},   {{1, 9}, "\0####"s}, {{3, 9}, "ab\0##"s}, {{4, 9}, "abc\0#"s},
      {{4, 4}, "abc\0#"s}, {{4, 2}, "ab\0##"s}, {{5, 3}, "abc\0#"s}, {{5, 9}, "abcd\0"s}};
  for (const auto& [bounds, kept] : prefixes) {
    char out[6] = "#####";
    TextCopyPrefix(out, bounds.first, "abcdef", bounds.second);
    EXPECT_EQ(std::string(out, 5), kept) << bounds.first << " " << bounds.second;
  }
}

// Names from the command line and paths from the registry must not climb out of their
// folder; only what lies below the INF folder, in any ASCII case, counts as inside it.
TEST(Paths, NamesStayWithinTheirFolderAndPathsLieInsideItOnlyBelowIt) {
  for (const char* name : {"net.inf", "sub\\net.inf", "..inf", ".\\net.inf", "a..b\\net.inf", "", "a.b.\\x"})
    EXPECT_TRUE(StaysWithinFolder(name)) << name;
  for (const char* name :
       {"..", ". .\\x", "..\\net.inf", "sub/../../net.inf", "sub\\...\\net.inf", "sub\\.."})
    EXPECT_FALSE(StaysWithinFolder(name)) << name;
  const char* inf = "C:\\Windows\\INF";
  const char* const cases[][3] = {{"C:\\Windows\\INF\\oem1.inf", inf, "oem1.inf"},
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
    const char* below = PathWithinFolder(c[0], c[1]);
    EXPECT_STREQ(below, c[2]) << c[0];
    EXPECT_TRUE(below == nullptr || below == c[0] + std::strlen(c[0]) - std::strlen(c[2])) << c[0];
  }
}

TEST(SupportedDevices, HexFieldsAndTheSortedLookupAnswerAsPlainModelsDo) {
  const struct {
    const char* text;
    int count;
    bool field;
    uint32_t value;
  } fields[] = {{"09af", 4, true, 0x09AF}, {"AFaf", 4, true, 0xAFAF}, {"1E7C9", 4, true, 0x1E7C},
                {"09af", 2, true, 9},      {"0000", 4, true, 0},      {"/:`g@G", 1, false, 0},
                {":", 1, false, 0},        {"`", 1, false, 0},        {"g", 1, false, 0},
                {"@", 1, false, 0},        {"G", 1, false, 0},        {"1E7\0004C43", 4, false, 0}};
  for (const auto& c : fields) {
    uint32_t value = 77;
    EXPECT_EQ(ReadHexField(c.text, c.count, &value), c.field) << c.text;
    EXPECT_EQ(value, c.field ? c.value : 77u) << c.text;
    EXPECT_EQ(ParseHexField(c.text, c.count), static_cast<int32_t>(c.value)) << c.text;
  }
  // Random lists with repeats, and one entry more past the count that must not count.
  const std::set<uint32_t> builtIn = {0x3A02, 0x3A07, 0x3A15, 0x4C21, 0x4C40, 0x4C41, 0x4C42, 0x4C43,
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
        bool plain = vendor == 0x1E7C && builtIn.count(device) != 0;
        for (uint32_t i = 0; i < size; ++i)
          plain = plain || (list[i].vendorId == vendor && list[i].deviceId == device);
        ASSERT_EQ(IsSupportedDevice(vendor, device, size ? list.data() : nullptr, size), plain)
            << size << " " << device;
        ASSERT_EQ(IsSupportedDeviceInSortedList(vendor, device, size ? sorted.data() : nullptr, size), plain);
      }
  }
}

}  // namespace
