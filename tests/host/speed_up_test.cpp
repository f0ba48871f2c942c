// The download's speed-up through the real port host against the simulated
// chip on a pseudo-terminal, which reconfigures its UART a while after
// answering the rate switch, as a real boot loader does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "app/control_table.h"
#include "host/port_host.h"
#include "link/connection.h"
#include "program/download.h"
#include "sim/pty_server.h"
#include "tests/support/fake_host.h"
#include "tests/support/temp_dir.h"

namespace corvel {
namespace {

constexpr uint32_t kOpenRate = 115200;

// A connected session with its own simulated chip, unpaced: the rates must
// still agree, since bytes between ends at different rates arrive garbled.
struct SimSession {
  explicit SimSession(uint64_t switchDelayMicros) {
    sim::SimOptions options;
    options.pace = false;
    options.model.consolePeriodMicros = 0;
    options.switchDelayMicros = switchDelayMicros;
    const Result<std::string> path = server.Start(options);
    if (!path.ok()) {
      ADD_FAILURE() << path.error().text;
      return;
    }
    host.SetLink(&link);
    if (!host.OpenPort(*path, kOpenRate).ok()) {
      ADD_FAILURE() << "cannot open " << *path;
      return;
    }
    connection.StartAttempt(0, kOpenRate, 5000000);
    EXPECT_TRUE(connection.IsConnected());
  }

  program::DownloadResult Download(const program::DownloadChoice& choice, std::optional<uint64_t> settleMicros = {}) {
    program::Download download(link, connection);
    if (settleMicros) download.SetRateSettleMicros(*settleMicros);
    auto prepared = program::PrepareDownload(choice);
    EXPECT_TRUE(prepared.ok());
    return prepared.ok() ? download.Run(*prepared) : program::DownloadResult::kFailed;
  }

  bool Logged(const std::string& line) const {
    return std::find(sink.lines.begin(), sink.lines.end(), line) != sink.lines.end();
  }

  uint32_t ChipRate() { return server.WithModel([](sim::ChipModel& m) { return m.OwnRate(); }); }

  sim::PtyServer server;  // outlives the port that talks to it
  testing::RecordingSink sink;
  log::Log log{sink};
  host::PortHost host;
  link::Link link{host, log};
  link::Connection connection{link};
};

// A 600-byte user data file: three blocks.
std::string SmallImage(const testing::TempDir& dir) {
  std::string text;
  for (int i = 0; i < 600; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X ", i & 0xFF);
    text += pair;
  }
  return dir.Write("user.cfg", text);
}

TEST(SpeedUp, TheNextCommandIsLostWithoutTheSettleAndArrivesWithIt) {
  // The chip's switch takes far longer than the host needs to send its next
  // frame, so only the settle decides.
  constexpr uint64_t kSwitchDelay = 100000;
  struct Row {
    const char* name;
    uint64_t settle;
    program::DownloadResult result;
    const char* lastLine;
  };
  const Row rows[] = {
      {"no settle: the access record is lost and times out", 0, program::DownloadResult::kFailed,
       "控制访问信息写入失败!"},
      {"settled past the switch", 150000, program::DownloadResult::kOk, "控制访问信息写入成功!"},
  };
  for (const Row& row : rows) {
    SimSession session(kSwitchDelay);
    program::DownloadChoice choice;
    choice.speedUpRate = 500000;
    choice.access = true;
    choice.accessRecord = testing::Bytes(28, 0xFF);
    EXPECT_EQ(session.Download(choice, row.settle), row.result) << row.name;
    ASSERT_FALSE(session.sink.lines.empty()) << row.name;
    EXPECT_EQ(session.sink.lines.back(), row.lastLine) << row.name;
    EXPECT_EQ(session.ChipRate(), 500000u) << row.name;
  }
}

class SpeedUpRate : public ::testing::TestWithParam<const char*> {};

TEST_P(SpeedUpRate, DownloadPassesAfterTheChipsDefaultSwitchDelay) {
  const uint32_t rate = static_cast<uint32_t>(std::stoul(GetParam()));
  testing::TempDir dir;
  SimSession session(sim::SimOptions{}.switchDelayMicros);
  program::DownloadChoice choice;
  choice.speedUpRate = rate;
  choice.userDataPath = SmallImage(dir);
  EXPECT_EQ(session.Download(choice), program::DownloadResult::kOk);
  EXPECT_TRUE(session.Logged("falsh擦除完成!")) << "the first command after the switch was answered";
  EXPECT_TRUE(session.Logged("文件传输结束:编程成功!"));
  EXPECT_EQ(session.ChipRate(), rate);
}

INSTANTIATE_TEST_SUITE_P(SpeedUpList, SpeedUpRate, ::testing::ValuesIn(app::kSpeedUpRates));

}  // namespace
}  // namespace corvel
