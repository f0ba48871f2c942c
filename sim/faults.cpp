#include "sim/faults.h"

#include <charconv>
#include <string>

namespace corvel::sim {

namespace {

bool ParseNumber(std::string_view text, uint64_t max, uint64_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  return ec == std::errc() && ptr == end && value <= max;
}

Error Bad(std::string_view text, std::string_view why) {
  return MakeError(ErrorKind::kBadInput, "bad fault \"" + std::string(text) + "\": " + std::string(why));
}

}  // namespace

Result<void> ParseFault(std::string_view text, Faults& faults) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) return Bad(text, "expected KIND:VALUE");
  const std::string_view kind = text.substr(0, colon);
  std::string_view arg = text.substr(colon + 1);
  std::string_view second;
  const size_t equals = arg.find('=');
  if (equals != std::string_view::npos) {
    second = arg.substr(equals + 1);
    arg = arg.substr(0, equals);
  }
  const bool hasSecond = equals != std::string_view::npos;

  uint64_t first = 0;
  uint64_t value = 0;
  if (kind == "status") {
    if (!ParseNumber(arg, 0xFF, first)) return Bad(text, "CODE must be a byte");
    if (!hasSecond || !ParseNumber(second, 0xFF, value)) return Bad(text, "STATUS must be a byte");
    faults.statusFor[first] = static_cast<int>(value);
    return {};
  }
  if (hasSecond && kind != "nak-block" && kind != "delay" && kind != "stuck-bit") return Bad(text, "unexpected '='");
  if (kind == "silent" || kind == "badcrc") {
    if (!ParseNumber(arg, 0xFF, first)) return Bad(text, "CODE must be a byte");
    (kind == "silent" ? faults.silentFor : faults.badCrcFor).set(first);
    return {};
  }
  if (kind == "nak-block" || kind == "silent-block") {
    if (!ParseNumber(arg, 0xFFFF, first) || first == 0) return Bad(text, "K must be a block number 1..65535");
    if (kind == "silent-block") {
      faults.silentBlock = static_cast<uint32_t>(first);
      return {};
    }
    faults.nakBlock = static_cast<uint32_t>(first);
    faults.nakStatus = 1;
    if (hasSecond) {
      if (!ParseNumber(second, 0xFF, value) || value == 0) return Bad(text, "STATUS must be a non-zero byte");
      faults.nakStatus = static_cast<uint8_t>(value);
    }
    return {};
  }
  if (kind == "noise") {
    if (!ParseNumber(arg, 4096, first)) return Bad(text, "N must be 0..4096");
    faults.noiseBytes = first;
    return {};
  }
  if (kind == "false-start") {
    if (!ParseNumber(arg, 1024, first)) return Bad(text, "N must be 0..1024");
    faults.falseStarts = first;
    return {};
  }
  if (kind == "delay") {
    if (hasSecond) {
      if (!ParseNumber(arg, 0xFF, first)) return Bad(text, "CODE must be a byte");
      if (!ParseNumber(second, 600000, value)) return Bad(text, "MS must be 0..600000");
      faults.delayFor[first] = value * 1000;
      return {};
    }
    if (!ParseNumber(arg, 600000, first)) return Bad(text, "MS must be 0..600000");
    faults.answerDelayMicros = first * 1000;
    return {};
  }
  if (kind == "vanish") {
    if (!ParseNumber(arg, 0xFFFFFFFF, first) || first == 0) return Bad(text, "N must be at least 1");
    faults.vanishAfterFrames = static_cast<uint32_t>(first);
    return {};
  }
  if (kind == "stuck-bit") {
    if (!ParseNumber(arg, 0xFFFFFFFF, first)) return Bad(text, "ADDR must be a 32-bit address");
    if (hasSecond && !ParseNumber(second, 7, value)) return Bad(text, "BIT must be 0..7");
    faults.stuckBits.push_back({static_cast<uint32_t>(first), static_cast<uint8_t>(value)});
    return {};
  }
  return Bad(text,
             "unknown kind (status, silent, badcrc, nak-block, silent-block, noise, false-start, delay, vanish, "
             "stuck-bit)");
}

}  // namespace corvel::sim
