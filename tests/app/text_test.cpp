// The bounded text helpers: a result that does not fit is refused, never cut.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/text.h"

namespace {

TEST(BoundedText, RefusesWhatDoesNotFitAndKeepsTheDestination) {
  char buffer[8] = "keep";
  EXPECT_TRUE(TextCopy(buffer, "1234567"));
  EXPECT_STREQ(buffer, "1234567");
  EXPECT_FALSE(TextCopy(buffer, "12345678"));
  EXPECT_STREQ(buffer, "1234567");

  TextCopy(buffer, "abc");
  EXPECT_TRUE(TextAppend(buffer, "defg"));
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_FALSE(TextAppend(buffer, "h"));
  EXPECT_STREQ(buffer, "abcdefg");

  EXPECT_TRUE(TextJoin(buffer, "C:", "\\", "pkg"));
  EXPECT_STREQ(buffer, "C:\\pkg");
  EXPECT_FALSE(TextJoin(buffer, "C:\\", "pkg", "\\x.inf"));
  EXPECT_STREQ(buffer, "C:\\pkg");
}

TEST(BoundedText, AppendToAnUnterminatedBufferFails) {
  char buffer[4];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_FALSE(TextAppend(buffer, ""));
}

TEST(BoundedText, PrefixCopyStopsAtLimitAndCapacity) {
  char buffer[5];
  TextCopyPrefix(buffer, sizeof buffer, "abcdefgh", 3);
  EXPECT_STREQ(buffer, "abc");
  TextCopyPrefix(buffer, sizeof buffer, "abcdefgh", 100);
  EXPECT_STREQ(buffer, "abcd");
  TextCopyPrefix(buffer, sizeof buffer, "ab", 100);
  EXPECT_STREQ(buffer, "ab");
}

TEST(BoundedText, EndsWithIsCaseSensitive) {
  EXPECT_TRUE(TextEndsWith("C:\\x\\oem1.inf", ".inf"));
  EXPECT_FALSE(TextEndsWith("C:\\x\\OEM1.INF", ".inf"));
  EXPECT_FALSE(TextEndsWith("inf", ".inf"));
}

}  // namespace
