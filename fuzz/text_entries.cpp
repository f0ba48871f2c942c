// Entries for the text helpers: number texts, hex-pair texts and GBK.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "text/console_text.h"
#include "text/gbk.h"
#include "text/hex_pairs.h"
#include "text/number_text.h"

namespace corvel::fuzz {
namespace {

constexpr std::string_view kSpaces = " \t\n\v\f\r";

// What the C library makes of the text: strtoull, narrowed as the parser's
// contract says a 32-bit strtoul does. None where the two may rightly differ.
std::optional<uint32_t> LibraryValue(std::string_view text, int base) {
  const std::string s(text);  // ends at a zero byte, where the parser stops too
  size_t at = s.find_first_not_of(kSpaces);
  const bool negative = at != std::string::npos && s[at] == '-';
  if (at != std::string::npos && (s[at] == '-' || s[at] == '+')) ++at;
  // Newer C libraries read a 0b prefix in base 2; the tool never did.
  if (base == 2 && at != std::string::npos) {
    const std::string_view prefix = std::string_view(s).substr(at, 2);
    if (prefix == "0b" || prefix == "0B") return std::nullopt;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(s.c_str(), nullptr, base);
  if (errno == ERANGE) return 0xFFFFFFFFu;
  const unsigned long long magnitude = negative ? 0ULL - value : value;
  if (magnitude > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  const auto narrow = static_cast<uint32_t>(magnitude);
  return negative ? 0u - narrow : narrow;
}

// The value in `base`, after `sign` (none, "+" or "-").
std::string Digits(uint32_t value, int base, bool upper, std::string_view sign = {}) {
  const char* digits = upper ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string out;
  do {
    out += digits[value % static_cast<uint32_t>(base)];
    value /= static_cast<uint32_t>(base);
  } while (value != 0);
  out.append(sign.rbegin(), sign.rend());
  std::reverse(out.begin(), out.end());
  return out;
}

std::string Show(std::string_view text) {
  std::string out = "\"";
  for (const char c : text.substr(0, 40)) {
    if (c >= 0x20 && c < 0x7F) {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<uint8_t>(c));
      out += hex;
    }
  }
  return out + (text.size() > 40 ? "...\"" : "\"");
}

// Well-formed UTF-8: shortest forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<uint8_t>(text[i]);
    size_t length = 0;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto b = static_cast<uint8_t>(text[i + k]);
      if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

std::string CheckNumberText(const uint8_t* data, size_t size) {
  const std::string_view text = AsText(data, size);
  for (const int base : {0, 1, 37}) {
    if (text::ParseUnsigned(text, base) != 0) return "base " + std::to_string(base) + " gave a value";
  }
  for (const int base : {2, 8, 10, 16, 36}) {
    const std::string where = Show(text) + " in base " + std::to_string(base) + ": ";
    const uint32_t value = text::ParseUnsigned(text, base);
    const std::optional<uint32_t> library = LibraryValue(text, base);
    if (library && *library != value) {
      return where + std::to_string(value) + ", the C library " + std::to_string(*library);
    }
    if (text::ParseUnsigned(std::string(kSpaces) + std::string(text), base) != value) {
      return where + "white space in front changed the value";
    }
    for (const bool upper : {true, false}) {
      const std::string digits = Digits(value, base, upper);
      if (text::ParseUnsigned(digits, base) != value) return where + "formatted as " + digits + " it reads differently";
      if (text::ParseUnsigned(Digits(value, base, upper, "+"), base) != value) return where + "a plus sign changed it";
      if (value != 0 && text::ParseUnsigned(Digits(0u - value, base, upper, "-"), base) != value) {
        return where + "its negation with a minus sign reads differently";
      }
      if (base == 16 && text::ParseUnsigned(text::NormaliseHexText(digits), 16) != value) {
        return where + "normalised as " + text::NormaliseHexText(digits) + " it reads differently";
      }
    }
  }
  const std::string normal = text::NormaliseHexText(text);
  if (normal.size() < 2 || normal[1] != 'x') return Show(text) + " normalised lacks its x";
  if (text::NormaliseHexText(normal) != normal) return Show(text) + " normalised twice changes again";
  return {};
}

std::string CheckHexPairs(const uint8_t* data, size_t size) {
  const std::string_view text = AsText(data, size);
  std::string layoutFree;
  for (const char c : text) {
    if (!text::IsLayoutCharacter(c)) layoutFree += c;
  }
  const size_t count = layoutFree.size();
  if (text::CollectKeptCharacters(text, count) != layoutFree) return "kept characters at their count differ";
  if (count > 0 && text::CollectKeptCharacters(text, count - 1)) return "kept characters past the limit";
  if (text::CollectKeptCharacters(text, count + 1) != layoutFree) return "kept characters under the limit differ";

  const std::vector<uint8_t> bytes = text::DecodeHexPairs(text);
  if (bytes.size() != text.size() / 2) return "pairs decoded to " + std::to_string(bytes.size()) + " bytes";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != (text::ParseUnsigned(text.substr(2 * i, 2), 16) & 0xFFu)) {
      return "pair " + std::to_string(i) + " " + Show(text.substr(2 * i, 2)) + " decoded to another byte";
    }
  }

  // The input's own bytes as pairs, digits in either case and laid out with
  // the characters the input picks, read back as those bytes.
  static constexpr char kLayout[] = {' ', '\r', '\n', '\t'};
  std::string laid;
  for (size_t i = 0; i < size; ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, (data[i] & 0x10) != 0 ? "%02x" : "%02X", data[i]);
    laid.append(digits, 2);
    for (int layout = data[i] & 0x03; layout != 0; --layout) laid += kLayout[(data[i] >> 2 & 0x03) ^ layout];
  }
  const std::optional<std::string> kept = text::CollectKeptCharacters(laid, 2 * size);
  if (!kept) return "the input laid out as pairs went over its own length";
  if (text::DecodeHexPairs(*kept) != std::vector<uint8_t>(data, data + size)) {
    return "the input laid out as pairs read back differently";
  }
  return {};
}

std::string CheckGbk(const uint8_t* data, size_t size) {
  const std::string_view bytes = AsText(data, size);
  if (!IsValidUtf8(text::GbkToUtf8(bytes))) return "GBK decoding gave invalid UTF-8";
  // Console text in chunks of 1 to 8 bytes, as the port may hand it over.
  text::ConsoleTextDecoder console;
  std::string shown;
  const size_t step = bytes.empty() ? 1 : 1 + static_cast<uint8_t>(bytes[0]) % 8;
  for (size_t at = 0; at < bytes.size(); at += step) {
    console.Decode(bytes.substr(at, step), shown);
    if (console.held() > 3) return "console text held back more than one character";
  }
  if (!IsValidUtf8(shown)) return "console text " + Show(bytes) + " shown as invalid UTF-8";
  const std::string replaced = text::Utf8ToGbkReplacing(bytes);
  const Result<std::string> encoded = text::Utf8ToGbk(bytes);
  if (!IsValidUtf8(bytes)) {
    if (encoded) return "invalid UTF-8 " + Show(bytes) + " was encoded";
    return {};
  }
  if (!encoded) {
    if (encoded.error().kind != ErrorKind::kBadInput) return "refused with a kind other than bad input";
    return {};
  }
  if (replaced != *encoded) return Show(bytes) + " encodes differently when replacing";
  if (text::GbkToUtf8(*encoded) != bytes) {
    return Show(bytes) + " came back from GBK as " + Show(text::GbkToUtf8(*encoded));
  }
  return {};
}

}  // namespace corvel::fuzz
