// Ports are the ttys in sysfs that have a device behind them (USB serial,
// ACM, platform UARTs). The legacy 8250 ports exist whether or not a UART is
// fitted; those without one report the uart type 0 (PORT_UNKNOWN).
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/port_list.h"

namespace corvel::serial {
namespace {

constexpr int kPortUnknown = 0;

// The uart type: sysfs has it as "type"; older kernels only answer TIOCGSERIAL.
bool HasUart(const std::filesystem::path& ttyDir, const std::string& devicePath) {
  std::ifstream typeFile(ttyDir / "type");
  int type = -1;
  if (typeFile >> type) return type != kPortUnknown;
  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct serial_struct serial {};
  const bool known = ioctl(fd, TIOCGSERIAL, &serial) != 0 || serial.type != kPortUnknown;
  close(fd);
  return known;
}

}  // namespace

std::vector<std::string> ListPorts(const std::string& sysRoot, const std::string& devRoot) {
  namespace fs = std::filesystem;
  std::vector<std::string> ports;
  std::error_code ec;
  const fs::path classDir = fs::path(sysRoot) / "class" / "tty";
  for (fs::directory_iterator it(classDir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path ttyDir = it->path();
    const std::string name = ttyDir.filename().string();
    std::error_code statError;
    if (!fs::exists(ttyDir / "device", statError)) continue;
    const std::string devicePath = (fs::path(devRoot) / name).string();
    if (!fs::exists(devicePath, statError)) continue;  // no node here (e.g. inside a container)
    if (name.rfind("ttyS", 0) == 0 && !HasUart(ttyDir, devicePath)) continue;
    ports.push_back(devicePath);
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

}  // namespace corvel::serial
