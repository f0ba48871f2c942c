// The line settings on Linux through termios2, so any integer rate works
// (BOTHER) and the whole setting is applied in one step. Kept apart because
// <asm/termbits.h> cannot share a file with <termios.h>.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "serial/line_rate.h"

namespace corvel::serial {

// The flag words of a termios, in the same bit values as <termios.h>.
struct LineFlags {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;
  uint32_t lflag = 0;
};

// Raw mode with the given framing, no flow control, receiver on, modem
// control lines ignored, and HUPCL off (closing must not drop the lines: that
// would reset the chip). False for framing it cannot express; `flags` is then
// left as it was.
bool MakeRawLine(LineFlags& flags, char parity, int dataBits, int stopBits);

struct LineResult {
  LineResult() = default;
  LineResult(const char* failedStep, int errorNumber, std::string shownText = {})
      : step(failedStep), error(errorNumber), text(std::move(shownText)) {}

  const char* step = nullptr;  // the failed step ("TCGETS2", "TCSETS2"), null on success
  int error = 0;               // its errno
  std::string text;            // what to show instead of the errno's text, when set
};

// Reads the settings of `fd`, makes them raw with the framing and `rate`, with
// reads that return at once (VMIN = VTIME = 0), and applies them at once.
LineResult ConfigureLine(int fd, uint32_t rate, char parity, int dataBits, int stopBits);

// Sets input and output rate of `fd` to `rate` now and reads it back; puts
// the old settings back when the device reports a rate RateAccepted refuses.
LineResult SetLineRate(int fd, uint32_t rate);

// The output rate `fd` reports, or 0 when it cannot be read.
uint32_t ReadLineRate(int fd);

}  // namespace corvel::serial
