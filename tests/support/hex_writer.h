// Intel HEX text for tests, written the way tool chains write it: sixteen data
// bytes a record, an extended linear address record wherever the upper half
// of the address changes, then the end-of-file record.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace corvel::testing {

// One record with a correct checksum, e.g. HexRecord(0x00, 0x1000, {1, 2}).
inline std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (const uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  bytes.push_back(static_cast<uint8_t>(0x100 - sum));
  std::string line = ":";
  char digits[3];
  for (const uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    line += digits;
  }
  return line + "\n";
}

inline const std::string kHexEndRecord = ":00000001FF\n";

// `bytes` placed from `address` on, as a whole file.
inline std::string HexText(const std::vector<uint8_t>& bytes, uint32_t address = 0) {
  std::string text;
  uint32_t upper = 0;
  for (size_t done = 0; done < bytes.size();) {
    const uint32_t at = address + static_cast<uint32_t>(done);
    if (at >> 16 != upper) {
      upper = at >> 16;
      text += HexRecord(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
    }
    // A record never crosses a 64 KiB boundary.
    const size_t count = std::min<size_t>({16, bytes.size() - done, 0x10000 - (at & 0xFFFF)});
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(done);
    text += HexRecord(0x00, static_cast<uint16_t>(at),
                      std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(count)));
    done += count;
  }
  return text + kHexEndRecord;
}

}  // namespace corvel::testing
