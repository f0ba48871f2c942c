// The extension area's load file: the bytes that write flash and write OTP
// send, as a text of hexadecimal pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace corvel::tools {

// The most characters a load file may have, blanks and line ends aside.
inline constexpr size_t kMaxLoadFileCharacters = 4096;

// What a load gave. The operations' "nothing loaded" state is kept by whoever
// holds the LoadedData, not here.
struct LoadedData {
  std::vector<uint8_t> bytes;
};

// Drops blanks, carriage returns, line feeds and tabs, then reads the rest in
// pairs as hexadecimal numbers, keeping the low 8 bits of each ("G1" gives 0,
// "1G" gives 1); an unpaired last character is ignored. An empty file loads
// no bytes. More than kMaxLoadFileCharacters kept characters are refused.
Result<LoadedData> ParseLoadFile(std::string_view fileBytes);

// ParseLoadFile over the contents of `path`; error texts name the file.
Result<LoadedData> ReadLoadFile(const std::string& path);

}  // namespace corvel::tools
