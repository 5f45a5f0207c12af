// Reading the fixed-width hexadecimal fields of instance identifiers and list names.
#include "devices/hex_field.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ParseHexField, ReadsDigitsOfEitherCase) {
  EXPECT_EQ(ParseHexField("1e7C", 4), 0x1E7C);
  EXPECT_EQ(ParseHexField("ABCDEF", 4), 0xABCD) << "only the first count characters";
  EXPECT_EQ(ParseHexField("0000", 4), 0);
  EXPECT_EQ(ParseHexField("ffff", 4), 0xFFFF);
  EXPECT_EQ(ParseHexField("09af", 2), 0x09);
}

TEST(ParseHexField, AnyNonDigitMakesTheWholeFieldZero) {
  EXPECT_EQ(ParseHexField("1E7G", 4), 0) << "digits before the bad one are dropped";
  EXPECT_EQ(ParseHexField("G1E7", 4), 0);
  EXPECT_EQ(ParseHexField("1E 7", 4), 0);
  EXPECT_EQ(ParseHexField("-1E7", 4), 0);
  EXPECT_EQ(ParseHexField("0x1E", 4), 0);
}

TEST(ParseHexField, StopsAtTheEndOfTheText) {
  EXPECT_EQ(ParseHexField("1E", 4), 0) << "a two-character text";
  EXPECT_EQ(ParseHexField("", 4), 0);

  // Digits after the terminator are never reached.
  char buffer[8];
  std::memcpy(buffer,
              "1E7\0"
              "4C43",
              8);
  EXPECT_EQ(ParseHexField(buffer, 4), 0);
}

TEST(ReadHexField, TellsAZeroFieldFromANonField) {
  uint32_t value = 77;
  EXPECT_TRUE(ReadHexField("0000", 4, &value));
  EXPECT_EQ(value, 0u);
  EXPECT_TRUE(ReadHexField("8086x", 4, &value));
  EXPECT_EQ(value, 0x8086u);

  value = 77;
  EXPECT_FALSE(ReadHexField("GGGG", 4, &value));
  EXPECT_FALSE(ReadHexField("12", 4, &value));
  EXPECT_FALSE(ReadHexField("", 4, &value));
  EXPECT_EQ(value, 77u) << "a non-field leaves the value alone";
}

}  // namespace
