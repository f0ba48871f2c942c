// A firmware or user-data image in memory: the bytes the transfer sends, in
// flash order. It carries no address; the chip places it by its image type.
#pragma once

#include <cstdint>
#include <vector>

namespace corvel::program {

struct ImageBuffer {
  std::vector<uint8_t> data;

  uint32_t length() const { return static_cast<uint32_t>(data.size()); }
};

}  // namespace corvel::program
