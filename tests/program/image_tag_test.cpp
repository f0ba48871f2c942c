#include "program/image_tag.h"

#include <gtest/gtest.h>

namespace corvel::program {
namespace {

TEST(FileTitle, DropsTheFolderAndTheLastExtension) {
  const std::pair<std::string, std::string> cases[] = {
      {"D:\\fw\\app_v2.hex", "app_v2"},
      {"/home/user/stack.rel.hex", "stack.rel"},
      {"app.hex", "app"},
      {"noext", "noext"},
      {"fw.d/image", "image"},  // a dot in a folder name is not an extension
      {"a/b\\c.d", "c"},
      {".hex", ""},
      {"", ""},
  };
  for (const auto& [path, title] : cases) EXPECT_EQ(FileTitle(path), title) << path;
}

TEST(ImageTag, TakesTheLastFourGbkBytesOfTheTitle) {
  using Tag = std::array<uint8_t, 4>;
  const std::pair<std::string, Tag> cases[] = {
      {"fw_A123", {0x41, 0x31, 0x32, 0x33}},
      {"A123", {0x41, 0x31, 0x32, 0x33}},
      {"ab", {0x61, 0x62, 0x00, 0x00}},  // short titles are padded at the end
      {"", {0x00, 0x00, 0x00, 0x00}},
      {"\xE5\x9B\xBA\xE4\xBB\xB6", {0xB9, 0xCC, 0xBC, 0xFE}},           // 固件
      {"app_\xE5\x9B\xBA\xE4\xBB\xB6", {0xB9, 0xCC, 0xBC, 0xFE}},       // app_固件
      {"xA\xE5\x9B\xBA", {0x78, 0x41, 0xB9, 0xCC}},                     // xA固
      {"app\xE5\x9B\xBA" "1", {0x70, 0xB9, 0xCC, 0x31}},                // app固1
      {"a\xF0\x9F\x98\x80", {0x61, 0x3F, 0x00, 0x00}},                  // a character GBK lacks
  };
  for (const auto& [title, tag] : cases) EXPECT_EQ(ImageTag(title), tag) << title;
}

}  // namespace
}  // namespace corvel::program
