// The chip's identity, factory OTP page and MAC address, shown as log lines.
// Each returns true when every command it sent was answered with success;
// a failed step is skipped and the rest still run.
#pragma once

#include <cstdint>

#include "link/link.h"

namespace corvel::link {

inline constexpr uint32_t kValidFlag = 0xD3912DD4;

enum class ImageKind : uint8_t { kApplication = 1, kStack = 2, kOta = 3 };

bool ReadChipInfo(Link& link);
bool ShowImageRecord(Link& link, uint32_t address, ImageKind kind);
// `count` must be a multiple of 4 (four bytes to a line).
bool ReadOtpDump(Link& link, uint32_t address, uint16_t count, uint8_t page);
bool ReadFactoryInfo(Link& link);
bool ReadMac(Link& link);

}  // namespace corvel::link
