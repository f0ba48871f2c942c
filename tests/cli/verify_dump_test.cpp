// Reading flash back, end to end: download --verify, verify and dump with the
// real corvel-dl against a simulated chip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "program/hex_reader.h"
#include "sim/chip_memory.h"
#include "sim/faults.h"
#include "tests/support/hex_writer.h"
#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using testing::SimChip;
using testing::Tool;

constexpr uint32_t kAppAddr = sim::PartitionRecord{}.AppAddr;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// An application image of `size` bytes as Intel HEX, and user data, in a folder of their own.
struct Images {
  explicit Images(size_t size) : app(size) {
    uint32_t x = 99;
    for (auto& b : app) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    app[100] |= 0x01;  // where the stuck-bit tests pull a bit down
    hex = dir.Write("app.hex", testing::HexText(app));
    user = dir.Write("user.cfg", "01 02 03 04");
  }
  testing::TempDir dir;
  std::vector<uint8_t> app;
  std::string hex;
  std::string user;
};

SimChip* WithFault(SimChip& chip, const char* fault) {
  chip.server.WithModel([fault](sim::ChipModel& m) { EXPECT_TRUE(sim::ParseFault(fault, m.faults()).ok()); });
  return &chip;
}

TEST(VerifyAndDump, DownloadVerifyAndVerifyPassOnAChipThatHoldsTheImage) {
  Images images(5000);
  SimChip chip;
  Tool download({"-p", chip.path, "download", "--verify", "--app", images.hex, "--user", images.user});
  EXPECT_EQ(download.Wait(), 0) << download.out() << download.err();
  // Each image checked right after it was programmed, before the next.
  const std::string out = download.out();
  EXPECT_TRUE(Has(out, "下载耗时:")) << out;
  EXPECT_TRUE(Has(out, "正在校验应用固件...\n校验成功!\n正在下载user数据...\n")) << out;
  EXPECT_TRUE(Has(out, "正在校验user数据...\n校验成功!\n芯片断开连接!\n")) << out;

  Tool verify({"-p", chip.path, "verify", "--user", images.user, "--app", images.hex});
  EXPECT_EQ(verify.Wait(), 0) << verify.out() << verify.err();
  EXPECT_EQ(testing::SplitLines(verify.out()),
            (std::vector<std::string>{"正在连接芯片,请执行复位.....", "芯片连接成功!", "正在校验应用固件...", "校验成功!",
                                      "正在校验user数据...", "校验成功!", "芯片断开连接!"}));
}

TEST(VerifyAndDump, AStuckBitPassesTheChipsOwnCheckButNotTheReadBack) {
  Images images(5000);
  SimChip chip;
  char fault[32];
  std::snprintf(fault, sizeof fault, "stuck-bit:0x%X", kAppAddr + 100);
  WithFault(chip, fault);
  Tool download({"-p", chip.path, "download", "--verify", "--app", images.hex, "--user", images.user});
  EXPECT_EQ(download.Wait(), 1);
  EXPECT_TRUE(Has(download.out(), "文件传输结束:编程成功!\n")) << download.out();
  char line[96];
  std::snprintf(line, sizeof line, "校验失败: 地址0x%08X 芯片0x%02X 文件0x%02X\n芯片断开连接!\n", kAppAddr + 100,
                images.app[100] & 0xFEu, unsigned{images.app[100]});
  EXPECT_TRUE(Has(download.out(), line)) << download.out();
  EXPECT_FALSE(Has(download.out(), "正在下载user数据...")) << "a failed verify ends the run";
}

TEST(VerifyAndDump, VerifyFindsTheOneByteThatDiffers) {
  Images images(3000);
  SimChip chip;
  Tool download({"-p", chip.path, "download", "--app", images.hex});
  ASSERT_EQ(download.Wait(), 0) << download.err();
  std::vector<uint8_t> changed = images.app;
  changed[2500] ^= 0x40;
  const std::string other = images.dir.Write("other.hex", testing::HexText(changed));
  Tool verify({"-p", chip.path, "verify", "--app", other});
  EXPECT_EQ(verify.Wait(), 1);
  char line[96];
  std::snprintf(line, sizeof line, "正在校验应用固件...\n校验失败: 地址0x%08X 芯片0x%02X 文件0x%02X\n", kAppAddr + 2500,
                unsigned{images.app[2500]}, unsigned{changed[2500]});
  EXPECT_TRUE(Has(verify.out(), line)) << verify.out();
}

