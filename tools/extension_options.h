// The extension area's options, once: what the window's option list shows,
// which boxes each one reads, the command line's name for it, and the
// operation that runs it. The window builds its list and enable states from
// this table, corvel-dl its subcommands and arguments.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

namespace corvel::tools {

// The option list's items, in order; the value is the item's index and the
// row of the table below.
enum class ExtensionOption : int {
  kFullErase = 0,
  kPageErase = 1,
  kSectorErase = 2,
  kReadFlash = 3,
  kWriteFlash = 4,
  kReadRegister = 5,
  kWriteRegister = 6,
  kReadOtp = 7,
  kWriteOtp = 8,
  kLockOtp = 9,
  kEraseOtp = 10,
};

enum class ExtensionOutcome {
  kDone,       // the chip answered with success
  kRefused,    // an input was refused (or no option chosen): nothing was sent
  kFailed,     // the chip refused, did not answer, or answered short
  kCancelled,  // the lock was not confirmed: nothing was sent
};

// The area's input boxes, in the order the command line takes them as
// arguments.
enum class ExtensionBox : uint8_t {
  kPage,      // the page list
  kAddress,   // hexadecimal
  kLength,    // decimal
  kData,      // hexadecimal; the command line calls it a value
  kLoadFile,  // the load button; its path box only shows the name
};

struct ExtensionBoxEntry {
  ExtensionBox box;
  const char* argument;  // corvel-dl's positional argument
  const char* help;
};

inline constexpr ExtensionBoxEntry kExtensionBoxes[] = {
    {ExtensionBox::kPage, "PAGE", "OTP page, 1 to 3"},
    {ExtensionBox::kAddress, "ADDR", "Address, hexadecimal (1000 or 0x1000)"},
    {ExtensionBox::kLength, "LEN", "Length in bytes, decimal"},
    {ExtensionBox::kData, "VALUE", "Value, hexadecimal"},
    {ExtensionBox::kLoadFile, "FILE", "Load file: hexadecimal pairs, e.g. 01 02 A0 FF"},
};

class ExtensionBoxes {
 public:
  constexpr ExtensionBoxes() = default;
  constexpr ExtensionBoxes(std::initializer_list<ExtensionBox> boxes) {
    for (ExtensionBox box : boxes) bits_ |= Bit(box);
  }
  constexpr bool Has(ExtensionBox box) const { return (bits_ & Bit(box)) != 0; }

 private:
  static constexpr unsigned Bit(ExtensionBox box) { return 1u << static_cast<unsigned>(box); }
  unsigned bits_ = 0;
};

namespace detail {
class ExtensionContext;
}

struct ExtensionOptionEntry {
  ExtensionOption option;
  const char* label;    // as the window's option list shows it
  const char* command;  // corvel-dl's subcommand
  const char* summary;  // its help line
  ExtensionBoxes boxes;  // enabled in the window, required on the command line
  bool confirms;         // asks before it sends (corvel-dl: unless --yes)
  ExtensionOutcome (*operation)(detail::ExtensionContext&);
};

// Every option, in list order.
std::span<const ExtensionOptionEntry> ExtensionOptions();

// The option at list index `index`; null for no selection (-1) or anything
// outside the list.
const ExtensionOptionEntry* FindExtensionOption(int index);

}  // namespace corvel::tools
