#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/crc16.h"
#include "tests/support/fake_host.h"
#include "text/hex_pairs.h"

namespace corvel::link {
namespace {

using testing::Bytes;
using testing::ConnectedLinkFixture;
using testing::LinkFixture;
using testing::MakeFrame;

std::string Hex(const Bytes& bytes) {
  std::string s;
  text::AppendHexBytes(s, bytes.data(), bytes.size());
  return s;
}

// What the link holds now, read without waiting or pumping.
std::optional<Response> Held(Link& link) { return link.Await(0); }

TEST(Send, BuildsTheFramesOfTheProtocol) {
  struct Row {
    uint8_t code;
    Bytes payload;
    std::string frame;
  };
  const std::vector<Row> rows = {
      {0x13, {0x00}, "81 13 00 01 00 B3 4A 18 "},
      {0x12, {0x00}, "81 12 00 01 00 C5 FE 18 "},
      {0x26, {0x01, 0x04, 0x00, 0x48, 0x00, 0x00, 0x00}, "81 26 00 07 01 04 00 48 00 00 00 D8 35 18 "},
      {0x24, {0x00, 0x01, 'a', 'b', 'c'}, "81 24 00 05 00 01 61 62 63 DC 66 18 "},
      {0x20, {0x04}, "81 20 00 01 04 44 FB 18 "},
  };
  for (const auto& row : rows) {
    LinkFixture f;
    ASSERT_TRUE(f.link.Send(row.code, row.payload.data(), static_cast<uint16_t>(row.payload.size())));
    ASSERT_EQ(f.host.writes.size(), 1u);
    EXPECT_EQ(Hex(f.host.writes[0]), row.frame) << "code " << int(row.code);
  }
}

TEST(Send, EmptyPayloadIsSevenBytes) {
  LinkFixture f;
  ASSERT_TRUE(f.link.Send(0x15, nullptr, 0));
  const Bytes& w = f.host.writes.at(0);
  ASSERT_EQ(w.size(), 7u);
  const uint8_t header[] = {0x15, 0x00, 0x00};
  const uint16_t crc = Crc16(header, 3);
  EXPECT_EQ(w, (Bytes{0x81, 0x15, 0x00, 0x00, uint8_t(crc >> 8), uint8_t(crc & 0xFF), 0x18}));
}

TEST(Send, RefusesAPayloadThatDoesNotFitTheBuffer) {
  LinkFixture f;
  Bytes payload(kMaxPayload + 1, 0xAB);
  auto result = f.link.Send(0x2C, payload.data(), static_cast<uint16_t>(payload.size()));
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error().kind, ErrorKind::kBadInput);
  EXPECT_TRUE(f.host.writes.empty());
  payload.pop_back();
  EXPECT_TRUE(f.link.Send(0x2C, payload.data(), static_cast<uint16_t>(payload.size())));
  EXPECT_EQ(f.host.writes.at(0).size(), kMaxFrame);
}

TEST(FrameEcho, FollowsTheSwitchFrameByFrame) {
  ConnectedLinkFixture f;
  const uint8_t zero = 0;
  ASSERT_TRUE(f.link.Send(0x13, &zero, 1));
  EXPECT_TRUE(f.sink.lines.empty());
  f.log.SetFrameEcho(true);
  ASSERT_TRUE(f.link.Send(0x13, &zero, 1));
  ASSERT_EQ(f.sink.lines.size(), 1u);
  EXPECT_EQ(f.sink.lines[0], "TX: 81 13 00 01 00 B3 4A 18 ");

  const Bytes bad = {0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x41, 0x18};  // CRC off by one
  f.link.Deliver(bad.data(), bad.size());
  ASSERT_EQ(f.sink.lines.size(), 2u);
  EXPECT_EQ(f.sink.lines[1], "RX: 81 11 00 01 20 7A 41 18 ");  // echoed before the CRC check
  EXPECT_FALSE(Held(f.link));
}

// The receiver, fed chunk by chunk as the hosts do, after a command that asks
// for a few bytes (so the declared lengths of the rows are plausible).
struct ReceiverRow {
  const char* name;
  ReceiverState start;
  std::vector<Bytes> chunks;
  bool answered = false;
  bool ackedDisconnect = false;
  bool syncedAfter = false;
  int status = -1;   // -1: not checked
  Bytes data = {};   // the answer's data bytes
  std::string text = {};  // console text collected
};

TEST(Receiver, ClassifiesWhatArrives) {
  using enum ReceiverState;
  const Bytes ok11 = {0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x40, 0x18};
  const Bytes ok13 = {0x81, 0x13, 0x00, 0x03, 0x00, 0x01, 0x02, 0x5C, 0xCB, 0x18};
  const std::vector<ReceiverRow> rows = {
      {.name = "text mode keeps characters, drops zero bytes", .start = kText, .chunks = {{0x41, 0x00, 0x42, 0x0A}},
       .text = "AB\n"},
      // The frame's bytes are console text, shown as the log shows text: 0x81
      // begins no character there.
      {.name = "text mode ignores frames", .start = kText, .chunks = {ok11},
       .text = "\xEF\xBF\xBD\x11\x01\x20\x7A\x40\x18"},
      {.name = "sync needs eight in a row", .start = kSyncHunt,
       .chunks = {{0x55, 0x55, 0x55, 0xAA, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}}},
      {.name = "sync on the eighth", .start = kSyncHunt,
       .chunks = {{0x55, 0x55, 0x55, 0xAA, 0x55, 0x55, 0x55, 0x55}, {0x55, 0x55, 0x55, 0x55}}, .syncedAfter = true},
      {.name = "synced but frames off drops", .start = kSynced, .chunks = {ok11}, .syncedAfter = true},
      {.name = "good handshake answer", .start = kFramed, .chunks = {ok11}, .answered = true, .syncedAfter = true,
       .status = 0x20},
      {.name = "status and data", .start = kFramed, .chunks = {ok13}, .answered = true, .syncedAfter = true,
       .status = 0x00, .data = {0x01, 0x02}},
      {.name = "split across chunks", .start = kFramed,
       .chunks = {{0x81, 0x13}, {0x00, 0x03, 0x00}, {0x01, 0x02, 0x5C, 0xCB}, {0x18}}, .answered = true,
       .syncedAfter = true, .status = 0x00, .data = {0x01, 0x02}},
      {.name = "noise before a frame", .start = kFramed, .chunks = {{0x55, 0x00, 0xFF, 0x18}, ok11}, .answered = true,
       .syncedAfter = true, .status = 0x20},
      {.name = "bad CRC raises nothing", .start = kFramed, .chunks = {{0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x41, 0x18}},
       .syncedAfter = true},
      {.name = "disconnect answer", .start = kFramed, .chunks = {MakeFrame(0x12, {0x00})}, .ackedDisconnect = true,
       .syncedAfter = true},
      {.name = "unlisted 0x25 dropped", .start = kFramed, .chunks = {MakeFrame(0x25, {0x00})}, .syncedAfter = true},
      {.name = "unlisted 0x2E dropped", .start = kFramed, .chunks = {MakeFrame(0x2E, {0x00})}, .syncedAfter = true},
      {.name = "wrong end byte, then a frame", .start = kFramed,
       .chunks = {{0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x40, 0x19}, ok11}, .answered = true, .syncedAfter = true,
       .status = 0x20},
      {.name = "oversized length, then a frame", .start = kFramed, .chunks = {{0x81, 0x11, 0x04, 0x00}, ok11},
       .answered = true, .syncedAfter = true, .status = 0x20},
      {.name = "stray start byte before a frame", .start = kFramed, .chunks = {{0x81}, ok11}, .answered = true,
       .syncedAfter = true, .status = 0x20},
      {.name = "start byte inside a broken frame", .start = kFramed, .chunks = {{0x81, 0x00, 0x00, 0x02}, ok13},
       .answered = true, .syncedAfter = true, .status = 0x00, .data = {0x01, 0x02}},
      // Stray bytes on the line that look like the start of a frame.
      {.name = "false start 81 00 00 before an answer", .start = kFramed,
       .chunks = {{0x81, 0x00, 0x00, 0x81, 0x20, 0x00, 0x01, 0x00, 0x04, 0x7F, 0x18}}, .answered = true,
       .syncedAfter = true, .status = 0x00},
      {.name = "false start 81 00 03 before an answer", .start = kFramed,
       .chunks = {{0x81, 0x00, 0x03}, {0x81, 0x20, 0x00, 0x01, 0x00, 0x04, 0x7F, 0x18}}, .answered = true,
       .syncedAfter = true, .status = 0x00},
      {.name = "false start with an answer code and a long length", .start = kFramed,
       .chunks = {{0x81, 0x20}, ok13}, .answered = true, .syncedAfter = true, .status = 0x00, .data = {0x01, 0x02}},
  };
  for (const auto& row : rows) {
    LinkFixture f;
    testing::EnterReceiverState(f.link, row.start);
    ASSERT_TRUE(f.link.Send(0x13, nullptr, 0));
    for (const auto& chunk : row.chunks) f.link.Deliver(chunk.data(), chunk.size());
    f.log.FlushReceivedText();
    const auto answer = Held(f.link);
    EXPECT_EQ(answer.has_value(), row.answered) << row.name;
    EXPECT_EQ(f.link.AwaitDisconnectAck(0), row.ackedDisconnect) << row.name;
    EXPECT_EQ(f.link.AwaitSync(0), row.syncedAfter) << row.name;
    if (answer && row.status >= 0) {
      EXPECT_EQ(answer->status, row.status) << row.name;
    }
    if (answer) {
      EXPECT_EQ(answer->length, row.data.size()) << row.name;
      EXPECT_EQ(Bytes(answer->data.begin(), answer->data.begin() + answer->length), row.data) << row.name;
    }
    EXPECT_EQ(f.sink.text(), row.text) << row.name;
  }
}

TEST(Receiver, KeepsTheFirstAnswerWhenMoreFramesFollowInTheSameChunk) {
  ConnectedLinkFixture f;
  ASSERT_TRUE(f.link.Send(0x29, nullptr, 0, 4));
  Bytes two = testing::MakeResponse(0x29, 0x00, {0x11, 0x22, 0x33, 0x44});
  const Bytes second = testing::MakeResponse(0x2A, 0x07);
  two.insert(two.end(), second.begin(), second.end());

  f.link.Deliver(two.data(), two.size());
  auto answer = Held(f.link);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 0x00);
  EXPECT_EQ(answer->data[3], 0x44);
  EXPECT_EQ(answer->code, 0x29);

