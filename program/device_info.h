// The chip's identity, factory OTP page and MAC address, shown as log lines.
// Each returns true when every command it sent was answered with success;
// a failed step is skipped and the rest still run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/link.h"

namespace corvel::program {

inline constexpr uint32_t kValidFlag = 0xD3912DD4;

// The three image records the boot loader keeps, one flash page each.
enum class ImageRecord : uint8_t { kApplication, kStack, kOta };

// The identity ReadChipInfo logged, for callers that keep it (corvel-dl --json).
struct ChipIdentity {
  std::optional<uint32_t> serial;
  std::optional<uint32_t> chipId;
  std::optional<std::string> bootVersion;  // "V1.2", as logged
};

bool ReadChipInfo(link::Link& link, ChipIdentity* identity = nullptr);
// The chip's serial number alone, by the same OTP read ReadChipInfo starts
// with, logging nothing; none when the read failed.
std::optional<uint32_t> ReadSerialNumber(link::Link& link);
bool ShowImageRecord(link::Link& link, ImageRecord record);
// `count` must be a multiple of 4 (four bytes to a line).
bool ReadOtpDump(link::Link& link, uint32_t address, uint16_t count, uint8_t page);
bool ReadFactoryInfo(link::Link& link);
bool ReadMac(link::Link& link);

}  // namespace corvel::program
