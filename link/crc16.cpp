#include "link/crc16.h"

#include <initializer_list>

namespace corvel::link {

uint16_t Crc16(const uint8_t* data, uint32_t count) {
  // Four bits at a time: small and table-free, and fast enough for 1 MiB images.
  uint32_t crc = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t byte = data[i];
    for (uint32_t nibble : {byte >> 4, byte & 0x0Fu}) {
      const uint32_t t = ((crc >> 12) ^ nibble) & 0x0Fu;
      crc = ((crc << 4) ^ (t * 0x1021u)) & 0xFFFFu;
    }
  }
  return static_cast<uint16_t>(crc);
}

}  // namespace corvel::link
