// Reading flash back piece by piece, and the dump's Intel HEX text.
#include "program/flash_read.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/bytes.h"
#include "program/hex_reader.h"
#include "program/hex_writer.h"
#include "tests/support/fake_host.h"
#include "tests/support/hex_writer.h"
#include "tests/support/scripted_chip.h"

namespace corvel::program {
namespace {

using testing::Bytes;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
  return bytes;
}

struct ReaderFixture : testing::ConnectedLinkFixture {
  // The reads asked for: address and length of each.
  std::vector<std::pair<uint32_t, uint16_t>> Reads() const {
    std::vector<std::pair<uint32_t, uint16_t>> reads;
    for (const Bytes& frame : chip.frames) {
      if (frame[1] == 0x2D) reads.emplace_back(ReadLe32(&frame[4]), ReadLe16(&frame[8]));
    }
    return reads;
  }

  testing::ScriptedChip chip{host};
  FlashReader reader{link};
};

TEST(FlashReader, ReadsTheRangeInPiecesOfTheLargestAnswer) {
  ReaderFixture f;
  const Bytes flash = Pattern(2500, 3);
  f.chip.flash.Write(0x16001, flash);
  std::vector<uint32_t> progress;
  Bytes out;
  const FlashReadResult result =
      f.reader.ReadInto(0x16001, flash.size(), out, [&](int position, uint32_t done, uint32_t total) {
        EXPECT_EQ(total, 2500u);
        EXPECT_EQ(position, static_cast<int>(progress.size()));
        progress.push_back(done);
      });
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(out, flash);
  EXPECT_EQ(f.Reads(), (std::vector<std::pair<uint32_t, uint16_t>>{
                           {0x16001, 1016}, {0x16001 + 1016, 1016}, {0x16001 + 2032, 468}}));
  EXPECT_EQ(progress, (std::vector<uint32_t>{0, 1016, 2032, 2500}));
}

TEST(FlashReader, StopsAtTheFirstPieceThatFailsAndNamesItsStart) {
  struct Row {
    const char* name;
    int status;        // of the second piece
    size_t dataBytes;  // what the second piece's answer carries (0: as asked)
    FlashReadStatus result;
  };
  const std::vector<Row> rows = {
      {"refused", 1, 0, FlashReadStatus::kRefused},
      {"unanswered", testing::kSilent, 0, FlashReadStatus::kNoAnswer},
      {"answered short", 0, 1000, FlashReadStatus::kRefused},
  };
  for (const Row& row : rows) {
    ReaderFixture f;
    int pieces = 0;
    f.chip.onCommand = [&](uint8_t code, const Bytes&) {
      if (code != 0x2D || ++pieces != 2) return;
      f.chip.status[0x2D] = row.status;
      if (row.dataBytes != 0) f.chip.data[0x2D] = Bytes(row.dataBytes, 0);
    };
    Bytes out;
    const FlashReadResult result = f.reader.ReadInto(0x1000, 3000, out);
    EXPECT_EQ(result.status, row.result) << row.name;
    EXPECT_EQ(result.address, 0x1000u + 1016) << row.name;
    EXPECT_EQ(f.Reads().size(), 2u) << row.name;
    EXPECT_EQ(out.size(), 1016u) << row.name;
  }
}

TEST(FlashReader, AnAbortStopsBetweenPieces) {
  ReaderFixture f;
  f.chip.onCommand = [&](uint8_t, const Bytes&) { f.reader.Abort(); };
  Bytes out;
  const FlashReadResult result = f.reader.ReadInto(0, 3000, out);
  EXPECT_EQ(result.status, FlashReadStatus::kInterrupted);
  EXPECT_EQ(result.address, 1016u);
  EXPECT_EQ(f.Reads().size(), 1u);
}

TEST(FlashReader, ARangePastTheAddressSpaceSendsNothing) {
  ReaderFixture f;
  Bytes out;
  EXPECT_EQ(f.reader.ReadInto(0xFFFFFF00, 0x101, out).status, FlashReadStatus::kRefused);
  EXPECT_TRUE(f.chip.frames.empty());
  // Up to the very end is a range like any other.
  f.chip.flash.Write(0xFFFFFFF0, Pattern(16, 9));
  EXPECT_TRUE(f.reader.ReadInto(0xFFFFFFF0, 16, out).ok());
  EXPECT_EQ(out, Pattern(16, 9));
}

TEST(FlashReader, DumpLogsItsLines) {
  ReaderFixture f;
  Bytes out;
  EXPECT_TRUE(DumpFlash(f.reader, f.log, 0x16000, 2048, out).ok());
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"正在读取FLASH: 地址0x00016000 长度2048...", "读取FLASH完成!"}));

  ReaderFixture refused;
  refused.chip.status[0x2D] = 1;
  EXPECT_FALSE(DumpFlash(refused.reader, refused.log, 0x16000, 2048, out).ok());
  EXPECT_EQ(refused.sink.lines,
            (std::vector<std::string>{"正在读取FLASH: 地址0x00016000 长度2048...", "读取FLASH失败: 地址0x00016000"}));
}

TEST(HexWriter, RecordsSitOnSixteenByteBoundariesAndAnAddressRecordMarksEach64KiB) {
  const Bytes bytes = Pattern(40, 1);
  const uint32_t address = 0x1FFF4;  // 12 bytes below a 64 KiB boundary
  const auto part = [&bytes](size_t from, size_t n) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(from + n));
  };
  const std::string expected = testing::HexRecord(0x04, 0, {0x00, 0x01}) + testing::HexRecord(0x00, 0xFFF4, part(0, 12)) +
                               testing::HexRecord(0x04, 0, {0x00, 0x02}) + testing::HexRecord(0x00, 0x0000, part(12, 16)) +
                               testing::HexRecord(0x00, 0x0010, part(28, 12)) + testing::kHexEndRecord;
  EXPECT_EQ(FormatHexFile(address, bytes.data(), bytes.size()), expected);
  // Below 64 KiB no address record is needed.
  EXPECT_EQ(FormatHexFile(0x20, bytes.data(), 16),
            testing::HexRecord(0x00, 0x0020, part(0, 16)) + testing::kHexEndRecord);
}

TEST(HexWriter, ReadsBackToTheSameBytes) {
  const Bytes bytes = Pattern(70000, 7);
  const auto image = ReadHexImage(FormatHexFile(0x16003, bytes.data(), bytes.size()));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->data, bytes);
}

}  // namespace
}  // namespace corvel::program
