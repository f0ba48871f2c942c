// Ports are the ttys in sysfs that have a device behind them (USB serial,
// ACM, platform UARTs). The legacy 8250 ports exist whether or not a UART is
// fitted; those without one report the uart type 0 (PORT_UNKNOWN).
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "serial/port_list.h"

namespace corvel::serial {
namespace {

namespace fs = std::filesystem;

constexpr int kPortUnknown = 0;
// The USB device is two levels above a usb-serial port (port, interface,
// device) and one above an ACM interface; a little more is allowed for hubs
// of unusual drivers, but not a walk to the root.
constexpr int kUsbLevels = 4;
constexpr const char* kSerialCore = "serial-base";

// The uart type: sysfs has it as "type"; older kernels only answer TIOCGSERIAL.
bool HasUart(const fs::path& ttyDir, const std::string& devicePath) {
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

// A sysfs attribute's text without its line end; empty when absent.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

// A hexadecimal attribute (idVendor, bInterfaceNumber); -1 when absent or not a number.
int ReadHex(const fs::path& file) {
  const std::string text = ReadAttribute(file);
  int value = -1;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return error == std::errc() && end == text.data() + text.size() ? value : -1;
}

// Fills in the driver and, for a USB port, what the interface and the device
// above the tty's device say about themselves.
void ReadDetails(const fs::path& ttyDir, PortDetails& port) {
  std::error_code ec;
  fs::path device = fs::canonical(ttyDir / "device", ec);
  if (ec) return;
  // Newer kernels put the serial core's port and controller devices between
  // the tty and the UART (driver "port", "ctrl"); the UART's driver is the one
  // that tells ports apart.
  while (fs::read_symlink(device / "subsystem", ec).filename() == kSerialCore && device.has_relative_path()) {
    device = device.parent_path();
  }
  port.driver = fs::read_symlink(device / "driver", ec).filename().string();
  fs::path dir = device;
  for (int level = 0; level <= kUsbLevels && dir.has_relative_path(); ++level, dir = dir.parent_path()) {
    if (port.interfaceNumber < 0) port.interfaceNumber = ReadHex(dir / "bInterfaceNumber");
    const int vendor = ReadHex(dir / "idVendor");
    if (vendor < 0) continue;
    port.usb = true;
    port.vendorId = static_cast<uint16_t>(vendor);
    port.productId = static_cast<uint16_t>(std::max(ReadHex(dir / "idProduct"), 0));
    port.manufacturer = ReadAttribute(dir / "manufacturer");
    port.product = ReadAttribute(dir / "product");
    port.serialNumber = ReadAttribute(dir / "serial");
    return;
  }
  port.interfaceNumber = -1;  // an interface number without a USB device is no USB interface
}

// The node each /dev/serial/by-id/ link resolves to, with the first link by name.
std::map<fs::path, std::string> ByIdLinks(const std::string& devRoot) {
  std::vector<fs::path> links;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(devRoot) / "serial" / "by-id", ec), end; !ec && it != end;
       it.increment(ec)) {
    links.push_back(it->path());
  }
  std::sort(links.begin(), links.end());
  std::map<fs::path, std::string> byNode;
  for (const fs::path& link : links) {
    const fs::path node = fs::canonical(link, ec);
    if (!ec) byNode.emplace(node, link.string());
  }
  return byNode;
}

}  // namespace

std::vector<PortDetails> ListPortDetails(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<PortDetails> ports;
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
    PortDetails port;
    port.path = devicePath;
    ReadDetails(ttyDir, port);
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(), [](const PortDetails& a, const PortDetails& b) { return a.path < b.path; });
  if (ports.empty()) return ports;
  const std::map<fs::path, std::string> byId = ByIdLinks(devRoot);
  for (PortDetails& port : ports) {
    const fs::path node = fs::canonical(port.path, ec);
    if (const auto found = byId.find(node); !ec && found != byId.end()) port.byId = found->second;
  }
  return ports;
}

}  // namespace corvel::serial