  // The next command starts with nothing held: the stale frame is not its answer.
  ASSERT_TRUE(f.link.Send(0x2A, nullptr, 0));
  EXPECT_FALSE(Held(f.link));
}

TEST(Receiver, LateAnswerToThePostHandshakeCommandSatisfiesNoOtherWait) {
  ConnectedLinkFixture f;
  const uint8_t zero = 0;
  ASSERT_TRUE(f.link.Send(0x81, &zero, 1));
  ASSERT_TRUE(f.link.Send(0x13, &zero, 1));
  const Bytes late = testing::MakeResponse(0x81, 0x00);
  f.link.Deliver(late.data(), late.size());
  EXPECT_FALSE(Held(f.link));

  ASSERT_TRUE(f.link.Send(0x81, &zero, 1));
  f.link.Deliver(late.data(), late.size());
  EXPECT_TRUE(Held(f.link));
}

TEST(Receiver, AnAnswerLongerThanTheCommandCanGetIsNoise) {
  // A read of 16 bytes: an answer that declares 17 data bytes is a false start
  // and the real answer behind it is taken.
  ConnectedLinkFixture f;
  ASSERT_TRUE(f.link.Send(0x2D, nullptr, 0, 16));
  Bytes stream = {0x81, 0x2D, 0x00, 0x12};
  const Bytes real = testing::MakeResponse(0x2D, 0x00, Bytes(16, 0x5A));
  stream.insert(stream.end(), real.begin(), real.end());
  f.link.Deliver(stream.data(), stream.size());
  const auto answer = Held(f.link);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->length, 16u);
  EXPECT_EQ(answer->data[15], 0x5A);
}

