#include "text/console_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using corvel::text::ConsoleTextDecoder;

struct Row {
  const char* name;
  std::vector<std::string> chunks;  // as the chip's bytes arrived
  std::string shown;                // UTF-8
};

class ConsoleTextTest : public ::testing::TestWithParam<Row> {};

TEST_P(ConsoleTextTest, ShowsTheTextAsUtf8) {
  ConsoleTextDecoder decoder;
  std::string out;
  for (const std::string& chunk : GetParam().chunks) decoder.Decode(chunk, out);
  EXPECT_EQ(out, GetParam().shown);
  EXPECT_EQ(decoder.held(), 0u);
}

// 芯片 is E8 8A AF E7 89 87 in UTF-8 and D0 BE C6 AC in GBK.
INSTANTIATE_TEST_SUITE_P(
    Rows, ConsoleTextTest,
    ::testing::Values(
        Row{"Ascii", {"boot v1.2\r\n", "> "}, "boot v1.2\r\n> "},
        Row{"Utf8", {"ver \xE8\x8A\xAF\xE7\x89\x87 1.2\r\n"}, "ver 芯片 1.2\r\n"},
        Row{"Utf8SplitAcrossChunks", {"\xE8\x8A", "\xAF\xE7", "\x89\x87!"}, "芯片!"},
        Row{"Gbk", {"ver \xD0\xBE\xC6\xAC 1.2\r\n"}, "ver 芯片 1.2\r\n"},
        Row{"GbkSplitAcrossChunks", {"\xD0\xBE\xC6", "\xAC\r\n"}, "芯片\r\n"},
        // A GBK trail byte may be ASCII: 0x81 0x40 is 丂, not a broken byte then "@".
        Row{"GbkWithAsciiTrail", {"\x81", "\x40x"}, "丂x"},
        Row{"GbkAfterUtf8InOneLine", {"\xE8\x8A\xAF:\xC4\xA3\xBF\xE9"}, "芯:模块"},
        // 模块: C4 A3 alone is well-formed UTF-8, BF E9 is not: the run is GBK.
        Row{"RunBrokenLaterIsGbk", {"\xC4\xA3\xBF\xE9"}, "模块"},
        // Two-byte runs follow the text so far: after UTF-8 Chinese, ° is UTF-8.
        Row{"AmbiguousRunAfterUtf8", {"\xE8\x8A\xAF 25\xC2\xB0" "C"}, "芯 25°C"},
        Row{"AmbiguousRunAfterGbk", {"\xC4\xA3\xBF\xE9 \xD0\xBE"}, "模块 芯"},
        Row{"GbkRunsAroundAsciiAndStrays", {"\xD6\xD0" "a\xCE\xC4\xFF\x81\r\n"}, "中a文\xEF\xBF\xBD\xEF\xBF\xBD\r\n"},
        Row{"BytesThatAreNeither", {"a\xFF\x80z"}, "a\xEF\xBF\xBD\xE2\x82\xACz"}),
    [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
