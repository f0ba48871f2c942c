#include "program/download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/crc16.h"
#include "program/chip_erase.h"
#include "tests/support/fake_host.h"
#include "tests/support/hex_writer.h"
#include "tests/support/scripted_chip.h"
#include "tests/support/temp_dir.h"

namespace corvel::program {
namespace {

using testing::Bytes;
using testing::MakeFrame;
using testing::HexText;

// Every command answered 1 ms later, with status 0 unless a test says otherwise.
struct DownloadFixture : testing::ConnectedLinkFixture {
  DownloadResult Run(const DownloadChoice& choice) {
    auto prepared = PrepareDownload(choice);
    EXPECT_TRUE(prepared) << (prepared ? "" : prepared.error().text);
    return download.Run(*prepared);
  }

  testing::ScriptedChip chip{host};
  link::Connection connection{link};
  Download download{link, connection};
  testing::TempDir dir;
};

TEST(Download, RunsEverythingTickedInTheFixedOrder) {
  DownloadFixture f;
  DownloadChoice choice;
  choice.userDataPath = f.dir.Write("user.cfg", "01 02 03");
  choice.bootPath = f.dir.Write("boot.hex", HexText({9, 9}));
  choice.appPath = f.dir.Write("app_v2.hex", HexText(Bytes(300, 0xA5)));
  choice.stackPath = f.dir.Write("stack.hex", HexText({7}));
  choice.access = true;
  choice.accessRecord = Bytes(28, 0xFF);
  choice.partition = true;
  choice.partitionRecord = Bytes(52, 0x11);
  choice.speedUpRate = 500000;

  EXPECT_EQ(f.Run(choice), DownloadResult::kOk);
  const std::vector<uint8_t> expected = {0x83, 0x30, 0x2C, 0x22,        //
                                         0x20, 0x23, 0x24, 0x24,        // app: 300 bytes
                                         0x20, 0x23, 0x24,              // stack
                                         0x20, 0x23, 0x24,              // boot
                                         0x20, 0x23, 0x24};             // user data
  EXPECT_EQ(f.chip.codes, expected);
  EXPECT_EQ(f.host.rates, (std::vector<uint32_t>{500000}));

  // The records' frames, and each image's type and tag.
  EXPECT_EQ(f.host.writes[0], MakeFrame(0x83, {0x20, 0xA1, 0x07, 0x00}));
  EXPECT_EQ(f.host.writes[1], MakeFrame(0x30, {0, 0, 0, 0, 0x00, 0x10}));
  EXPECT_EQ(f.host.writes[2].size(), 52u + 6 + 7);
  EXPECT_EQ(f.host.writes[3][4], 28);  // access: its length, then the 28 bytes
  EXPECT_EQ(f.host.writes[4], MakeFrame(0x20, {0x04}));
  const Bytes& appRequest = f.host.writes[5];
  EXPECT_EQ(Bytes(appRequest.begin() + 11, appRequest.begin() + 15), (Bytes{'p', '_', 'v', '2'}));
  EXPECT_EQ(f.host.writes[8], MakeFrame(0x20, {0x02}));
  EXPECT_EQ(f.host.writes[11], MakeFrame(0x20, {0x01}));
  EXPECT_EQ(f.host.writes[14], MakeFrame(0x20, {0x03}));

  const auto& lines = f.sink.lines;
  auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
  EXPECT_LT(at("正在写入分区信息..."), at("文本大小：52Byte"));
  EXPECT_LT(at("分区信息写入成功!"), at("正在写入控制访问信息..."));
  EXPECT_LT(at("控制访问信息写入成功!"), at("正在下载应用固件..."));
  EXPECT_LT(at("正在下载应用固件..."), at("正在下载stack固件..."));
  EXPECT_LT(at("正在下载stack固件..."), at("正在下载Boot固件..."));
  EXPECT_LT(at("正在下载Boot固件..."), at("正在下载user数据..."));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "文件传输结束:编程成功!"), 4);
  EXPECT_FALSE(f.download.running());
}