TEST(Receiver, AFrameInsideAPlausibleAnswerIsNeverTakenInItsPlace) {
  // Flash data that happens to hold a whole answer frame.
  ConnectedLinkFixture f;
  ASSERT_TRUE(f.link.Send(0x2D, nullptr, 0, 32));
  Bytes data = testing::MakeResponse(0x13, 0x07, {1, 2});
  data.resize(32, 0xEE);
  const Bytes real = testing::MakeResponse(0x2D, 0x00, data);
  f.link.Deliver(real.data(), real.size());
  const auto answer = Held(f.link);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->code, 0x2D);
  EXPECT_EQ(answer->length, 32u);
}

TEST(Receiver, AFrameFoundInsideABrokenOneIsTakenAndWhatFollowsStillCounts) {
  // A plausible start swallows a whole short answer and a disconnect
  // acknowledgement; its CRC fails, and both inner frames are taken.
  ConnectedLinkFixture f;
  f.log.SetFrameEcho(true);
  ASSERT_TRUE(f.link.Send(0x2D, nullptr, 0, 40));
  const Bytes inner = testing::MakeResponse(0x13, 0x00, {1, 2});
  const Bytes ack = MakeFrame(0x12, {0x00});
  Bytes outer = {0x81, 0x2D, 0x00, static_cast<uint8_t>(inner.size() + ack.size() + 1)};
  outer.push_back(0x00);
  outer.insert(outer.end(), inner.begin(), inner.end());
  outer.insert(outer.end(), ack.begin(), ack.end());
  outer.insert(outer.end(), {0xAB, 0xCD, 0x18});  // a CRC that does not match
  f.link.Deliver(outer.data(), outer.size());
  const auto answer = Held(f.link);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->code, 0x13);
  EXPECT_TRUE(f.link.AwaitDisconnectAck(0));
  ASSERT_EQ(f.sink.lines.size(), 4u);  // TX, the broken frame, then the two inside it
  EXPECT_EQ(f.sink.lines[2], "RX: " + Hex(inner));
  EXPECT_EQ(f.sink.lines[3], "RX: " + Hex(ack));
}

}  // namespace
}  // namespace corvel::link
