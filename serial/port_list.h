// The serial ports the system has now.
#pragma once

#include <string>
#include <vector>

namespace corvel::serial {

// Device paths of the serial ports with hardware behind them, sorted. The
// roots are parameters so the listing can be checked against a prepared tree.
std::vector<std::string> ListPorts(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

}  // namespace corvel::serial