TEST(Download, SpeedUpUsesTwiceTheRateAfterAHandshakeAt230400) {
  DownloadFixture f;
  f.chip.syncFromBurst = 1;
  f.connection.StartAttempt(0, 230400);
  ASSERT_TRUE(f.connection.IsConnected());
  f.host.writes.clear();
  f.sink.lines.clear();
  DownloadChoice choice;
  choice.speedUpRate = 500000;
  EXPECT_EQ(f.Run(choice), DownloadResult::kOk);
  EXPECT_EQ(f.host.writes[0], MakeFrame(0x83, {0x20, 0xA1, 0x07, 0x00}));
  EXPECT_EQ(f.host.rates, (std::vector<uint32_t>{1000000}));
  EXPECT_TRUE(f.sink.lines.empty());  // only the rate switch: no further line
}

TEST(Download, SpeedUpDrainsSwitchesSettlesAndDiscardsBeforeTheNextFrame) {
  struct Row {
    const char* name;
    std::optional<uint64_t> settle;
    bool rateOk;
    std::vector<std::string> steps;
  };
  const std::vector<Row> rows = {
      {"default settle", std::nullopt, true, {"drain 500000", "rate 500000", "sleep 10000", "discard"}},
      {"no settle", 0, true, {"drain 500000", "rate 500000", "discard"}},
      {"rate cannot be set", std::nullopt, false, {"drain 500000", "rate 500000"}},
  };
  for (const Row& row : rows) {
    DownloadFixture f;
    f.host.rateOk = row.rateOk;
    if (row.settle) f.download.SetRateSettleMicros(*row.settle);
    // How many line steps had been taken when each frame went out.
    std::vector<size_t> stepsAtWrite;
    auto chipWrite = f.host.onWrite;
    f.host.onWrite = [&](const Bytes& written) {
      stepsAtWrite.push_back(f.host.lineSteps.size());
      chipWrite(written);
    };
    DownloadChoice choice;
    choice.speedUpRate = 500000;
    choice.partition = true;
    choice.partitionRecord = Bytes(52, 1);
    EXPECT_EQ(f.Run(choice), row.rateOk ? DownloadResult::kOk : DownloadResult::kFailed) << row.name;
    EXPECT_EQ(f.host.lineSteps, row.steps) << row.name;
    ASSERT_FALSE(stepsAtWrite.empty()) << row.name;
    EXPECT_EQ(stepsAtWrite[0], 0u) << row.name;
    if (row.rateOk) {
      ASSERT_GE(stepsAtWrite.size(), 2u) << row.name;
      EXPECT_EQ(stepsAtWrite[1], row.steps.size()) << row.name;  // the next frame only after the last step
    }
  }
}

