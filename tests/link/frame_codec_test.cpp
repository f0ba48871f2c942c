#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/crc16.h"
#include "tests/support/fake_host.h"

namespace corvel::link {
namespace {

using testing::Bytes;
using testing::LinkFixture;
using testing::MakeFrame;

std::string Hex(const Bytes& bytes) {
  std::string s;
  AppendHexBytes(s, bytes.data(), bytes.size());
  return s;
}

TEST(SendFrame, BuildsTheFramesOfTheProtocol) {
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
    ASSERT_TRUE(f.link.SendFrame(row.code, row.payload.data(), static_cast<uint16_t>(row.payload.size())));
    ASSERT_EQ(f.host.writes.size(), 1u);
    EXPECT_EQ(Hex(f.host.writes[0]), row.frame) << "code " << int(row.code);
  }
}

TEST(SendFrame, EmptyPayloadIsSevenBytes) {
  LinkFixture f;
  ASSERT_TRUE(f.link.SendFrame(0x15, nullptr, 0));
  const Bytes& w = f.host.writes.at(0);
  ASSERT_EQ(w.size(), 7u);
  const uint8_t header[] = {0x15, 0x00, 0x00};
  const uint16_t crc = Crc16(header, 3);
  EXPECT_EQ(w, (Bytes{0x81, 0x15, 0x00, 0x00, uint8_t(crc >> 8), uint8_t(crc & 0xFF), 0x18}));
}

TEST(SendFrame, RefusesAPayloadThatDoesNotFitTheBuffer) {
  LinkFixture f;
  Bytes payload(kMaxPayload + 1, 0xAB);
  auto result = f.link.SendFrame(0x2C, payload.data(), static_cast<uint16_t>(payload.size()));
  EXPECT_FALSE(result);
  EXPECT_EQ(result.error().kind, ErrorKind::kBadInput);
  EXPECT_TRUE(f.host.writes.empty());
  payload.pop_back();
  EXPECT_TRUE(f.link.SendFrame(0x2C, payload.data(), static_cast<uint16_t>(payload.size())));
  EXPECT_EQ(f.host.writes.at(0).size(), kTxBufferSize);
}

TEST(FrameEcho, FollowsTheSwitchFrameByFrame) {
  LinkFixture f;
  const uint8_t zero = 0;
  ASSERT_TRUE(f.link.SendFrame(0x13, &zero, 1));
  EXPECT_TRUE(f.sink.lines.empty());
  f.log.SetFrameEcho(true);
  ASSERT_TRUE(f.link.SendFrame(0x13, &zero, 1));
  ASSERT_EQ(f.sink.lines.size(), 1u);
  EXPECT_EQ(f.sink.lines[0], "TX: 81 13 00 01 00 B3 4A 18 ");

  f.link.protocolMode = f.link.synced = f.link.framesEnabled = 1;
  const Bytes bad = {0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x41, 0x18};  // CRC off by one
  f.link.Deliver(bad.data(), bad.size());
  ASSERT_EQ(f.sink.lines.size(), 2u);
  EXPECT_EQ(f.sink.lines[1], "RX: 81 11 00 01 20 7A 41 18 ");  // echoed before the CRC check
  EXPECT_EQ(f.link.responseArrived, 0);
}

// The receiver, fed chunk by chunk as the hosts do.
struct ReceiverRow {
  const char* name;
  uint8_t protocolMode, synced, framesEnabled;
  std::vector<Bytes> chunks;
  uint8_t responseArrived, disconnectAcked, syncedAfter;
  int status;           // -1: not checked
  Bytes data;           // expected data bytes at offset 5
  std::string text;     // console text collected
};

TEST(Receiver, ClassifiesWhatArrives) {
  const Bytes ok11 = {0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x40, 0x18};
  const Bytes ok13 = {0x81, 0x13, 0x00, 0x03, 0x00, 0x01, 0x02, 0x5C, 0xCB, 0x18};
  const std::vector<ReceiverRow> rows = {
      {"text mode keeps characters, drops zero bytes", 0, 0, 0, {{0x41, 0x00, 0x42, 0x0A}}, 0, 0, 0, -1, {}, "AB\n"},
      {"text mode ignores frames", 0, 1, 1, {ok11}, 0, 0, 1, -1, {}, "\x81\x11\x01\x20\x7A\x40\x18"},
      {"sync needs eight in a row", 1, 0, 0, {{0x55, 0x55, 0x55, 0xAA, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}}, 0, 0, 0, -1, {}, ""},
      {"sync on the eighth", 1, 0, 0, {{0x55, 0x55, 0x55, 0xAA, 0x55, 0x55, 0x55, 0x55}, {0x55, 0x55, 0x55, 0x55}}, 0, 0, 1, -1, {}, ""},
      {"synced but frames off drops", 1, 1, 0, {ok11}, 0, 0, 1, -1, {}, ""},
      {"good handshake answer", 1, 1, 1, {ok11}, 1, 0, 1, 0x20, {}, ""},
      {"status and data", 1, 1, 1, {ok13}, 1, 0, 1, 0x00, {0x01, 0x02}, ""},
      {"split across chunks", 1, 1, 1, {{0x81, 0x13}, {0x00, 0x03, 0x00}, {0x01, 0x02, 0x5C, 0xCB}, {0x18}}, 1, 0, 1, 0x00, {0x01, 0x02}, ""},
      {"noise before a frame", 1, 1, 1, {{0x55, 0x00, 0xFF, 0x18}, ok11}, 1, 0, 1, 0x20, {}, ""},
      {"bad CRC raises nothing", 1, 1, 1, {{0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x41, 0x18}}, 0, 0, 1, -1, {}, ""},
      {"disconnect answer", 1, 1, 1, {MakeFrame(0x12, {0x00})}, 0, 1, 1, -1, {}, ""},
      {"unlisted 0x25 dropped", 1, 1, 1, {MakeFrame(0x25, {0x00})}, 0, 0, 1, -1, {}, ""},
      {"unlisted 0x2E dropped", 1, 1, 1, {MakeFrame(0x2E, {0x00})}, 0, 0, 1, -1, {}, ""},
      {"wrong end byte, then a frame", 1, 1, 1, {{0x81, 0x11, 0x00, 0x01, 0x20, 0x7A, 0x40, 0x19}, ok11}, 1, 0, 1, 0x20, {}, ""},
      {"oversized length, then a frame", 1, 1, 1, {{0x81, 0x11, 0x04, 0x00}, ok11}, 1, 0, 1, 0x20, {}, ""},
      {"stray start byte before a frame", 1, 1, 1, {{0x81}, ok11}, 1, 0, 1, 0x20, {}, ""},
      {"start byte inside a broken frame", 1, 1, 1, {{0x81, 0x00, 0x00, 0x02}, ok13}, 1, 0, 1, 0x00, {0x01, 0x02}, ""},
  };
  for (const auto& row : rows) {
    LinkFixture f;
    f.link.protocolMode = row.protocolMode;
    f.link.synced = row.synced;
    f.link.framesEnabled = row.framesEnabled;
    for (const auto& chunk : row.chunks) {
      size_t used = 0;
      while (used < chunk.size()) used += f.link.Deliver(chunk.data() + used, chunk.size() - used);
    }
    f.log.FlushReceivedText();
    EXPECT_EQ(f.link.responseArrived, row.responseArrived) << row.name;
    EXPECT_EQ(f.link.disconnectAcked, row.disconnectAcked) << row.name;
    EXPECT_EQ(f.link.synced, row.syncedAfter) << row.name;
    if (row.status >= 0) {
      EXPECT_EQ(f.link.StatusByte(), row.status) << row.name;
    }
    if (row.responseArrived) {
      EXPECT_EQ(f.link.rxIndex, 0) << row.name;
      EXPECT_EQ(f.link.ResponseDataLength(), row.data.size()) << row.name;
      EXPECT_EQ(Bytes(f.link.ResponseData(), f.link.ResponseData() + row.data.size()), row.data) << row.name;
    }
    EXPECT_EQ(f.sink.text(), row.text) << row.name;
  }
}

TEST(Receiver, StopsAfterEachFrameSoTheCallerCanReadIt) {
  LinkFixture f;
  f.link.protocolMode = f.link.synced = f.link.framesEnabled = 1;
  Bytes two = testing::MakeResponse(0x29, 0x00, {0x11, 0x22, 0x33, 0x44});
  const Bytes second = testing::MakeResponse(0x2A, 0x07);
  two.insert(two.end(), second.begin(), second.end());

  size_t used = f.link.Deliver(two.data(), two.size());
  EXPECT_EQ(used, two.size() - second.size());
  EXPECT_EQ(f.link.StatusByte(), 0x00);
  EXPECT_EQ(f.link.ResponseData()[3], 0x44);

  f.link.responseArrived = 0;
  used += f.link.Deliver(two.data() + used, two.size() - used);
  EXPECT_EQ(used, two.size());
  EXPECT_EQ(f.link.responseArrived, 1);
  EXPECT_EQ(f.link.StatusByte(), 0x07);
}

TEST(Receiver, LateAnswerToThePostHandshakeCommandSatisfiesNoOtherWait) {
  LinkFixture f;
  f.link.protocolMode = f.link.synced = f.link.framesEnabled = 1;
  const uint8_t zero = 0;
  ASSERT_TRUE(f.link.SendFrame(0x81, &zero, 1));
  ASSERT_TRUE(f.link.SendFrame(0x13, &zero, 1));
  const Bytes late = testing::MakeResponse(0x81, 0x00);
  f.link.Deliver(late.data(), late.size());
  EXPECT_EQ(f.link.responseArrived, 0);

  ASSERT_TRUE(f.link.SendFrame(0x81, &zero, 1));
  f.link.Deliver(late.data(), late.size());
  EXPECT_EQ(f.link.responseArrived, 1);
}

}  // namespace
}  // namespace corvel::link
