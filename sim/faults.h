// Faults the simulated chip can be told to show, from the command line
// (--fault FAULT) or from a test through ChipModel::faults().
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace corvel::sim {

struct Faults {
  static constexpr int kNone = -1;

  // A status byte that replaces the answer of a code; the command is not
  // carried out (status:0x20=9 is an erase that failed).
  std::array<int, 256> statusFor = MakeNone();
  // Codes the chip does not answer; the command is not carried out either.
  std::bitset<256> silentFor;
  // Codes whose answer leaves with a wrong CRC (the command is carried out).
  std::bitset<256> badCrcFor;
  // Data block k (numbered from 1) of every transfer is refused with
  // nakStatus, or not answered at all; either way it is not written.
  uint32_t nakBlock = 0;
  uint8_t nakStatus = 1;
  uint32_t silentBlock = 0;
  // Bytes of line noise sent in front of every answer (never 0x81, so a host
  // that drops noise finds the frame that follows).
  size_t noiseBytes = 0;
  // Stray starts sent in front of every answer, after the noise: 81 00 00
  // each, which a careless receiver takes for the start of a 136-byte frame
  // and so loses the answer behind it.
  size_t falseStarts = 0;
  // Time between the last byte of a command and the first byte of its answer:
  // for every command, or (delayFor, where not 0) for one code alone. Only
  // that answer waits; the sync answer and console text never do. The model
  // only carries it; whoever drives the line applies it.
  uint64_t answerDelayMicros = 0;
  std::array<uint64_t, 256> delayFor{};
  // The adapter disappears after this many frames from the host (0: never).
  uint32_t vanishAfterFrames = 0;
  // Flash bits that read as 0 through the read command (0x2D), whatever was
  // programmed; the chip's own check of a received image does not see them.
  struct StuckBit {
    uint32_t address;
    uint8_t bit;
  };
  std::vector<StuckBit> stuckBits;

  uint64_t AnswerDelayMicros(uint8_t code) const { return delayFor[code] != 0 ? delayFor[code] : answerDelayMicros; }

 private:
  static std::array<int, 256> MakeNone() {
    std::array<int, 256> a{};
    a.fill(kNone);
    return a;
  }
};

// Adds one fault, written as text, to `faults`:
//   status:CODE=STATUS   answer CODE with STATUS, without carrying it out
//   silent:CODE          never answer CODE
//   badcrc:CODE          answer CODE with a wrong CRC
//   nak-block:K[=STATUS] refuse data block K (status 1 unless given)
//   silent-block:K       leave data block K unanswered
//   noise:N              N noise bytes before every answer
//   false-start:N        N stray starts (81 00 00) before every answer
//   delay:MS             wait MS milliseconds before every command's answer
//   delay:CODE=MS        wait MS milliseconds before CODE's answer alone
//   vanish:N             the adapter disappears after N frames
//   stuck-bit:ADDR[=BIT] flash bit BIT (0-7, 0 unless given) at ADDR reads as 0
// Numbers are decimal or 0x-prefixed hexadecimal.
Result<void> ParseFault(std::string_view text, Faults& faults);

}  // namespace corvel::sim
