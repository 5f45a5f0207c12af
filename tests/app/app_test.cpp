#include "app/command_tail.h"
#include "app/options.h"
#include "devices/hex_field.h"
#include "devices/supported_devices.h"
#include "platform/text.h"
#include "tests/support/machine.h"

namespace {

// Characters compare as unsigned: on a single-byte code page a letter above 127 is no blank.
TEST(CommandLine, TheTailFollowsTheNameAndOptionsCountOutsideTheInfArgument) {
  const char* const tails[][2] = {{"\"C:\\Program Files\\q.exe\" /au", "/au"},
                                  {"\"C:\\q.exe\"/au", "/au"},
                                  {"\"C:\\q.exe /au", ""},
                                  {"C:\\B\xfcro/q.exe /au", "/au"},
                                  {"C:\\q.exe\t\x01\x1f \x7f/u", "\x7f/u"},
                                  {"", ""}};
  for (const auto& c : tails) EXPECT_STREQ(CommandTailOf(c[0]), c[1]) << c[0];
  EXPECT_STREQ(CommandTailOf(nullptr), "");
  const std::string a511(511, 'a');
  const std::string options[] = {
      "", "default", "x/auto", "record default", "/AU /U /INF=a.inf", "default", "/au /update",
      "record uninstall", "/u /inf=a.inf", "uninstall", "/inf=a.inf /u", "uninstall",
      "/inf= \t\r\n\v\fa.inf\tb", "inf a.inf", "/au /inf=  ", "record inf ",
      "/inf=a.inf\rb /inf=c\nd\ve\ff /au", "record inf a.inf",
      // The argument is a path: its "/u" and "/au" select nothing.
      "/inf=C:/updates/audio.inf", "inf C:/updates/audio.inf", "/inf=" + a511 + "b/u/au /au",
      "record inf " + a511, "/inf=" + a511, "inf " + a511};
  for (size_t i = 0; i < std::size(options); i += 2) {
    // The byte after the argument's buffer stays: in RunState no sanitizer would see it.
    char buffer[513];
    std::memset(buffer, '#', sizeof buffer);
    const CommandOptions read = ReadCommandOptions(options[i].c_str(), buffer, 512);
    const std::string mode = read.mode == RunMode::Default     ? "default"
                             : read.mode == RunMode::Uninstall ? "uninstall"
                                                               : "inf " + std::string(buffer);
    EXPECT_EQ((read.recordMode ? "record " : "") + mode + buffer[512], options[i + 1] + "#") << options[i];
  }
}

TEST(BoundedText, RefusesWhatDoesNotFitAndKeepsTheDestination) {
  char buffer[8] = "keep", unterminated[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(TextCopy(buffer, "12345678") || TextCopy(buffer, 0, "") || TextAppend(unterminated, ""));
  EXPECT_TRUE(TextAppend(buffer, "123") && TextCopy(unterminated, 1, ""));
  EXPECT_FALSE(TextAppend(buffer, "4") || TextJoin(buffer, "C:", "\\", "pkg\\x"));
  EXPECT_STREQ(buffer, "keep123");
  EXPECT_TRUE(TextEndsWith("a.inf", ".inf") && TextEndsWith(".inf", ".inf"));
  EXPECT_FALSE(TextEndsWith("inf", ".inf") || TextEndsWith("a.pnf", ".inf"));
  const std::string prefixes[] = {"#####",   "\0####"s, "ab\0##"s, "abc\0#"s,
                                  "abc\0#"s, "ab\0##"s, "abc\0#"s, "abcd\0"s};
  const size_t bounds[][2] = {{0, 9}, {1, 9}, {3, 9}, {4, 9},
                              {4, 4}, {4, 2}, {5, 3}, {5, 9}};  // capacity, limit
  for (size_t i = 0; i < std::size(prefixes); ++i) {
    char out[6] = "#####";
    TextCopyPrefix(out, bounds[i][0], "abcdef", bounds[i][1]);
    EXPECT_EQ(std::string(out, 5), prefixes[i]) << bounds[i][0] << " " << bounds[i][1];
  }
}

// Names from the command line and paths from the registry must not climb out of their folder.
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
                                  {"C:\\Windows\\IMF\\x", inf, nullptr},
                                  {"C:\\Windows\\INF\\", inf, nullptr},
                                  {"C:\\Windows\\INF\\..\\x.inf", inf, nullptr},
                                  {"[\\x", "{", nullptr},
                                  {"\xc4\\x", "\xe4", nullptr},
                                  {"x", "", nullptr}};
  for (const auto& c : cases) {
    const char* below = PathWithinFolder(c[0], c[1]);
    EXPECT_STREQ(below, c[2]) << c[0];
    EXPECT_TRUE(below == nullptr || below == c[0] + std::strlen(c[0]) - std::strlen(c[2])) << c[0];
  }
}

TEST(SupportedDevices, HexFieldsAndBothLookupsAnswerAsAPlainModel) {
  // Field or not, the value (7: untouched), fields of 4 and 2; the digits' neighbours are none.
  std::string fields;
  for (const char* text :
       {"09af", "AFaf", "1E7C9", "0000", "/000", ":000", "`000", "g000", "@000", "G000", "1E7"}) {
    uint32_t value = 7;
    const bool field = ReadHexField(text, 4, &value);
    fields += std::to_string(field) + std::to_string(value) + "/" + std::to_string(ParseHexField(text, 4)) +
              "/" + std::to_string(ParseHexField(text, 2)) + " ";
  }
  EXPECT_EQ(fields,
            "12479/2479/9 144975/44975/175 17804/7804/30 10/0/0 07/0/0 07/0/0 07/0/0 07/0/0 07/0/0 07/0/0 "
            "07/0/30 ");
  // The plain lookup, past its count too; the pass holds the sorted one to the list.
  const DevicePair list[] = {{1, 2}, {3, 4}};
  EXPECT_TRUE(IsSupportedDevice(1, 2, list, 1) && IsSupportedDevice(3, 4, list, 2) &&
              IsSupportedDevice(0x1E7C, 0x7D31, nullptr, 0));
  EXPECT_FALSE(IsSupportedDevice(3, 4, list, 1) || IsSupportedDevice(1, 4, list, 2) ||
               IsSupportedDevice(3, 2, list, 2) || IsSupportedDevice(0x1E7D, 0x4C43, nullptr, 0) ||
               IsSupportedDevice(0x1E7C, 0x4C48, list, 2));
  EXPECT_TRUE(IsSupportedDeviceInSortedList(1, 2, list, 1));
  EXPECT_FALSE(IsSupportedDeviceInSortedList(1, 2, list, 0) ||
               IsSupportedDeviceInSortedList(3, 4, nullptr, 2));
}

}  // namespace
