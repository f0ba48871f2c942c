#include "serial/linux_termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace corvel::serial {
namespace {

void SetRate(termios2& tio, uint32_t rate) {
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = rate;
  tio.c_ospeed = rate;
}

// Applies `wanted` and checks the device took the rate; otherwise puts `old` back.
LineResult Apply(int fd, const termios2& old, const termios2& wanted) {
  if (ioctl(fd, TCSETS2, &wanted) != 0) return {"TCSETS2", errno};
  termios2 now{};
  if (ioctl(fd, TCGETS2, &now) != 0) return {"TCGETS2", errno};
  const bool outputAccepted = RateAccepted(wanted.c_ospeed, now.c_ospeed);
  if (!outputAccepted || !RateAccepted(wanted.c_ispeed, now.c_ispeed)) {
    ioctl(fd, TCSETS2, &old);
    return {"TCSETS2", EINVAL, RateRefusedText(wanted.c_ospeed, outputAccepted ? now.c_ispeed : now.c_ospeed)};
  }
  return {};
}

}  // namespace

bool MakeRawLine(LineFlags& flags, char parity, int dataBits, int stopBits) {
  uint32_t size = 0;
  switch (dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
  }
  uint32_t parityBits = 0;
  switch (parity) {
    case 'N': case 'n': break;
    case 'E': case 'e': parityBits = PARENB; break;
    case 'O': case 'o': parityBits = PARENB | PARODD; break;
    case 'M': case 'm': parityBits = PARENB | PARODD | CMSPAR; break;
    case 'S': case 's': parityBits = PARENB | CMSPAR; break;
    default: return false;
  }
  if (stopBits != 1 && stopBits != 2) return false;
  // What cfmakeraw clears, plus software flow control and parity checking.
  flags.iflag &= ~static_cast<uint32_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK);
  flags.oflag &= ~static_cast<uint32_t>(OPOST);
  flags.lflag &= ~static_cast<uint32_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  flags.cflag &= ~static_cast<uint32_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
  flags.cflag |= size | parityBits | CLOCAL | CREAD | (stopBits == 2 ? CSTOPB : 0u);
  return true;
}

LineResult ConfigureLine(int fd, uint32_t rate, char parity, int dataBits, int stopBits) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return {"TCGETS2", errno};
  LineFlags flags{tio.c_iflag, tio.c_oflag, tio.c_cflag, tio.c_lflag};
  if (!MakeRawLine(flags, parity, dataBits, stopBits)) return {"TCSETS2", EINVAL};
  tio.c_iflag = flags.iflag;
  tio.c_oflag = flags.oflag;
  tio.c_cflag = flags.cflag;
  tio.c_lflag = flags.lflag;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (ioctl(fd, TCSETS2, &tio) != 0) return {"TCSETS2", errno};
  // Separately, so a rate the device refuses leaves the rest applied.
  return SetLineRate(fd, rate);
}

LineResult SetLineRate(int fd, uint32_t rate) {
  if (rate == 0) return {"TCSETS2", EINVAL};
  termios2 old{};
  if (ioctl(fd, TCGETS2, &old) != 0) return {"TCGETS2", errno};
  termios2 wanted = old;
  SetRate(wanted, rate);
  return Apply(fd, old, wanted);
}

uint32_t ReadLineRate(int fd) {
  termios2 now{};
  if (ioctl(fd, TCGETS2, &now) != 0) return 0;
  return now.c_ospeed;
}

}  // namespace corvel::serial
