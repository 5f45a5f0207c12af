// The pure functions: the command line, bounded text, paths, hexadecimal fields and the
// plain lookup. Each table row is one case; every failure names its row.
#include "app/command_tail.h"
#include "app/options.h"
#include "devices/hex_field.h"
#include "devices/supported_devices.h"
#include "platform/sim/machine_setup.h"
#include "platform/text.h"
#include "tests/support/machine.h"

namespace {

// A quoted program name ends at its closing quote, blanks and all; a quote never closed takes the
// whole line. In code page 932 the byte after a lead byte belongs to its character, but never a NUL.
TEST(CommandLine, TheTailFollowsTheProgramsName) {
  EXPECT_STREQ(CommandTailOf("\"C:\\Program Files\\q.exe\" /au"), "/au");
  EXPECT_STREQ(CommandTailOf(nullptr), "");
  sim::TheSetup().japaneseCodePage = true;
  EXPECT_STREQ(CommandTailOf("\"C:\\\x81\"x\" /au"), "/au");
  EXPECT_STREQ(CommandTailOf("\"\xA0\xE0\"\xFD\" /au"), "/au");
  EXPECT_STREQ(CommandTailOf("\"C:\\q\x81\0\" /au"), "");
}

// A tail, the mode and RecordMode it selects, and the INF argument read in the single-INF mode.
struct OptionCase {
  std::string tail;
  RunMode mode;
  bool record;
  std::string infArgument;
};
const OptionCase kOptions[] = {
    // Every blank of the C locale ends the argument, and none belongs to it.
    {"/inf= \t\r\n\v\fa.inf\tb", RunMode::SingleInf, false, "a.inf"},
    {"/au /inf=  ", RunMode::SingleInf, true, ""},
    {"/inf=a.inf /u", RunMode::Uninstall, false, ""},
    // Without the argument an option counts anywhere in the tail.
    {"/au /update", RunMode::Uninstall, true, ""},
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
    EXPECT_EQ(row.mode == RunMode::SingleInf ? buffer : "", row.infArgument);
    EXPECT_EQ(buffer[512], '#');
  }
}

TEST(BoundedText, RefusesWhatDoesNotFit) {
  char buffer[8] = "keep";
  EXPECT_FALSE(TextCopy(buffer, "12345678"));
  EXPECT_FALSE(TextCopy(buffer, 0, ""));
  ASSERT_TRUE(TextAppend(buffer, "123"));
  EXPECT_FALSE(TextAppend(buffer, "4"));
  // A buffer without a NUL holds no text to append to; one byte holds the empty text.
  char unterminated[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(TextAppend(unterminated, ""));
  EXPECT_TRUE(TextCopy(unterminated, 1, ""));
  // A prefix cut to a capacity of one byte is the empty text; none is written to no capacity.
  char prefix[3] = "##";
  TextCopyPrefix(prefix, 0, "abcdef", 9);
  EXPECT_EQ(std::string(prefix, 2), "##");
  TextCopyPrefix(prefix, 1, "abcdef", 9);
  EXPECT_EQ(std::string(prefix, 2), "\0#"s);
  // A text as long as the suffix ends in it, a shorter one does not.
  EXPECT_TRUE(TextEndsWith(".inf", ".inf"));
  EXPECT_FALSE(TextEndsWith("inf", ".inf"));
}

// A path, a folder, and the part of the path below the folder (nullptr: not inside, or climbing out).
struct WithinCase {
  const char *path, *folder, *below;
};
constexpr const char* kInfFolder = "C:\\Windows\\INF";
const WithinCase kWithin[] = {{"Z\\a", "z", "a"},
                              {"a\\b", "A", "b"},
                              {"C:\\x", "C:\\", "x"},
                              {"C:\\Windows\\IMF\\x", kInfFolder, nullptr},
                              {"C:\\Windows\\INF.old\\x", kInfFolder, nullptr},
                              {"x", "", nullptr},
                              {"C:\\Windows\\INF\\", kInfFolder, nullptr},
                              {"C:\\Windows\\INF\\.\\net.inf", kInfFolder, ".\\net.inf"},
                              {"C:\\Windows\\INF\\. .\\x", kInfFolder, nullptr},
                              {"C:\\Windows\\INF\\sub/../../net.inf", kInfFolder, nullptr},
                              {"[\\x", "{", nullptr}};  // only ASCII letters match without regard to case

TEST(Paths, APathLiesInsideAFolderOnlyBelowIt) {
  for (const WithinCase& row : kWithin) {
    SCOPED_TRACE(std::string(row.path) + " in " + row.folder);
    const char* below = PathWithinFolder(row.path, row.folder);
    EXPECT_STREQ(below, row.below);
  }
}

// A vendor and device, how many entries of kPairs (ordered) the lookup is given, and whether it matches.
struct LookupCase {
  uint32_t vendor, device, count;
  bool supported;
};
const DevicePair kPairs[] = {{1, 2}, {3, 4}};
const LookupCase kLookups[] = {
    {1, 2, 1, true},
    {3, 4, 2, true},
    {3, 4, 1, false},  // past the count
    {1, 4, 2, false},
    {0x1E7C, 0x7D31, 0, true},  // built in
    {0x1E7D, 0x4C43, 0, false},
};

TEST(SupportedDevices, FieldsAreHexDigitsAndTheLookupMatchesBothWithinItsCount) {
  // Digits in either case make a field, read as four digits or as the first two.
  uint32_t value = 0;
  EXPECT_TRUE(ReadHexField("9aFf", 4, &value));
  EXPECT_EQ(value, 0x9AFFu);
  EXPECT_EQ(ParseHexField("9aFf", 2), 0x9A);
  EXPECT_FALSE(ReadHexField("9aFg", 4, &value));
  for (const LookupCase& row : kLookups) {
    SCOPED_TRACE(testing::Message() << std::hex << row.vendor << ":" << row.device << " of " << row.count);
    EXPECT_EQ(IsSupportedDevice(row.vendor, row.device, row.count ? kPairs : nullptr, row.count),
              row.supported);
  }
  // A list without a count, a count without a list.
  EXPECT_FALSE(IsSupportedDevice(1, 2, kPairs, 0));
  EXPECT_FALSE(IsSupportedDevice(1, 2, nullptr, 2));
}

}  // namespace
