#include "tools/extension_ops.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_host.h"
#include "tests/support/scripted_chip.h"

namespace corvel::tools {
namespace {

using testing::Bytes;
using testing::MakeFrame;
using Lines = std::vector<std::string>;
using O = ExtensionOption;

ExtensionInputs In(O option, std::string address = "", std::string length = "", std::string data = "", int page = -1) {
  ExtensionInputs in;
  in.option = static_cast<int>(option);
  in.addressText = std::move(address);
  in.lengthText = std::move(length);
  in.dataText = std::move(data);
  in.pageIndex = page;
  return in;
}

ExtensionInputs Loaded(ExtensionInputs in, size_t count, uint8_t first = 0) {
  in.loaded = LoadedData{};
  for (size_t i = 0; i < count; ++i) in.loaded->bytes.push_back(static_cast<uint8_t>(first + i));
  return in;
}

// The scripted boot loader answers each command half a millisecond later.
struct ExtensionFixture : testing::ConnectedLinkFixture {
  ExtensionFixture() { chip.delay = 500; }

  ExtensionResult Run(const ExtensionInputs& in) {
    return RunExtensionOperation(link, in, [this] {
      ++questions;
      return confirmAnswer;
    });
  }

  testing::ScriptedChip chip{host};
  bool confirmAnswer = true;
  int questions = 0;
};

// What the pre-connect check logs for the same inputs.
Lines CheckLines(const ExtensionInputs& in, ExtensionOutcome expected) {
  testing::RecordingSink sink;
  log::Log log(sink);
  EXPECT_EQ(CheckExtensionInputs(in, log), expected);
  return sink.lines;
}

TEST(ExtensionFront, AddressAndDataTextsAreNormalisedThenReadAsHex) {
  struct Row {
    std::string address;
    std::string data;
    Lines lines;
    Bytes payload;
  };
  const Row rows[] = {
      {.address = "1000",
       .data = "",
       .lines = {"写入寄存器!", "地址：0x0x1000", "值: 0x"},
       .payload = {0x00, 0x10, 0, 0, 0, 0, 0, 0}},
      {.address = "0x1000",
       .data = "0x12",
       .lines = {"写入寄存器!", "地址：0x0x1000", "值: 0x12"},
       .payload = {0x00, 0x10, 0, 0, 0x12, 0, 0, 0}},
      {.address = "0X1000",
       .data = "ab",
       .lines = {"写入寄存器!", "地址：0x0x0X1000", "值: 0xab"},
       .payload = {0, 0, 0, 0, 0xAB, 0, 0, 0}},
      {.address = "",
       .data = "123456789",
       .lines = {"写入寄存器!", "地址：0x0x", "值: 0x123456789"},
       .payload = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
      // Normalisation puts "0x" in front of a blank or a sign, which then reads as 0.
      {.address = " 20",
       .data = "-1",
       .lines = {"写入寄存器!", "地址：0x0x 20", "值: 0x-1"},
       .payload = {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.address + " / " + row.data);
    ExtensionFixture f;
    EXPECT_EQ(f.Run(In(O::kWriteRegister, row.address, "", row.data)).outcome, ExtensionOutcome::kDone);
    Lines expected = row.lines;
    expected.push_back("写入成功!");
    EXPECT_EQ(f.sink.lines, expected);
    ASSERT_EQ(f.host.writes.size(), 1u);
    EXPECT_EQ(f.host.writes[0], MakeFrame(0x2A, row.payload));
  }
}

TEST(ExtensionFront, NothingSelectedDoesNothing) {
  for (int option : {-1, 11, 99}) {
    ExtensionFixture f;
    ExtensionInputs in = In(O::kFullErase);
    in.option = option;
    EXPECT_EQ(f.Run(in).outcome, ExtensionOutcome::kRefused);
    EXPECT_TRUE(f.sink.lines.empty());
    EXPECT_TRUE(f.host.writes.empty());
    EXPECT_TRUE(CheckLines(in, ExtensionOutcome::kRefused).empty());
  }
}

// One successful run of every option: its lines, its frame, its edit texts.
TEST(ExtensionOperations, EachOptionOnSuccess) {
  struct Row {
    const char* name;
    ExtensionInputs in;
    uint8_t code;
    Bytes payload;
    Bytes answer = {};
    Lines lines;
  };
  const Row rows[] = {
      {.name = "page erase",
       .in = In(O::kPageErase, "1000", "512"),
       .code = 0x2B,
       .payload = {0x00, 0x10, 0, 0, 0x00, 0x02},
       .lines = {"页擦出FLASH!", "地址：0x0x1000", "大小：512Byte", "擦出flash成功"}},
      {.name = "page erase, the largest length the field carries",
       .in = In(O::kPageErase, "0", "65280"),
       .code = 0x2B,
       .payload = {0, 0, 0, 0, 0x00, 0xFF},
       .lines = {"页擦出FLASH!", "地址：0x0x0", "大小：65280Byte", "擦出flash成功"}},
      {.name = "sector erase, the largest length the field carries",
       .in = In(O::kSectorErase, "0", "61440"),
       .code = 0x30,
       .payload = {0, 0, 0, 0, 0x00, 0xF0},
       .lines = {"块擦出FLASH!", "地址：0x0x0", "大小：61440Byte", "擦出flash成功"}},
      {.name = "sector erase",
       .in = In(O::kSectorErase, "0x3000", "8192"),
       .code = 0x30,
       .payload = {0x00, 0x30, 0, 0, 0x00, 0x20},
       .lines = {"块擦出FLASH!", "地址：0x0x3000", "大小：8192Byte", "擦出flash成功"}},
      {.name = "read flash",
       .in = In(O::kReadFlash, "60000", "4"),
       .code = 0x2D,
       .payload = {0x00, 0x00, 0x06, 0, 0x04, 0x00},
       .answer = {0xDE, 0xAD, 0x0B, 0xEF},
       .lines = {"读取FLASH!", "地址：0x0x60000", "大小：4Byte", "读取到的内容：DE AD 0B EF "}},
      {.name = "write flash",
       .in = Loaded(In(O::kWriteFlash, "60000", "999"), 3, 0xA0),
       .code = 0x2C,
       .payload = {0x00, 0x00, 0x06, 0, 0x03, 0x00, 0xA0, 0xA1, 0xA2},
       .lines = {"写入FLASH!", "地址：0x0x60000", "大小：3Byte", "写入flash成功"}},
      {.name = "read register",
       .in = In(O::kReadRegister, "40000010"),
       .code = 0x29,
       .payload = {0x10, 0, 0, 0x40},
       .answer = {0xD4, 0x2D, 0x91, 0xD3},
       .lines = {"读取寄存器!", "地址：0x0x40000010"}},
      {.name = "read otp",
       .in = In(O::kReadOtp, "0x48", "4", "", 0),
       .code = 0x26,
       .payload = {0x01, 0x04, 0x00, 0x48, 0, 0, 0},
       .answer = {1, 2, 3, 4},
       .lines = {"读取OTP!", "页数：1", "地址：0x0x48", "长度: 4Byte", "读取到的内容：01 02 03 04 "}},
      {.name = "read otp length 0",
       .in = In(O::kReadOtp, "0", "0", "", 2),
       .code = 0x26,
       .payload = {0x03, 0, 0, 0, 0, 0, 0},
       .lines = {"读取OTP!", "页数：3", "地址：0x0x0", "长度: 0Byte", "读取到的内容："}},
      {.name = "write otp",
       .in = Loaded(In(O::kWriteOtp, "200", "", "", 1), 2, 0x55),
       .code = 0x27,
       .payload = {0x02, 0x02, 0x00, 0x00, 0x02, 0, 0, 0x55, 0x56},
       .lines = {"写入OTP!", "写入OTP", "地址：0x0x200", "大小：2Byte", "写入OTP成功"}},
      {.name = "lock otp",
       .in = In(O::kLockOtp, "zz", "x", "y", 1),
       .code = 0x28,
       .payload = {0x02},
       .lines = {"锁定OTP区域", "锁定OTP成功!"}},
      {.name = "erase otp",
       .in = In(O::kEraseOtp, "", "", "", 2),
       .code = 0x2F,
       .payload = {0x03},
       .lines = {"擦出OTP区域", "擦出OTP成功!"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ExtensionFixture f;
    f.chip.data[row.code] = row.answer;
    const ExtensionResult result = f.Run(row.in);
    EXPECT_EQ(result.outcome, ExtensionOutcome::kDone);
    EXPECT_EQ(f.sink.lines, row.lines);
    ASSERT_EQ(f.host.writes.size(), 1u);
    EXPECT_EQ(f.host.writes[0], MakeFrame(row.code, row.payload));
    EXPECT_EQ(f.questions, row.code == 0x28 ? 1 : 0);
    // The pre-connect check passes the same inputs silently.
    EXPECT_TRUE(CheckLines(row.in, ExtensionOutcome::kDone).empty());
    if (row.code == 0x2C || row.code == 0x27) {
      EXPECT_EQ(result.lengthText, std::to_string(row.in.loaded->bytes.size()));
    } else {
      EXPECT_FALSE(result.lengthText);
    }
    if (row.code == 0x29) {
      EXPECT_EQ(result.dataText, "0xD3912DD4");
    } else {
      EXPECT_FALSE(result.dataText);
    }
  }
}

// Inputs refused before anything is sent, and the same lines from the
// pre-connect check.
TEST(ExtensionOperations, RefusedInputsSendNothing) {
  const char* kPageLength = "长度参数非法，请输入256的整数倍且大于256!";
  const char* kSectorLength = "长度参数非法，请输入4096的整数倍且大于4096!";
  const char* kPageTooLong = "长度参数非法，最大为65280!";
  const char* kSectorTooLong = "长度参数非法，最大为61440!";
  const char* kReadLength = "长度参数非法，请在1-256输入!";
  const char* kPage = "OTP 页数错误请在1-3输入!";
  const char* kOtpAddress = "OTP地址超出范围!";
  struct Row {
    const char* name;
    ExtensionInputs in;
    Lines lines;
  };
  const Row rows[] = {
      {"page 0", In(O::kPageErase, "0", "0"), {kPageLength}},
      {"page 255", In(O::kPageErase, "0", "255"), {kPageLength}},
      {"page 300", In(O::kPageErase, "0", "300"), {kPageLength}},
      {"page 257", In(O::kPageErase, "0", "257"), {kPageLength}},
      {"page hex length", In(O::kPageErase, "0", "0x100"), {kPageLength}},
      {"page empty length", In(O::kPageErase, "0", ""), {kPageLength}},
      {"sector 2048", In(O::kSectorErase, "0", "2048"), {kSectorLength}},
      {"sector 4097", In(O::kSectorErase, "0", "4097"), {kSectorLength}},
      // Multiples of the block size beyond the 16-bit field: sent, they would
      // erase their low 16 bits' worth (65792 as 256, 65536 as 0).
      {"page 65792", In(O::kPageErase, "0", "65792"), {kPageTooLong}},
      {"page 65536", In(O::kPageErase, "0", "65536"), {kPageTooLong}},
      {"page -65280, 0xFFFF0100 as a number", In(O::kPageErase, "0", "-65280"), {kPageTooLong}},
      {"page 65793: the block-size line first", In(O::kPageErase, "0", "65793"), {kPageLength}},
      {"sector 65536+4096", In(O::kSectorErase, "0", "69632"), {kSectorTooLong}},
      {"sector 65536", In(O::kSectorErase, "0", "65536"), {kSectorTooLong}},
      {"read 0", In(O::kReadFlash, "0", "0"), {kReadLength}},
      {"read 257", In(O::kReadFlash, "0", "257"), {kReadLength}},
      {"read hex length", In(O::kReadFlash, "0", "0x100"), {kReadLength}},
      {"write nothing loaded", In(O::kWriteFlash, "0"), {"选择要写入的文件"}},
      {"write 0 bytes", Loaded(In(O::kWriteFlash, "0"), 0), {kReadLength}},
      {"write 257 bytes", Loaded(In(O::kWriteFlash, "0"), 257), {kReadLength}},
      {"otp read 513", In(O::kReadOtp, "201", "4", "", 0), {kOtpAddress}},
      {"otp read no page", In(O::kReadOtp, "0", "4"), {"读取OTP!", kPage}},
      {"otp read page index 3", In(O::kReadOtp, "0", "4", "", 3), {"读取OTP!", kPage}},
      {"otp read 1017", In(O::kReadOtp, "0", "1017", "", 0), {"读取OTP!", "读取OTP长度参数非法，请在0-1016输入!"}},
      {"otp read 65540", In(O::kReadOtp, "0", "65540", "", 0), {"读取OTP!", "读取OTP长度参数非法，请在0-1016输入!"}},
      {"otp write 513 nothing loaded", In(O::kWriteOtp, "0x201", "", "", 0), {kOtpAddress}},
      {"otp write nothing loaded", In(O::kWriteOtp, "0", "", "", 0), {"选择要写入的文件"}},
      {"otp write no page", Loaded(In(O::kWriteOtp, "0"), 4), {"写入OTP!", kPage}},
      {"otp write 0 bytes", Loaded(In(O::kWriteOtp, "0", "", "", 0), 0), {"写入OTP!", "写入OTP长度参数非法，请在1-256输入!"}},
      {"otp write 257 bytes", Loaded(In(O::kWriteOtp, "0", "", "", 0), 257),
       {"写入OTP!", "写入OTP长度参数非法，请在1-256输入!"}},
      {"otp lock no page", In(O::kLockOtp), {"锁定OTP区域", kPage}},
      {"otp erase no page", In(O::kEraseOtp, "", "", "", -1), {"擦出OTP区域", kPage}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ExtensionFixture f;
    EXPECT_EQ(f.Run(row.in).outcome, ExtensionOutcome::kRefused);
    EXPECT_EQ(f.sink.lines, row.lines);
    EXPECT_TRUE(f.host.writes.empty());
    EXPECT_EQ(f.questions, 0);
    EXPECT_EQ(CheckLines(row.in, ExtensionOutcome::kRefused), row.lines);
  }
}

TEST(ExtensionOperations, BoundsThatPass) {
  struct Row {
    const char* name;
    ExtensionInputs in;
    size_t payloadSize;
  };
  const Row rows[] = {
      {"page 256", In(O::kPageErase, "0", "256"), 6},
      {"sector 4096", In(O::kSectorErase, "0", "4096"), 6},
      {"read 1", In(O::kReadFlash, "0", "1"), 6},
      {"read 256", In(O::kReadFlash, "0", "256"), 6},
      {"write 16", Loaded(In(O::kWriteFlash, "0"), 16), 22},
      {"write 256", Loaded(In(O::kWriteFlash, "0"), 256), 262},
      {"otp read at 512", In(O::kReadOtp, "200", "1016", "", 0), 7},
      {"otp read at 0x200", In(O::kReadOtp, "0x200", "1", "", 0), 7},
      {"otp write 256", Loaded(In(O::kWriteOtp, "0x200", "", "", 2), 256), 263},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ExtensionFixture f;
    f.chip.data[0x2D] = Bytes(256, 0x11);
    f.chip.data[0x26] = Bytes(1016, 0x22);
    EXPECT_EQ(f.Run(row.in).outcome, ExtensionOutcome::kDone);
    ASSERT_EQ(f.host.writes.size(), 1u);
    EXPECT_EQ(f.host.writes[0].size(), row.payloadSize + link::kFrameOverhead);
  }
}

// A failure status and silence look the same; each option's own line (or none).
TEST(ExtensionOperations, RefusedOrUnansweredCommands) {
  struct Row {
    const char* name;
    ExtensionInputs in;
    uint8_t code;
    Lines lines;
  };
  const Row rows[] = {
      {.name = "full erase", .in = In(O::kFullErase), .code = 0x20, .lines = {"正在全片擦出flash..."}},
      {.name = "page erase",
       .in = In(O::kPageErase, "0", "256"),
       .code = 0x2B,
       .lines = {"页擦出FLASH!", "地址：0x0x0", "大小：256Byte", "擦出falsh失败"}},
      {.name = "sector erase",
       .in = In(O::kSectorErase, "0", "4096"),
       .code = 0x30,
       .lines = {"块擦出FLASH!", "地址：0x0x0", "大小：4096Byte", "擦出falsh失败"}},
      {.name = "read flash",
       .in = In(O::kReadFlash, "0", "4"),
       .code = 0x2D,
       .lines = {"读取FLASH!", "地址：0x0x0", "大小：4Byte", "读取失败!"}},
      {.name = "write flash",
       .in = Loaded(In(O::kWriteFlash, "0"), 1),
       .code = 0x2C,
       .lines = {"写入FLASH!", "地址：0x0x0", "大小：1Byte", "写入falsh失败"}},
      {.name = "read register", .in = In(O::kReadRegister, "0"), .code = 0x29, .lines = {"读取寄存器!", "地址：0x0x0"}},
      {.name = "write register",
       .in = In(O::kWriteRegister, "0", "", "1"),
       .code = 0x2A,
       .lines = {"写入寄存器!", "地址：0x0x0", "值: 0x1"}},
      {.name = "read otp",
       .in = In(O::kReadOtp, "0", "4", "", 0),
       .code = 0x26,
       .lines = {"读取OTP!", "页数：1", "地址：0x0x0", "长度: 4Byte"}},
      {.name = "write otp",
       .in = Loaded(In(O::kWriteOtp, "0", "", "", 0), 1),
       .code = 0x27,
       .lines = {"写入OTP!", "写入OTP", "地址：0x0x0", "大小：1Byte", "写入OTP失败"}},
      {.name = "lock otp", .in = In(O::kLockOtp, "", "", "", 0), .code = 0x28, .lines = {"锁定OTP区域", "锁定OTP失败!"}},
      {.name = "erase otp", .in = In(O::kEraseOtp, "", "", "", 0), .code = 0x2F, .lines = {"擦出OTP区域", "擦出OTP失败!"}},
  };
  for (int answer : {0x01, testing::kSilent}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (answer == testing::kSilent ? " silent" : " refused"));
      ExtensionFixture f;
      f.chip.status[row.code] = answer;
      const ExtensionResult result = f.Run(row.in);
      EXPECT_EQ(result.outcome, ExtensionOutcome::kFailed);
      EXPECT_EQ(f.sink.lines, row.lines);
      EXPECT_EQ(f.host.writes.size(), 1u);
      EXPECT_FALSE(result.dataText);  // read register leaves the data edit alone
    }
  }
}

// A success status with fewer data bytes than asked for is a failure, never a
// dump of stale buffer bytes.
TEST(ExtensionOperations, ShortAnswersFail) {
  struct Row {
    const char* name;
    ExtensionInputs in;
    uint8_t code;
    Bytes answer;
    Lines lines;
  };
  const Row rows[] = {
      {.name = "read flash",
       .in = In(O::kReadFlash, "0", "4"),
       .code = 0x2D,
       .answer = {1, 2, 3},
       .lines = {"读取FLASH!", "地址：0x0x0", "大小：4Byte", "读取失败!"}},
      {.name = "read otp",
       .in = In(O::kReadOtp, "0", "4", "", 0),
       .code = 0x26,
       .answer = {1, 2},
       .lines = {"读取OTP!", "页数：1", "地址：0x0x0", "长度: 4Byte"}},
      {.name = "read register",
       .in = In(O::kReadRegister, "0"),
       .code = 0x29,
       .answer = {1, 2, 3},
       .lines = {"读取寄存器!", "地址：0x0x0"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ExtensionFixture f;
    // A longer earlier answer leaves bytes in the receive buffer that must not show.
    f.chip.data[row.code] = Bytes(8, 0xEE);
    (void)f.Run(row.in);
    f.sink.lines.clear();
    f.chip.data[row.code] = row.answer;
    const ExtensionResult result = f.Run(row.in);
    EXPECT_EQ(result.outcome, ExtensionOutcome::kFailed);
    EXPECT_EQ(f.sink.lines, row.lines);
    EXPECT_FALSE(result.dataText);
  }
}

TEST(ExtensionOperations, FullEraseTimesTheExchangeInMilliseconds) {
  ExtensionFixture f;
  f.chip.delay = 2531000;
  EXPECT_EQ(f.Run(In(O::kFullErase, "1", "2", "3")).outcome, ExtensionOutcome::kDone);
  EXPECT_EQ(f.sink.lines, (Lines{"正在全片擦出flash...", "擦出flash完成!", "擦出耗时:2.5310s"}));
  EXPECT_EQ(f.host.writes[0], MakeFrame(0x20, {0x00}));
}

TEST(ExtensionOperations, LockNeedsAnExplicitOk) {
  ExtensionFixture f;
  f.confirmAnswer = false;
  EXPECT_EQ(f.Run(In(O::kLockOtp, "", "", "", 0)).outcome, ExtensionOutcome::kCancelled);
  EXPECT_EQ(f.sink.lines, Lines{"锁定OTP区域"});
  EXPECT_EQ(f.questions, 1);
  EXPECT_TRUE(f.host.writes.empty());

  ExtensionFixture noQuestion;  // nobody to ask is a Cancel
  EXPECT_EQ(RunExtensionOperation(noQuestion.link, In(O::kLockOtp, "", "", "", 0), {}).outcome,
            ExtensionOutcome::kCancelled);
  EXPECT_EQ(noQuestion.sink.lines, Lines{"锁定OTP区域"});
  EXPECT_TRUE(noQuestion.host.writes.empty());

  // Asked before connecting: a Cancel logs the lines up to the question.
  testing::RecordingSink sink;
  log::Log log(sink);
  EXPECT_EQ(CheckExtensionInputs(In(O::kLockOtp, "", "", "", 1), log, [] { return false; }),
            ExtensionOutcome::kCancelled);
  EXPECT_EQ(sink.lines, Lines{"锁定OTP区域"});
  sink.lines.clear();
  EXPECT_EQ(CheckExtensionInputs(In(O::kLockOtp, "", "", "", 1), log, [] { return true; }), ExtensionOutcome::kDone);
  EXPECT_TRUE(sink.lines.empty());
}

TEST(ExtensionOperations, LoadedDataIsNotConsumed) {
  ExtensionFixture f;
  const ExtensionInputs in = Loaded(In(O::kWriteFlash, "0"), 2, 7);
  EXPECT_EQ(f.Run(in).outcome, ExtensionOutcome::kDone);
  EXPECT_EQ(f.Run(in).outcome, ExtensionOutcome::kDone);
  ASSERT_EQ(f.host.writes.size(), 2u);
  EXPECT_EQ(f.host.writes[0], f.host.writes[1]);
}

}  // namespace
}  // namespace corvel::tools
