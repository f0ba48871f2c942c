// The extension area's commands end to end: the real corvel-dl against a
// simulated chip on a pseudo-terminal, several commands in a row on one chip.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "sim/pty_server.h"
#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using Lines = std::vector<std::string>;
using testing::Tool;

using testing::SplitLines;

// One simulated chip kept across the commands of a test, answering at once.
struct ExtensionChip : testing::SimChip {

  // Runs one command; returns its stdout lines between connect and disconnect.
  Lines Run(std::vector<std::string> args, int expectedStatus) {
    args.insert(args.begin(), {"-p", path});
    Tool tool(args);
    const int status = tool.Wait();
    EXPECT_EQ(status, expectedStatus) << args[2] << "\n" << tool.out() << tool.err();
    Lines lines = SplitLines(tool.out());
    EXPECT_GE(lines.size(), 3u) << tool.out();
    if (lines.size() < 3) return lines;
    EXPECT_EQ(lines[0], "正在连接芯片,请执行复位.....");
    EXPECT_EQ(lines[1], "芯片连接成功!");
    const auto disconnected = std::find(lines.begin(), lines.end(), "芯片断开连接!");
    EXPECT_NE(disconnected, lines.end());
    Lines operation(lines.begin() + 2, disconnected);
    // read-reg's value line comes after the disconnect line.
    if (disconnected != lines.end()) operation.insert(operation.end(), disconnected + 1, lines.end());
    return operation;
  }

};

TEST(ExtensionCommands, WriteFlashThenReadItBack) {
  ExtensionChip chip;
  const testing::TempDir dir;
  const std::string file = dir.Write("x.cfg", "01 02\nA0 FF\n");
  EXPECT_EQ(chip.Run({"write-flash", "60000", file}, 0),
            (Lines{"写入FLASH!", "地址：0x0x60000", "大小：4Byte", "写入flash成功"}));
  EXPECT_EQ(chip.Run({"read-flash", "60000", "4"}, 0),
            (Lines{"读取FLASH!", "地址：0x0x60000", "大小：4Byte", "读取到的内容：01 02 A0 FF "}));
  EXPECT_EQ(chip.Run({"page-erase", "0x60000", "256"}, 0),
            (Lines{"页擦出FLASH!", "地址：0x0x60000", "大小：256Byte", "擦出flash成功"}));
  EXPECT_EQ(chip.Run({"read-flash", "60000", "2"}, 0),
            (Lines{"读取FLASH!", "地址：0x0x60000", "大小：2Byte", "读取到的内容：FF FF "}));
}

TEST(ExtensionCommands, WriteRegisterThenReadIt) {
  ExtensionChip chip;
  EXPECT_EQ(chip.Run({"write-reg", "40000010", "0xd3912dd4"}, 0),
            (Lines{"写入寄存器!", "地址：0x0x40000010", "值: 0xd3912dd4", "写入成功!"}));
  EXPECT_EQ(chip.Run({"read-reg", "0x40000010"}, 0), (Lines{"读取寄存器!", "地址：0x0x40000010", "0xD3912DD4"}));
}

TEST(ExtensionCommands, OtpWriteReadLockThenTheLockedPageRefusesWrites) {
  ExtensionChip chip;
  const testing::TempDir dir;
  const std::string file = dir.Write("x.cfg", "C0FFEE");
  EXPECT_EQ(chip.Run({"otp-write", "2", "10", file}, 0),
            (Lines{"写入OTP!", "写入OTP", "地址：0x0x10", "大小：3Byte", "写入OTP成功"}));
  EXPECT_EQ(chip.Run({"otp-read", "2", "0x10", "4"}, 0),
            (Lines{"读取OTP!", "页数：2", "地址：0x0x10", "长度: 4Byte", "读取到的内容：C0 FF EE FF "}));
  EXPECT_EQ(chip.Run({"otp-lock", "2", "--yes"}, 0), (Lines{"锁定OTP区域", "锁定OTP成功!"}));
  EXPECT_EQ(chip.Run({"otp-write", "2", "10", file}, 1),
            (Lines{"写入OTP!", "写入OTP", "地址：0x0x10", "大小：3Byte", "写入OTP失败"}));
  EXPECT_EQ(chip.Run({"otp-erase", "2"}, 1), (Lines{"擦出OTP区域", "擦出OTP失败!"}));
  EXPECT_EQ(chip.Run({"otp-erase", "3"}, 0), (Lines{"擦出OTP区域", "擦出OTP成功!"}));
}

// A 0X prefix means what it plainly says on the command line (the window's
// box reads it as 0), and 8 digits or a bare 0 are whole arguments.
TEST(ExtensionCommands, AcceptedArgumentFormsReadTheNumberTheyMean) {
  ExtensionChip chip;
  const testing::TempDir dir;
  const std::string file = dir.Write("x.cfg", "5A A5");
  struct Row {
    std::vector<std::string> args;
    Lines lines;
  };
  const std::vector<Row> rows = {
      {{"write-flash", "0X60000", file}, {"写入FLASH!", "地址：0x0x60000", "大小：2Byte", "写入flash成功"}},
      {{"read-flash", "0x60000", "02"}, {"读取FLASH!", "地址：0x0x60000", "大小：02Byte", "读取到的内容：5A A5 "}},
      {{"otp-read", "3", "0x0", "1"}, {"读取OTP!", "页数：3", "地址：0x0x0", "长度: 1Byte", "读取到的内容：FF "}},
      {{"write-reg", "40000010", "0XD3912DD4"}, {"写入寄存器!", "地址：0x0x40000010", "值: 0xD3912DD4", "写入成功!"}},
      {{"read-reg", "0x40000010"}, {"读取寄存器!", "地址：0x0x40000010", "0xD3912DD4"}},
      {{"otp-read", "1", "0X10", "2"}, {"读取OTP!", "页数：1", "地址：0x0x10", "长度: 2Byte", "读取到的内容：FF FF "}},
  };
  for (const Row& row : rows) EXPECT_EQ(chip.Run(row.args, 0), row.lines) << row.args[0] << " " << row.args[1];
}

