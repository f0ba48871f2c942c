#include "sim/line_garble.h"

#include <numeric>

namespace corvel::sim {

void GarbleLine(const uint8_t* data, size_t length, uint32_t txRate, uint32_t rxRate, std::vector<uint8_t>& out) {
  if (txRate == rxRate) {
    out.insert(out.end(), data, data + length);
    return;
  }
  // Time in units where a sent bit lasts txBit and half a received bit lasts
  // half, both integers.
  const uint64_t g = std::gcd(txRate, rxRate);
  const uint64_t txBit = 2 * (rxRate / g);
  const uint64_t half = txRate / g;
  const uint64_t bits = static_cast<uint64_t>(length) * 10;
  auto level = [&](uint64_t t) -> int {
    const uint64_t i = t / txBit;
    if (i >= bits) return 1;  // idle line
    const uint64_t pos = i % 10;
    if (pos == 0) return 0;  // start bit
    if (pos == 9) return 1;  // stop bit
    return (data[i / 10] >> (pos - 1)) & 1;
  };

  uint64_t t = 0;
  for (;;) {
    // Hunt for the line going low.
    uint64_t i = t / txBit;
    while (i < bits && level(i * txBit) != 0) ++i;
    if (i >= bits) return;
    const uint64_t start = std::max(t, i * txBit);
    if (level(start + half) != 0) {  // too short to be a start bit
      t = start + half + 1;
      continue;
    }
    uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (level(start + (2 * static_cast<uint64_t>(bit) + 3) * half) != 0) byte |= static_cast<uint8_t>(1u << bit);
    }
    out.push_back(byte);
    t = start + 19 * half;  // the stop bit's sample; hunting resumes there
  }
}

}  // namespace corvel::sim
