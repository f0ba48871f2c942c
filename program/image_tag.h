// The title of an image file and the four-byte tag the transfer request
// carries.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvel::program {

// The file name without its folder ('/' or '\\') and without the part from
// its last dot on: "D:\\fw\\app_v2.hex" gives "app_v2", "stack.rel.hex"
// gives "stack.rel".
std::string FileTitle(std::string_view path);

// The last four bytes of the title encoded as GBK, in order; a shorter title
// is padded with zero bytes at the end. A character GBK lacks counts as "?".
std::array<uint8_t, 4> ImageTag(std::string_view titleUtf8);

}  // namespace corvel::program
