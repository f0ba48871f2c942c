// Texts of hexadecimal pairs (user data, record files, the load file): white
// space dropped, the rest read two characters at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace corvel::text {

// Blank, carriage return, line feed and tab: the characters these files may
// use for layout. Other white space (form feed, vertical tab) is kept.
inline bool IsLayoutCharacter(char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; }

// The characters of `text` other than layout characters, in order; nullopt
// when there are more than `limit` of them (the caller refuses the file
// rather than cut it).
std::optional<std::string> CollectKeptCharacters(std::string_view text, size_t limit);

// Reads `chars` two at a time as hexadecimal numbers (ParseUnsigned, base 16:
// "1G" gives 0x01, "G1" gives 0) and keeps the low 8 bits of each; an odd
// last character is dropped.
std::vector<uint8_t> DecodeHexPairs(std::string_view chars);

// The inverse, as logs show bytes: each byte as "%02X " (two upper-case digits
// and a blank) appended to `line`.
void AppendHexBytes(std::string& line, const uint8_t* bytes, size_t count);

// A file that is nothing but hexadecimal pairs (the download's user data, the
// extension area's load file). Such files differ only in how long they may be
// and in the words that refuse a longer one.
struct HexPairFileLimit {
  size_t maxCharacters;  // kept characters
  const char* tooLong;   // the refusal, as the user reads it
};

// CollectKeptCharacters then DecodeHexPairs. A text with more than
// limit.maxCharacters kept characters is refused (kBadInput, limit.tooLong)
// rather than cut; an empty one gives no bytes.
Result<std::vector<uint8_t>> ParseHexPairFile(std::string_view fileText, const HexPairFileLimit& limit);

}  // namespace corvel::text
