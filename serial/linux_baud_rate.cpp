#include "serial/linux_baud_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace corvel::serial {

RateResult SetLinuxBaudRate(int fd, uint32_t rate) {
  RateResult result;
  struct termios2 old {};
  if (ioctl(fd, TCGETS2, &old) != 0) {
    result.step = "TCGETS2";
    result.error = errno;
    return result;
  }
  struct termios2 wanted = old;
  wanted.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  wanted.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  wanted.c_ispeed = rate;
  wanted.c_ospeed = rate;
  if (ioctl(fd, TCSETS2, &wanted) != 0) {
    result.step = "TCSETS2";
    result.error = errno;
    return result;
  }
  struct termios2 now {};
  if (ioctl(fd, TCGETS2, &now) != 0) {
    result.step = "TCGETS2";
    result.error = errno;
    return result;
  }
  result.readBack = now.c_ospeed;
  if (now.c_ospeed != rate || now.c_ispeed != rate) {
    ioctl(fd, TCSETS2, &old);
    result.step = "TCSETS2";
    result.error = EINVAL;
  }
  return result;
}

uint32_t ReadLinuxBaudRate(int fd) {
  struct termios2 now {};
  if (ioctl(fd, TCGETS2, &now) != 0) return 0;
  return now.c_ospeed;
}

}  // namespace corvel::serial
