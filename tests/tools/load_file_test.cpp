#include "tools/load_file.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace corvel::tools {
namespace {

TEST(ParseLoadFile, ReadsHexPairs) {
  const std::pair<std::string, std::vector<uint8_t>> cases[] = {
      {"01 02 A0 FF", {0x01, 0x02, 0xA0, 0xFF}},
      {"01 02\r\nA0\tFF\r\n", {0x01, 0x02, 0xA0, 0xFF}},
      {"0102A0FF", {0x01, 0x02, 0xA0, 0xFF}},
      {"ABC", {0xAB}},
      {"G1", {0x00}},
      {"1G", {0x01}},
      {"", {}},
      {" \r\n\t ", {}},
  };
  for (const auto& [in, out] : cases) {
    auto data = ParseLoadFile(in);
    ASSERT_TRUE(data.ok()) << "\"" << in << "\"";
    EXPECT_EQ(data->bytes, out) << "\"" << in << "\"";
  }
}

TEST(ParseLoadFile, RefusesMoreThan4096CharactersInsteadOfCutting) {
  const std::string full(kMaxLoadFileCharacters, '5');
  auto fits = ParseLoadFile(full + "\n");
  ASSERT_TRUE(fits.ok());
  EXPECT_EQ(fits->bytes, std::vector<uint8_t>(kMaxLoadFileCharacters / 2, 0x55));

  auto over = ParseLoadFile(full + "5");
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.error().kind, ErrorKind::kBadInput);
  EXPECT_EQ(over.error().text, "加载文件超过4096个有效字符，未加载");
}

TEST(ReadLoadFile, ReadsTheFileOrNamesIt) {
  const testing::TempDir dir;
  auto data = ReadLoadFile(dir.Write("x.cfg", "01 02\nA0 FF\n"));
  ASSERT_TRUE(data.ok()) << data.error().text;
  EXPECT_EQ(data->bytes, (std::vector<uint8_t>{0x01, 0x02, 0xA0, 0xFF}));

  const std::string path = dir.Path("missing.cfg");
  auto missing = ReadLoadFile(path);
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().text.find(path), std::string::npos);
}

}  // namespace
}  // namespace corvel::tools
