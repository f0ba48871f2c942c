#include "program/device_info.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/fake_host.h"

namespace corvel::program {
namespace {

using testing::Bytes;
using testing::MakeResponse;

// A scripted chip: OTP page 1, three image records and the identity answers.
struct InfoFixture : testing::ConnectedLinkFixture {
  InfoFixture() : otp(256, 0xEE) {
    otp[0x48] = 0x78, otp[0x49] = 0x56, otp[0x4A] = 0x34, otp[0x4B] = 0x12;
    records[0x400] = {0xD4, 0x2D, 0x91, 0xD3, 0x34, 0x12, 0, 0, 0x00, 0x20, 0x03, 0x00, 'A', 'P', 0, 'X'};
    records[0x300] = Bytes(16, 0xFF);
    records[0x200] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    host.onWrite = [this](const Bytes& w) {
      const uint8_t code = w[1];
      if (refuse.count(code)) {
        if (refuse[code] >= 0) host.Reply(MakeResponse(code, static_cast<uint8_t>(refuse[code])), 500);
        return;
      }
      Bytes data;
      if (code == 0x26) {
        const size_t length = w[5] | w[6] << 8;
        const size_t address = w[7] | w[8] << 8;
        data.assign(otp.begin() + static_cast<long>(address), otp.begin() + static_cast<long>(address + length));
      } else if (code == 0x15) {
        data = {0x01, 0x00, 0x83, 0x09};
      } else if (code == 0x13) {
        data = {1, 2};
      } else if (code == 0x2D) {
        data = records[w[4] | w[5] << 8 | w[6] << 16];
      }
      host.Reply(MakeResponse(code, 0x00, data), 500);
    };
  }
  Bytes otp;
  std::map<uint32_t, Bytes> records;
  std::map<uint8_t, int> refuse;  // code -> status, -1 silent
};

TEST(DeviceInfo, ChipInfoLines) {
  InfoFixture f;
  EXPECT_TRUE(ReadChipInfo(f.link));
  const std::vector<std::string> expected = {
      "芯片信息如下：",
      "芯片序号 :0x12345678",
      "芯片标识 :0x09830001",
      "Boot版本 :V1.2",
      "App_Vaild:0xD3912DD4(有效)",
      "App_Crc  :0x1234",
      "App_Size :204.800KByte",
      "App_Name :APX",  // a zero byte adds nothing
      "Stack_Vaild:0xFFFFFFFF(无效)",
      "Stack_Crc  :0xFFFF",
      "Stack_Size :4294967.295KByte",
      "Stack_Name :\uFFFD\uFFFD\uFFFD\uFFFD",  // erased bytes are no characters
      "Ota_Vaild:0x00000000(无效)",
      "Ota_Crc  :0x0000",
      "Ota_Size :0.000KByte",
      "Ota_Name :",
  };
  EXPECT_EQ(f.sink.lines, expected);
}

TEST(DeviceInfo, FailedStepsAreSkippedAndTheRestRun) {
  InfoFixture f;
  f.refuse = {{0x26, 0x05}, {0x13, -1}};
  EXPECT_FALSE(ReadChipInfo(f.link));
  ASSERT_GE(f.sink.lines.size(), 3u);
  EXPECT_EQ(f.sink.lines[0], "芯片信息如下：");
  EXPECT_EQ(f.sink.lines[1], "芯片标识 :0x09830001");
  EXPECT_EQ(f.sink.lines[2], "App_Vaild:0xD3912DD4(有效)");
  EXPECT_EQ(f.sink.lines.size(), 2u + 12u);
}

TEST(DeviceInfo, FactoryDumpAndMac) {
  InfoFixture f;
  for (size_t i = 0; i < 8; ++i) f.otp[i] = static_cast<uint8_t>(i);
  EXPECT_TRUE(ReadFactoryInfo(f.link));
  ASSERT_EQ(f.sink.lines.size(), 65u);
  EXPECT_EQ(f.sink.lines[0], "出厂信息如下：");
  EXPECT_EQ(f.sink.lines[1], "00 01 02 03 ");
  EXPECT_EQ(f.sink.lines[2], "04 05 06 07 ");
  EXPECT_EQ(f.sink.lines[19], "78 56 34 12 ");

  f.sink.lines.clear();
  f.otp[0x4B] = 0x02;  // leading zero digits stay
  EXPECT_TRUE(ReadMac(f.link));
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"蓝牙MAC：0x2B8002345678"}));
  EXPECT_EQ(f.host.writes.back(), testing::MakeFrame(0x26, {0x01, 0x04, 0x00, 0x48, 0x00, 0x00, 0x00}));
}

TEST(DeviceInfo, RefusedOrShortAnswers) {
  InfoFixture f;
  f.refuse = {{0x26, 0x01}};
  EXPECT_FALSE(ReadFactoryInfo(f.link));
  EXPECT_FALSE(ReadMac(f.link));
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"读取OTP失败!"}));

  InfoFixture shortAnswer;
  shortAnswer.host.onWrite = [&](const Bytes& w) { shortAnswer.host.Reply(MakeResponse(w[1], 0x00, {0x11, 0x22}), 500); };
  EXPECT_FALSE(ReadMac(shortAnswer.link));  // two bytes where four were asked for: never read stale ones
  EXPECT_TRUE(shortAnswer.sink.lines.empty());
}

}  // namespace
}  // namespace corvel::program
