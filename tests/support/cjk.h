// Whether UTF-8 text holds a Chinese character (CJK ideographs and punctuation,
// full-width forms): what an English text must not.
#pragma once

#include <string_view>

namespace corvel::testing {

inline bool HasCjk(std::string_view text) {
  for (size_t i = 0; i + 2 < text.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if ((b0 & 0xF0) != 0xE0) continue;
    const unsigned cp = ((b0 & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                        (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
    if ((cp >= 0x3000 && cp <= 0x9FFF) || (cp >= 0xFF00 && cp <= 0xFFEF)) return true;
  }
  return false;
}

}  // namespace corvel::testing
