#include "program/user_data_reader.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace corvel::program {
namespace {

TEST(ReadUserDataImage, ReadsPairsOfKeptCharacters) {
  const std::pair<std::string, std::vector<uint8_t>> cases[] = {
      {"01 02\r\n0A", {0x01, 0x02, 0x0A}},
      {"010", {0x01}},
      {"", {}},
      {" \t\r\n", {}},
      {"ff\tA0", {0xFF, 0xA0}},
      {"1G G1", {0x01, 0x00}},
      {"0 1 0 2", {0x01, 0x02}},  // pairs are formed after the blanks are dropped
  };
  for (const auto& [in, out] : cases) {
    auto image = ReadUserDataImage(in);
    ASSERT_TRUE(image.ok()) << "\"" << in << "\"";
    EXPECT_EQ(image->data, out) << "\"" << in << "\"";
  }
}

TEST(ReadUserDataImage, RefusesMoreThan8192KeptCharactersInsteadOfCutting) {
  std::string text(kMaxUserDataCharacters, 'A');
  auto atLimit = ReadUserDataImage(text + "\r\n  \t");
  ASSERT_TRUE(atLimit.ok());
  EXPECT_EQ(atLimit->length(), kMaxUserDataCharacters / 2);

  auto over = ReadUserDataImage(text + "0");
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.error().kind, ErrorKind::kBadInput);
  EXPECT_EQ(over.error().text, "用户数据超过8192个字符");
}

TEST(ReadUserDataImageFile, ReadsTheFileOrNamesIt) {
  const testing::TempDir dir;
  auto image = ReadUserDataImageFile(dir.Write("x.cfg", "01 02\r\n0A\r\n"));
  ASSERT_TRUE(image.ok()) << image.error().text;
  EXPECT_EQ(image->data, (std::vector<uint8_t>{0x01, 0x02, 0x0A}));

  const std::string path = dir.Path("missing.cfg");
  auto missing = ReadUserDataImageFile(path);
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().text.find(path), std::string::npos);
}

}  // namespace
}  // namespace corvel::program
