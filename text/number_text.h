// Number texts as the user types them into the tool's boxes and files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvel::text {

// Reads an unsigned number the way a 32-bit strtoul does: leading white space
// skipped, one optional + or -, in base 16 an optional 0x/0X prefix, then the
// digits of `base` up to the first other character. No digits give 0, a value
// above 0xFFFFFFFF gives 0xFFFFFFFF (whatever the sign), and a minus sign
// negates the value modulo 2^32. `base` is 2..36; any other base gives 0.
uint32_t ParseUnsigned(std::string_view text, int base);

// Puts "0x" in front of a text whose second character is not a lower-case x
// (a text shorter than two characters has none). "0X1000" thus becomes
// "0x0X1000", which reads as 0: users and scripts know the tool that way.
std::string NormaliseHexText(std::string_view text);

}  // namespace corvel::text
