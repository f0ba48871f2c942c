#include "link/connection.h"

#include <gtest/gtest.h>

#include <vector>

#include "link/command_codes.h"
#include "tests/support/fake_host.h"
#include "tests/support/scripted_chip.h"

namespace corvel::link {
namespace {

using testing::Bytes;
using testing::MakeFrame;

constexpr uint64_t kSecond = 1000000;

// What the receiver does with bytes now, seen from outside: console text...
bool TakesText(testing::LinkFixture& f) {
  const uint8_t probe = 'Z';
  f.link.Deliver(&probe, 1);
  f.log.ResumeFlush();
  f.log.FlushReceivedText();
  return !f.sink.text().empty() && f.sink.text().back() == 'Z';
}

// ...or frames (a disconnect acknowledgement, when none was awaited yet).
bool TakesFrames(testing::LinkFixture& f) {
  const Bytes ack = MakeFrame(0x12, {0x00});
  f.link.Deliver(ack.data(), ack.size());
  return f.link.AwaitDisconnectAck(0);
}

// Sync from the third burst on; handshake and disconnect answered 3 ms late.
struct ConnectionFixture : testing::LinkFixture {
  ConnectionFixture() {
    connection.onStageChanged = [this](ConnectionStage s) { stages.push_back(s); };
    chip.syncFromBurst = 3;
    chip.delay = 3000;
  }

