// The simulator's smaller parts: faults as text, the garbled line, the burst
// detector and the state file.
#include <gtest/gtest.h>

#include <fstream>

#include "sim/burst_detector.h"
#include "sim/chip_memory.h"
#include "sim/faults.h"
#include "sim/line_garble.h"
#include "sim/state_file.h"
#include "tests/sim/sim_test_util.h"
#include "tests/support/temp_dir.h"

namespace corvel::sim {
namespace {

using namespace corvel::sim::testing;

TEST(FaultText, ParsesEveryKindAndRefusesBadOnes) {
  Faults f;
  for (const char* text : {"status:0x20=9", "silent:19", "badcrc:0x15", "nak-block:3", "silent-block:0x10",
                           "noise:12", "false-start:2", "delay:250", "delay:0x13=5000", "vanish:5", "stuck-bit:0x16010",
                           "stuck-bit:90000=7"}) {
    EXPECT_TRUE(ParseFault(text, f).ok()) << text;
  }
  EXPECT_EQ(f.statusFor[0x20], 9);
  EXPECT_TRUE(f.silentFor[0x13]);
  EXPECT_TRUE(f.badCrcFor[0x15]);
  EXPECT_EQ(f.nakBlock, 3u);
  EXPECT_EQ(f.nakStatus, 1);
  EXPECT_EQ(f.silentBlock, 16u);
  EXPECT_EQ(f.noiseBytes, 12u);
  EXPECT_EQ(f.falseStarts, 2u);
  EXPECT_EQ(f.answerDelayMicros, 250000u);
  EXPECT_EQ(f.AnswerDelayMicros(0x13), 5000000u) << "a code's own delay";
  EXPECT_EQ(f.AnswerDelayMicros(0x15), 250000u) << "every other code";
  EXPECT_EQ(f.vanishAfterFrames, 5u);
  ASSERT_EQ(f.stuckBits.size(), 2u);
  EXPECT_EQ(f.stuckBits[0].address, 0x16010u);
  EXPECT_EQ(f.stuckBits[0].bit, 0);
  EXPECT_EQ(f.stuckBits[1].address, 90000u);
  EXPECT_EQ(f.stuckBits[1].bit, 7);
  ASSERT_TRUE(ParseFault("nak-block:4=0x44", f).ok());
  EXPECT_EQ(f.nakStatus, 0x44);

  for (const char* bad : {"", "status", "status:0x20", "status:0x100=1", "status:0x20=x", "silent:", "silent:1=2",
                          "nak-block:0", "nak-block:2=0", "noise:-1", "false-start:1025", "vanish:0", "frobnicate:1", "delay:1e3",
                          "delay:0x100=5", "delay:0x13=600001", "delay:0x13=", "stuck-bit:", "stuck-bit:0x100000000",
                          "stuck-bit:5=8", "stuck-bit:5="}) {
    Faults untouched;
    const Result<void> r = ParseFault(bad, untouched);
    EXPECT_FALSE(r.ok()) << bad;
    if (!r.ok()) {
      EXPECT_EQ(r.error().kind, ErrorKind::kBadInput);
    }
  }
}

TEST(LineGarble, SameRatePassesAndOtherRatesGarble) {
  const Bytes text = {'h', 'e', 'l', 'l', 'o', 0x81, 0x13, 0x00, 0x55, 0xFF};
  Bytes same;
  GarbleLine(text.data(), text.size(), 115200, 115200, same);
  EXPECT_EQ(same, text);
  for (auto [tx, rx] : {std::pair{115200u, 230400u}, {230400u, 115200u}, {115200u, 500000u}, {9600u, 115200u}}) {
    Bytes a;
    Bytes b;
    GarbleLine(text.data(), text.size(), tx, rx, a);
    GarbleLine(text.data(), text.size(), tx, rx, b);
    EXPECT_NE(a, text) << tx << " -> " << rx;
    EXPECT_EQ(a, b) << "deterministic";
  }
  // A slightly different clock (within a UART's tolerance) still reads right.
  Bytes close;
  GarbleLine(text.data(), text.size(), 115200, 116000, close);
  EXPECT_EQ(close, text);
}

TEST(BurstDetector, NeedsTheFfRunThenTheAaRun) {
  BurstDetector d;
  const Bytes burst = Burst();
  size_t fired = 0;
  size_t at = 0;
  for (size_t i = 0; i < burst.size(); ++i) {
    if (d.Feed(burst[i])) {
      ++fired;
      at = i;
    }
  }
  EXPECT_EQ(fired, 1u);
  EXPECT_EQ(at, 128u + BurstDetector::kMinAa - 1);
  Bytes shortFf(BurstDetector::kMinFf - 1 + 20, 0xAA);
  std::fill_n(shortFf.begin(), BurstDetector::kMinFf - 1, uint8_t{0xFF});
  for (uint8_t b : shortFf) EXPECT_FALSE(d.Feed(b));
}

TEST(StateFile, RoundTripAndRefusal) {
  ChipMemory memory = ChipMemory::Factory(0xCAFEF00D);
  const uint8_t data[] = {0x00, 0x11};
  memory.ProgramFlash(0x30000, data, 2);
  memory.otpLocked[1] = true;
  memory.registers[0x40000010] = 0x1234;

  corvel::testing::TempDir dir;
  const std::string path = dir.Path("chip.state");
  bool exists = true;
  ASSERT_TRUE(LoadStateFile(path, exists).ok());
  EXPECT_FALSE(exists);
  ASSERT_TRUE(SaveStateFile(path, memory).ok());
  Result<ChipMemory> loaded = LoadStateFile(path, exists);
  ASSERT_TRUE(loaded.ok());
  EXPECT_TRUE(exists);
  EXPECT_EQ(loaded->flash, memory.flash);
  EXPECT_EQ(loaded->otp, memory.otp);
  EXPECT_EQ(loaded->otpLocked, memory.otpLocked);
  EXPECT_EQ(loaded->registers, memory.registers);

  // Cut short, or not a state file at all: refused with a reason, never half-loaded.
  const std::vector<uint8_t> bytes = memory.Serialize();
  for (size_t cut : {size_t{0}, size_t{7}, size_t{100}, bytes.size() - 1}) {
    EXPECT_FALSE(ChipMemory::Deserialize(bytes.data(), cut).ok()) << cut;
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(ChipMemory::Deserialize(longer.data(), longer.size()).ok());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << "not a state";
  const Result<ChipMemory> bad = LoadStateFile(path, exists);
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().kind, ErrorKind::kBadInput);
}

}  // namespace
}  // namespace corvel::sim
