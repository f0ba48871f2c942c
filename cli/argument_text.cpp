#include "cli/argument_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <vector>
#include "text/translation.h"

namespace corvel::cli {
namespace {

constexpr size_t kMaxHexDigits = 8;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool AllOf(std::string_view text, bool (*digit)(char)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), digit);
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits that fit 32 bits, or nothing.
std::optional<uint32_t> ReadDecimal32(std::string_view text) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

// Decimal, or hexadecimal after 0x/0X, read whole into 64 bits.
std::optional<uint64_t> ReadDumpNumber(std::string_view text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) text.remove_prefix(2);
  if (!AllOf(text, hex ? IsHexDigit : IsDecimalDigit)) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, hex ? 16 : 10);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

constexpr uint64_t kAddressSpaceEnd = uint64_t{1} << 32;

}  // namespace

std::optional<std::string> CheckBoxArgument(tools::ExtensionBox box, std::string& text) {
  const std::string name = tools::kExtensionBoxes[static_cast<size_t>(box)].argument;
  switch (box) {
    case tools::ExtensionBox::kAddress:
    case tools::ExtensionBox::kData: {
      const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
      const std::string_view digits = std::string_view(text).substr(prefixed ? 2 : 0);
      if (!AllOf(digits, IsHexDigit) || digits.size() > kMaxHexDigits) {
        return Tr("参数") + name + Tr("非法: ") + Quoted(text) + Tr(" 应为1到8位十六进制数(可带0x)");
      }
      if (prefixed) text[1] = 'x';
      return std::nullopt;
    }
    case tools::ExtensionBox::kLength:
    case tools::ExtensionBox::kPage:
      if (!AllOf(text, IsDecimalDigit)) return Tr("参数") + name + Tr("非法: ") + Quoted(text) + Tr(" 应为十进制数");
      if (!ReadDecimal32(text)) return Tr("参数") + name + Tr("超出范围: ") + Quoted(text) + Tr(" 大于4294967295");
      return std::nullopt;
    case tools::ExtensionBox::kLoadFile:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> ReadBaud(std::string_view text, uint32_t& baud) {
  const std::optional<uint32_t> value = AllOf(text, IsDecimalDigit) ? ReadDecimal32(text) : std::nullopt;
  if (!value || *value == 0) return "-b/--baud: " + Quoted(text) + " is not a baud rate (a positive integer)";
  baud = *value;
  return std::nullopt;
}

std::optional<std::string> ReadSyncTimeout(std::string_view text, double& seconds) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  const bool number = error == std::errc{} && end == text.data() + text.size() && std::isfinite(value);
  if (!number || value < 0 || value > kMaxSyncTimeoutSeconds) {
    return "--sync-timeout: " + Quoted(text) + " is not a number of seconds from 0 to 86400";
  }
  // The session waits whole microseconds, cut down; a value that cuts to 0
  // would wait for ever.
  if (value > 0 && value * 1e6 < 1) {
    return "--sync-timeout: " + Quoted(text) + " is below a microsecond (0 waits for ever)";
  }
  seconds = value;
  return std::nullopt;
}

std::string PositiveNumberError(const std::string& text) { return Quoted(text) + " is not a positive number"; }

std::string NonNegativeNumberError(const std::string& text) {
  return Quoted(text) + " is not a number of 0 or more";
}

std::string NearestCommand(std::string_view word, std::span<const std::string> commands) {
  // Edit distance where swapping two neighbouring letters is one slip, as a
  // typist makes it ("inof" for "info"); command names are short.
  auto distance = [word](std::string_view name) {
    const size_t width = name.size() + 1;
    std::vector<size_t> d((word.size() + 1) * width);
    auto at = [&d, width](size_t i, size_t j) -> size_t& { return d[i * width + j]; };
    for (size_t i = 0; i <= word.size(); ++i) at(i, 0) = i;
    for (size_t j = 0; j <= name.size(); ++j) at(0, j) = j;
    for (size_t i = 1; i <= word.size(); ++i) {
      for (size_t j = 1; j <= name.size(); ++j) {
        const size_t change = word[i - 1] == name[j - 1] ? 0 : 1;
        at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + change});
        if (i > 1 && j > 1 && word[i - 1] == name[j - 2] && word[i - 2] == name[j - 1]) {
          at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
        }
      }
    }
    return at(word.size(), name.size());
  };
  const size_t limit = std::max<size_t>(1, word.size() / 3);
  std::string nearest;
  size_t best = limit + 1;
  for (const std::string& name : commands) {
    const size_t d = distance(name);
    if (d < best) {
      best = d;
      nearest = name;
    }
  }
  return nearest;
}

std::string UnknownCommandMessage(std::string_view word, std::string_view nearest) {
  std::string message = "unknown command " + Quoted(word);
  if (!nearest.empty()) message += " (did you mean " + Quoted(nearest) + "?)";
  return message + "\nRun with --help for the commands.\n";
}

std::string LockNeedsYesMessage() { return Tr("没有终端可以确认锁定OTP: 请加 --yes"); }

std::optional<std::string> ReadDumpRange(std::string_view addressText, std::string_view lengthText,
                                         uint32_t& address, uint64_t& length) {
  const auto notANumber = [](std::string_view name, std::string_view text, std::string_view bound) {
    return "dump: " + std::string(name) + " " + Quoted(text) + " is not a number (decimal, or hexadecimal after 0x) " +
           std::string(bound);
  };
  const std::optional<uint64_t> start = ReadDumpNumber(addressText);
  if (!start || *start >= kAddressSpaceEnd) return notANumber("ADDR", addressText, "below 2^32");
  const std::optional<uint64_t> count = ReadDumpNumber(lengthText);
  if (!count || *count > kAddressSpaceEnd) return notANumber("LEN", lengthText, "up to 2^32");
  if (*count == 0) return std::string("dump: LEN must be at least 1");
  if (*start + *count > kAddressSpaceEnd) {
    return "dump: ADDR " + Quoted(addressText) + " + LEN " + Quoted(lengthText) +
           " ends past the 32-bit address space (0x100000000)";
  }
  address = static_cast<uint32_t>(*start);
  length = *count;
  return std::nullopt;
}

std::string DumpRepeatMessage() {
  return "dump: --repeat is not supported: every chip on a port would write the same file";
}

std::string SameDumpFileMessage(std::string_view file) {
  return "dump: two ports would both write " + Quoted(file) + "; give them different names";
}

}  // namespace corvel::cli
