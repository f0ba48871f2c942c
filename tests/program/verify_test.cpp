// Read-back verify: each image against the region the chip's partition record
// gives its type, alone and after each image of a download.
#include "program/verify.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "program/download.h"
#include "tests/support/fake_host.h"
#include "tests/support/hex_writer.h"
#include "tests/support/scripted_chip.h"
#include "tests/support/temp_dir.h"

namespace corvel::program {
namespace {

using testing::Bytes;

// App 0x16000/0x3000, stack 0x2000/0x1000, boot 0x1000/0x800, user data 1 0x7B000/0x100.
Bytes Partition(uint32_t valid = kPartitionValid) {
  Bytes record;
  for (const uint32_t word : {valid, 0x16000u, 0x3000u, 0x2000u, 0x1000u, 0x1000u, 0x800u, 0x7A000u, 0x1000u,
                              0x7B000u, 0x100u, 0x48000u, 0x32000u}) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                              static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    record.insert(record.end(), bytes, bytes + 4);
  }
  return record;
}

PreparedImage Image(ImageType type, Bytes data) { return PreparedImage{"", type, std::move(data), {}}; }

struct VerifyFixture : testing::ConnectedLinkFixture {
  VerifyFixture() { chip.flash.Write(0, Partition()); }
  testing::ScriptedChip chip{host};
  Verifier verifier{link};
};

TEST(Verifier, EachTypeIsReadFromItsRegion) {
  const std::vector<std::pair<ImageType, uint32_t>> rows = {
      {ImageType::kApplication, 0x16000}, {ImageType::kStack, 0x2000}, {ImageType::kBoot, 0x1000},
      {ImageType::kUserData, 0x7B000}};
  for (const auto& [type, address] : rows) {
    VerifyFixture f;
    const Bytes image(type == ImageType::kUserData ? 0x100 : 1500, 0x3C);
    f.chip.flash.Write(address, image);
    EXPECT_EQ(f.verifier.Verify(Image(type, image)), StepStatus::kOk) << address;
    EXPECT_EQ(f.sink.lines.back(), "校验成功!");
    // The partition record, then the region from its start.
    ASSERT_GE(f.chip.frames.size(), 2u);
    EXPECT_EQ(f.chip.frames[0], testing::MakeFrame(0x2D, {0, 0, 0, 0, 52, 0}));
    EXPECT_EQ(ReadLe32(&f.chip.frames[1][4]), address);
  }
}

TEST(Verifier, EachFailureHasItsLineAndStatus) {
  struct Row {
    const char* name;
    std::function<void(VerifyFixture&)> setUp;
    size_t length = 3000;
    StepStatus status;
    std::string line;
  };
  const auto refuseReadAt = [](uint32_t address, int status) {
    return [address, status](VerifyFixture& f) {
      f.chip.onCommand = [&f, address, status](uint8_t code, const Bytes& payload) {
        if (code == 0x2D) f.chip.status[0x2D] = ReadLe32(payload.data()) == address ? status : 0;
      };
    };
  };
  const std::vector<Row> rows = {
      {"a byte differs in the second piece", [](VerifyFixture& f) { f.chip.flash.Write(0x16000 + 1500, {0x7E}); },
       3000, StepStatus::kMismatch, "校验失败: 地址0x000165DC 芯片0x7E 文件0x5A"},
      {"the partition record refused", refuseReadAt(0, 1), 3000, StepStatus::kChipRefused, "读取分区信息失败!"},
      {"the partition record unanswered", refuseReadAt(0, testing::kSilent), 3000, StepStatus::kNoAnswer,
       "读取分区信息失败!"},
      {"the partition record not valid", [](VerifyFixture& f) { f.chip.flash.Write(0, Partition(0xFFFFFFFF)); }, 3000,
       StepStatus::kChipRefused, "芯片分区信息无效, 无法校验!"},
      {"longer than its region", nullptr, 0x3001, StepStatus::kChipRefused, "文件长度12289大于芯片分区长度12288, 无法校验!"},
      {"a piece refused", refuseReadAt(0x16000 + 1016, 1), 3000, StepStatus::kChipRefused,
       "读取FLASH失败: 地址0x000163F8"},
      {"a piece unanswered", refuseReadAt(0x16000 + 2032, testing::kSilent), 3000, StepStatus::kNoAnswer,
       "读取FLASH失败: 地址0x000167F0"},
  };
  for (const Row& row : rows) {
    VerifyFixture f;
    f.chip.flash.Write(0x16000, Bytes(0x3001, 0x5A));
    if (row.setUp) row.setUp(f);
    EXPECT_EQ(f.verifier.Verify(Image(ImageType::kApplication, Bytes(row.length, 0x5A))), row.status) << row.name;
    EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"正在校验应用固件...", row.line})) << row.name;
  }
}

