// GBK, the encoding of the bytes that leave the tool as text: configuration
// files and the transfer tag. Everything inside the tool is UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace corvel::text {

// Encodes UTF-8 text as GBK. Fails (kBadInput) on invalid UTF-8 or on a
// character GBK does not have.
Result<std::string> Utf8ToGbk(std::string_view utf8);

// As Utf8ToGbk, but a character GBK does not have, and each byte of invalid
// UTF-8, becomes "?" (what a Windows program gets for a file name it cannot
// show in its code page). Never fails.
std::string Utf8ToGbkReplacing(std::string_view utf8);

// Decodes GBK bytes to UTF-8. A byte that does not start a valid character
// shows as U+FFFD and decoding goes on with the next byte. Never fails; a
// zero byte stays a zero byte.
std::string GbkToUtf8(std::string_view bytes);

}  // namespace corvel::text
