// The command line's contract, end to end: the real corvel-dl against a
// simulated chip on a pseudo-terminal. stdout lines, exit status, files.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/crc16.h"
#include "serial/open_failure.h"
#include "sim/line_garble.h"
#include "sim/pty_server.h"
#include "tests/support/hex_writer.h"
#include "tests/support/pty_pair.h"
#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using testing::SimChip;
using testing::Tool;

std::vector<std::string> Lines(const std::string& text) { return testing::SplitLines(text); }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<std::string> kConnected = {"正在连接芯片,请执行复位.....", "芯片连接成功!"};

TEST(ChipCommands, InformationCommandsPrintTheirLinesBetweenConnectAndDisconnect) {
  struct Row {
    const char* command;
    std::vector<std::string> lines;
  };
  const std::vector<Row> rows = {
      {"mac", {"蓝牙MAC：0x2B8012345678"}},
      {"info",
       {"芯片信息如下：", "芯片序号 :0x12345678", "芯片标识 :0x0C0B1E51", "Boot版本 :V1.2", "App_Vaild:0xD3912DD4(有效)",
        "App_Crc  :0x74A5", "App_Size :2.048KByte", "App_Name :DEMO", "Stack_Vaild:0xD3912DD4(有效)",
        "Stack_Crc  :0x93AA", "Stack_Size :4.096KByte", "Stack_Name :STK1", "Ota_Vaild:0xFFFFFFFF(无效)",
        "Ota_Crc  :0xFFFF", "Ota_Size :4294967.295KByte", "Ota_Name :\uFFFD\uFFFD\uFFFD\uFFFD"}},
  };
  for (const Row& row : rows) {
    SimChip chip;
    Tool tool({"-p", chip.path, row.command});
    EXPECT_EQ(tool.Wait(), 0) << row.command << tool.err();
    std::vector<std::string> expected = kConnected;
    expected.insert(expected.end(), row.lines.begin(), row.lines.end());
    expected.push_back("芯片断开连接!");
    EXPECT_EQ(Lines(tool.out()), expected) << row.command;
  }
  SimChip chip;
  Tool factory({"factory", "-p", chip.path});
  EXPECT_EQ(factory.Wait(), 0);
  const auto lines = Lines(factory.out());
  ASSERT_EQ(lines.size(), 2u + 1 + 64 + 1);
  EXPECT_EQ(lines[2], "出厂信息如下：");
  EXPECT_EQ(lines[3 + 0x48 / 4], "78 56 34 12 ");
}

TEST(ChipCommands, ReadPartWritesAFileThatLoadsBackToTheSameRecord) {
  SimChip chip;
  testing::TempDir dir;
  const std::string file = dir.Path("part.cfg");
  Tool read({"-p", chip.path, "read-part", "-o", file});
  EXPECT_EQ(read.Wait(), 0) << read.err();
  EXPECT_EQ(Lines(read.out()), (std::vector<std::string>{kConnected[0], kConnected[1], "芯片断开连接!"}));
  const std::string written = ReadAll(file);
  EXPECT_EQ(written, ReadAll(std::string(CORVEL_EXAMPLES) + "/ble_part_config.cfg"));

  // Writing it back through download gives the chip the same bytes.
  auto record = [&chip] {
    return chip.server.WithModel(
        [](sim::ChipModel& m) { return std::vector<uint8_t>(m.memory().flash.begin(), m.memory().flash.begin() + 52); });
  };
  const std::vector<uint8_t> before = record();
  Tool write({"-p", chip.path, "download", "--part", file});
  EXPECT_EQ(write.Wait(), 0) << write.err();
  EXPECT_EQ(record(), before);
}

// A temporary folder with an application image of `size` bytes as Intel HEX.
struct HexFixture {
  explicit HexFixture(size_t size) : image(size) {
    uint32_t x = 12345;
    for (auto& b : image) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    hex = dir.Write("app100k.hex", testing::HexText(image));
  }
  testing::TempDir dir;
  std::vector<uint8_t> image;
  std::string hex;
};

