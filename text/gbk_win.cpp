// GBK conversions through the system's code page 936 (the euro sign at 0x80
// included). Characters go one at a time, so a character 936 lacks is found
// by itself: WC_NO_BEST_FIT_CHARS keeps it from becoming a look-alike.
#include <windows.h>

#include "base/utf8.h"
#include "text/gbk.h"
#include "text/translation.h"

namespace corvel::text {
namespace {

constexpr UINT kGbk = 936;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";
constexpr const char* kCannotCarry = "文本含有GBK无法表示的字符";

// Length of the well-formed UTF-8 sequence at the start of `in`, or 0 (no
// overlong forms, no surrogates, nothing above U+10FFFF).
size_t Utf8SequenceLength(std::string_view in) {
  const auto lead = static_cast<uint8_t>(in[0]);
  if (lead < 0x80) return 1;
  const Utf8Lead expect = Utf8LeadOf(lead);
  const size_t length = size_t{expect.follow} + 1;
  if (expect.follow == 0 || in.size() < length) return 0;
  const auto first = static_cast<uint8_t>(in[1]);
  if (first < expect.low || first > expect.high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if ((static_cast<uint8_t>(in[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// Appends the GBK bytes of one well-formed UTF-8 character; false when code
// page 936 has no such character.
bool AppendGbk(std::string_view character, std::string& out) {
  if (character.size() == 1) {
    out.push_back(character[0]);
    return true;
  }
  wchar_t wide[2];
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, character.data(),
                                        static_cast<int>(character.size()), wide, 2);
  if (units <= 0) return false;
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int count = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide, units, bytes, sizeof bytes, nullptr,
                                        &usedDefault);
  if (count <= 0 || usedDefault) return false;
  out.append(bytes, static_cast<size_t>(count));
  return true;
}

}  // namespace

Result<std::string> Utf8ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const size_t length = Utf8SequenceLength(utf8);
    if (length == 0 || !AppendGbk(utf8.substr(0, length), out)) return MakeError(ErrorKind::kBadInput, Tr(kCannotCarry));
    utf8.remove_prefix(length);
  }
  return out;
}

std::string Utf8ToGbkReplacing(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const size_t length = Utf8SequenceLength(utf8);
    if (length == 0 || !AppendGbk(utf8.substr(0, length), out)) out.push_back('?');
    utf8.remove_prefix(length == 0 ? 1 : length);
  }
  return out;
}

std::string GbkToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  while (!bytes.empty()) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    if (lead < 0x80) {
      out.push_back(bytes[0]);
      bytes.remove_prefix(1);
      continue;
    }
    // 0x80 stands alone (the euro sign); 0x81 to 0xFE lead a pair.
    const size_t length = lead >= 0x81 && lead <= 0xFE && bytes.size() >= 2 ? 2 : 1;
    wchar_t wide[2];
    const int units = MultiByteToWideChar(kGbk, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(length), wide, 2);
    char utf8[8];
    const int count =
        units > 0 ? WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, sizeof utf8, nullptr, nullptr) : 0;
    if (count > 0) {
      out.append(utf8, static_cast<size_t>(count));
      bytes.remove_prefix(length);
    } else {
      out.append(kReplacementCharacter);
      bytes.remove_prefix(1);
    }
  }
  return out;
}

}  // namespace corvel::text