TEST(Verifier, AnAbortEndsTheReadBetweenPieces) {
  VerifyFixture f;
  f.chip.flash.Write(0x16000, Bytes(3000, 1));
  int reads = 0;
  f.chip.onCommand = [&](uint8_t, const Bytes&) {
    if (++reads == 2) f.verifier.Abort();  // during the first piece of the region
  };
  EXPECT_EQ(f.verifier.Verify(Image(ImageType::kApplication, Bytes(3000, 1))), StepStatus::kInterrupted);
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(f.sink.lines, std::vector<std::string>{"正在校验应用固件..."});
}

// A download with verify: each image read back before the next is sent, the
// partition record read once, after the run wrote it.
TEST(Verifier, DownloadVerifiesEachImageBeforeTheNext) {
  struct Row {
    const char* name;
    bool stuck;  // the app's first byte reads back wrong
    std::vector<std::pair<std::string, StepStatus>> steps;
    std::vector<uint8_t> codes;
  };
  constexpr StepStatus kOk = StepStatus::kOk;
  const std::vector<Row> rows = {
      {"both match", false,
       {{"partition", kOk}, {"app", kOk}, {"verify-app", kOk}, {"stack", kOk}, {"verify-stack", kOk}},
       {0x30, 0x2C, 0x20, 0x23, 0x24, 0x2D, 0x2D, 0x20, 0x23, 0x24, 0x2D}},
      {"the app differs", true,
       {{"partition", kOk}, {"app", kOk}, {"verify-app", StepStatus::kMismatch}},
       {0x30, 0x2C, 0x20, 0x23, 0x24, 0x2D, 0x2D}},
  };
  for (const Row& row : rows) {
    testing::ConnectedLinkFixture f;
    testing::ScriptedChip chip{f.host};
    link::Connection connection{f.link};
    Download download{f.link, connection};
    testing::TempDir dir;
    const Bytes app(200, 0x11), stack(100, 0x22);
    // The scripted chip keeps what is programmed where the record says.
    chip.onCommand = [&](uint8_t code, const Bytes& payload) {
      if (code == 0x2C) chip.flash.Write(0, Bytes(payload.begin() + 6, payload.end()));
      if (code == 0x24 && chip.blocks.size() == 1) chip.flash.Write(0x16000, app);
      if (code == 0x24 && chip.blocks.size() == 2) chip.flash.Write(0x2000, stack);
      if (row.stuck && code == 0x24) chip.flash.Write(0x16000, {0x10});
    };
    DownloadChoice choice;
    choice.partition = true;
    choice.partitionRecord = Partition();
    choice.appPath = dir.Write("app.hex", testing::HexText(app));
    choice.stackPath = dir.Write("stack.hex", testing::HexText(stack));
    choice.verify = true;
    auto prepared = PrepareDownload(choice);
    ASSERT_TRUE(prepared);
    std::vector<std::pair<std::string, StepStatus>> steps;
    download.onStep = [&](const StepReport& step) {
      steps.emplace_back(step.name, step.status);
      // A verify is no image of the run's record.
      if (std::string(step.name).rfind("verify-", 0) == 0) {
        EXPECT_EQ(step.image, nullptr);
      }
    };
    EXPECT_EQ(download.Run(*prepared), row.stuck ? DownloadResult::kFailed : DownloadResult::kOk) << row.name;
    EXPECT_EQ(steps, row.steps) << row.name;
    EXPECT_EQ(chip.codes, row.codes) << row.name;
  }
}

}  // namespace
}  // namespace corvel::program
