// The chip model through its byte API: what a host sends, what it gets back.
#include "sim/chip_model.h"

#include <gtest/gtest.h>

#include "base/bytes.h"
#include "tests/sim/sim_test_util.h"

namespace corvel::sim {
namespace {

using namespace corvel::sim::testing;

ModelOptions Connected() {
  ModelOptions options;
  options.start = StartState::kConnected;
  return options;
}

struct ModelFixture {
  explicit ModelFixture(ModelOptions options = Connected()) : model(std::move(options)) {}

  // Sends one frame; returns its answer (nullopt when there is none).
  std::optional<Answer> Send(uint8_t code, const Bytes& payload) { return SendRaw(MakeFrame(code, payload)); }
  std::optional<Answer> SendRaw(const Bytes& bytes) {
    out.clear();
    model.Receive(bytes.data(), bytes.size(), out);
    Bytes copy = out;
    return TakeFrame(copy);
  }
  uint8_t Status(uint8_t code, const Bytes& payload) {
    const std::optional<Answer> a = Send(code, payload);
    return a ? a->status : 0xEE;
  }
  Bytes ReadFlash(uint32_t addr, uint16_t n) {
    const std::optional<Answer> a = Send(0x2D, Cat({U32Le(addr), U16Le(n)}));
    return a && a->status == 0 ? a->data : Bytes{};
  }
  // Runs a whole transfer; returns the status of the last answer.
  uint8_t Program(uint8_t type, const Bytes& image, const std::string& tag, std::optional<uint16_t> crc = {}) {
    uint8_t status = 0xEE;
    for (const Bytes& frame : TransferFrames(type, image, tag, crc)) {
      const std::optional<Answer> a = SendRaw(frame);
      status = a ? a->status : 0xEE;
      if (status != 0) break;
    }
    return status;
  }

