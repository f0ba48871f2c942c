#include "text/hex_pairs.h"

#include <gtest/gtest.h>

namespace corvel::text {
namespace {

TEST(CollectKeptCharacters, DropsOnlyBlankCrLfTab) {
  EXPECT_EQ(CollectKeptCharacters("0 1\r\n\t2\v3\f", 100), std::optional<std::string>("012\v3\f"));
  EXPECT_EQ(CollectKeptCharacters("", 100), std::optional<std::string>(""));
}

TEST(CollectKeptCharacters, RefusesMoreThanTheLimitButCountsOnlyKeptOnes) {
  EXPECT_EQ(CollectKeptCharacters("abcd", 4), std::optional<std::string>("abcd"));
  EXPECT_EQ(CollectKeptCharacters("a b c d \r\n\r\n", 4), std::optional<std::string>("abcd"));
  EXPECT_EQ(CollectKeptCharacters("abcde", 4), std::nullopt);
}

TEST(DecodeHexPairs, ReadsEachPairAsAHexNumber) {
  const std::pair<std::string, std::vector<uint8_t>> cases[] = {
      {"", {}},
      {"0102A0FF", {0x01, 0x02, 0xA0, 0xFF}},
      {"a0ff", {0xA0, 0xFF}},
      {"ABC", {0xAB}},  // odd last character dropped
      {"G1", {0x00}},
      {"1G", {0x01}},
      {"-1", {0xFF}},  // the sign negates: 0xFFFFFFFF, low 8 bits
      {"+1", {0x01}},
      {"0x", {0x00}},
      {"\v1", {0x01}},  // white space other than layout is skipped by the conversion
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(DecodeHexPairs(in), out) << "\"" << in << "\"";
}

TEST(ParseHexPairFile, TheLimitCountsKeptCharactersAndRefusesWithTheCallersWords) {
  const HexPairFileLimit limit = {4, "too long"};
  const std::pair<std::string, std::vector<uint8_t>> fits[] = {
      {"", {}},
      {"A0ff", {0xA0, 0xFF}},
      {" A 0\r\nf f\t", {0xA0, 0xFF}},
  };
  for (const auto& [in, out] : fits) {
    auto bytes = ParseHexPairFile(in, limit);
    ASSERT_TRUE(bytes.ok()) << "\"" << in << "\"";
    EXPECT_EQ(*bytes, out) << "\"" << in << "\"";
  }
  auto over = ParseHexPairFile("A0ff0", limit);
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.error().kind, ErrorKind::kBadInput);
  EXPECT_EQ(over.error().text, "too long");
}

}  // namespace
}  // namespace corvel::text
