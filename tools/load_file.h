// The extension area's load file: the bytes that write flash and write OTP
// send, as a text of hexadecimal pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "text/hex_pairs.h"

namespace corvel::tools {

// The most characters a load file may have, blanks and line ends aside.
inline constexpr size_t kMaxLoadFileCharacters = 4096;
inline constexpr text::HexPairFileLimit kLoadFileLimit = {kMaxLoadFileCharacters, "加载文件超过4096个有效字符，未加载"};

// What a load gave. The operations' "nothing loaded" state is kept by whoever
// holds the LoadedData, not here.
struct LoadedData {
  std::vector<uint8_t> bytes;
};

// text::ParseHexPairFile with the load file's limit: blanks, carriage
// returns, line feeds and tabs dropped, the rest read in pairs ("G1" gives 0,
// "1G" gives 1), an unpaired last character ignored. An empty file loads no
// bytes. More than kMaxLoadFileCharacters kept characters are refused.
Result<LoadedData> ParseLoadFile(std::string_view fileBytes);

// ParseLoadFile over the contents of `path`; error texts name the file.
Result<LoadedData> ReadLoadFile(const std::string& path);

}  // namespace corvel::tools
