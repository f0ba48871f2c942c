// Any integer line rate on Linux through termios2 and BOTHER, kept apart
// because <asm/termbits.h> cannot share a file with <termios.h>.
#pragma once

#include <cstdint>

namespace corvel::serial {

struct RateResult {
  const char* step = nullptr;  // the failed step ("TCGETS2", "TCSETS2"), null on success
  int error = 0;               // errno of the failed step
  uint32_t readBack = 0;       // the rate the device reports after setting
};

// Sets input and output rate of `fd` to `rate` now, reads it back, and puts
// the old settings back when the device reports another rate.
RateResult SetLinuxBaudRate(int fd, uint32_t rate);

// The output rate `fd` reports, or 0 when it cannot be read.
uint32_t ReadLinuxBaudRate(int fd);

}  // namespace corvel::serial
