#include "program/hex_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/hex_writer.h"

namespace corvel::program {
namespace {

using testing::HexRecord;

std::string Data(uint16_t address, const std::vector<uint8_t>& data) { return HexRecord(0x00, address, data); }
std::string Linear(uint16_t upper) {
  return HexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
std::string Segment(uint16_t segment) {
  return HexRecord(0x02, 0, {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)});
}
const std::string& kEof = testing::kHexEndRecord;
const std::string kNotes = "notes on top\n\n  ";
const std::string kEmptyLine = "\n";

std::vector<uint8_t> Bytes(size_t count, uint8_t first) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct ImageCase {
  const char* name;
  std::string text;
  std::vector<uint8_t> expected;
};

TEST(ReadHexImage, PlacesRecordsByAddress) {
  const ImageCase cases[] = {
      {"end-of-file record only", kEof, {}},
      {"empty data record adds nothing", Data(0, {}) + Data(0, {0xAA}) + kEof, {0xAA}},
      {"ascending gap-free records concatenate", Data(0x100, {1, 2}) + Data(0x102, {3}) + kEof, {1, 2, 3}},
      {"image starts at the lowest address", Data(0x8000, {9}) + kEof, {9}},
      {"out-of-order records are sorted", Data(0x2, {3, 4}) + Data(0x0, {1, 2}) + kEof, {1, 2, 3, 4}},
      {"a gap is filled with 0xFF", Data(0x0000, Bytes(16, 0)) + Data(0x1000, Bytes(16, 0x40)) + kEof,
       Concat(Concat(Bytes(16, 0), std::vector<uint8_t>(0x1000 - 16, 0xFF)), Bytes(16, 0x40))},
      {"lower-case digits", ":03000000a1b2c3e7\n" + kEof, {0xA1, 0xB2, 0xC3}},
      {"linear address records extend past 64 KiB",
       Data(0xFFFE, {1, 2}) + Linear(1) + Data(0x0000, {3, 4}) + kEof, {1, 2, 3, 4}},
      {"segment address records", Segment(0x1000) + Data(0x0010, {5}) + Segment(0x1001) + Data(0x0001, {6}) + kEof,
       {5, 6}},
      {"start address records are ignored",
       HexRecord(0x03, 0, {0, 0, 0, 0}) + HexRecord(0x05, 0, {1, 2, 3, 4}) + Data(0, {7}) + kEof, {7}},
      {"lines without a colon and text before it are skipped",
       kNotes + Data(0, {1}) + "  \t" + Data(1, {2}) + kEof, {1, 2}},
      {"CR LF and CR line ends", ":0100000001FE\r\n:0100010002FC\r:00000001FF", {1, 2}},
      {"nothing after the end-of-file record is read", Data(0, {1}) + kEof + ":zz\n" + Data(0, {2}), {1}},
      {"the tests' own writer across a 64 KiB boundary", testing::HexText(Bytes(40, 1), 0x0800FFF0), Bytes(40, 1)},
  };
  for (const auto& c : cases) {
    auto image = ReadHexImage(c.text);
    ASSERT_TRUE(image.ok()) << c.name << ": " << image.error().text;
    EXPECT_EQ(image->data, c.expected) << c.name;
    EXPECT_EQ(image->length(), c.expected.size()) << c.name;
  }
}

struct RefusalCase {
  const char* name;
  std::string text;
  std::string message;
};

TEST(ReadHexImage, RefusesTheWholeFileNamingTheLine) {
  const RefusalCase cases[] = {
      {"bad checksum", Data(0, {1}) + ":0100010002FD\n" + kEof, "第2行: 校验和错误"},
      {"bad character", kEmptyLine + Data(0, {1}) + ":01000100G2FC\n" + kEof, "第3行: 非法字符"},
      {"blank inside a record", ":01 000000 01FE\n" + kEof, "第1行: 非法字符"},
      {"record cut short", Data(0, {1}) + ":0400000001020304\n" + kEof, "第2行: 记录不完整"},
      {"header cut short", ":0100\n" + kEof, "第1行: 记录不完整"},
      {"colon alone", ":\n" + kEof, "第1行: 记录不完整"},
      {"more digits than the byte count", ":0100000001FE00\n" + kEof, "第1行: 记录长度与字节数不符"},
      {"unknown record type", HexRecord(0x06, 0, {}) + kEof, "第1行: 未知的记录类型"},
      {"address record of the wrong size", HexRecord(0x04, 0, {1}) + kEof, "第1行: 地址记录长度错误"},
      {"overlapping records", Data(0, {1, 2, 3}) + Data(0x10, {4}) + Data(2, {5}) + kEof,
       "第3行: 与第1行的数据重叠"},
      {"the same address twice", Data(0x20, {1}) + Data(0x20, {1}) + kEof, "第2行: 与第1行的数据重叠"},
      {"no end-of-file record", Data(0, {1}), "缺少文件结束记录"},
      {"empty text", "", "缺少文件结束记录"},
      {"a file cut inside the end-of-file record", Data(0, {1}) + ":000000", "第2行: 记录不完整"},
      {"a note with a colon is not skipped", "Version: 1\n" + kEof, "第1行: 非法字符"},
      {"span above 1 MiB", Linear(0) + Data(0, {1}) + Linear(0x10) + Data(0, {2}) + kEof,
       "第4行: 数据地址跨度超过1MB"},
  };
  for (const auto& c : cases) {
    auto image = ReadHexImage(c.text);
    ASSERT_FALSE(image.ok()) << c.name;
    EXPECT_EQ(image.error().kind, ErrorKind::kBadInput) << c.name;
    EXPECT_EQ(image.error().text, c.message) << c.name;
  }
}

TEST(ReadHexImage, AcceptsASpanOfExactly1MiB) {
  auto image = ReadHexImage(Linear(0) + Data(0, {1}) + Linear(0xF) + Data(0xFFFF, {2}) + kEof);
  ASSERT_TRUE(image.ok()) << image.error().text;
  ASSERT_EQ(image->length(), kMaxImageSpan);
  EXPECT_EQ(image->data.front(), 1);
  EXPECT_EQ(image->data[1], 0xFF);
  EXPECT_EQ(image->data.back(), 2);
}

}  // namespace
}  // namespace corvel::program
