// Large HEX files as the usual tool chain writes them, read back byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "program/hex_reader.h"
#include "tests/support/temp_dir.h"

namespace corvel::program {
namespace {

class HexFromObjcopy : public ::testing::Test {
 protected:
  // Writes `size` bytes of a fixed pattern and converts them with objcopy,
  // placed at `address`. Returns the HEX file's path.
  std::string MakeHex(size_t size, uint32_t address, std::vector<uint8_t>& bytes) {
    bytes.resize(size);
    uint32_t state = 0x12345678u + static_cast<uint32_t>(size);
    for (auto& b : bytes) {
      state = state * 1103515245u + 12345u;
      b = static_cast<uint8_t>(state >> 24);
    }
    const std::string bin = folder_.Write("image.bin", std::string(bytes.begin(), bytes.end()));
    const std::string hex = folder_.Path("image.hex");
    const std::string command = std::string(CORVEL_OBJCOPY) + " -I binary -O ihex --change-addresses " +
                                std::to_string(address) + " '" + bin + "' '" + hex + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return hex;
  }

  static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  testing::TempDir folder_;
};

TEST_F(HexFromObjcopy, BelowOneMiBWithSegmentRecords) {
  std::vector<uint8_t> bytes;
  const std::string path = MakeHex(900 * 1024, 0, bytes);
  ASSERT_NE(ReadText(path).find(":02000002"), std::string::npos) << "expected segment address records";
  auto image = ReadHexImageFile(path);
  ASSERT_TRUE(image.ok()) << image.error().text;
  EXPECT_TRUE(image->data == bytes);
}

TEST_F(HexFromObjcopy, AboveSixtyFourKiBWithLinearRecords) {
  std::vector<uint8_t> bytes;
  const std::string path = MakeHex(300 * 1024, 0x08000000, bytes);
  ASSERT_NE(ReadText(path).find(":02000004"), std::string::npos) << "expected linear address records";
  auto image = ReadHexImageFile(path);
  ASSERT_TRUE(image.ok()) << image.error().text;
  EXPECT_TRUE(image->data == bytes);
}

TEST_F(HexFromObjcopy, OneMiBIsTheLimit) {
  std::vector<uint8_t> bytes;
  auto image = ReadHexImageFile(MakeHex(kMaxImageSpan, 0x08000000, bytes));
  ASSERT_TRUE(image.ok()) << image.error().text;
  EXPECT_TRUE(image->data == bytes);

  auto tooLarge = ReadHexImageFile(MakeHex(kMaxImageSpan + 1, 0x08000000, bytes));
  ASSERT_FALSE(tooLarge.ok());
  EXPECT_NE(tooLarge.error().text.find("数据地址跨度超过1MB"), std::string::npos) << tooLarge.error().text;
}

TEST_F(HexFromObjcopy, OneBadChecksumRefusesTheFile) {
  std::vector<uint8_t> bytes;
  const std::string path = MakeHex(4096, 0, bytes);
  std::string text = ReadText(path);
  // Flip one data digit of the tenth record; its checksum no longer matches.
  size_t pos = 0;
  for (int record = 0; record < 10; ++record) pos = text.find(':', pos + 1);
  text[pos + 9] = text[pos + 9] == '0' ? '1' : '0';
  auto image = ReadHexImage(text);
  ASSERT_FALSE(image.ok());
  EXPECT_EQ(image.error().text, "第11行: 校验和错误");
}

TEST(ReadHexImageFile, NamesAMissingFile) {
  auto image = ReadHexImageFile("/nonexistent/corvel/app.hex");
  ASSERT_FALSE(image.ok());
  EXPECT_NE(image.error().text.find("/nonexistent/corvel/app.hex"), std::string::npos);
}

}  // namespace
}  // namespace corvel::program