  ChipModel model;
  Bytes out;
};

TEST(ChipModel, AnswersTheCommandTable) {
  struct Row {
    const char* name;
    uint8_t code;
    Bytes payload;
    uint8_t status;
    Bytes dataPrefix;
  };
  const PartitionRecord defaults;
  const std::vector<Row> rows = {
      {"boot version", 0x13, {0}, 0, {1, 2}},
      {"chip id", 0x15, {0}, 0, U32Le(0x0C0B1E51)},
      {"serial number", 0x26, {1, 4, 0, 0x48, 0, 0, 0}, 0, {0x78, 0x56, 0x34, 0x12}},
      {"partition record", 0x2D, Cat({U32Le(0), U16Le(52)}), 0, Cat({U32Le(kValidFlag), U32Le(defaults.AppAddr)})},
      {"access record", 0x2D, Cat({U32Le(0x100), U16Le(28)}), 0, Cat({U32Le(kValidFlag), U32Le(0xFFFFFFFF)})},
      {"app record", 0x2D, Cat({U32Le(0x400), U16Le(16)}), 0, U32Le(kValidFlag)},
      {"unwritten register", 0x29, U32Le(0x40000000), 0, U32Le(0)},
      {"largest flash read", 0x2D, Cat({U32Le(0), U16Le(1016)}), 0, {}},
      {"flash read too long", 0x2D, Cat({U32Le(0), U16Le(1017)}), kStatusBadArgument, {}},
      {"flash read past the end", 0x2D, Cat({U32Le(kFlashSize - 1), U16Le(2)}), kStatusBadArgument, {}},
      {"flash read short payload", 0x2D, U32Le(0), kStatusBadArgument, {}},
      {"OTP page 0", 0x26, {0, 4, 0, 0, 0, 0, 0}, kStatusBadArgument, {}},
      {"OTP page 4", 0x26, {4, 4, 0, 0, 0, 0, 0}, kStatusBadArgument, {}},
      {"OTP read past the page", 0x26, Cat({{1}, U16Le(8), U32Le(1020)}), kStatusBadArgument, {}},
      {"flash write length mismatch", 0x2C, Cat({U32Le(0x20000), U16Le(4), {1, 2}}), kStatusBadArgument, {}},
      {"flash write past the end", 0x2C, Cat({U32Le(kFlashSize - 1), U16Le(2), {1, 2}}), kStatusBadArgument, {}},
      {"page erase of length 0", 0x2B, Cat({U32Le(0x20000), U16Le(0)}), kStatusBadArgument, {}},
      {"sector erase past the end", 0x30, Cat({U32Le(kFlashSize), U16Le(4096)}), kStatusBadArgument, {}},
      {"unaligned register", 0x29, U32Le(0x40000001), kStatusBadArgument, {}},
      {"access record count mismatch", 0x22, {5, 1, 2}, kStatusBadArgument, {}},
      {"block without a transfer", 0x24, {0, 1, 0xAB}, kStatusNoTransfer, {}},
      {"erase type 5", 0x20, {5}, kStatusBadArgument, {}},
      {"image larger than the region", 0x23, Cat({{4}, U32Le(defaults.AppSize + 1), U16Le(0), {'A', 'B', 'C', 'D'}}),
       kStatusBadArgument, {}},
      {"rate 0", 0x83, U32Le(0), kStatusBadArgument, {}},
      {"unknown code", 0x40, {0}, kStatusUnknownCommand, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ModelFixture f;
    const std::optional<Answer> a = f.Send(row.code, row.payload);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->code, row.code);
    EXPECT_EQ(a->status, row.status);
    ASSERT_GE(a->data.size(), row.dataPrefix.size());
    EXPECT_EQ(Bytes(a->data.begin(), a->data.begin() + static_cast<ptrdiff_t>(row.dataPrefix.size())), row.dataPrefix);
  }
}

TEST(ChipModel, ReadsAsManyBytesAsAsked) {
  ModelFixture f;
  EXPECT_EQ(f.ReadFlash(0, 1016).size(), 1016u);
  const std::optional<Answer> otp = f.Send(0x26, Cat({{1}, U16Le(256), U32Le(0)}));
  ASSERT_TRUE(otp);
  EXPECT_EQ(otp->data.size(), 256u);
}

TEST(ChipModel, RegistersReadBackWhatWasWritten) {
  ModelFixture f;
  EXPECT_EQ(f.Status(0x2A, Cat({U32Le(0x40001000), U32Le(0xD3912DD4)})), 0);
  const std::optional<Answer> a = f.Send(0x29, U32Le(0x40001000));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->data, U32Le(0xD3912DD4));
}

TEST(ChipModel, ConsoleUntilTheBurstThenSyncHandshakeAndDisconnect) {
  ModelOptions options;
  options.consolePeriodMicros = 1000;
  ModelFixture f(options);
  Bytes out;
  f.model.Tick(0, out);
  EXPECT_EQ(std::string(out.begin(), out.end()), options.banner);
  out.clear();
  f.model.Tick(999, out);
  EXPECT_TRUE(out.empty());
  f.model.Tick(1000, out);
  EXPECT_EQ(std::string(out.begin(), out.end()), options.consoleLine);

  EXPECT_FALSE(f.Send(0x13, {0}).has_value()) << "frames are not served in console mode";
  f.out.clear();
  const Bytes burst = Burst();
  f.model.Receive(burst.data(), burst.size(), f.out);
  EXPECT_EQ(f.out, Bytes(8, 0x55));
  EXPECT_EQ(f.model.state(), StartState::kSynced);
  EXPECT_EQ(f.Status(0x13, {0}), kStatusNotConnected);
  EXPECT_EQ(f.Status(0x11, {0x78, 0x56, 0x34, 0x12}), 0x20);
  EXPECT_EQ(f.Status(0x13, {0}), 0);

  // No console text while connected.
  out.clear();
  f.model.Tick(5000, out);
  EXPECT_TRUE(out.empty());

  EXPECT_EQ(f.Status(0x12, {0}), 0);
  EXPECT_EQ(f.model.state(), StartState::kConsole);
  f.model.Tick(6000, out);
  EXPECT_EQ(std::string(out.begin(), out.end()), options.banner);
}

// A production station's next board: a disconnect seats a chip with the next
// serial number, unless the model is told the same chip stays.
TEST(ChipModel, NewChipOnDisconnectCountsTheSerialNumberUp) {
  for (const bool newChip : {false, true}) {
    SCOPED_TRACE(newChip);
    ModelOptions options = Connected();
    options.serialNumber = 0x0000CAFE;
    options.newChipOnDisconnect = newChip;
    ModelFixture f(options);
    const auto serial = [&f] {
      const std::optional<Answer> a = f.Send(0x26, {0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00});
      return a && a->data.size() >= 0x4C ? ReadLe32(a->data.data() + 0x48) : 0u;
    };
    EXPECT_EQ(serial(), 0x0000CAFEu);
    EXPECT_EQ(f.Status(0x12, {0}), 0);
    const Bytes burst = Burst();
    f.model.Receive(burst.data(), burst.size(), f.out);
    EXPECT_EQ(f.Status(0x11, {0xFF, 0xFF, 0xFF, 0xFF}), 0x20);
    EXPECT_EQ(serial(), newChip ? 0x0000CAFFu : 0x0000CAFEu);
  }
}

TEST(ChipModel, PasswordAndHandshakeStatus) {
  ModelOptions options;
  options.start = StartState::kSynced;
  options.password = 0x5A6B7C8D;
  options.handshakeStatus = 0x30;
  ModelFixture f(options);
  EXPECT_EQ(f.Status(0x11, U32Le(0xFFFFFFFF)), kHandshakeRefused);
  EXPECT_EQ(f.Status(0x2D, Cat({U32Le(0), U16Le(4)})), kStatusNotConnected);
  EXPECT_EQ(f.Status(0x11, U32Le(0x5A6B7C8D)), 0x30);
  EXPECT_EQ(f.Status(0x2D, Cat({U32Le(0), U16Le(4)})), 0);
}

TEST(ChipModel, AnswerTo81OnlyWhenAsked) {
  ModelFixture quiet;
  EXPECT_FALSE(quiet.Send(0x81, {0}).has_value());
  ModelOptions options = Connected();
  options.answer81 = true;
  ModelFixture answering(options);
  const std::optional<Answer> a = answering.Send(0x81, {0});
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status, 0);
}