TEST(ChipCommands, DownloadedApplicationShowsInTheImageRecord) {
  HexFixture app(100 * 1024);
  SimChip chip;
  Tool download({"-p", chip.path, "download", "--app", app.hex});
  EXPECT_EQ(download.Wait(), 0) << download.err();
  EXPECT_NE(download.out().find("文件传输结束:编程成功!\n下载耗时:"), std::string::npos) << download.out();

  Tool info({"-p", chip.path, "info"});
  EXPECT_EQ(info.Wait(), 0);
  char crc[32];
  std::snprintf(crc, sizeof crc, "App_Crc  :0x%04X\n", link::Crc16(app.image.data(), static_cast<uint32_t>(app.image.size())));
  EXPECT_NE(info.out().find(std::string("App_Vaild:0xD3912DD4(有效)\n") + crc + "App_Size :102.400KByte\nApp_Name :100k\n"),
            std::string::npos)
      << info.out();
}

TEST(ChipCommands, DamagedHexExitsTwoWithNothingSent) {
  HexFixture app(1024);
  std::string text;
  {
    std::ifstream in(app.hex);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  text[text.find('\n') - 1] ^= 1;  // the first record's checksum is off by one
  std::ofstream(app.hex, std::ios::trunc) << text;
  SimChip chip;
  Tool tool({"-p", chip.path, "download", "--app", app.hex});
  EXPECT_EQ(tool.Wait(), 2);
  EXPECT_EQ(tool.out(), "");
  EXPECT_NE(tool.err().find("第1行"), std::string::npos) << tool.err();
  EXPECT_EQ(chip.server.WithModel([](sim::ChipModel& m) { return m.BytesReceived(); }), 0u);
}

TEST(ChipCommands, SpeedUpSwitchesToTheRateOrTwiceItAfterAHandshakeAt230400) {
  // Paced: a wrong rate on either side garbles the line and the run fails.
  for (const char* baud : {"115200", "230400"}) {
    SimChip chip({}, /*pace=*/true);
    Tool tool({"-p", chip.path, "-b", baud, "download", "--speedup", "500000", "--user",
               std::string(CORVEL_EXAMPLES) + "/user_data.cfg"});
    EXPECT_EQ(tool.Wait(), 0) << baud << "\n" << tool.out() << tool.err();
    EXPECT_NE(tool.out().find("文件传输结束:编程成功!"), std::string::npos) << baud;
  }
}

TEST(ChipCommands, WrongPasswordIsRefusedWithTheDisconnectFrame) {
  sim::ModelOptions model;
  model.password = 0x12345678;
  SimChip chip(model);
  Tool tool({"-p", chip.path, "--password", "87654321", "--pkt", "info"});
  EXPECT_EQ(tool.Wait(), 3);
  const auto lines = Lines(tool.out());
  ASSERT_EQ(lines.size(), 6u) << tool.out();
  EXPECT_EQ(lines[0], "正在连接芯片,请执行复位.....");
  EXPECT_EQ(lines[1], "TX: 81 11 00 04 21 43 65 87 16 AB 18 ");
  EXPECT_EQ(lines[2], "RX: 81 11 00 01 00 5E 22 18 ");
  EXPECT_EQ(lines[3], "芯片连接失败!");
  EXPECT_EQ(lines[4], "TX: 81 12 00 01 00 C5 FE 18 ");
  EXPECT_EQ(lines[5], "RX: 81 12 00 01 00 C5 FE 18 ");  // the boot loader's answer, still in framed mode
  EXPECT_EQ(tool.err(), "芯片拒绝了握手密码87654321，请检查密码\n");

  Tool right({"-p", chip.path, "--password", "0x12345678", "mac"});
  EXPECT_EQ(right.Wait(), 0);
}

TEST(ChipCommands, SilentChipStopsAfterTheSyncTimeoutHavingSentOnlyBursts) {
  sim::ModelOptions model;
  model.syncAfterBursts = 1000000;
  SimChip chip(model);
  const auto start = std::chrono::steady_clock::now();
  Tool tool({"-p", chip.path, "--sync-timeout", "1", "info"});
  EXPECT_EQ(tool.Wait(), 3);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 1.0);
  EXPECT_LT(seconds, 3.0);
  EXPECT_EQ(Lines(tool.out()), (std::vector<std::string>{"正在连接芯片,请执行复位.....", "停止连接芯片!"}));
  EXPECT_EQ(chip.FramesReceived(), 0u);
}