TEST(Download, AFailingStepEndsTheRun) {
  struct Row {
    const char* name;
    std::map<uint8_t, int> status = {};
    bool rateOk = true;
    std::string lastLine = {};
    std::vector<uint8_t> codes;
    std::vector<std::string> hints = {};
  };
  const std::vector<Row> rows = {
      {.name = "rate refused", .status = {{0x83, 1}}, .codes = {0x83},
       .hints = {"芯片拒绝切换到波特率500000 (状态0x01)"}},
      {.name = "rate refused with another status", .status = {{0x83, 0xA7}}, .codes = {0x83},
       .hints = {"芯片拒绝切换到波特率500000 (状态0xA7)"}},
      {.name = "rate unanswered", .status = {{0x83, testing::kSilent}}, .codes = {0x83},
       .hints = {"芯片未回应切换到波特率500000的命令"}},
      {.name = "rate cannot be set", .rateOk = false, .lastLine = "无法切换到波特率500000: rate refused", .codes = {0x83}},
      {.name = "partition erase refused", .status = {{0x30, 1}}, .lastLine = "分区信息写入失败!", .codes = {0x83, 0x30}},
      {.name = "partition write refused", .status = {{0x2C, 1}}, .lastLine = "分区信息写入失败!",
       .codes = {0x83, 0x30, 0x2C}},
      {.name = "access refused", .status = {{0x22, 1}}, .lastLine = "控制访问信息写入失败!",
       .codes = {0x83, 0x30, 0x2C, 0x22}},
      {.name = "app transfer fails, boot not sent", .status = {{0x23, 7}}, .lastLine = "分区信息无效!",
       .codes = {0x83, 0x30, 0x2C, 0x22, 0x20, 0x23}},
  };
  for (const auto& row : rows) {
    DownloadFixture f;
    f.chip.status = row.status;
    f.host.rateOk = row.rateOk;
    DownloadChoice choice;
    choice.speedUpRate = 500000;
    choice.partition = choice.access = true;
    choice.partitionRecord = Bytes(52, 1);
    choice.accessRecord = Bytes(28, 2);
    choice.appPath = f.dir.Write("app.hex", HexText({1, 2, 3}));
    choice.bootPath = f.dir.Write("boot.hex", HexText({4}));
    EXPECT_EQ(f.Run(choice), DownloadResult::kFailed) << row.name;
    EXPECT_EQ(f.chip.codes, row.codes) << row.name;
    EXPECT_EQ(f.sink.lines.empty() ? "" : f.sink.lines.back(), row.lastLine) << row.name;
    EXPECT_EQ(f.sink.hints, row.hints) << row.name;
  }
}

TEST(Download, EachStepIsReportedAsItEnds) {
  using Steps = std::vector<std::pair<std::string, StepStatus>>;
  struct Row {
    const char* name;
    std::map<uint8_t, int> status = {};
    std::map<int, int> blockStatus = {};
    bool rateOk = true;
    int abortAtBlock = 0;
    Steps steps;
  };
  constexpr StepStatus kOk = StepStatus::kOk;
  const std::vector<Row> rows = {
      {.name = "all ok",
       .steps = {{"speedup", kOk}, {"partition", kOk}, {"access", kOk}, {"app", kOk}, {"user", kOk}}},
      {.name = "rate refused", .status = {{0x83, 1}}, .steps = {{"speedup", StepStatus::kChipRefused}}},
      {.name = "rate unanswered", .status = {{0x83, testing::kSilent}}, .steps = {{"speedup", StepStatus::kNoAnswer}}},
      {.name = "rate cannot be set", .rateOk = false, .steps = {{"speedup", StepStatus::kPort}}},
      {.name = "partition write unanswered", .status = {{0x2C, testing::kSilent}},
       .steps = {{"speedup", kOk}, {"partition", StepStatus::kNoAnswer}}},
      {.name = "access refused", .status = {{0x22, 1}},
       .steps = {{"speedup", kOk}, {"partition", kOk}, {"access", StepStatus::kChipRefused}}},
      {.name = "app request refused", .status = {{0x23, 7}},
       .steps = {{"speedup", kOk}, {"partition", kOk}, {"access", kOk}, {"app", StepStatus::kChipRefused}}},
      {.name = "app block refused", .blockStatus = {{2, 1}},
       .steps = {{"speedup", kOk}, {"partition", kOk}, {"access", kOk}, {"app", StepStatus::kChipRefused}}},
      {.name = "app block unanswered", .blockStatus = {{2, testing::kSilent}},
       .steps = {{"speedup", kOk}, {"partition", kOk}, {"access", kOk}, {"app", StepStatus::kNoAnswer}}},
      {.name = "app aborted", .abortAtBlock = 2,
       .steps = {{"speedup", kOk}, {"partition", kOk}, {"access", kOk}, {"app", StepStatus::kInterrupted}}},
  };
  const Bytes app(600, 0x5A);
  for (const Row& row : rows) {
    DownloadFixture f;
    f.chip.status = row.status;
    f.chip.blockStatus = row.blockStatus;
    f.host.rateOk = row.rateOk;
    int blocks = 0;
    f.chip.onCommand = [&](uint8_t code, const Bytes&) {
      if (code == 0x24 && ++blocks == row.abortAtBlock) f.download.Abort();
    };
    Steps steps;
    std::vector<PreparedImage> images;
    f.download.onStep = [&](const StepReport& step) {
      steps.emplace_back(step.name, step.status);
      EXPECT_GE(step.seconds, 0) << row.name;
      if (step.image == nullptr) return;
      // Each image step carries what its transfer request carried.
      EXPECT_EQ(step.crc, link::Crc16(step.image->data.data(), static_cast<uint32_t>(step.image->data.size())));
      images.push_back(*step.image);
    };
    DownloadChoice choice;
    choice.speedUpRate = 500000;
    choice.partition = choice.access = true;
    choice.partitionRecord = Bytes(52, 1);
    choice.accessRecord = Bytes(28, 2);
    choice.appPath = f.dir.Write("app_v2.hex", HexText(app));
    choice.userDataPath = f.dir.Write("user.cfg", "01 02");
    (void)f.Run(choice);
    EXPECT_EQ(steps, row.steps) << row.name;
    if (!images.empty()) {
      EXPECT_EQ(images[0].data, app) << row.name;
      EXPECT_EQ(images[0].tag, (std::array<uint8_t, 4>{'p', '_', 'v', '2'})) << row.name;
    }
  }
  // The download's own clock: a step lasts from its first frame to its last answer.
  DownloadFixture f;
  double seconds = -1;
  f.download.onStep = [&](const StepReport& step) { seconds = step.seconds; };
  DownloadChoice choice;
  choice.access = true;
  choice.accessRecord = Bytes(28, 2);
  f.Run(choice);
  EXPECT_DOUBLE_EQ(seconds, 0.001);
}

