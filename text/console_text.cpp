#include "text/console_text.h"

#include <cstdint>

#include "base/utf8.h"
#include "text/gbk.h"

namespace corvel::text {
namespace {

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// What starts at `in`: a well-formed multi-byte UTF-8 character (its length),
// the start of one cut off by the end (kCut), or neither (0). Shortest forms
// only, no surrogates, nothing above U+10FFFF.
constexpr size_t kCut = SIZE_MAX;

size_t Utf8Character(std::string_view in) {
  const Utf8Lead lead = Utf8LeadOf(static_cast<uint8_t>(in[0]));
  if (lead.follow == 0) return 0;
  for (size_t i = 1; i <= lead.follow; ++i) {
    if (i >= in.size()) return kCut;
    const auto b = static_cast<uint8_t>(in[i]);
    if (i == 1 ? (b < lead.low || b > lead.high) : !IsContinuation(b)) return 0;
  }
  return size_t{lead.follow} + 1;
}

bool IsGbkLead(uint8_t b) { return b >= 0x81 && b <= 0xFE; }
bool IsGbkTrail(uint8_t b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

}  // namespace

void ConsoleTextDecoder::Decode(std::string_view bytes, std::string& out) {
  if (held_.empty()) {
    DecodeWhole(bytes, out);
    return;
  }
  joined_.assign(held_);
  joined_.append(bytes);
  held_.clear();
  DecodeWhole(joined_, out);
}

void ConsoleTextDecoder::AppendGbk(std::string_view run, std::string& out) {
  if (!run.empty()) out.append(GbkToUtf8(run));
}

void ConsoleTextDecoder::DecodeWhole(std::string_view in, std::string& out) {
  // Text decided as GBK is converted in one piece, ASCII between its runs
  // included (GBK leaves ASCII as it is): a line of noise then costs one
  // conversion, not one per stray byte.
  size_t gbkFrom = std::string_view::npos;
  auto flushGbk = [&](size_t to) {
    if (gbkFrom == std::string_view::npos) return;
    AppendGbk(in.substr(gbkFrom, to - gbkFrom), out);
    gbkFrom = std::string_view::npos;
  };
  size_t at = 0;
  while (at < in.size()) {
    if (static_cast<uint8_t>(in[at]) < 0x80) {
      const size_t start = at;
      while (at < in.size() && static_cast<uint8_t>(in[at]) < 0x80) ++at;
      if (gbkFrom == std::string_view::npos) out.append(in.substr(start, at - start));
      continue;
    }
    // A run of non-ASCII characters, read as UTF-8 as long as it can be.
    const size_t start = at;
    size_t end = at;
    bool wellFormed = true;
    bool hasLong = false;
    bool cut = false;
    while (end < in.size() && static_cast<uint8_t>(in[end]) >= 0x80) {
      const size_t length = Utf8Character(in.substr(end));
      if (length == kCut) {
        cut = true;
        break;
      }
      if (length == 0) {
        wellFormed = false;
        break;
      }
      hasLong = hasLong || length >= 3;
      end += length;
    }
    if (wellFormed) {
      // Every pair of GBK bytes that make a Chinese character is also a
      // two-byte UTF-8 character (芯片 is D0 BE C6 AC), so such a run alone
      // proves nothing: it follows what the text has shown so far.
      if (hasLong) firmwareUtf8_ = true;
      if (firmwareUtf8_) {
        flushGbk(start);
        out.append(in.substr(start, end - start));
      } else if (gbkFrom == std::string_view::npos) {
        gbkFrom = start;
      }
      if (cut) {
        flushGbk(end);
        held_.assign(in.substr(end));
        return;
      }
      at = end;
      continue;
    }
    firmwareUtf8_ = false;
    if (gbkFrom == std::string_view::npos) gbkFrom = start;
    // GBK from the run's start: pairs of a lead and a trail byte, where the
    // trail may be ASCII; the run ends at an ASCII byte in a lead's place.
    end = start;
    while (end < in.size() && static_cast<uint8_t>(in[end]) >= 0x80) {
      const auto lead = static_cast<uint8_t>(in[end]);
      if (!IsGbkLead(lead)) {
        ++end;  // 0x80 and 0xFF stand alone
      } else if (end + 1 == in.size()) {
        flushGbk(end);
        held_.assign(1, static_cast<char>(lead));
        return;
      } else {
        end += IsGbkTrail(static_cast<uint8_t>(in[end + 1])) ? 2 : 1;
      }
    }
    at = end;
  }
  flushGbk(in.size());
}

}  // namespace corvel::text
