// The line rate of a terminal through termios2, so any integer rate works.
// On a pseudo-terminal master these act on the slave's settings, which is
// how the simulator learns the rate the tool has set on its end.
#pragma once

#include <cstdint>

#include "base/result.h"

namespace corvel::sim {

Result<uint32_t> ReadLineRate(int fd);
Result<void> SetLineRate(int fd, uint32_t rate);

}  // namespace corvel::sim
