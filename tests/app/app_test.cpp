// The pure functions: the command line, bounded text, paths, hexadecimal fields and the
// plain lookup. Each table row is one case; every failure names its row.
#include "app/command_tail.h"
#include "app/options.h"
#include "devices/hex_field.h"
#include "devices/supported_devices.h"
#include "platform/text.h"
#include "tests/support/machine.h"

namespace {

// A whole command line and the tail that the options are read from. Characters compare as
// unsigned: on a single-byte code page a letter above 127 is no blank.
struct TailCase {
  const char* commandLine;
  const char* tail;
};
const TailCase kTails[] = {
    {"\"C:\\Program Files\\q.exe\" /au", "/au"},
    {"\"C:\\q.exe\"/au", "/au"},
    {"\"C:\\q.exe /au", ""},  // a quote never closed takes the whole line
    {"C:\\B\xfcro/q.exe /au", "/au"},
    {"C:\\q.exe\t\x01\x1f \x7f/u", "\x7f/u"},
    {"", ""},
};

TEST(CommandLine, TheTailFollowsTheProgramsName) {
  for (const TailCase& row : kTails)
    EXPECT_STREQ(CommandTailOf(row.commandLine), row.tail) << row.commandLine;
  EXPECT_STREQ(CommandTailOf(nullptr), "");
}

// A tail, the mode and RecordMode it selects, and the INF argument read in the single-INF mode.
struct OptionCase {
  std::string tail;
  RunMode mode;
  bool record;
  std::string infArgument;
};
const std::string k511(511, 'a');
const OptionCase kOptions[] = {
    {"", RunMode::Default, false, ""},
    {"x/auto", RunMode::Default, true, ""},
    {"/AU /U /INF=a.inf", RunMode::Default, false, ""},
    {"/au /update", RunMode::Uninstall, true, ""},
    {"/u /inf=a.inf", RunMode::Uninstall, false, ""},
    {"/inf=a.inf /u", RunMode::Uninstall, false, ""},
    {"/inf= \t\r\n\v\fa.inf\tb", RunMode::SingleInf, false, "a.inf"},
    {"/au /inf=  ", RunMode::SingleInf, true, ""},
    {"/inf=a.inf\rb /inf=c\nd\ve\ff /au", RunMode::SingleInf, true, "a.inf"},
    // The argument is a path: its "/u" and "/au" select nothing.
    {"/inf=C:/updates/audio.inf", RunMode::SingleInf, false, "C:/updates/audio.inf"},
    // A longer argument keeps what fits its buffer.
    {"/inf=" + k511 + "b/u/au /au", RunMode::SingleInf, true, k511},
    {"/inf=" + k511, RunMode::SingleInf, false, k511},
};

TEST(CommandLine, OptionsCountOutsideTheInfArgument) {
  for (const OptionCase& row : kOptions) {
    SCOPED_TRACE("tail \"" + row.tail.substr(0, 40) + "\"");
    // The byte after the argument's buffer must stay: in RunState no sanitizer would see it.
    char buffer[513];
    std::memset(buffer, '#', sizeof buffer);
    buffer[511] = '\0';
    const CommandOptions read = ReadCommandOptions(row.tail.c_str(), buffer, 512);
    EXPECT_EQ(read.mode, row.mode);
    EXPECT_EQ(read.recordMode, row.record);
    if (row.mode == RunMode::SingleInf) {
      EXPECT_EQ(std::string(buffer), row.infArgument);
    }
    EXPECT_EQ(buffer[512], '#');
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
  EXPECT_TRUE(TextCopy(unterminated, 1, ""));
}

// The capacity and the limit of TextCopyPrefix("abcdef", ...) and the five bytes it leaves.
struct PrefixCase {
  size_t capacity;
  size_t limit;
  std::string left;
};
const PrefixCase kPrefixes[] = {
    {0, 9, "#####"},   {1, 9, "\0####"s}, {3, 9, "ab\0##"s}, {4, 9, "abc\0#"s},
    {4, 4, "abc\0#"s}, {4, 2, "ab\0##"s}, {5, 3, "abc\0#"s}, {5, 9, "abcd\0"s},
};

TEST(BoundedText, APrefixIsCutToTheSmallerOfLimitAndCapacity) {
  for (const PrefixCase& row : kPrefixes) {
    char out[6] = "#####";
    TextCopyPrefix(out, row.capacity, "abcdef", row.limit);
    EXPECT_EQ(std::string(out, 5), row.left) << "capacity " << row.capacity << ", limit " << row.limit;
  }
}

TEST(BoundedText, SuffixesAreComparedWhole) {
  EXPECT_TRUE(TextEndsWith("a.inf", ".inf"));
  EXPECT_TRUE(TextEndsWith(".inf", ".inf"));
  EXPECT_FALSE(TextEndsWith("inf", ".inf"));
  EXPECT_FALSE(TextEndsWith("a.pnf", ".inf"));
}

// Names from the command line and paths from the registry must not climb out of their folder.
struct NameCase {
  const char* name;
  bool staysWithin;
};
const NameCase kNames[] = {
    {"net.inf", true},
    {"sub\\net.inf", true},
    {"..inf", true},
    {".\\net.inf", true},
    {"a..b\\net.inf", true},
    {"", true},
    {"a.b.\\x", true},
    {"..", false},
    {". .\\x", false},
    {"..\\net.inf", false},
    {"sub/../../net.inf", false},
    {"sub\\...\\net.inf", false},
    {"sub\\..", false},
};

TEST(Paths, NamesThatClimbLeaveTheirFolder) {
  for (const NameCase& row : kNames) EXPECT_EQ(StaysWithinFolder(row.name), row.staysWithin) << row.name;
}

// A path, a folder, and the part of the path below the folder (nullptr: not inside).
struct WithinCase {
  const char* path;
  const char* folder;
  const char* below;
};
constexpr const char* kInfFolder = "C:\\Windows\\INF";
const WithinCase kWithin[] = {
    {"C:\\Windows\\INF\\oem1.inf", kInfFolder, "oem1.inf"},
    {"c:\\WINDOWS\\inf/sub\\x.inf", kInfFolder, "sub\\x.inf"},
    {"Z\\a", "z", "a"},
    {"a\\b", "A", "b"},
    {"C:\\x", "C:\\", "x"},
    {"C:\\Windows\\INF.old\\x", kInfFolder, nullptr},
    {"C:\\Windows\\INF", kInfFolder, nullptr},
    {"C:\\Windows\\IMF\\x", kInfFolder, nullptr},
    {"C:\\Windows\\INF\\", kInfFolder, nullptr},
    {"C:\\Windows\\INF\\..\\x.inf", kInfFolder, nullptr},
    {"[\\x", "{", nullptr},  // only ASCII letters match without regard to case
    {"\xc4\\x", "\xe4", nullptr},
    {"x", "", nullptr},
};

TEST(Paths, APathLiesInsideAFolderOnlyBelowIt) {
  for (const WithinCase& row : kWithin) {
    SCOPED_TRACE(std::string(row.path) + " in " + row.folder);
    const char* below = PathWithinFolder(row.path, row.folder);
    EXPECT_STREQ(below, row.below);
    // The answer points into the path itself.
    if (below != nullptr) {
      EXPECT_EQ(below, row.path + std::strlen(row.path) - std::strlen(row.below));
    }
  }
}

// A text; whether its first four characters are a field, and its value read as four and two digits.
struct HexCase {
  const char* text;
  bool field;
  int32_t four;
  int32_t two;
};
const HexCase kHex[] = {
    {"09af", true, 0x09AF, 0x09},
    {"AFaf", true, 0xAFAF, 0xAF},
    {"1E7C9", true, 0x1E7C, 0x1E},
    {"0000", true, 0, 0},
    {"g000", false, 0, 0},
    {"G000", false, 0, 0},
    // The NUL ends a field: a short text is none, though its first two digits are one.
    {"1E7", false, 0, 0x1E},
};

TEST(SupportedDevices, HexFieldsAreFourDigitsOrNone) {
  for (const HexCase& row : kHex) {
    SCOPED_TRACE(row.text);
    uint32_t value = 7;
    EXPECT_EQ(ReadHexField(row.text, 4, &value), row.field);
    EXPECT_EQ(value, row.field ? static_cast<uint32_t>(row.four) : 7u);  // untouched when none
    EXPECT_EQ(ParseHexField(row.text, 4), row.four);
    EXPECT_EQ(ParseHexField(row.text, 2), row.two);
  }
}

// A vendor and device, how many entries of kPairs the lookup is given, and whether it matches.
struct LookupCase {
  uint32_t vendor;
  uint32_t device;
  uint32_t count;
  bool supported;
};
const DevicePair kPairs[] = {{1, 2}, {3, 4}};
const LookupCase kLookups[] = {
    {1, 2, 1, true},
    {3, 4, 2, true},
    {3, 4, 1, false},  // past the count
    {1, 4, 2, false},
    {3, 2, 2, false},
    {0x1E7C, 0x7D31, 0, true},  // built in
    {0x1E7D, 0x4C43, 0, false},
    {0x1E7C, 0x4C48, 2, false},
};

TEST(SupportedDevices, ThePlainLookupMatchesBothFieldsWithinItsCount) {
  for (const LookupCase& row : kLookups) {
    SCOPED_TRACE(testing::Message() << std::hex << row.vendor << ":" << row.device << " of " << row.count);
    EXPECT_EQ(IsSupportedDevice(row.vendor, row.device, row.count ? kPairs : nullptr, row.count),
              row.supported);
  }
  EXPECT_FALSE(IsSupportedDeviceInSortedList(1, 2, kPairs, 0));
  EXPECT_FALSE(IsSupportedDeviceInSortedList(3, 4, nullptr, 2));
}

}  // namespace
