// Small helpers the fuzz entries share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "text/hex_pairs.h"

namespace corvel::fuzz {

inline std::string_view AsText(const uint8_t* data, size_t size) {
  return size == 0 ? std::string_view() : std::string_view(reinterpret_cast<const char*>(data), size);
}

inline size_t CountKeptCharacters(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !text::IsLayoutCharacter(c); }));
}

// Bytes as a user lays out a pair file: upper-case pairs, a blank between,
// sixteen to a CR LF line.
inline std::string PairText(const std::vector<uint8_t>& bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 + bytes.size() / 8);
  char digits[3];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    out.append(digits, 2);
    out.append(i % 16 == 15 ? "\r\n" : " ");
  }
  return out;
}

}  // namespace corvel::fuzz