TEST(Download, BadInputIsReportedBeforeAnythingIsSent) {
  testing::TempDir dir;
  const std::string good = dir.Write("good.hex", HexText({1, 2, 3}));
  std::string damaged = HexText({1, 2, 3});
  damaged[9] = damaged[9] == '0' ? '1' : '0';  // one digit off: the checksum no longer matches
  struct Row {
    const char* name;
    DownloadChoice choice;
  };
  std::vector<Row> rows(5);
  rows[0] = {"partition ticked, nothing loaded", {}};
  rows[0].choice.partition = true;
  rows[1] = {"partition record too long", {}};
  rows[1].choice.partition = true;
  rows[1].choice.partitionRecord = Bytes(295, 0);
  rows[2] = {"access record too long", {}};
  rows[2].choice.access = true;
  rows[2].choice.accessRecord = Bytes(256, 0);
  rows[3] = {"damaged boot file after a good app", {}};
  rows[3].choice.appPath = good;
  rows[3].choice.bootPath = dir.Write("boot.hex", damaged);
  rows[4] = {"missing user data file", {}};
  rows[4].choice.userDataPath = dir.Write("x", "") + ".missing";
  for (const auto& row : rows) {
    auto prepared = PrepareDownload(row.choice);
    ASSERT_FALSE(prepared) << row.name;
    EXPECT_FALSE(prepared.error().text.empty()) << row.name;
  }
  DownloadChoice limits;
  limits.partition = limits.access = true;
  limits.partitionRecord = Bytes(294, 0);
  limits.accessRecord = Bytes(255, 0);
  EXPECT_TRUE(PrepareDownload(limits));
}

// An image without a byte would erase its region and write nothing: the
// whole download is refused, naming the file, even after a good image.
TEST(Download, AnImageWithoutBytesIsRefusedNamingItsFile) {
  testing::TempDir dir;
  const std::string good = dir.Write("good.hex", HexText({1, 2, 3}));
  struct Row {
    const char* name;
    bool hex;
    std::string text;
    const char* reason;
  };
  const Row rows[] = {
      {"end-of-file record only", true, testing::kHexEndRecord, "没有数据记录"},
      {"empty data records only", true, testing::HexRecord(0x00, 0x100, {}) + testing::kHexEndRecord, "没有数据记录"},
      {"empty user data", false, "", "没有用户数据"},
      {"blanks and line ends only", false, " \r\n\t\r\n", "没有用户数据"},
      {"one character, no pair", false, "A\n", "没有用户数据"},
  };
  for (const Row& row : rows) {
    const std::string path = dir.Write(row.hex ? "boot.hex" : "user.cfg", row.text);
    DownloadChoice choice;
    choice.appPath = good;
    (row.hex ? choice.bootPath : choice.userDataPath) = path;
    auto prepared = PrepareDownload(choice);
    ASSERT_FALSE(prepared) << row.name;
    EXPECT_EQ(prepared.error().kind, ErrorKind::kBadInput) << row.name;
    EXPECT_EQ(prepared.error().text, path + ": " + row.reason) << row.name;
  }
}

