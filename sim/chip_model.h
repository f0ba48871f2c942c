// The simulated boot loader as a pure model: bytes from the host in, the
// chip's answer bytes out, time passed in by the caller. No I/O, no threads;
// the pty server drives it on a real line, unit tests through the fake host:
//
//   sim::ChipModel model({.start = sim::StartState::kConnected});
//   std::vector<uint8_t> out;
//   host.onWrite = [&](const Bytes& b) { out.clear(); model.Receive(b.data(), b.size(), out); host.Reply(out, 1000); };
//
// Bytes may arrive in any split: whole frames, several frames, a whole burst
// or single bytes per call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/frame_assembler.h"
#include "sim/burst_detector.h"
#include "sim/chip_memory.h"
#include "sim/faults.h"

namespace corvel::sim {

// Status bytes of the answers. 0, 1, 7 and 9 are the ones the host knows.
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusBadArgument = 0x01;  // also: image larger than its region
inline constexpr uint8_t kStatusOtpLocked = 0x02;
inline constexpr uint8_t kStatusNotConnected = 0x03;
inline constexpr uint8_t kStatusBlockOrder = 0x04;
inline constexpr uint8_t kStatusImageCrc = 0x05;
inline constexpr uint8_t kStatusNoTransfer = 0x06;
inline constexpr uint8_t kStatusPartitionInvalid = 0x07;
inline constexpr uint8_t kStatusEraseFailed = 0x09;
inline constexpr uint8_t kStatusUnknownCommand = 0x0C;
inline constexpr uint8_t kHandshakeRefused = 0x00;

inline constexpr size_t kSyncAnswerCount = 8;
inline constexpr uint32_t kMaxBlockData = 256;

enum class StartState {
  kConsole,    // printing console text, waiting for the wake-up burst
  kSynced,     // the sync answer has been given; waiting for the handshake
  kConnected,  // handshake accepted: every command is served
};

struct ModelOptions {
  StartState start = StartState::kConsole;
  // Accepted password; none means any password is accepted.
  std::optional<uint32_t> password;
  uint8_t handshakeStatus = 0x20;  // 0x20 or 0x30
  bool answer81 = false;           // answer the 0x81 sent after the handshake
  uint32_t syncAfterBursts = 1;    // > 1: a late reset, the first bursts go unanswered
  std::string banner = "Corvel BLE boot loader V1.2\r\n";
  std::string consoleLine = "ble app: running\r\n";
  uint64_t consolePeriodMicros = 0;  // 0: no periodic line
  uint32_t chipId = 0x0C0B1E51;
  uint8_t bootMajor = 1;
  uint8_t bootMinor = 2;
  uint32_t serialNumber = 0x12345678;
  // A disconnect stands for the board being taken out and the next one
  // seated: the serial number counts up by one (a production station's run).
  bool newChipOnDisconnect = false;
  Faults faults;
};

class ChipModel : private link::FrameSink {
 public:
  explicit ChipModel(ModelOptions options = {});

  // Bytes as the host sent them; appends the answer bytes to `out`.
  void Receive(const uint8_t* data, size_t length, std::vector<uint8_t>& out);

  // A wake-up burst has arrived (called by Receive when it sees one, and by
  // the line when the burst came at a rate the model cannot read).
  void WakeUp(std::vector<uint8_t>& out);

  // Console text due at `nowMicros` (the banner at the first call, then the
  // periodic line). Only in console mode.
  void Tick(uint64_t nowMicros, std::vector<uint8_t>& out);
  // When Tick next has something to say; UINT64_MAX for never.
  uint64_t NextTickMicros() const;

  // The chip's own line rate, as the line tells it (0: not known, no rate
  // rules apply). A burst sets it to the host's rate; 0x83 changes it.
  uint32_t OwnRate() const { return ownRate_; }
  void SetOwnRate(uint32_t rate) { ownRate_ = rate; }
  // A rate switch accepted by 0x83: the new rate, once. The caller sends the
  // answer already produced at the old rate first, then calls SetOwnRate.
  std::optional<uint32_t> TakeRateSwitch();
  // The code of the last command answered, once: the line tells a command's
  // answer (which a delay fault may hold back) from the sync answer by it.
  std::optional<uint8_t> TakeAnsweredCode();

  // The adapter-disappears fault has fired: nothing is answered any more.
  bool Vanished() const { return vanished_; }

  StartState state() const { return state_; }
  ChipMemory& memory() { return memory_; }
  const ChipMemory& memory() const { return memory_; }
  Faults& faults() { return options_.faults; }
  ModelOptions& options() { return options_; }

  // Frames from the host with a good CRC, and all bytes received.
  uint64_t FramesReceived() const { return framesReceived_; }
  uint64_t BytesReceived() const { return bytesReceived_; }

  // Sees every complete frame: from the host (true) and to the host (false).
  std::function<void(bool fromHost, const uint8_t* frame, size_t length)> onFrame;

 private:
  struct Transfer {
    bool active = false;
    uint8_t type = 0;
    uint32_t length = 0;
    uint16_t crc = 0;
    std::array<uint8_t, 4> tag{};
    ImageRegion region;
    uint32_t nextBlock = 1;
  };

  // Every complete frame from the host; answers go to out_.
  void OnFrame(const uint8_t* frame, size_t size, bool crcOk) override;
  // Carries out one command; returns false when it is not answered. Fills
  // answer_ (status byte first).
  bool Execute(uint8_t code, const uint8_t* payload, size_t length);
  void Answer(uint8_t code, std::vector<uint8_t>& out);
  void Status(uint8_t status) { answer_.assign(1, status); }

  bool Handshake(const uint8_t* p, size_t n);
  void EraseByType(const uint8_t* p, size_t n);
  void RequestTransfer(const uint8_t* p, size_t n);
  bool DataBlock(const uint8_t* p, size_t n);
  void FinishTransfer();
  void RangeErase(const uint8_t* p, size_t n, uint32_t unit);
  void ReadOtp(const uint8_t* p, size_t n);
  void WriteOtp(const uint8_t* p, size_t n);
  void RateSwitch(const uint8_t* p, size_t n);

  ModelOptions options_;
  ChipMemory memory_;
  StartState state_;
  BurstDetector burst_;
  uint32_t burstsInConsole_ = 0;

  link::FrameAssembler assembler_;
  std::vector<uint8_t>* out_ = nullptr;  // where the answers of the Receive in progress go
  std::vector<uint8_t> answer_;  // status + data of the answer being built
  std::vector<uint8_t> frame_;   // the answer frame being built

  Transfer transfer_;
  uint32_t ownRate_ = 0;
  uint32_t handshakeRate_ = 0;
  std::optional<uint32_t> rateSwitch_;
  std::optional<uint8_t> answeredCode_;
  bool vanished_ = false;
  uint64_t framesReceived_ = 0;
  uint64_t bytesReceived_ = 0;
  uint32_t noiseSeed_ = 0x2545F491;

  bool bannerDue_ = true;
  bool clockStarted_ = false;
  uint64_t nextLineMicros_ = 0;
};

}  // namespace corvel::sim
