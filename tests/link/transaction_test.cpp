#include <gtest/gtest.h>

#include "tests/support/fake_host.h"

namespace corvel::link {
namespace {

using testing::Bytes;
using testing::LinkFixture;
using testing::MakeResponse;

constexpr uint64_t kSecond = 1000000;

struct Connected : LinkFixture {
  Connected() { link.protocolMode = link.synced = link.framesEnabled = 1; }
};

TEST(SendAndWait, ReturnsTheStatusTheMomentTheAnswerArrives) {
  Connected f;
  f.host.onWrite = [&](const Bytes&) { f.host.Reply(MakeResponse(0x29, 0x00, {0xD4, 0x2D, 0x91, 0xD3}), 2500); };
  const uint8_t address[4] = {0, 0, 0, 0x40};
  const uint64_t start = f.host.now;
  EXPECT_EQ(f.link.SendAndWait(0x29, address, 4), 0x00);
  EXPECT_EQ(f.host.now - start, 2500u);  // no added delay after the last byte
  EXPECT_EQ(f.link.ResponseData()[0], 0xD4);
  EXPECT_EQ(f.link.ResponseData()[3], 0xD3);
  EXPECT_LT(f.host.waits, 5);  // blocked in the host, did not spin
}

TEST(SendAndWait, TimesOutOnTheFourthSecondBoundaryWithNoLogLine) {
  struct Row {
    uint64_t offsetIntoSecond;
    uint64_t expectedWait;
  };
  for (const Row& row : {Row{0, 4 * kSecond}, Row{999999, 3 * kSecond + 1}, Row{400000, 3 * kSecond + 600000}}) {
    Connected f;
    f.host.now += row.offsetIntoSecond;
    const uint64_t start = f.host.now;
    EXPECT_EQ(f.link.SendAndWait(0x15, nullptr, 0), kNoResponse);
    EXPECT_EQ(f.host.now - start, row.expectedWait);
    EXPECT_TRUE(f.sink.lines.empty());
  }
}

TEST(SendAndWait, ABadAnswerIsNoAnswer) {
  Connected f;
  f.host.onWrite = [&](const Bytes&) {
    Bytes bad = MakeResponse(0x13, 0x00, {1, 2});
    bad[bad.size() - 2] ^= 0xFF;
    f.host.Reply(bad, 1000);
    f.host.Reply(MakeResponse(0x25, 0x00), 2000);
  };
  EXPECT_EQ(f.link.SendAndWait(0x13, nullptr, 0), kNoResponse);
}

TEST(SendAndWait, ALateAnswerIsClearedByTheNextSend) {
  Connected f;
  int sends = 0;
  f.host.onWrite = [&](const Bytes&) {
    if (++sends == 1) f.host.Reply(MakeResponse(0x15, 0x00), 5 * kSecond);  // after the wait gave up
  };
  EXPECT_EQ(f.link.SendAndWait(0x15, nullptr, 0), kNoResponse);
  f.host.now += 2 * kSecond;
  f.host.PumpMessages();
  EXPECT_EQ(f.link.responseArrived, 1);  // it arrived late and stays raised...

  EXPECT_EQ(f.link.SendAndWait(0x13, nullptr, 0), kNoResponse);  // ...until the next send clears it
  EXPECT_EQ(sends, 2);
}

TEST(SendAndWait, EndsAtOnceWhenThePortIsLost) {
  Connected f;
  f.host.lost = true;
  const uint64_t start = f.host.now;
  EXPECT_EQ(f.link.SendAndWait(0x15, nullptr, 0), kNoResponse);
  EXPECT_EQ(f.host.now, start);
}

TEST(Waits, SecondsAndMicrosecondLimits) {
  Connected f;
  f.host.now += 300000;
  uint64_t start = f.host.now;
  EXPECT_FALSE(f.link.WaitForFlag(f.link.disconnectAcked, kDisconnectTimeoutSeconds));
  EXPECT_EQ(f.host.now - start, 700000u);  // until the seconds counter changes

  start = f.host.now;
  EXPECT_FALSE(f.link.WaitForFlagMicros(f.link.synced = 0, kSyncBurstMicros));
  EXPECT_EQ(f.host.now - start, 5000u);

  f.link.synced = 0;
  f.link.framesEnabled = 0;
  f.host.Reply(Bytes(8, 0x55), 1200);
  start = f.host.now;
  EXPECT_TRUE(f.link.WaitForFlagMicros(f.link.synced, kSyncBurstMicros));
  EXPECT_EQ(f.host.now - start, 1200u);
}

TEST(Waits, AFrameThatEndsAWaitIsNotOverwrittenByTheNextOne) {
  Connected f;
  f.link.responseArrived = 0;
  Bytes two = MakeResponse(0x11, 0x20);
  const Bytes next = MakeResponse(0x13, 0x07);
  two.insert(two.end(), next.begin(), next.end());
  f.host.Reply(two, 1000);  // both frames in one chunk
  EXPECT_TRUE(f.link.WaitForFlag(f.link.responseArrived, kHandshakeTimeoutSeconds));
  EXPECT_EQ(f.link.StatusByte(), 0x20);
  EXPECT_EQ(f.link.rxBuffer[1], 0x11);
}

TEST(MicroTimer, DifferencesSurviveTheWrap) {
  Connected f;
  f.host.now = (uint64_t{1} << 32) - 3000;  // 3 ms before the 32-bit microsecond wrap
  const uint32_t start = f.link.MicroTimer();
  f.host.now += 5000;
  EXPECT_LT(f.link.MicroTimer(), start);
  EXPECT_EQ(static_cast<uint32_t>(f.link.MicroTimer() - start), 5000u);

  // A burst wait that straddles the wrap still lasts 5000 us.
  f.host.now = (uint64_t{1} << 32) - 1000;
  const uint64_t before = f.host.now;
  EXPECT_FALSE(f.link.WaitForFlagMicros(f.link.synced = 0, kSyncBurstMicros));
  EXPECT_EQ(f.host.now - before, 5000u);
}

}  // namespace
}  // namespace corvel::link
