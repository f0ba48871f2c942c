// Kept apart: <asm/termbits.h> (termios2) cannot share a file with <termios.h>.
#include "sim/pty_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace corvel::sim {

Result<uint32_t> ReadLineRate(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return MakeError(ErrorKind::kIo, std::string("TCGETS2: ") + std::strerror(errno));
  return static_cast<uint32_t>(t.c_ospeed);
}

Result<void> SetLineRate(int fd, uint32_t rate) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return MakeError(ErrorKind::kIo, std::string("TCGETS2: ") + std::strerror(errno));
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = rate;
  t.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &t) != 0) return MakeError(ErrorKind::kIo, std::string("TCSETS2: ") + std::strerror(errno));
  return {};
}

}  // namespace corvel::sim
