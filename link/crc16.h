#pragma once

#include <cstdint>

namespace corvel::link {

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final
// XOR. Protects every frame and identifies a whole image to the boot loader.
uint16_t Crc16(const uint8_t* data, uint32_t count);

}  // namespace corvel::link
