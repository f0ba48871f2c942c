// What one port's run did, for the summary on stderr and the --json record:
// filled as the run goes, read when it has ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvel::cli {

// One step of a run: "open", "connect", "serial", then the operation's own
// ("partition", "access", "speedup", "app", "stack", "boot", "user",
// "verify-app", "verify-stack", "verify-boot", "verify-user", or the
// command's name), then "disconnect".
struct StepRecord {
  std::string name;
  std::string status;  // "ok" or a failure kind (see RunRecord::result)
  double seconds = 0;
};

// An image the run programmed (or tried to).
struct ImageRecord {
  std::string kind;  // "app", "stack", "boot", "user"
  uint32_t length = 0;
  uint16_t crc = 0;
  std::string tag;  // the transfer tag, as text
};

// The USB adapter behind the port, where the system knows it.
struct UsbRecord {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string manufacturer;
  std::string product;
  std::string serialNumber;
};

struct RunRecord {
  // The port's place on the command line, from 0: the --json document lists
  // the runs in this order, whatever order they ended in.
  int order = 0;
  std::string port;   // the path as given on the command line (after wildcard expansion)
  int exitStatus = 0; // as a single-port run would exit
  // "ok", or why not: "port", "no-sync", "refused", "no-answer",
  // "chip-refused", "mismatch", "port-lost", "input", "interrupted".
  std::string result = "ok";
  std::optional<uint32_t> serial;
  std::optional<uint32_t> chipId;
  std::optional<std::string> bootVersion;  // "V1.2"
  std::optional<UsbRecord> usb;
  std::string startTime;  // UTC, ISO 8601 with milliseconds: 2026-12-10T17:45:51.123Z
  double seconds = 0;
  std::vector<StepRecord> steps;
  std::vector<ImageRecord> images;
};

}  // namespace corvel::cli
