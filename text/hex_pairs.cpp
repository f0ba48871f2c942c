#include "text/hex_pairs.h"
#include "text/translation.h"

#include "text/number_text.h"

namespace corvel::text {

std::optional<std::string> CollectKeptCharacters(std::string_view text, size_t limit) {
  std::string kept;
  kept.reserve(text.size() < limit ? text.size() : limit);
  for (const char c : text) {
    if (IsLayoutCharacter(c)) continue;
    if (kept.size() == limit) return std::nullopt;
    kept.push_back(c);
  }
  return kept;
}

std::vector<uint8_t> DecodeHexPairs(std::string_view chars) {
  std::vector<uint8_t> bytes;
  bytes.reserve(chars.size() / 2);
  for (size_t i = 0; i + 1 < chars.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(ParseUnsigned(chars.substr(i, 2), 16) & 0xFFu));
  }
  return bytes;
}

void AppendHexBytes(std::string& line, const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < count; ++i) {
    line.push_back(kDigits[bytes[i] >> 4]);
    line.push_back(kDigits[bytes[i] & 0x0F]);
    line.push_back(' ');
  }
}

Result<std::vector<uint8_t>> ParseHexPairFile(std::string_view fileText, const HexPairFileLimit& limit) {
  auto kept = CollectKeptCharacters(fileText, limit.maxCharacters);
  if (!kept) return MakeError(ErrorKind::kBadInput, Tr(limit.tooLong));
  return DecodeHexPairs(*kept);
}

}  // namespace corvel::text