TEST(ExtensionCommands, FullEraseReportsItsTime) {
  ExtensionChip chip;
  const Lines lines = chip.Run({"full-erase"}, 0);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "正在全片擦出flash...");
  EXPECT_EQ(lines[1], "擦出flash完成!");
  // "擦出耗时:" then the seconds with four decimals, then "s".
  const std::string prefix = "擦出耗时:";
  ASSERT_EQ(lines[2].rfind(prefix, 0), 0u) << lines[2];
  const std::string seconds = lines[2].substr(prefix.size());
  const size_t dot = seconds.find('.');
  ASSERT_NE(dot, std::string::npos) << lines[2];
  EXPECT_EQ(seconds.size(), dot + 6) << lines[2];
  EXPECT_EQ(seconds.back(), 's');
  EXPECT_EQ(seconds.find_first_not_of("0123456789"), dot) << lines[2];
}

// Refused inputs and a lock nobody can confirm: the lines on stdout, a
// message on stderr naming what was refused, and not a single byte reaches
// the chip. The shared checks run first and keep their lines; the whole
// reading of the arguments refuses what those checks let through.
TEST(ExtensionCommands, RefusedInputsSendNothing) {
  const testing::TempDir dir;
  const std::string empty = dir.Write("empty.cfg", " \n");
  const std::string four = dir.Write("four.cfg", "01020304");
  struct Row {
    std::vector<std::string> args;
    int status;
    Lines lines;
    std::string err;  // a fragment of stderr; empty: not checked
  };
  const std::vector<Row> rows = {
      {{"page-erase", "0", "255"}, 2, {"长度参数非法，请输入256的整数倍且大于256!"}, ""},
      {{"page-erase", "0", "0x100"}, 2, {"长度参数非法，请输入256的整数倍且大于256!"}, ""},
      {{"sector-erase", "0", "4097"}, 2, {"长度参数非法，请输入4096的整数倍且大于4096!"}, ""},
      {{"read-flash", "0", "257"}, 2, {"长度参数非法，请在1-256输入!"}, ""},
      {{"read-flash", "1000", "-4"}, 2, {"长度参数非法，请在1-256输入!"}, ""},
      {{"write-flash", "0", empty}, 2, {"长度参数非法，请在1-256输入!"}, ""},
      {{"otp-read", "1", "201", "4"}, 2, {"OTP地址超出范围!"}, ""},
      {{"otp-read", "4", "0", "4"}, 2, {"读取OTP!", "OTP 页数错误请在1-3输入!"}, ""},
      {{"otp-read", "1", "0", "1017"}, 2, {"读取OTP!", "读取OTP长度参数非法，请在0-1016输入!"}, ""},
      {{"otp-write", "0", "0", four}, 2, {"写入OTP!", "OTP 页数错误请在1-3输入!"}, ""},
      {{"otp-write", "1", "0", empty}, 2, {"写入OTP!", "写入OTP长度参数非法，请在1-256输入!"}, ""},
      {{"otp-erase", "x"}, 2, {"擦出OTP区域", "OTP 页数错误请在1-3输入!"}, ""},
      // The shared reading takes these as some other number.
      {{"read-flash", "zz", "4"}, 2, {}, "参数ADDR非法: \"zz\""},
      {{"write-reg", "0", "xyz"}, 2, {}, "参数VALUE非法: \"xyz\""},
      {{"write-reg", "123456789", "0"}, 2, {}, "参数ADDR非法: \"123456789\""},
      {{"write-reg", "0", "0x1FFFFFFFF"}, 2, {}, "参数VALUE非法"},
      {{"read-reg", "0x"}, 2, {}, "参数ADDR非法"},
      {{"read-reg", "-1"}, 2, {}, "参数ADDR非法"},
      {{"read-flash", "1000", "4x"}, 2, {}, "参数LEN非法: \"4x\""},
      {{"sector-erase", "1000", "+4096"}, 2, {}, "参数LEN非法"},
      {{"otp-write", "1", "1O", four}, 2, {}, "参数ADDR非法"},
      // No terminal (stderr is a pipe here) and no --yes.
      {{"otp-lock", "1"}, 2, {"锁定OTP区域"}, "--yes"},
  };
  ExtensionChip chip;
  for (const Row& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), {"-p", chip.path});
    Tool tool(args);
    EXPECT_EQ(tool.Wait(), row.status) << row.args[0] << " " << row.args[1];
    EXPECT_EQ(SplitLines(tool.out()), row.lines) << row.args[0] << " " << row.args[1];
    EXPECT_NE(tool.err().find(row.err), std::string::npos) << row.args[1] << ": " << tool.err();
  }
  Tool missing({"-p", chip.path, "otp-write", "1", "0", "/nonexistent/corvel.cfg"});
  EXPECT_EQ(missing.Wait(), 2);
  EXPECT_EQ(missing.out(), "");
  EXPECT_NE(missing.err().find("/nonexistent/corvel.cfg"), std::string::npos) << missing.err();

  EXPECT_EQ(chip.BytesReceived(), 0u);
  const bool locked = chip.server.WithModel([](sim::ChipModel& m) { return m.memory().otpLocked[0]; });
  EXPECT_FALSE(locked);
}

}  // namespace
}  // namespace corvel::cli
