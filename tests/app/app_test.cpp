// The pure functions: the command line and paths. Each table row is one case; every
// failure names its row.
#include "app/command_tail.h"
#include "app/options.h"
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

// A path, a folder, and the part of the path below the folder (nullptr: not inside, or climbing out).
struct WithinCase {
  const char *path, *folder, *below;
};
constexpr const char* kInfFolder = "C:\\Windows\\INF";
const WithinCase kWithin[] = {{"C:\\x", "C:\\", "x"},
                              {"C:\\Windows\\INF.old\\x", kInfFolder, nullptr},
                              {"x", "", nullptr},
                              {"C:\\Windows\\INF\\", kInfFolder, nullptr},
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

}  // namespace
