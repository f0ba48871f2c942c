#include "text/number_text.h"

#include <gtest/gtest.h>

#include <string>

namespace corvel::text {
namespace {

struct ParseCase {
  std::string text;
  int base;
  uint32_t expected;
};

TEST(ParseUnsigned, BehavesAsA32BitStrtoul) {
  const ParseCase cases[] = {
      {"", 16, 0},
      {"   ", 16, 0},
      {"1000", 16, 0x1000},
      {"0x1000", 16, 0x1000},
      {"0X1000", 16, 0x1000},
      {"0x0X1000", 16, 0},  // what "0X1000" becomes after normalisation
      {"abcdef", 16, 0xABCDEF},
      {" \t\n\v\f\r1A", 16, 0x1A},
      {"+ff", 16, 0xFF},
      {"-1", 16, 0xFFFFFFFF},
      {"-0x10", 16, 0xFFFFFFF0},
      {"-FFFFFFFF", 16, 1},
      {"FFFFFFFF", 16, 0xFFFFFFFF},
      {"100000000", 16, 0xFFFFFFFF},
      {"123456789ABC", 16, 0xFFFFFFFF},
      {"-100000000", 16, 0xFFFFFFFF},  // overflow wins over the sign
      {"0000000000001", 16, 1},        // leading zeros are not an overflow
      {"12G4", 16, 0x12},
      {"G1", 16, 0},
      {"1G", 16, 1},
      {"0x", 16, 0},
      {"0xG", 16, 0},
      {"+-1", 16, 0},
      {"- 1", 16, 0},
      {"1 2", 16, 1},
      {"256", 10, 256},
      {"65792", 10, 65792},
      {"0x100", 10, 0},  // a length is decimal only
      {"4294967295", 10, 0xFFFFFFFF},
      {"4294967296", 10, 0xFFFFFFFF},
      {"99999999999999999999999", 10, 0xFFFFFFFF},
      {"-4294967295", 10, 1},
      {"-4294967296", 10, 0xFFFFFFFF},
      {"-0", 10, 0},
      {"12a", 10, 12},
      {"10", 0, 0},
      {"10", 37, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseUnsigned(c.text, c.base), c.expected) << "\"" << c.text << "\" base " << c.base;
  }
}

TEST(NormaliseHexText, PrefixesUnlessTheSecondCharacterIsLowerCaseX) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "0x"},           {"1", "0x1"},           {"x", "0xx"},   {"1000", "0x1000"},
      {"0x1000", "0x1000"}, {"0X1000", "0x0X1000"}, {"1x", "1x"},   {" 0x1", "0x 0x1"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(NormaliseHexText(in), out) << "\"" << in << "\"";
}

TEST(NormaliseHexText, FeedsTheConversionAsTheBoxesAreRead) {
  EXPECT_EQ(ParseUnsigned(NormaliseHexText("1000"), 16), 0x1000u);
  EXPECT_EQ(ParseUnsigned(NormaliseHexText("0x1000"), 16), 0x1000u);
  EXPECT_EQ(ParseUnsigned(NormaliseHexText("0X1000"), 16), 0u);
  EXPECT_EQ(ParseUnsigned(NormaliseHexText(""), 16), 0u);
  EXPECT_EQ(ParseUnsigned(NormaliseHexText("FFFFFFFF"), 16), 0xFFFFFFFFu);
  EXPECT_EQ(ParseUnsigned(NormaliseHexText("123456789"), 16), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace corvel::text
