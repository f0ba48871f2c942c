#include "link/frame_assembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_host.h"

namespace corvel::link {
namespace {

using testing::Bytes;
using testing::MakeFrame;

struct Seen {
  Bytes frame;
  bool crcOk;
  bool operator==(const Seen&) const = default;
};

struct Collector : FrameSink {
  void OnFrame(const uint8_t* frame, size_t size, bool crcOk) override { seen.push_back({Bytes(frame, frame + size), crcOk}); }
  std::vector<Seen> seen;
};

std::vector<Seen> Assemble(const Bytes& stream, const FrameAssembler::Rules& rules = {}) {
  FrameAssembler assembler;
  Collector collector;
  for (uint8_t b : stream) assembler.Push(b, rules, collector);
  return collector.seen;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(FrameAssembler, FindsFramesThroughNoiseAndFalseStarts) {
  const Bytes a = MakeFrame(0x13, {0x00, 0x01, 0x02});
  const Bytes b = MakeFrame(0x2D, Bytes(40, 0x81));  // data full of start bytes
  Bytes badCrc = MakeFrame(0x15, {0x00});
  badCrc[badCrc.size() - 2] ^= 0x01;
  struct Row {
    const char* name;
    Bytes stream;
    std::vector<Seen> expected;
  };
  const std::vector<Row> rows = {
      {.name = "two frames back to back", .stream = Join({a, b}), .expected = {{a, true}, {b, true}}},
      {.name = "noise between frames", .stream = Join({{0x00, 0x18, 0x55}, a, {0xFF}, b}),
       .expected = {{a, true}, {b, true}}},
      {.name = "a start whose length can never fit", .stream = Join({{0x81, 0x13, 0x04, 0x00}, a}),
       .expected = {{a, true}}},
      {.name = "a frame without its end byte", .stream = Join({Bytes(a.begin(), a.end() - 1), {0x19}, a}),
       .expected = {{a, true}}},
      {.name = "a bad CRC is reported, then assembly goes on", .stream = Join({badCrc, a}),
       .expected = {{badCrc, false}, {a, true}}},
      // 81 13 04 81 declares more than a frame can hold: the next start is kept.
      {.name = "a frame starting inside a false start", .stream = Join({{0x81, 0x13, 0x04}, a}),
       .expected = {{a, true}}},
      // 81 13 00 81 declares 129 bytes, which any command may carry: without
      // rules that know the awaited answer, the frame behind it is swallowed.
      {.name = "a plausible false start swallows what follows", .stream = Join({{0x81, 0x13, 0x00}, a}),
       .expected = {}},
  };
  for (const auto& row : rows) EXPECT_EQ(Assemble(row.stream), row.expected) << row.name;
}

TEST(FrameAssembler, RulesDropImplausibleStartsAtOnce) {
  std::array<bool, 256> codes{};
  codes[0x20] = codes[0x2D] = true;
  const Bytes answer = MakeFrame(0x20, {0x00});
  const Bytes read = MakeFrame(0x2D, Bytes(9, 0x00));
  struct Row {
    const char* name;
    Bytes stream;
    size_t maxPayload;
    std::vector<Seen> expected;
  };
  const std::vector<Row> rows = {
      {.name = "an unknown code", .stream = Join({{0x81, 0x00, 0x00}, answer}), .maxPayload = 8,
       .expected = {{answer, true}}},
      {.name = "a length no answer can have", .stream = Join({{0x81, 0x20, 0x00, 0x40}, answer}), .maxPayload = 8,
       .expected = {{answer, true}}},
      {.name = "a frame longer than allowed is never reported", .stream = read, .maxPayload = 8, .expected = {}},
      {.name = "the same frame within the limit", .stream = read, .maxPayload = 9, .expected = {{read, true}}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Assemble(row.stream, {.codes = &codes, .maxPayload = row.maxPayload}), row.expected) << row.name;
  }
}

TEST(FrameAssembler, IdleOnlyBetweenFrames) {
  FrameAssembler assembler;
  Collector collector;
  const Bytes a = MakeFrame(0x13, {0x00});
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(assembler.Idle(), i == 0);
    assembler.Push(a[i], {}, collector);
  }
  EXPECT_TRUE(assembler.Idle());
  assembler.Push(0x81, {}, collector);
  assembler.Reset();
  EXPECT_TRUE(assembler.Idle());
}

}  // namespace
}  // namespace corvel::link