TEST(Download, AbortStopsAfterTheBlockInFlightAndStartsNothingNew) {
  DownloadFixture f;
  int blocks = 0;
  f.chip.onCommand = [&](uint8_t code, const Bytes&) {
    if (code == 0x24 && ++blocks == 3) f.download.Abort();
  };
  std::vector<bool> running;
  f.download.onRunningChanged = [&](bool r) { running.push_back(r); };
  DownloadChoice choice;
  choice.appPath = f.dir.Write("app.hex", HexText(Bytes(10 * 256, 1)));
  choice.userDataPath = f.dir.Write("user.cfg", "0102");
  EXPECT_EQ(f.Run(choice), DownloadResult::kAborted);
  EXPECT_EQ(blocks, 3);
  EXPECT_EQ(std::count(f.chip.codes.begin(), f.chip.codes.end(), 0x20), 1);  // the user data was not started
  EXPECT_EQ(f.sink.lines.back(), "手动中断下载!");
  EXPECT_EQ(running, (std::vector<bool>{true, false}));
}

TEST(EraseButtons, WholeChipAndUserArea) {
  DownloadFixture f;
  EXPECT_TRUE(EraseChip(f.link));
  EXPECT_EQ(f.host.writes.back(), MakeFrame(0x20, {0x00}));
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"正在全片擦出flash...", "擦出flash成功!"}));

  Bytes record(256, 0xFF);
  const Bytes user1 = {0x00, 0xB0, 0x07, 0x00, 0x00, 0x50, 0x00, 0x00};  // 0x7B000, 0x5000
  std::copy(user1.begin(), user1.end(), record.begin() + 36);
  f.chip.data[0x2D] = record;
  f.sink.lines.clear();
  EXPECT_TRUE(EraseUserArea(f.link));
  EXPECT_EQ(f.host.writes[f.host.writes.size() - 2], MakeFrame(0x2D, {0, 0, 0, 0, 0x00, 0x01}));
  EXPECT_EQ(f.host.writes.back(), MakeFrame(0x30, {0x00, 0xB0, 0x07, 0x00, 0x00, 0x50}));
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"正在擦除user数据区域...", "擦出flash成功"}));

  record[40] = 0x00, record[41] = 0x00, record[42] = 0x01;  // 64 KiB: the 16-bit field carries 0
  f.chip.data[0x2D] = record;
  EXPECT_TRUE(EraseUserArea(f.link));
  EXPECT_EQ(f.host.writes.back(), MakeFrame(0x30, {0x00, 0xB0, 0x07, 0x00, 0x00, 0x00}));
}

TEST(EraseButtons, Failures) {
  DownloadFixture f;
  f.chip.status = {{0x20, testing::kSilent}, {0x30, 9}};
  EXPECT_FALSE(EraseChip(f.link));
  EXPECT_EQ(f.sink.lines.back(), "擦出flash失败!");
  f.chip.data[0x2D] = Bytes(256, 0);
  EXPECT_FALSE(EraseUserArea(f.link));
  EXPECT_EQ(f.sink.lines.back(), "擦出falsh失败");

  f.chip.status = {{0x2D, 1}};
  f.sink.lines.clear();
  EXPECT_FALSE(EraseUserArea(f.link));
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"正在擦除user数据区域..."}));
}

}  // namespace
}  // namespace corvel::program
