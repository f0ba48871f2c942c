// Whether the rate a device reports is the rate asked for; every backend
// reads the rate back after setting it.
#pragma once

#include <cstdint>
#include <string>

namespace corvel::serial {

// Adapters round the rate to what their clock divides to (CP210x, CH34x), so
// a read-back within 2 % of the rate asked for is the rate asked for; the
// receiver on the other end tolerates that much.
bool RateAccepted(uint32_t asked, uint32_t reported);

// Why a rate was refused, naming both rates.
std::string RateRefusedText(uint32_t asked, uint32_t reported);

}  // namespace corvel::serial