TEST(VerifyAndDump, AReadTheChipRefusesEndsTheVerify) {
  // The application's region runs past the end of the flash, still erased
  // there: the reads match until the first that the chip refuses.
  SimChip chip;
  chip.server.WithModel([](sim::ChipModel& m) {
    sim::PartitionRecord record;
    record.AppAddr = sim::kFlashSize - 0x1000;
    record.AppSize = 0x2000;
    m.memory().WritePartitionRecord(record);
  });
  testing::TempDir dir;
  const std::string erased = dir.Write("erased.hex", testing::HexText(std::vector<uint8_t>(6000, 0xFF)));
  Tool verify({"-p", chip.path, "verify", "--app", erased});
  EXPECT_EQ(verify.Wait(), 1);
  char line[64];
  std::snprintf(line, sizeof line, "读取FLASH失败: 地址0x%08X\n", sim::kFlashSize - 0x1000 + 4 * 1016);
  EXPECT_TRUE(Has(verify.out(), std::string("正在校验应用固件...\n") + line)) << verify.out();
}

TEST(VerifyAndDump, DumpsOfTheAppRegionMatchTheImageAndTheHexLoadsBack) {
  Images images(7000);
  SimChip chip;
  Tool download({"-p", chip.path, "download", "--app", images.hex});
  ASSERT_EQ(download.Wait(), 0) << download.err();
  const std::string address = std::to_string(kAppAddr);
  const std::string length = std::to_string(images.app.size());

  const std::string bin = images.dir.Path("app.bin");
  Tool dumpBin({"-p", chip.path, "dump", address, length, "-o", bin});
  EXPECT_EQ(dumpBin.Wait(), 0) << dumpBin.err();
  char line[80];
  std::snprintf(line, sizeof line, "正在读取FLASH: 地址0x%08X 长度%zu...", kAppAddr, images.app.size());
  EXPECT_EQ(testing::SplitLines(dumpBin.out()),
            (std::vector<std::string>{"正在连接芯片,请执行复位.....", "芯片连接成功!", line, "读取FLASH完成!",
                                      "芯片断开连接!"}));
  EXPECT_EQ(dumpBin.err(), "文件已写入: " + bin + "\n");
  EXPECT_EQ(ReadAll(bin), std::string(images.app.begin(), images.app.end()));

  // Hexadecimal arguments; the name's case does not matter.
  const std::string hex = images.dir.Path("read.HEX");
  char hexAddress[16];
  std::snprintf(hexAddress, sizeof hexAddress, "0x%X", kAppAddr);
  Tool dumpHex({"-p", chip.path, "dump", hexAddress, "0x1B58", "-o", hex});
  EXPECT_EQ(dumpHex.Wait(), 0) << dumpHex.err();
  const auto image = program::ReadHexImage(ReadAll(hex));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->data, images.app);

  // Downloaded again, it lands where it came from.
  Tool again({"-p", chip.path, "download", "--verify", "--app", hex});
  EXPECT_EQ(again.Wait(), 0) << again.out() << again.err();
  EXPECT_TRUE(Has(again.out(), "校验成功!")) << again.out();
}

TEST(VerifyAndDump, ARangePastTheFlashLeavesNoFile) {
  SimChip chip;
  testing::TempDir dir;
  Tool dump({"-p", chip.path, "dump", std::to_string(sim::kFlashSize - 1024), "2048", "-o", dir.Path("flash.bin")});
  EXPECT_EQ(dump.Wait(), 1);
  char line[64];
  std::snprintf(line, sizeof line, "读取FLASH失败: 地址0x%08X\n芯片断开连接!\n", sim::kFlashSize - 1024 + 1016);
  EXPECT_TRUE(Has(dump.out(), line)) << dump.out();
  EXPECT_EQ(dump.err(), "");
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{}) << "neither the file nor a temporary";
}

