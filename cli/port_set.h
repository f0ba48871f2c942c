// The ports one run talks to: every -p value in order, wildcards expanded,
// one device given twice (a by-id link and its node) kept once under the
// first name given. The system calls live in a file of their own per OS.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/result.h"

namespace corvel::cli {

struct PortEntry {
  std::string path;       // as given, or as the wildcard expanded it
  std::string canonical;  // the device it resolves to (the path itself when it does not resolve)
};

// True when the value holds a wildcard character (`*`, `?` or `[`).
bool IsPortPattern(const std::string& value);

// The system side, replaceable in tests.
struct PortSystem {
  // The sorted paths a pattern matches; empty when none.
  std::function<std::vector<std::string>(const std::string&)> expand;
  std::function<std::string(const std::string&)> canonical;
};
PortSystem SystemPorts();
#ifdef _WIN32
// Windows has no files to glob: a wildcard matches the names `listPorts`
// gives (SystemPorts() hands it the system's port list), case aside.
PortSystem PortsInList(std::function<std::vector<std::string>()> listPorts);
#endif

// Fails (kBadInput) naming the first pattern that matched nothing.
Result<std::vector<PortEntry>> ResolvePorts(const std::vector<std::string>& given, const PortSystem& system);

// The last component of the path as given: what prefixes the port's lines.
std::string PortShortName(const std::string& path);

// A port's own file when several ports write one each: the port's short name
// before the file's extension, after a dash (flash.bin -> flash-ttyUSB0.bin,
// flash -> flash-ttyUSB0); the folder stays.
std::string PortFileName(const std::string& file, const std::string& portPath);

}  // namespace corvel::cli
