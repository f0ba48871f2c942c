#include "link/connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/command_codes.h"
#include "sim/line_garble.h"
#include "tests/support/fake_host.h"
#include "tests/support/scripted_chip.h"

namespace corvel::link {
namespace {

using testing::Bytes;
using testing::MakeFrame;

constexpr uint64_t kSecond = 1000000;

Bytes B(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A console's text as a line at another rate reads it.
Bytes Garbled(std::string_view text, uint32_t chipRate, uint32_t portRate) {
  Bytes out;
  sim::GarbleLine(reinterpret_cast<const uint8_t*>(text.data()), text.size(), chipRate, portRate, out);
  return out;
}

const char* const kConsole = "CV-BLE app v2.1\r\nadv started, interval 100 ms\r\nconn: none\r\n";

const std::string kSilenceHint = "波特率115200下未收到芯片的任何数据，请检查TX/RX是否交叉连接、GND、供电和复位线";
const std::string kTextHint =
    "波特率115200下收到芯片的文本输出，芯片可能正在运行应用程序: 请复位芯片，或检查RTS是否接到芯片的复位脚";
const std::string kLoopbackHint = "波特率115200下只收到本机发出的唤醒数据，TX与RX可能连在了一起";
std::string OtherRateHint(uint32_t rate) {
  return "波特率" + std::to_string(rate) + "下收到无法识别的数据，芯片可能使用其他波特率，或线路上有干扰";
}

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
    EXPECT_TRUE(f.sink.hints.empty());
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
    uint32_t password;
    uint32_t baud;
    std::string hint;
  };
  const Row rows[] = {
      {true, 0x00, 0xFFFFFFFF, 115200, "芯片拒绝了握手密码FFFFFFFF，请检查密码"},
      {true, 0x01, 0x0000BEEF, 115200, "芯片拒绝了握手密码0000BEEF，请检查密码"},
      {false, 0, 0, 230400, "波特率230400下芯片已同步但未回应握手，可能其后改用了其他波特率，或线路上有干扰"},
  };
  for (const Row& row : rows) {
    ConnectionFixture f;
    f.chip.status[cmd::kHandshake] = row.answer ? row.status : testing::kSilent;
    f.connection.StartAttempt(row.password, row.baud);
    EXPECT_EQ(f.connection.connectionState(), kNotConnected);
    EXPECT_EQ(f.connection.stage(), ConnectionStage::kIdle);
    EXPECT_EQ(f.sink.lines.back(), "芯片连接失败!");
    EXPECT_EQ(f.sink.hints, std::vector<std::string>{row.hint});
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

// What the chip sends while the bursts run, one delivery after each of the
// first bursts, decides the one hint after the stop line.
TEST(Connection, AnAttemptWithoutSyncSaysWhatItHeard) {
  struct Row {
    const char* name;
    std::vector<Bytes> deliveries;
    std::string hint;  // empty: none
    uint32_t baud = 115200;
    bool echoBursts = false;
    bool portLost = false;
  };
  const std::string console = kConsole;
  // Read at a twelfth of its rate, a console needs to talk longer to be heard.
  const std::string longConsole = console + console + console + console;
  const std::vector<Row> rows = {
      {.name = "silence", .deliveries = {}, .hint = kSilenceHint},
      {.name = "a few stray bytes from plugging in", .deliveries = {{0x00}, {0xF0, 0x00}, {0xFC, 0x80}},
       .hint = kSilenceHint},
      {.name = "ASCII console", .deliveries = {B(console.substr(0, 20)), B(console.substr(20))}, .hint = kTextHint},
      {.name = "a glitch, then the console", .deliveries = {{0x00, 0xFF, 0xE0}, B(console)}, .hint = kTextHint},
      // Every character cut between two deliveries; counted as noise, these
      // bytes would be too few for text.
      {.name = "UTF-8 console split inside characters",
       .deliveries = {B("\xE7\xB3"), B("\xBB\xE7\xBB\x9F\xE5"), B("\x90\xAF\xE5\x8A"), B("\xA8\xF0\x9F"),
                      B("\x98\x80\r\n")},
       .hint = kTextHint},
      {.name = "printable, but no line ever ends", .deliveries = {B("> > > > > > > > > > > > ")},
       .hint = OtherRateHint(115200)},
      {.name = "text not well-formed: overlong and surrogate forms",
       .deliveries = {B("\xC0\xAF\xE0\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80ok\r\n")},
       .hint = OtherRateHint(115200)},
      {.name = "a 115200 console read at 9600", .deliveries = {Garbled(longConsole, 115200, 9600)},
       .hint = OtherRateHint(9600), .baud = 9600},
      {.name = "a 115200 console read at 57600", .deliveries = {Garbled(console, 115200, 57600)},
       .hint = OtherRateHint(57600), .baud = 57600},
      {.name = "a 115200 console read at 460800", .deliveries = {Garbled(console, 115200, 460800)},
       .hint = OtherRateHint(460800), .baud = 460800},
      {.name = "a 9600 console read at 115200", .deliveries = {Garbled(console, 9600, 115200)},
       .hint = OtherRateHint(115200)},
      {.name = "TX joined to RX", .deliveries = {}, .hint = kLoopbackHint, .echoBursts = true},
      {.name = "port lost", .deliveries = {B(console)}, .hint = "", .portLost = true},
  };
  for (const Row& row : rows) {
    ConnectionFixture f;
    f.chip.syncFromBurst = 0;
    f.chip.onBurst = [&](int burst) {
      if (row.echoBursts) f.host.Reply(f.host.writes.back(), 1000);
      if (burst <= static_cast<int>(row.deliveries.size())) f.host.Reply(row.deliveries[burst - 1], 1000);
      if (row.portLost && burst == 10) f.host.lost = true;
    };
    f.connection.StartAttempt(0, row.baud, kSecond / 5);
    EXPECT_EQ(f.sink.lines.back(), "停止连接芯片!") << row.name;
    EXPECT_EQ(f.sink.hints, row.hint.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.hint})
        << row.name;
  }
}

TEST(Connection, EachAttemptHearsOnlyItsOwnBytes) {
  ConnectionFixture f;
  f.chip.syncFromBurst = 0;
  f.chip.onBurst = [&](int burst) {
    if (burst == 1) f.host.Reply(B(kConsole), 1000);
  };
  f.connection.StartAttempt(0, 115200, kSecond / 5);
  f.connection.StartAttempt(0, 115200, kSecond / 5);
  EXPECT_EQ(f.sink.hints, (std::vector<std::string>{kTextHint, kSilenceHint}));
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
