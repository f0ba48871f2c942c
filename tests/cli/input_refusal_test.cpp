// Input files and erase lengths the command line refuses before it touches
// the chip, and a pipe it reads as an image.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/hex_writer.h"
#include "tests/support/sim_chip.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool_process.h"

namespace corvel::cli {
namespace {

using testing::SimChip;
using testing::SplitLines;
using testing::Tool;

// Each row: exit 2, its fragment on stdout or stderr, and not one byte on
// the port; a FIFO without a writer must not hold the tool up.
TEST(InputRefusal, RefusedInputsSendNothing) {
  const testing::TempDir dir;
  const std::string eofOnly = dir.Write("eof.hex", testing::kHexEndRecord);
  const std::string blanks = dir.Write("user.cfg", " \r\n\t\r\n");
  const std::string fifo = dir.Path("fifo.hex");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Row {
    std::vector<std::string> args;
    std::string err;  // the whole of stderr, or empty when the line is on stdout
    std::vector<std::string> out;
  };
  const std::vector<Row> rows = {
      {{"download", "--app", eofOnly}, eofOnly + ": 没有数据记录\n", {}},
      {{"download", "--user", blanks}, blanks + ": 没有用户数据\n", {}},
      {{"download", "--app", fifo}, "无法读取文件 " + fifo + ": 管道没有写入端\n", {}},
      {{"download", "--boot", "/dev/zero"}, "无法读取文件 /dev/zero: 不是普通文件或管道\n", {}},
      {{"page-erase", "1000", "65792"}, "", {"长度参数非法，最大为65280!"}},
      {{"sector-erase", "0", "69632"}, "", {"长度参数非法，最大为61440!"}},
  };
  SimChip chip;
  for (const Row& row : rows) {
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), {"-p", chip.path});
    const auto start = std::chrono::steady_clock::now();
    Tool tool(args);
    EXPECT_EQ(tool.Wait(), 2) << row.args[2];
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << row.args[2];
    EXPECT_EQ(tool.err(), row.err) << row.args[2];
    EXPECT_EQ(SplitLines(tool.out()), row.out) << row.args[2];
  }
  EXPECT_EQ(chip.BytesReceived(), 0u);

  // The largest lengths the field carries still erase.
  for (const auto& [command, length] : {std::pair{"page-erase", "65280"}, std::pair{"sector-erase", "61440"}}) {
    Tool tool({"-p", chip.path, command, "0", length});
    EXPECT_EQ(tool.Wait(), 0) << command << tool.err();
    EXPECT_NE(tool.out().find(std::string("大小：") + length + "Byte\n擦出flash成功\n"), std::string::npos)
        << tool.out();
  }
}

// `--app <(objcopy ...)`: the image comes through a pipe whose writer is
// slower than the tool and writes more than the pipe holds.
TEST(InputRefusal, AnImageFromAPipeIsDownloaded) {
  std::vector<uint8_t> image(30 * 1024);  // about 84 KiB of HEX
  uint32_t x = 7;
  for (auto& b : image) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  const std::string hex = testing::HexText(image);
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  // The read end goes to the tool as /dev/fd/N; the write end stays here, so
  // the tool sees end of file when the writer closes it.
  ASSERT_EQ(fcntl(ends[0], F_SETFD, 0), 0);
  std::thread writer([fd = ends[1], &hex] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a slow producer, not a wait for a result
    for (size_t done = 0; done < hex.size();) {
      const ssize_t n = write(fd, hex.data() + done, hex.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
  });
  Tool tool({"--sim", "download", "--app", "/dev/fd/" + std::to_string(ends[0])});
  close(ends[0]);
  const int status = tool.Wait();
  writer.join();
  EXPECT_EQ(status, 0) << tool.err();
  EXPECT_NE(tool.out().find("传输文件大小：30720Byte\n"), std::string::npos) << tool.out();
  EXPECT_NE(tool.out().find("文件传输结束:编程成功!\n"), std::string::npos) << tool.out();
}

}  // namespace
}  // namespace corvel::cli