// The far end of a pseudo-terminal that keeps sending `chunk` (nothing when
// empty) and reads what the tool writes, until it is destroyed. It keeps
// sending because the port drops what came before it opened and purges its
// input before each burst.
class FarEnd {
 public:
  FarEnd(testing::PtyPair& pty, std::vector<uint8_t> chunk)
      : thread_([this, &pty, chunk = std::move(chunk)] {
          uint8_t drained[4096];
          while (!stop_) {
            if (!chunk.empty()) (void)pty.Write(chunk.data(), chunk.size(), 100);
            pollfd p{pty.master(), POLLIN, 0};
            if (poll(&p, 1, 20) > 0) (void)read(pty.master(), drained, sizeof drained);
          }
        }) {}
  ~FarEnd() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(ChipCommands, AnAttemptWithoutSyncSaysOnStderrWhatItHeard) {
  const std::string console = "CV-BLE app v2.1\r\nadv started, interval 100 ms\r\n";
  std::vector<uint8_t> noise;
  sim::GarbleLine(reinterpret_cast<const uint8_t*>(console.data()), console.size(), 115200, 460800, noise);
  struct Row {
    const char* name;
    std::vector<uint8_t> chunk;
    const char* baud;
    std::string hint;
  };
  const std::vector<Row> rows = {
      {"silent", {}, "115200", "波特率115200下未收到芯片的任何数据，请检查TX/RX是否交叉连接、GND、供电和复位线"},
      {"console text", {console.begin(), console.end()}, "115200",
       "波特率115200下收到芯片的文本输出，芯片可能正在运行应用程序: 请复位芯片，或检查RTS是否接到芯片的复位脚"},
      {"a 115200 console at 460800", noise, "460800",
       "波特率460800下收到无法识别的数据，芯片可能使用其他波特率，或线路上有干扰"},
  };
  for (const Row& row : rows) {
    testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    FarEnd far(pty, row.chunk);
    Tool tool({"--sync-timeout", "0.3", "-b", row.baud, "-p", pty.path(), "info"});
    EXPECT_EQ(tool.Wait(), 3) << row.name;
    EXPECT_EQ(tool.out(), "正在连接芯片,请执行复位.....\n停止连接芯片!\n") << row.name;
    EXPECT_EQ(tool.err(), row.hint + "\n") << row.name;
  }
}

TEST(ChipCommands, UsageAndPortErrorsSendNothing) {
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string err;
  };
  // The cause line lists this machine's ports, so it is made as the tool makes it.
  const std::string missingPort = "没有发现此串口或被占用\n" +
                                  serial::DescribeOpenFailure("/dev/corvel-no-such-port", {ErrorKind::kNotFound, ""}) +
                                  "\n";
  const std::vector<Row> rows = {
      {{"-p", "/dev/corvel-no-such-port", "info"}, 3, missingPort},
      {{"info"}, 2, "需要 -p PORT (串口设备) 或 --sim\n"},
      {{"-p", "/dev/null", "download"}, 2, "请勾选下载类型!\n"},
      {{"-p", "/dev/null", "download", "--app", "/nonexistent/app.hex"}, 2, ""},
      {{"no-such-command"}, 2, ""},
  };
  for (const Row& row : rows) {
    Tool tool(row.args);
    EXPECT_EQ(tool.Wait(), row.status) << row.args.back();
    EXPECT_EQ(tool.out(), "") << row.args.back();
    if (!row.err.empty()) {
      EXPECT_EQ(tool.err(), row.err);
    }
  }
}

TEST(ChipCommands, FrameEchoShowsEveryFrameInOrder) {
  SimChip chip;
  Tool tool({"--pkt", "-p", chip.path, "mac"});
  EXPECT_EQ(tool.Wait(), 0);
  const auto lines = Lines(tool.out());
  const std::vector<std::string> expected = {
      "正在连接芯片,请执行复位.....",
      "TX: 81 11 00 04 FF FF FF FF 9F D3 18 ",
      "RX: 81 11 00 01 20 7A 40 18 ",
      "芯片连接成功!",
      "TX: 81 81 00 01 00 98 BD 18 ",
      "TX: 81 26 00 07 01 04 00 48 00 00 00 D8 35 18 ",
      "RX: 81 26 00 05 00 78 56 34 12 68 58 18 ",
      "蓝牙MAC：0x2B8012345678",
      "芯片断开连接!",
      "TX: 81 12 00 01 00 C5 FE 18 ",
  };
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace corvel::cli
