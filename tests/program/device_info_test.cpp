#include "program/device_info.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/command_codes.h"
#include "tests/support/fake_host.h"
#include "tests/support/scripted_chip.h"

namespace corvel::program {
namespace {

using testing::Bytes;

// OTP page 1, three image records and the identity answers.
struct InfoFixture : testing::ConnectedLinkFixture {
  InfoFixture() {
    chip.otp[1].Write(0, Bytes(256, 0xEE));
    chip.otp[1].Write(0x48, {0x78, 0x56, 0x34, 0x12});
    chip.flash.Write(0x400, {0xD4, 0x2D, 0x91, 0xD3, 0x34, 0x12, 0, 0, 0x00, 0x20, 0x03, 0x00, 'A', 'P', 0, 'X'});
    chip.flash.Write(0x300, Bytes(16, 0xFF));
    chip.flash.Write(0x200, Bytes(16, 0x00));
    chip.data = {{link::cmd::kChipId, {0x01, 0x00, 0x83, 0x09}}, {link::cmd::kBootVersion, {1, 2}}};
    chip.delay = 500;
  }
  testing::ScriptedChip chip{host};
};

TEST(DeviceInfo, ChipInfoLines) {
  InfoFixture f;
  ChipIdentity identity;
  EXPECT_TRUE(ReadChipInfo(f.link, &identity));
  EXPECT_EQ(identity.serial, 0x12345678u);
  EXPECT_EQ(identity.chipId, 0x09830001u);
  EXPECT_EQ(identity.bootVersion, "V1.2");
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
  f.chip.status = {{0x26, 0x05}, {0x13, testing::kSilent}};
  ChipIdentity identity;
  EXPECT_FALSE(ReadChipInfo(f.link, &identity));
  // Only what was logged is handed back.
  EXPECT_EQ(identity.serial, std::nullopt);
  EXPECT_EQ(identity.chipId, 0x09830001u);
  EXPECT_EQ(identity.bootVersion, std::nullopt);
  ASSERT_GE(f.sink.lines.size(), 3u);
  EXPECT_EQ(f.sink.lines[0], "芯片信息如下：");
  EXPECT_EQ(f.sink.lines[1], "芯片标识 :0x09830001");
  EXPECT_EQ(f.sink.lines[2], "App_Vaild:0xD3912DD4(有效)");
  EXPECT_EQ(f.sink.lines.size(), 2u + 12u);
}

TEST(DeviceInfo, FactoryDumpAndMac) {
  InfoFixture f;
  f.chip.otp[1].Write(0, {0, 1, 2, 3, 4, 5, 6, 7});
  EXPECT_TRUE(ReadFactoryInfo(f.link));
  ASSERT_EQ(f.sink.lines.size(), 65u);
  EXPECT_EQ(f.sink.lines[0], "出厂信息如下：");
  EXPECT_EQ(f.sink.lines[1], "00 01 02 03 ");
  EXPECT_EQ(f.sink.lines[2], "04 05 06 07 ");
  EXPECT_EQ(f.sink.lines[19], "78 56 34 12 ");

  f.sink.lines.clear();
  f.chip.otp[1].Write(0x4B, {0x02});  // leading zero digits stay
  EXPECT_TRUE(ReadMac(f.link));
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"蓝牙MAC：0x2B8002345678"}));
  EXPECT_EQ(f.host.writes.back(), testing::MakeFrame(0x26, {0x01, 0x04, 0x00, 0x48, 0x00, 0x00, 0x00}));
}

TEST(DeviceInfo, RefusedOrShortAnswers) {
  InfoFixture f;
  f.chip.status = {{0x26, 0x01}};
  EXPECT_FALSE(ReadFactoryInfo(f.link));
  EXPECT_FALSE(ReadMac(f.link));
  EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"读取OTP失败!"}));

  InfoFixture shortAnswer;
  shortAnswer.chip.data[0x26] = {0x11, 0x22};
  EXPECT_FALSE(ReadMac(shortAnswer.link));  // two bytes where four were asked for: never read stale ones
  EXPECT_TRUE(shortAnswer.sink.lines.empty());
}

}  // namespace
}  // namespace corvel::program
