// Well-formed UTF-8, byte by byte: what a lead byte promises. The link's
// hunt for the chip's sync answer and the console text decoder both judge
// received bytes by it.
#pragma once

#include <cstdint>

namespace corvel {

// How many continuation bytes follow a lead byte and the range the first of
// them must fall in (the narrower ranges shut out overlong forms, surrogates
// and code points past U+10FFFF); the later ones are 0x80..0xBF. `follow` 0:
// not a lead byte.
struct Utf8Lead {
  uint8_t follow = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
};

constexpr Utf8Lead Utf8LeadOf(uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
  if (b == 0xE0) return {2, 0xA0, 0xBF};
  if (b == 0xED) return {2, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
  if (b == 0xF0) return {3, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
  if (b == 0xF4) return {3, 0x80, 0x8F};
  return {};
}

}  // namespace corvel
