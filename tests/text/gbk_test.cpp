#include "text/gbk.h"

#include <gtest/gtest.h>

namespace corvel::text {
namespace {

TEST(Utf8ToGbk, EncodesChineseAndAscii) {
  auto gbk = Utf8ToGbk("/*注意事项：*/");
  ASSERT_TRUE(gbk.ok()) << gbk.error().text;
  EXPECT_EQ(*gbk, "/*\xD7\xA2\xD2\xE2\xCA\xC2\xCF\xEE\xA3\xBA*/");
  EXPECT_EQ(Utf8ToGbk("\xE2\x82\xAC").value(), "\x80");  // the euro sign of code page 936
  EXPECT_EQ(Utf8ToGbk("").value(), "");
}

TEST(Utf8ToGbk, RefusesWhatGbkCannotCarry) {
  EXPECT_FALSE(Utf8ToGbk("a\xF0\x9F\x98\x80").ok());  // an emoji
  EXPECT_FALSE(Utf8ToGbk("a\xFF").ok());              // not UTF-8
  EXPECT_EQ(Utf8ToGbk("a\xFF").error().kind, ErrorKind::kBadInput);
  // Tag characters, which the C library's converter drops without a word.
  EXPECT_FALSE(Utf8ToGbk("a\xF3\xA0\x80\x81" "b").ok());
  EXPECT_FALSE(Utf8ToGbk("\xF3\xA0\x81\xBF").ok());
}

TEST(Utf8ToGbkReplacing, PutsAQuestionMarkForEachCharacterGbkLacks) {
  EXPECT_EQ(Utf8ToGbkReplacing("a\xF0\x9F\x98\x80\xE5\x9B\xBA"), "a?\xB9\xCC");
  EXPECT_EQ(Utf8ToGbkReplacing("a\xFF\xFE" "b"), "a??b");
  EXPECT_EQ(Utf8ToGbkReplacing("ab\xE5\x9B"), "ab??");  // cut short at the end
  EXPECT_EQ(Utf8ToGbkReplacing("a\xF3\xA0\x80\x81\xE5\x9B\xBA\xF3\xA0\x81\xBF"), "a?\xB9\xCC?");
  EXPECT_EQ(Utf8ToGbkReplacing("\xF3\xA0\x80\xFF"), "????");  // no tag character: a ? per invalid byte
}

TEST(GbkToUtf8, ShowsBytesThatDoNotDecodeAsReplacementCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xB9\xCC\xBC\xFE", "\xE5\x9B\xBA\xE4\xBB\xB6"},  // 固件
      {"abc", "abc"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"\xFF", "\xEF\xBF\xBD"},
      {"\x81\x30" "A", "\xEF\xBF\xBD" "0A"},  // a lead byte with a trail byte GBK lacks
      {"A\xD7", "A\xEF\xBF\xBD"},            // a lead byte at the very end
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(GbkToUtf8(in), out);
}

}  // namespace
}  // namespace corvel::text
