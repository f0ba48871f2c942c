#include <gtest/gtest.h>

#include "tests/support/fake_host.h"

namespace corvel::link {
namespace {

using testing::Bytes;
using testing::ConnectedLinkFixture;
using testing::LinkFixture;
using testing::MakeResponse;

constexpr uint64_t kSecond = 1000000;

TEST(Transact, ReturnsTheAnswerTheMomentItArrives) {
  ConnectedLinkFixture f;
  f.host.onWrite = [&](const Bytes&) { f.host.Reply(MakeResponse(0x29, 0x00, {0xD4, 0x2D, 0x91, 0xD3}), 2500); };
  const uint8_t address[4] = {0, 0, 0, 0x40};
  const uint64_t start = f.host.now;
  const auto answer = f.link.Transact(0x29, address, 4, 4);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 0x00);
  EXPECT_EQ(f.host.now - start, 2500u);  // no added delay after the last byte
  EXPECT_EQ(answer->data[0], 0xD4);
  EXPECT_EQ(answer->data[3], 0xD3);
  EXPECT_LT(f.host.waits, 5);  // blocked in the host, did not spin
}

TEST(Transact, TimesOutOnTheFourthSecondBoundaryWithNoLogLine) {
  struct Row {
    uint64_t offsetIntoSecond;
    uint64_t expectedWait;
  };
  for (const Row& row : {Row{0, 4 * kSecond}, Row{999999, 3 * kSecond + 1}, Row{400000, 3 * kSecond + 600000}}) {
    ConnectedLinkFixture f;
    f.host.now += row.offsetIntoSecond;
    const uint64_t start = f.host.now;
    EXPECT_EQ(StatusOf(f.link.Transact(0x15, nullptr, 0)), kNoResponse);
    EXPECT_EQ(f.host.now - start, row.expectedWait);
    EXPECT_TRUE(f.sink.lines.empty());
  }
}

TEST(Transact, RemembersHowTheLastFailedTransactionFailedUntilForgotten) {
  ConnectedLinkFixture f;
  int sends = 0;
  // Answers in turn: success, a failure status, nothing, success.
  f.host.onWrite = [&](const Bytes&) {
    ++sends;
    if (sends == 1 || sends == 4) f.host.Reply(MakeResponse(0x15, 0x00), 1000);
    if (sends == 2) f.host.Reply(MakeResponse(0x15, 0x09), 1000);
  };
  const TransactionFailure expected[] = {TransactionFailure::kNone, TransactionFailure::kStatus,
                                         TransactionFailure::kNoAnswer, TransactionFailure::kNoAnswer};
  for (const TransactionFailure failure : expected) {
    (void)f.link.Transact(0x15, nullptr, 0);
    EXPECT_EQ(f.link.lastFailure(), failure) << sends;
  }
  f.link.ForgetFailure();
  EXPECT_EQ(f.link.lastFailure(), TransactionFailure::kNone);
}

TEST(Transact, ABadAnswerIsNoAnswer) {
  ConnectedLinkFixture f;
  f.host.onWrite = [&](const Bytes&) {
    Bytes bad = MakeResponse(0x13, 0x00, {1, 2});
    bad[bad.size() - 2] ^= 0xFF;
    f.host.Reply(bad, 1000);
    f.host.Reply(MakeResponse(0x25, 0x00), 2000);
  };
  EXPECT_FALSE(f.link.Transact(0x13, nullptr, 0));
}

TEST(Transact, ALateAnswerIsClearedByTheNextSend) {
  ConnectedLinkFixture f;
  int sends = 0;
  f.host.onWrite = [&](const Bytes&) {
    if (++sends == 1) f.host.Reply(MakeResponse(0x15, 0x00), 5 * kSecond);  // after the wait gave up
  };
  EXPECT_FALSE(f.link.Transact(0x15, nullptr, 0));
  f.host.now += 2 * kSecond;
  f.host.PumpMessages();
  EXPECT_TRUE(f.link.Await(0));  // it arrived late and is held...

  EXPECT_FALSE(f.link.Transact(0x13, nullptr, 0));  // ...until the next send forgets it
  EXPECT_EQ(sends, 2);
}

TEST(Transact, EndsAtOnceWhenThePortIsLost) {
  ConnectedLinkFixture f;
  f.host.lost = true;
  const uint64_t start = f.host.now;
  EXPECT_FALSE(f.link.Transact(0x15, nullptr, 0));
  EXPECT_EQ(f.host.now, start);
}

TEST(Transact, AFailedSendIsNoAnswerAtOnce) {
  ConnectedLinkFixture f;
  f.host.writeOk = false;
  const uint64_t start = f.host.now;
  EXPECT_FALSE(f.link.Transact(0x15, nullptr, 0));
  EXPECT_EQ(f.host.now, start);
}

TEST(Waits, SecondsAndMicrosecondLimits) {
  ConnectedLinkFixture f;
  f.host.now += 300000;
  uint64_t start = f.host.now;
  EXPECT_FALSE(f.link.AwaitDisconnectAck(kDisconnectTimeoutSeconds));
  EXPECT_EQ(f.host.now - start, 700000u);  // until the seconds counter changes

  f.link.EnterSyncHunt();
  start = f.host.now;
  EXPECT_FALSE(f.link.AwaitSync(kSyncBurstMicros));
  EXPECT_EQ(f.host.now - start, 5000u);

  f.host.Reply(Bytes(8, 0x55), 1200);
  start = f.host.now;
  EXPECT_TRUE(f.link.AwaitSync(kSyncBurstMicros));
  EXPECT_EQ(f.host.now - start, 1200u);
}

TEST(Waits, AFrameThatEndsAWaitIsNotOverwrittenByTheNextOne) {
  ConnectedLinkFixture f;
  ASSERT_TRUE(f.link.Send(0x11, nullptr, 0));
  Bytes two = MakeResponse(0x11, 0x20);
  const Bytes next = MakeResponse(0x13, 0x07);
  two.insert(two.end(), next.begin(), next.end());
  f.host.Reply(two, 1000);  // both frames in one chunk
  const auto answer = f.link.Await(kHandshakeTimeoutSeconds);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 0x20);
  EXPECT_EQ(answer->code, 0x11);
}

TEST(Waits, ASyncBurstWaitThatStraddlesTheMicrosecondWrapLastsItsLimit) {
  LinkFixture f;
  f.link.EnterSyncHunt();
  f.host.now = (uint64_t{1} << 32) - 1000;  // 1 ms before the 32-bit microsecond wrap
  const uint64_t before = f.host.now;
  EXPECT_FALSE(f.link.AwaitSync(kSyncBurstMicros));
  EXPECT_EQ(f.host.now - before, 5000u);
}

}  // namespace
}  // namespace corvel::link
