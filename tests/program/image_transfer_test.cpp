#include "program/image_transfer.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "link/command_codes.h"
#include "tests/support/fake_host.h"
#include "tests/support/scripted_chip.h"
#include "text/hex_pairs.h"

namespace corvel::program {
namespace {

using testing::Bytes;

std::string Hex(const Bytes& bytes) {
  std::string s;
  text::AppendHexBytes(s, bytes.data(), bytes.size());
  return s;
}

// Blocks answered 2 ms late, everything else 1 ms.
struct TransferFixture : testing::ConnectedLinkFixture {
  TransferFixture() { chip.delays[link::cmd::kDataBlock] = 2000; }

  TransferResult Run(const Bytes& image, ImageType type = ImageType::kApplication) {
    return TransferImage(link, control, image.data(), static_cast<uint32_t>(image.size()), tag, type,
                         [this](int position, uint32_t, uint32_t) { positions.push_back(position); });
  }

  testing::ScriptedChip chip{host};
  std::vector<int> positions;
  TransferControl control;
  std::array<uint8_t, 4> tag{'A', '1', '2', '3'};
};

TEST(ImageTransfer, WorkedExampleFrameByFrame) {
  TransferFixture f;
  ASSERT_EQ(f.Run({'a', 'b', 'c'}), TransferResult::kOk);
  ASSERT_EQ(f.host.writes.size(), 3u);
  EXPECT_EQ(Hex(f.host.writes[0]), "81 20 00 01 04 44 FB 18 ");
  EXPECT_EQ(Hex(f.host.writes[1]), "81 23 00 0B 04 03 00 00 00 D6 9D 41 31 32 33 4F 0C 18 ");
  EXPECT_EQ(Hex(f.host.writes[2]), "81 24 00 05 00 01 61 62 63 DC 66 18 ");
  ASSERT_EQ(f.sink.lines.size(), 7u);
  EXPECT_EQ(f.sink.lines[0], "传输文件大小：3Byte");
  EXPECT_EQ(f.sink.lines[1], "正在擦出flash...");
  EXPECT_EQ(f.sink.lines[2], "falsh擦除完成!");
  EXPECT_EQ(f.sink.lines[3], "正在请求传输...");
  EXPECT_EQ(f.sink.lines[4], "请求传输成功正在下载...");
  EXPECT_EQ(f.sink.lines[5], "文件传输结束:编程成功!");
  EXPECT_EQ(f.sink.lines[6], "下载耗时:0.0020s");  // one block answered 2 ms later
}

TEST(ImageTransfer, BlocksOfTheBlockSizeThenTheRest) {
  TransferFixture f;
  Bytes image(300);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(f.Run(image), TransferResult::kOk);
  ASSERT_EQ(f.host.writes.size(), 4u);
  const Bytes& b1 = f.host.writes[2];
  const Bytes& b2 = f.host.writes[3];
  EXPECT_EQ(b1.size(), 256u + 9);
  EXPECT_EQ((b1[2] << 8 | b1[3]), 258);
  EXPECT_EQ(b2.size(), 44u + 9);
  EXPECT_EQ((b2[2] << 8 | b2[3]), 46);
  EXPECT_EQ((b2[4] << 8 | b2[5]), 2);
  EXPECT_EQ(b2[6], image[256]);
}

TEST(ImageTransfer, ProgressWalksThroughEveryPercent) {
  TransferFixture f;
  ASSERT_EQ(f.Run(Bytes(1000, 0x5A)), TransferResult::kOk);
  ASSERT_FALSE(f.positions.empty());
  for (size_t i = 0; i < f.positions.size(); ++i) EXPECT_EQ(f.positions[i], static_cast<int>(i));
  EXPECT_EQ(f.positions.back(), 102);  // the last block counts whole, 1024 of 1000 bytes
}

TEST(ImageTransfer, EmptyImageIsErasedAndRequestedOnly) {
  TransferFixture f;
  ASSERT_EQ(f.Run({}), TransferResult::kOk);
  ASSERT_EQ(f.host.writes.size(), 2u);
  EXPECT_EQ(Hex(f.host.writes[1]), Hex(testing::MakeFrame(0x23, {0x04, 0, 0, 0, 0, 0, 0, 'A', '1', '2', '3'})));
  EXPECT_EQ(f.sink.lines[f.sink.lines.size() - 2], "文件传输结束:编程成功!");
}

TEST(ImageTransfer, RefusalsAndSilences) {
  struct Row {
    const char* name;
    std::map<uint8_t, int> status = {};
    std::map<int, int> blockStatus = {};
    TransferResult result;
    std::string lastLine = {};
    size_t writes;
  };
  using enum TransferResult;
  using testing::kSilent;
  const std::vector<Row> rows = {
      {.name = "erase failed", .status = {{0x20, 9}}, .result = kFailed, .lastLine = "擦除失败!", .writes = 1},
      {.name = "erase: partition invalid", .status = {{0x20, 7}}, .result = kFailed, .lastLine = "分区信息无效!",
       .writes = 1},
      {.name = "request: partition invalid", .status = {{0x23, 7}}, .result = kFailed, .lastLine = "分区信息无效!",
       .writes = 2},
      {.name = "request: too large", .status = {{0x23, 1}}, .result = kFailed,
       .lastLine = "传输文件大小超出配置的flash大小，请重新划分分区参数", .writes = 2},
      {.name = "block refused", .blockStatus = {{2, 3}}, .result = kFailed, .lastLine = "编程失败!", .writes = 4},
      {.name = "block unanswered", .blockStatus = {{1, kSilent}}, .result = kFailed, .lastLine = "编程失败!",
       .writes = 3},
      {.name = "erase status 3 goes on", .status = {{0x20, 3}}, .result = kOk, .writes = 5},
      {.name = "erase unanswered goes on", .status = {{0x20, kSilent}}, .result = kOk, .writes = 5},
  };
  for (const auto& row : rows) {
    TransferFixture f;
    f.chip.status = row.status;
    f.chip.blockStatus = row.blockStatus;
    EXPECT_EQ(f.Run(Bytes(600, 1)), row.result) << row.name;
    EXPECT_EQ(f.host.writes.size(), row.writes) << row.name;
    if (!row.lastLine.empty()) {
      EXPECT_EQ(f.sink.lines.back(), row.lastLine) << row.name;
    }
  }
  TransferFixture quiet;
  quiet.chip.status = {{0x20, 3}};
  ASSERT_EQ(quiet.Run(Bytes(10, 1)), TransferResult::kOk);
  EXPECT_EQ(quiet.sink.lines[2], "正在请求传输...");  // no line for the unknown erase status
}

TEST(ImageTransfer, AbortSendsNoBlockAfterTheOneInFlight) {
  TransferFixture f;
  // The download button pressed while block 5 waits.
  f.chip.onCommand = [&](uint8_t code, const Bytes&) {
    if (code == link::cmd::kDataBlock && f.chip.blocks.back() == 5) {
      f.control.remaining = 0;
      f.control.aborted = true;
    }
  };
  EXPECT_EQ(f.Run(Bytes(10 * 256, 7)), TransferResult::kAborted);
  EXPECT_EQ(f.chip.blocks, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_NE(f.sink.lines.back(), "文件传输结束:编程成功!");
}

}  // namespace
}  // namespace corvel::program