TEST(ChipModel, LateResetAnswersOnlyTheNthBurst) {
  ModelOptions options;
  options.syncAfterBursts = 3;
  ModelFixture f(options);
  const Bytes burst = Burst();
  for (int i = 1; i <= 3; ++i) {
    f.out.clear();
    f.model.Receive(burst.data(), burst.size(), f.out);
    EXPECT_EQ(f.out.empty(), i < 3) << "burst " << i;
  }
}

TEST(ChipModel, BurstWhileConnectedStartsOver) {
  ModelFixture f;
  const Bytes burst = Burst();
  f.model.Receive(burst.data(), burst.size(), f.out);
  EXPECT_EQ(f.out, Bytes(8, 0x55));
  EXPECT_EQ(f.Status(0x13, {0}), kStatusNotConnected);
}

TEST(ChipModel, AnyByteSplitGivesTheSameAnswers) {
  Bytes stream = Burst();
  for (const Bytes& frame : {MakeFrame(0x11, U32Le(0)), MakeFrame(0x13, {0}), MakeFrame(0x26, {1, 4, 0, 0x48, 0, 0, 0})}) {
    stream.insert(stream.end(), {0x00, 0x55});  // noise between frames is dropped
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  ModelFixture whole(ModelOptions{});
  whole.model.Receive(stream.data(), stream.size(), whole.out);
  for (size_t chunk : {1u, 2u, 3u, 7u, 100u}) {
    ModelFixture split(ModelOptions{});
    for (size_t i = 0; i < stream.size(); i += chunk) {
      split.model.Receive(stream.data() + i, std::min(chunk, stream.size() - i), split.out);
    }
    EXPECT_EQ(split.out, whole.out) << "chunk " << chunk;
  }
  Bytes out = whole.out;
  out.erase(out.begin(), out.begin() + 8);
  EXPECT_EQ(TakeFrame(out)->status, 0x20);
  EXPECT_EQ(TakeFrame(out)->data, Bytes({1, 2}));
  EXPECT_EQ(TakeFrame(out)->data, U32Le(0x12345678));
}

TEST(ChipModel, BurstPatternInsideAFrameIsData) {
  ModelFixture f;
  Bytes data(84, 0xAA);
  std::fill_n(data.begin(), 64, uint8_t{0xFF});
  EXPECT_EQ(f.Status(0x2C, Cat({U32Le(0x20000), U16Le(static_cast<uint32_t>(data.size())), data})), 0);
  EXPECT_EQ(f.model.state(), StartState::kConnected);
  EXPECT_EQ(f.ReadFlash(0x20000, static_cast<uint16_t>(data.size())), data);
}

TEST(ChipModel, FlashBehavesLikeNor) {
  ModelFixture f;
  EXPECT_EQ(f.Status(0x2C, Cat({U32Le(0x20010), U16Le(2), {0xF0, 0x3C}})), 0);
  EXPECT_EQ(f.Status(0x2C, Cat({U32Le(0x20010), U16Le(2), {0x0F, 0xFF}})), 0);
  EXPECT_EQ(f.ReadFlash(0x20010, 2), Bytes({0x00, 0x3C})) << "a write only clears bits";

  // A page erase clears the whole page it touches and nothing else.
  EXPECT_EQ(f.Status(0x2C, Cat({U32Le(0x20100), U16Le(1), {0x11}})), 0);
  EXPECT_EQ(f.Status(0x2B, Cat({U32Le(0x20080), U16Le(0x80)})), 0);
  EXPECT_EQ(f.ReadFlash(0x20000, 256), Bytes(256, 0xFF));
  EXPECT_EQ(f.ReadFlash(0x20100, 1), Bytes({0x11}));

  // The access record write replaces its bytes instead of clearing bits.
  EXPECT_EQ(f.Status(0x22, Cat({{4}, U32Le(0)})), 0);
  EXPECT_EQ(f.Status(0x22, Cat({{4}, U32Le(0xA5A5A5A5)})), 0);
  EXPECT_EQ(f.ReadFlash(0x100, 4), U32Le(0xA5A5A5A5));

  // The partition step's sector erase wipes every record of sector 0.
  EXPECT_EQ(f.Status(0x30, Cat({U32Le(0), U16Le(0x1000)})), 0);
  for (uint32_t addr : {0x000u, 0x100u, 0x200u, 0x300u, 0x400u}) EXPECT_EQ(f.ReadFlash(addr, 16), Bytes(16, 0xFF));
  EXPECT_EQ(f.Status(0x20, {4}), kStatusPartitionInvalid);
  EXPECT_EQ(f.Status(0x23, Cat({{4}, U32Le(0), U16Le(0), {'A', 'B', 'C', 'D'}})), kStatusPartitionInvalid);

  // Writing the record back brings the regions back.
  Bytes record;
  const PartitionRecord defaults;
  for (uint32_t w : {kValidFlag, defaults.AppAddr, defaults.AppSize, defaults.StackAddr, defaults.StackSize,
                     defaults.SblAddr, defaults.SblSize, defaults.UserData2Addr, defaults.UserData2Size,
                     defaults.UserData1Addr, defaults.UserData1Size, defaults.FreeAddr, defaults.FreeSize}) {
    record = Cat({record, U32Le(w)});
  }
  EXPECT_EQ(f.Status(0x2C, Cat({U32Le(0), U16Le(52), record})), 0);
  EXPECT_EQ(f.Status(0x20, {4}), 0);

  EXPECT_EQ(f.Status(0x20, {0}), 0);
  EXPECT_EQ(f.ReadFlash(0, 64), Bytes(64, 0xFF)) << "whole-chip erase";
}

TEST(ChipModel, ImageTransferUpdatesTheRecordOnAGoodCrc) {
  ModelFixture f;
  const PartitionRecord regions;
  const Bytes image = TestImage(300, 7);  // block 1 of 256, block 2 of 44
  EXPECT_EQ(f.Program(kTypeApp, image, "A123"), 0);
  EXPECT_EQ(f.ReadFlash(regions.AppAddr, 300), image);
  const ImageRecord record = f.model.memory().ReadImageRecord(kAppRecordAddr);
  EXPECT_EQ(record.valid, kValidFlag);
  EXPECT_EQ(record.crc, link::Crc16(image.data(), 300));
  EXPECT_EQ(record.size, 300u);
  EXPECT_EQ(std::string(record.name.begin(), record.name.end()), "A123");

  // The stack goes to its own region and record; boot and user data have none.
  const Bytes stack = TestImage(1000, 8);
  EXPECT_EQ(f.Program(kTypeStack, stack, "S001"), 0);
  EXPECT_EQ(f.ReadFlash(regions.StackAddr, 1000), stack);
  EXPECT_EQ(f.model.memory().ReadImageRecord(kStackRecordAddr).size, 1000u);
  const Bytes before = f.ReadFlash(0, 1024);
  EXPECT_EQ(f.Program(kTypeBoot, TestImage(256, 9), "BOOT"), 0);
  EXPECT_EQ(f.ReadFlash(regions.SblAddr, 256), TestImage(256, 9));
  EXPECT_EQ(f.Program(kTypeUserData, TestImage(20, 10), "USER"), 0);
  EXPECT_EQ(f.ReadFlash(regions.UserData1Addr, 20), TestImage(20, 10));
  EXPECT_EQ(f.ReadFlash(0, 1024), before) << "no record for boot or user data";
}

TEST(ChipModel, ImageTransferFailures) {
  const Bytes image = TestImage(600, 3);
  {
    SCOPED_TRACE("bad CRC: the last block is refused, the record stays");
    ModelFixture f;
    const ImageRecord old = f.model.memory().ReadImageRecord(kAppRecordAddr);
    EXPECT_EQ(f.Program(kTypeApp, image, "A123", 0x1234), kStatusImageCrc);
    const ImageRecord now = f.model.memory().ReadImageRecord(kAppRecordAddr);
    EXPECT_EQ(now.crc, old.crc);
    EXPECT_EQ(now.name, old.name);
  }
  {
    SCOPED_TRACE("no erase first: the old image shows through");
    ModelFixture f;
    std::vector<Bytes> frames = TransferFrames(kTypeApp, image, "A123");
    frames.erase(frames.begin());
    uint8_t status = 0;
    for (const Bytes& frame : frames) status = f.SendRaw(frame)->status;
    EXPECT_EQ(status, kStatusImageCrc);
  }
  {
    SCOPED_TRACE("blocks out of order");
    ModelFixture f;
    const std::vector<Bytes> frames = TransferFrames(kTypeApp, image, "A123");
    EXPECT_EQ(f.SendRaw(frames[0])->status, 0);
    EXPECT_EQ(f.SendRaw(frames[1])->status, 0);
    EXPECT_EQ(f.SendRaw(frames[3])->status, kStatusBlockOrder);
  }
}

TEST(ChipModel, ZeroLengthImageUpdatesItsRecordAtTheRequest) {
  ModelFixture f;
  const std::vector<Bytes> frames = TransferFrames(kTypeApp, {}, "ZERO");
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(f.SendRaw(frames[0])->status, 0);
  EXPECT_EQ(f.SendRaw(frames[1])->status, 0);
  const ImageRecord record = f.model.memory().ReadImageRecord(kAppRecordAddr);
  EXPECT_EQ(record.valid, kValidFlag);
  EXPECT_EQ(record.size, 0u);
  EXPECT_EQ(record.crc, 0);
  EXPECT_EQ(f.Status(0x24, {0, 1, 0}), kStatusNoTransfer);
}

TEST(ChipModel, LockedOtpPageRefusesWritesAndErases) {
  ModelFixture f;
  EXPECT_EQ(f.Status(0x27, Cat({{2}, U16Le(2), U32Le(0x10), {0x12, 0x34}})), 0);
  EXPECT_EQ(f.Status(0x28, {2}), 0);
  EXPECT_EQ(f.Status(0x27, Cat({{2}, U16Le(1), U32Le(0x20), {0}})), kStatusOtpLocked);
  EXPECT_EQ(f.Status(0x2F, {2}), kStatusOtpLocked);
  const std::optional<Answer> a = f.Send(0x26, Cat({{2}, U16Le(2), U32Le(0x10)}));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->data, Bytes({0x12, 0x34}));
  EXPECT_TRUE(f.model.memory().OtpLocked(2));
  // Other pages are untouched by the lock.
  EXPECT_EQ(f.Status(0x27, Cat({{3}, U16Le(1), U32Le(0), {0}})), 0);
  EXPECT_EQ(f.Status(0x2F, {3}), 0);
  EXPECT_EQ(f.model.memory().Otp(3)[0], 0xFF);
}

