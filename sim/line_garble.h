// What a UART set to one rate makes of bytes sent at another: the sender's
// 8N1 waveform sampled bit by bit at the receiver's rate. Deterministic, so
// tests can rely on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvel::sim {

// Appends to `out` the bytes a receiver at `rxRate` reads from `data` sent
// back to back at `txRate` (both non-zero). Equal rates give the bytes unchanged.
void GarbleLine(const uint8_t* data, size_t length, uint32_t txRate, uint32_t rxRate, std::vector<uint8_t>& out);

}  // namespace corvel::sim
