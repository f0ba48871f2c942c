// User-data files into images: a text of hexadecimal pairs, no header, no
// comments.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"
#include "program/image_buffer.h"

namespace corvel::program {

// The most characters a user-data file may have, blanks and line ends aside.
inline constexpr size_t kMaxUserDataCharacters = 8192;

// Drops blanks, carriage returns, line feeds and tabs, then reads the rest two
// characters at a time as hexadecimal numbers ("1G" gives 0x01, "G1" gives 0),
// keeping the low 8 bits of each; an odd last character is dropped. A text
// with more than kMaxUserDataCharacters kept characters is refused.
Result<ImageBuffer> ReadUserDataImage(std::string_view fileText);

// ReadUserDataImage over the contents of `path`; error texts name the file.
Result<ImageBuffer> ReadUserDataImageFile(const std::string& path);

}  // namespace corvel::program
