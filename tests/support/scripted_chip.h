// A scripted boot loader for unit tests. It answers each command frame the
// link writes as the test has set it up, answers wake-up bursts with the sync
// pattern, and records what it received. Behind a FakeHost the answers arrive
// on the fake clock; another host can ask AnswerTo() itself.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "link/link.h"
#include "tests/support/fake_host.h"

namespace corvel::testing {

// A status that means: no answer at all.
inline constexpr int kSilent = -1;

// Bytes at addresses; a byte never written reads as erased (0xFF).
class MemoryImage {
 public:
  void Write(uint32_t address, const Bytes& bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) bytes_[address + static_cast<uint32_t>(i)] = bytes[i];
  }
  Bytes Read(uint32_t address, size_t length) const {
    Bytes out(length, 0xFF);
    for (size_t i = 0; i < length; ++i) {
      const auto it = bytes_.find(address + static_cast<uint32_t>(i));
      if (it != bytes_.end()) out[i] = it->second;
    }
    return out;
  }

 private:
  std::map<uint32_t, uint8_t> bytes_;
};

class ScriptedChip {
 public:
  struct Answer {
    Bytes bytes;
    uint64_t delayMicros = 0;
  };

  ScriptedChip() = default;
  explicit ScriptedChip(FakeHost& host) {
    host.onWrite = [this, &host](const Bytes& written) {
      if (auto answer = AnswerTo(written)) host.Reply(answer->bytes, answer->delayMicros);
    };
  }
  // Neither copied nor moved: the host's write handler points at this one.
  ScriptedChip(const ScriptedChip&) = delete;
  ScriptedChip& operator=(const ScriptedChip&) = delete;

  // --- The script. Unscripted, the chip accepts the handshake (0x20), leaves
  // the command after it unanswered, as the boot loader does, and answers
  // everything else with status 0.
  std::map<uint8_t, int> status;       // per command code; kSilent: no answer
  std::map<uint8_t, Bytes> data;       // per code, after status 0; a read gets no more than it asks for
  std::map<int, int> blockStatus;      // per data block number, instead of the code's status
  MemoryImage flash;                   // answers flash reads that have no data of their own
  std::map<uint8_t, MemoryImage> otp;  // per page number as sent; answers OTP reads likewise
  int syncFromBurst = 1;               // every burst from this one on gets the sync pattern; 0: none
  uint64_t delay = 1000;               // from a command to its answer
  std::map<uint8_t, uint64_t> delays;  // per code, instead of `delay`
  uint64_t syncDelay = 1000;
  // Called for each command once it is recorded, before it is answered; may
  // change the script for this very command.
  std::function<void(uint8_t code, const Bytes& payload)> onCommand;
  std::function<void(int burst)> onBurst;  // the burst's number, from 1

  // --- What arrived.
  std::vector<Bytes> frames;  // every command frame, bursts left out
  std::vector<uint8_t> codes;
  std::vector<int> blocks;  // data block numbers, in order
  int bursts = 0;

  // Records `written` and gives what the chip sends back, if anything.
  std::optional<Answer> AnswerTo(const Bytes& written) {
    if (written.size() < link::kFrameOverhead || written[0] != link::kFrameStart) {
      const int burst = ++bursts;
      if (onBurst) onBurst(burst);
      if (syncFromBurst <= 0 || burst < syncFromBurst) return std::nullopt;
      return Answer{Bytes(link::kSyncCount, link::kSyncByte), syncDelay};
    }
    frames.push_back(written);
    const uint8_t code = written[1];
    const Bytes payload(written.begin() + 4, written.end() - 3);
    codes.push_back(code);
    std::optional<int> block;
    if (code == link::cmd::kDataBlock && payload.size() >= 2) {
      block = payload[0] << 8 | payload[1];
      blocks.push_back(*block);
    }
    if (onCommand) onCommand(code, payload);

    const int s = StatusFor(code, block);
    if (s == kSilent) return std::nullopt;
    Bytes answer = s == 0 ? DataFor(code, payload) : Bytes{};
    answer.insert(answer.begin(), static_cast<uint8_t>(s));  // the status byte leads
    const auto late = delays.find(code);
    return Answer{MakeFrame(code, answer), late == delays.end() ? delay : late->second};
  }

 private:
  int StatusFor(uint8_t code, std::optional<int> block) const {
    if (block && blockStatus.count(*block)) return blockStatus.at(*block);
    if (status.count(code)) return status.at(code);
    if (code == link::cmd::kHandshake) return 0x20;
    if (code == link::cmd::kAfterHandshake) return kSilent;
    return 0;
  }

  // Reads carry what they ask for: flash as address (4 bytes) and length (2),
  // OTP as page, length (2) and address (4).
  Bytes DataFor(uint8_t code, const Bytes& payload) const {
    const bool flashRead = code == link::cmd::kReadFlash && payload.size() >= 6;
    const bool otpRead = code == link::cmd::kReadOtp && payload.size() >= 7;
    const size_t asked = flashRead ? ReadLe16(&payload[4]) : otpRead ? ReadLe16(&payload[1]) : SIZE_MAX;
    if (data.count(code)) {
      Bytes given = data.at(code);
      if (given.size() > asked) given.resize(asked);
      return given;
    }
    if (flashRead) return flash.Read(ReadLe32(&payload[0]), asked);
    if (otpRead) {
      const auto page = otp.find(payload[0]);
      return page == otp.end() ? Bytes(asked, 0xFF) : page->second.Read(ReadLe32(&payload[3]), asked);
    }
    return {};
  }
};

}  // namespace corvel::testing
