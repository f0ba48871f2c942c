// corvel-dl's own reading of its arguments: each one read whole, so that a
// typing slip stops the command instead of reaching the chip as another
// number. The window's boxes keep their lenient reading (text/number_text.h).
// Every text these readings print lives in argument_text.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tools/extension_options.h"

namespace corvel::cli {

// Reads an extension command's box argument whole: ADDR and VALUE are 1 to 8
// hexadecimal digits after an optional 0x or 0X, LEN and PAGE decimal digits
// that fit 32 bits; a load file's path is not read here. Returns the message
// naming the argument when the text is refused. An accepted 0X prefix is
// rewritten to 0x in `text`, so that the shared reading behind it sees the
// number the text plainly means; any other accepted text is left as given.
std::optional<std::string> CheckBoxArgument(tools::ExtensionBox box, std::string& text);

// -b/--baud: decimal digits, 1 to 0xFFFFFFFF. The error line names the option.
std::optional<std::string> ReadBaud(std::string_view text, uint32_t& baud);

// --sync-timeout: a finite number of seconds from 0 (for ever) to 86400. A
// positive value below a microsecond is refused rather than rounded to 0,
// which would mean for ever.
inline constexpr double kMaxSyncTimeoutSeconds = 86400;
std::optional<std::string> ReadSyncTimeout(std::string_view text, double& seconds);

// Plain texts for CLI11's number checks, which otherwise print their range
// with hundreds of digits. `text` is the value as given.
std::string PositiveNumberError(const std::string& text);
std::string NonNegativeNumberError(const std::string& text);

// The command name closest to `word` when it is a plausible slip (edit
// distance at most a third of the word, and at least 1); empty otherwise.
std::string NearestCommand(std::string_view word, std::span<const std::string> commands);

// The two lines for a word that is not a command, ending in a line feed.
std::string UnknownCommandMessage(std::string_view word, std::string_view nearest);

// otp-lock with no terminal to ask on and no --yes.
std::string LockNeedsYesMessage();

// dump ADDR LEN: each decimal, or hexadecimal after 0x (or 0X); LEN at least
// 1, and ADDR + LEN at most 2^32, where the read command's addresses end.
// Returns the message naming the argument when refused.
std::optional<std::string> ReadDumpRange(std::string_view addressText, std::string_view lengthText,
                                         uint32_t& address, uint64_t& length);

// dump --repeat: every chip on a port would write the same file.
std::string DumpRepeatMessage();
// Two ports whose short names give them the same file.
std::string SameDumpFileMessage(std::string_view file);

}  // namespace corvel::cli