  testing::ScriptedChip chip{host};
  Connection connection{link};
  std::vector<ConnectionStage> stages;
};

TEST(Connection, AcceptedHandshakeConnects) {
  for (uint8_t status : {uint8_t{0x20}, uint8_t{0x30}}) {
    ConnectionFixture f;
    f.chip.status[cmd::kHandshake] = status;
    f.connection.StartAttempt(0xFFFFFFFF, 115200);
    EXPECT_EQ(f.connection.connectionState(), status);
    EXPECT_EQ(f.connection.stage(), ConnectionStage::kConnected);
    EXPECT_EQ(f.connection.rateClass(), 0);
    EXPECT_EQ(f.sink.clears, 1);
    EXPECT_EQ(f.sink.lines, (std::vector<std::string>{"正在连接芯片,请执行复位.....", "芯片连接成功!"}));
    EXPECT_EQ(f.stages, (std::vector<ConnectionStage>{ConnectionStage::kBursting, ConnectionStage::kHandshaking,
                                                      ConnectionStage::kConnected}));
    EXPECT_EQ(f.host.rts, (std::vector<bool>{true, false}));
    EXPECT_EQ(f.chip.bursts, 3);
    const auto& frames = f.chip.frames;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], MakeFrame(0x11, {0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(frames[1], MakeFrame(0x81, {0x00}));
    EXPECT_TRUE(f.log.FlushPaused());  // stays paused while connected
    EXPECT_TRUE(TakesFrames(f));
  }
}

TEST(Connection, PasswordGoesLeastSignificantByteFirst) {
  ConnectionFixture f;
  f.connection.StartAttempt(0x5A6B7C8D, 115200);
  EXPECT_EQ(f.chip.frames.at(0), MakeFrame(0x11, {0x8D, 0x7C, 0x6B, 0x5A}));
}

TEST(Connection, RateClassFollowsThePortRate) {
  struct Row {
    std::vector<uint32_t> bauds;  // one connection after another
    uint8_t after;
  };
  const Row rows[] = {{{115200}, 0}, {{230400}, 1}, {{500000}, 0xFF}, {{230400, 500000}, 1}, {{230400, 115200}, 0}};
  for (const Row& row : rows) {
    ConnectionFixture f;
    for (uint32_t baud : row.bauds) {
      f.connection.StartAttempt(0, baud);
      ASSERT_TRUE(f.connection.IsConnected()) << baud;
      f.connection.Disconnect();
    }
    EXPECT_EQ(f.connection.rateClass(), row.after) << row.bauds.back();
  }
}

TEST(Connection, RefusedOrUnansweredHandshakeDisconnectsAndReturnsToText) {
  struct Row {
    bool answer;
    uint8_t status;
  };
  for (const Row& row : {Row{true, 0x00}, Row{false, 0}}) {
    ConnectionFixture f;
    f.chip.status[cmd::kHandshake] = row.answer ? row.status : testing::kSilent;
    f.connection.StartAttempt(0, 115200);
    EXPECT_EQ(f.connection.connectionState(), kNotConnected);
    EXPECT_EQ(f.connection.stage(), ConnectionStage::kIdle);
    EXPECT_EQ(f.sink.lines.back(), "芯片连接失败!");
    EXPECT_EQ(f.chip.frames.back(), MakeFrame(0x12, {0x00}));
    EXPECT_FALSE(f.log.FlushPaused());
    EXPECT_FALSE(f.link.AwaitSync(0));
    EXPECT_TRUE(TakesText(f));
  }
}

TEST(Connection, UnansweredDisconnectWaitsOnlyUntilTheSecondChanges) {
  ConnectionFixture f;
  f.chip.status = {{cmd::kHandshake, 0x00}, {cmd::kDisconnect, testing::kSilent}};
  f.connection.StartAttempt(0, 115200);
  EXPECT_EQ(f.host.now % kSecond, 0u);  // ended on a whole second, at most one after the send
}

TEST(Connection, SyncTimeoutStopsLikeTheStopButtonAndSendsOnlyBursts) {
  ConnectionFixture f;
  f.chip.syncFromBurst = 0;  // a silent chip
  const uint64_t start = f.host.now;
  f.connection.StartAttempt(0, 115200, 1 * kSecond);
  const uint64_t elapsed = f.host.now - start;
  EXPECT_GE(elapsed, 1 * kSecond);
  EXPECT_LT(elapsed, 1 * kSecond + 40000 + 10000);  // after the 40 ms reset pulse
  EXPECT_TRUE(f.chip.frames.empty());
  EXPECT_EQ(f.sink.lines.back(), "停止连接芯片!");
  EXPECT_EQ(f.connection.stage(), ConnectionStage::kIdle);
  EXPECT_FALSE(f.log.FlushPaused());
  EXPECT_TRUE(TakesText(f));
  EXPECT_GT(f.chip.bursts, 150);  // one burst per 5 ms wait
}

TEST(Connection, StopFromInsideTheBurstLoop) {
  ConnectionFixture f;
  f.chip.syncFromBurst = 0;
  f.chip.onBurst = [&](int burst) {
    if (burst == 5) f.connection.StopAttempt();  // a click handled inside the wait
  };
  f.connection.StartAttempt(0, 115200);
  EXPECT_EQ(f.chip.bursts, 5);
  EXPECT_EQ(f.sink.lines.back(), "停止连接芯片!");
  EXPECT_TRUE(f.chip.frames.empty());
}

TEST(Connection, DisconnectSendsTheCommandAndGoesBackToText) {
  ConnectionFixture f;
  f.connection.StartAttempt(0, 115200);
  ASSERT_TRUE(f.connection.IsConnected());
  f.connection.Disconnect();
  EXPECT_EQ(f.sink.lines.back(), "芯片断开连接!");
  EXPECT_EQ(f.chip.frames.back(), MakeFrame(0x12, {0x00}));
  EXPECT_EQ(f.connection.stage(), ConnectionStage::kIdle);
  EXPECT_FALSE(f.connection.IsConnected());
  EXPECT_TRUE(TakesText(f));

  // The answer now arrives as console text, and a new attempt starts clean.
  f.host.PumpMessages();
  f.host.now += kSecond;
  f.host.PumpMessages();
  f.chip.bursts = 0;
  f.connection.StartAttempt(0, 115200);
  EXPECT_TRUE(f.connection.IsConnected());
}

}  // namespace
}  // namespace corvel::link
