// How the command-line tail selects the mode, RecordMode and the INF argument.
#include <gtest/gtest.h>

#include <string>

#include "app/options.h"
#include "records/records.h"

namespace {

struct Parsed {
  RunMode mode;
  bool record;
  std::string inf;
};

Parsed Parse(const std::string& tail) {
  char inf[kTextCapacity] = "untouched";
  const CommandOptions options = ReadCommandOptions(tail.c_str(), inf, sizeof inf);
  return {options.mode, options.recordMode, options.mode == RunMode::SingleInf ? inf : ""};
}

TEST(CommandOptions, ModesAreChosenByPlainCaseSensitiveSubstrings) {
  EXPECT_EQ(Parse("").mode, RunMode::Default);
  EXPECT_FALSE(Parse("").record);

  EXPECT_EQ(Parse("/au").mode, RunMode::Default);
  EXPECT_TRUE(Parse("/au").record);
  EXPECT_TRUE(Parse("/auto").record) << "any word that begins with /au records";
  EXPECT_TRUE(Parse("x/auy").record) << "options may stand inside other words";

  EXPECT_EQ(Parse("/u").mode, RunMode::Uninstall);
  EXPECT_EQ(Parse("/au /u").mode, RunMode::Uninstall);
  EXPECT_EQ(Parse("/u /inf=net.inf").mode, RunMode::Uninstall) << "/u is tested before /inf=";
  EXPECT_EQ(Parse("/inf=net.inf /u").mode, RunMode::Uninstall);
  EXPECT_EQ(Parse("/update").mode, RunMode::Uninstall);

  EXPECT_EQ(Parse("/AU").mode, RunMode::Default);
  EXPECT_FALSE(Parse("/AU").record);
  EXPECT_EQ(Parse("/U").mode, RunMode::Default);
  EXPECT_EQ(Parse("/INF=net.inf").mode, RunMode::Default);
}

TEST(CommandOptions, InfArgumentFollowsTheScanFormat) {
  EXPECT_EQ(Parse("/inf=net.inf").inf, "net.inf");
  EXPECT_EQ(Parse("/inf= \t\r\n\v\fnet.inf rest").inf, "net.inf") << "white space after = is skipped";
  EXPECT_EQ(Parse("/inf=net.inf\tmore").inf, "net.inf");
  EXPECT_EQ(Parse("/inf=\"my net.inf\"").inf, "\"my") << "quotes are kept and do not group";
  EXPECT_EQ(Parse("x/inf=a.inf /inf=b.inf").inf, "a.inf") << "the first occurrence counts";

  const Parsed empty = Parse("/au /inf=   ");
  EXPECT_EQ(empty.mode, RunMode::SingleInf);
  EXPECT_TRUE(empty.record);
  EXPECT_EQ(empty.inf, "");
  EXPECT_EQ(Parse("/inf=").inf, "");
}

TEST(CommandOptions, LongInfArgumentKeepsItsFirst511Characters) {
  const std::string name = std::string(600, 'a') + ".inf";
  const Parsed parsed = Parse("/inf=" + name + " /au");
  EXPECT_EQ(parsed.inf, name.substr(0, kTextCapacity - 1));
  EXPECT_TRUE(parsed.record) << "options after a long argument are still seen";

  const std::string exact(kTextCapacity - 1, 'b');
  EXPECT_EQ(Parse("/inf=" + exact).inf, exact);
}

TEST(CommandOptions, InfArgumentIsNotSearchedForOtherOptions) {
  const Parsed updates = Parse("/inf=C:/updates/net.inf");
  EXPECT_EQ(updates.mode, RunMode::SingleInf);
  EXPECT_EQ(updates.inf, "C:/updates/net.inf");

  const Parsed audio = Parse("/inf=D:/audio/x.inf");
  EXPECT_EQ(audio.mode, RunMode::SingleInf);
  EXPECT_FALSE(audio.record);

  // Beyond the kept 511 characters the argument is still one argument.
  EXPECT_EQ(Parse("/inf=" + std::string(600, 'a') + "/u/au").mode, RunMode::SingleInf);

  // Outside the argument the plain tests stand.
  EXPECT_TRUE(Parse("/auto /inf=D:/audio/x.inf").record);
  EXPECT_EQ(Parse("/inf=C:/net.inf /u").mode, RunMode::Uninstall);
  EXPECT_TRUE(Parse("/inf=  C:/net.inf /au").record);
}

}  // namespace
