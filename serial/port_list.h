// The serial ports the system has now.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvel::serial {

// One port and what the system knows of the hardware behind it.
struct PortDetails {
  std::string path;    // the device node (/dev/ttyUSB0)
  std::string driver;  // cp210x, ftdi_sio, cdc_acm, serial8250; empty when unknown
  // USB adapters only; the rest stay empty (and usb false) for other ports.
  bool usb = false;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
  int interfaceNumber = -1;  // -1: unknown
  std::string byId;          // the /dev/serial/by-id/ link that resolves to `path`, if any
};

// Device paths of the serial ports with hardware behind them, sorted. The
// roots are parameters so the listing can be checked against a prepared tree.
std::vector<std::string> ListPorts(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

// The same ports, in the same order, with their details.
std::vector<PortDetails> ListPortDetails(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

// The path, then the details that are known as `key=value` fields in a fixed
// order, one space apart: usb=10c4:ea60 manufacturer="..." product="..."
// serial="..." interface=0 driver=cp210x by-id=/dev/serial/by-id/...
// The texts the device reports are quoted, with \ and " escaped.
std::string DescribePort(const PortDetails& port);

}  // namespace corvel::serial
