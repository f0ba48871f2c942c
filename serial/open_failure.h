// Why a port did not open, as one line for the user: the port's path, the
// cause as far as the system shows it, and what to do about it. Each system
// has its own file (open_failure_linux.cpp); this header is the same for all.
#pragma once

#include <string>

#include "base/result.h"

namespace corvel::serial {

// Where the system keeps what the cause is read from. Tests point these at
// prepared trees to show cases the running system cannot.
struct SystemRoots {
  std::string proc = "/proc";  // which processes hold a device
  std::string sys = "/sys";    // the serial ports that exist (with dev)
  std::string dev = "/dev";
  // The group database as a file; empty asks the system, so groups from
  // other sources (LDAP and the like) count too.
  std::string groupFile;
};

// `error` is what SerialPort::OpenPort returned for `path`.
std::string DescribeOpenFailure(const std::string& path, const Error& error, const SystemRoots& roots = {});

}  // namespace corvel::serial