TEST(ChipModel, RateSwitchDoublesAfterAHandshakeAt230400) {
  for (uint32_t handshakeRate : {115200u, 230400u}) {
    ModelOptions options;
    options.start = StartState::kSynced;
    ModelFixture f(options);
    f.model.SetOwnRate(handshakeRate);
    ASSERT_EQ(f.Status(0x11, U32Le(0)), 0x20);
    EXPECT_EQ(f.Status(0x83, U32Le(500000)), 0);
    EXPECT_EQ(f.model.TakeRateSwitch(), handshakeRate == 230400 ? 1000000u : 500000u);
    EXPECT_FALSE(f.model.TakeRateSwitch().has_value());
  }
}

TEST(ChipModel, InjectedFaults) {
  const Bytes image = TestImage(600, 5);
  {
    SCOPED_TRACE("status for a code: the erase fails and erases nothing");
    ModelFixture f;
    ASSERT_TRUE(ParseFault("status:0x20=9", f.model.faults()).ok());
    const Bytes before = f.ReadFlash(PartitionRecord{}.AppAddr, 64);
    EXPECT_EQ(f.Status(0x20, {4}), kStatusEraseFailed);
    EXPECT_EQ(f.ReadFlash(PartitionRecord{}.AppAddr, 64), before);
  }
  {
    SCOPED_TRACE("silence for a code");
    ModelFixture f;
    f.model.faults().silentFor.set(0x13);
    EXPECT_FALSE(f.Send(0x13, {0}).has_value());
    EXPECT_TRUE(f.out.empty());
  }
  {
    SCOPED_TRACE("bad CRC for a code");
    ModelFixture f;
    f.model.faults().badCrcFor.set(0x15);
    EXPECT_FALSE(f.Send(0x15, {0}).has_value());
    ASSERT_EQ(f.out.size(), 12u);
    EXPECT_EQ(f.out[1], 0x15);
  }
  {
    SCOPED_TRACE("NAK for block 2: refused and not written");
    ModelFixture f;
    f.model.faults().nakBlock = 2;
    EXPECT_EQ(f.Program(kTypeApp, image, "A123"), 1);
    EXPECT_EQ(f.ReadFlash(PartitionRecord{}.AppAddr + 256, 16), Bytes(16, 0xFF));
  }
  {
    SCOPED_TRACE("silence for block 2");
    ModelFixture f;
    f.model.faults().silentBlock = 2;
    const std::vector<Bytes> frames = TransferFrames(kTypeApp, image, "A123");
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(f.SendRaw(frames[i]).has_value());
    EXPECT_FALSE(f.SendRaw(frames[3]).has_value());
  }
  {
    SCOPED_TRACE("noise before each answer");
    ModelFixture f;
    f.model.faults().noiseBytes = 300;
    const std::optional<Answer> a = f.Send(0x13, {0});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->data, Bytes({1, 2}));
    ASSERT_EQ(f.out.size(), 300u + 10u);
    EXPECT_EQ(std::count(f.out.begin(), f.out.begin() + 300, link::kFrameStart), 0);
  }
  {
    SCOPED_TRACE("the adapter vanishes at the 2nd frame");
    ModelFixture f;
    f.model.faults().vanishAfterFrames = 2;
    EXPECT_TRUE(f.Send(0x13, {0}).has_value());
    EXPECT_FALSE(f.Send(0x13, {0}).has_value());
    EXPECT_TRUE(f.model.Vanished());
    EXPECT_FALSE(f.Send(0x13, {0}).has_value());
  }
  {
    SCOPED_TRACE("a stuck bit: the transfer's own check passes, only a read shows it");
    ModelFixture f;
    const uint32_t app = PartitionRecord{}.AppAddr;
    ASSERT_TRUE(ParseFault("stuck-bit:" + std::to_string(app + 300) + "=3", f.model.faults()).ok());
    ASSERT_TRUE(ParseFault("stuck-bit:" + std::to_string(app + 301), f.model.faults()).ok());
    const Bytes ones(600, 0xFF);
    EXPECT_EQ(f.Program(kTypeApp, ones, "A123"), 0);
    EXPECT_EQ(f.model.memory().ReadImageRecord(kAppRecordAddr).crc, link::Crc16(ones.data(), 600));
    EXPECT_EQ(f.ReadFlash(app + 299, 4), Bytes({0xFF, 0xF7, 0xFE, 0xFF}));
    EXPECT_EQ(f.ReadFlash(app + 301, 1), Bytes({0xFE})) << "at the start of a read too";
    EXPECT_EQ(f.ReadFlash(app, 300), Bytes(300, 0xFF)) << "a read that ends before it";
  }
}

// The wiring other tests use: the link core over the fake host, answered by the model.
TEST(ChipModel, ServesTheLinkCoreThroughTheFakeHost) {
  for (size_t falseStarts : {size_t{0}, size_t{3}}) {
    SCOPED_TRACE(falseStarts);
    corvel::testing::ConnectedLinkFixture fx;
    ChipModel model(Connected());
    // Stray starts on the line before each answer: the link still takes it.
    model.faults().noiseBytes = 5;
    model.faults().falseStarts = falseStarts;
    Bytes out;
    fx.host.onWrite = [&](const Bytes& b) {
      out.clear();
      model.Receive(b.data(), b.size(), out);
      fx.host.Reply(out, 1000);
    };
    const uint8_t payload[] = {1, 4, 0, 0x48, 0, 0, 0};
    const auto answer = fx.link.Transact(0x26, payload, sizeof payload, 4);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 0);
    EXPECT_EQ(answer->data[0], 0x78);
    EXPECT_EQ(answer->data[3], 0x12);
  }
}

}  // namespace
}  // namespace corvel::sim