TEST(VerifyAndDump, CtrlCStopsADumpBetweenPiecesAndLeavesNoFile) {
  // Paced: the whole flash takes seconds at 115200, so the signal comes while it reads.
  SimChip chip({}, true);
  testing::TempDir dir;
  Tool dump({"-p", chip.path, "dump", "0", std::to_string(sim::kFlashSize), "-o", dir.Path("flash.hex")});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!Has(dump.out(), "正在读取FLASH") && std::chrono::steady_clock::now() < deadline) dump.ReadOut(100);
  dump.Signal(SIGINT);
  const auto signalled = std::chrono::steady_clock::now();
  EXPECT_EQ(dump.Wait(), 130) << dump.out() << dump.err();
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2)) << "at most the piece in flight";
  EXPECT_TRUE(Has(dump.out(), "正在读取FLASH: 地址0x00000000 长度524288...\n芯片断开连接!\n")) << dump.out();
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{});
}

TEST(VerifyAndDump, BadDumpArgumentsSendNothing) {
  struct Row {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Row> rows = {
      {{"dump", "0x1000", "0", "-o", "f.bin"}, "dump: LEN must be at least 1\n"},
      {{"dump", "0xFFFFFF00", "0x101", "-o", "f.bin"},
       "dump: ADDR \"0xFFFFFF00\" + LEN \"0x101\" ends past the 32-bit address space (0x100000000)\n"},
      {{"dump", "0x100000000", "1", "-o", "f.bin"},
       "dump: ADDR \"0x100000000\" is not a number (decimal, or hexadecimal after 0x) below 2^32\n"},
      {{"dump", "1000", "4x", "-o", "f.bin"},
       "dump: LEN \"4x\" is not a number (decimal, or hexadecimal after 0x) up to 2^32\n"},
      {{"dump", "-1", "4", "-o", "f.bin"}, nullptr},
      {{"dump", "0", "4"}, nullptr},
      {{"--repeat", "dump", "0", "4", "-o", "f.bin"},
       "dump: --repeat is not supported: every chip on a port would write the same file\n"},
  };
  for (const Row& row : rows) {
    SimChip chip;
    testing::TempDir dir;
    std::vector<std::string> args = {"-p", chip.path};
    for (const std::string& arg : row.args) args.push_back(arg == "f.bin" ? dir.Path(arg) : arg);
    Tool tool(args);
    EXPECT_EQ(tool.Wait(), 2) << row.args[1];
    if (row.message != nullptr) {
      EXPECT_EQ(tool.err(), row.message);
    } else {
      EXPECT_NE(tool.err(), "") << row.args[1];
    }
    EXPECT_EQ(tool.out(), "");
    EXPECT_EQ(chip.BytesReceived(), 0u) << row.args[1];
  }
}

TEST(VerifyAndDump, EachPortDumpsIntoItsOwnFile) {
  SimChip a, b;
  b.server.WithModel([](sim::ChipModel& m) { m.memory().flash[kAppAddr] = 0x00; });
  testing::TempDir dir;
  Tool dump({"-p", a.path, "-p", b.path, "dump", std::to_string(kAppAddr), "16", "-o", dir.Path("flash.bin")});
  EXPECT_EQ(dump.Wait(), 0) << dump.err();
  const std::string nameA = std::filesystem::path(a.path).filename(), nameB = std::filesystem::path(b.path).filename();
  const std::vector<uint8_t> flash =
      a.server.WithModel([](sim::ChipModel& m) { return std::vector<uint8_t>(&m.memory().flash[kAppAddr], &m.memory().flash[kAppAddr] + 16); });
  std::string expectedA(flash.begin(), flash.end()), expectedB = expectedA;
  expectedB[0] = '\0';
  EXPECT_EQ(ReadAll(dir.Path("flash-" + nameA + ".bin")), expectedA);
  EXPECT_EQ(ReadAll(dir.Path("flash-" + nameB + ".bin")), expectedB);
  EXPECT_TRUE(Has(dump.err(), nameA + ": 文件已写入: " + dir.Path("flash-" + nameA + ".bin") + "\n")) << dump.err();
  EXPECT_EQ(FilesIn(dir.path()).size(), 2u);
}

}  // namespace
}  // namespace corvel::cli
