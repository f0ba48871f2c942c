#include "text/number_text.h"

namespace corvel::text {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

uint32_t ParseUnsigned(std::string_view text, int base) {
  if (base < 2 || base > 36) return 0;
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The prefix only counts when a hex digit follows it; otherwise the "0"
  // alone is the number, which is 0 either way.
  if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      DigitValue(text[i + 2]) < 16) {
    i += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit >= base) break;
    if (!overflow) {
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
      if (value > 0xFFFFFFFFu) overflow = true;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const auto result = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - result) : result;
}

std::string NormaliseHexText(std::string_view text) {
  if (text.size() >= 2 && text[1] == 'x') return std::string(text);
  std::string out = "0x";
  out.append(text);
  return out;
}

}  // namespace corvel::text
