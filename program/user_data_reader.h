// User-data files into images: a text of hexadecimal pairs, no header, no
// comments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"
#include "program/image_buffer.h"
#include "text/hex_pairs.h"

namespace corvel::program {

// The most characters a user-data file may have, blanks and line ends aside.
inline constexpr size_t kMaxUserDataCharacters = 8192;
inline constexpr text::HexPairFileLimit kUserDataLimit = {kMaxUserDataCharacters, "用户数据超过8192个字符"};

// text::ParseHexPairFile with the user-data limit: blanks, carriage returns,
// line feeds and tabs dropped, the rest read in pairs ("1G" gives 0x01, "G1"
// gives 0), an odd last character dropped, more than kMaxUserDataCharacters
// kept characters refused.
Result<ImageBuffer> ReadUserDataImage(std::string_view fileText);

// ReadUserDataImage over the contents of `path`; error texts name the file.
// A file that gives no byte (empty, blanks only, one character) is refused:
// an image to download has at least one byte.
Result<ImageBuffer> ReadUserDataImageFile(const std::string& path);

}  // namespace corvel::program
