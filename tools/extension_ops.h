// The extension area's execute button: one flash, register or OTP operation
// chosen by the option list, with the inputs exactly as the area's boxes hold
// them. The window and the command line both come through here.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "link/link.h"
#include "log/log.h"
#include "tools/load_file.h"

namespace corvel::tools {

// The option list's items, in order; the value is the item's index.
enum class ExtensionOption : int {
  kFullErase = 0,     // "Erase Full Chip"
  kPageErase = 1,     // "Page Erase"
  kSectorErase = 2,   // "Setcor Erase"
  kReadFlash = 3,     // "读FLASH"
  kWriteFlash = 4,    // "写FLASH"
  kReadRegister = 5,  // "读寄存器"
  kWriteRegister = 6, // "写寄存器"
  kReadOtp = 7,       // "读OTP"
  kWriteOtp = 8,      // "写OTP"
  kLockOtp = 9,       // "锁定OTP"
  kEraseOtp = 10,     // "擦出OTP"
};

// The raw inputs, read afresh for every run.
struct ExtensionInputs {
  int option = -1;          // option list selection; -1 (or anything outside 0..10): nothing selected
  std::string addressText;  // address edit, hexadecimal
  std::string lengthText;   // length edit, decimal
  std::string dataText;     // data edit, hexadecimal
  int pageIndex = -1;       // page list selection: 0, 1, 2 are pages 1, 2, 3; anything else is none
  std::optional<LoadedData> loaded;  // empty until a load file was loaded
};

enum class ExtensionOutcome {
  kDone,       // the chip answered with success
  kRefused,    // an input was refused (or no option chosen): nothing was sent
  kFailed,     // the chip refused, did not answer, or answered short
  kCancelled,  // the lock was not confirmed: nothing was sent
};

struct ExtensionResult {
  ExtensionOutcome outcome = ExtensionOutcome::kRefused;
  std::optional<std::string> lengthText;  // new text of the length edit (the two writes)
  std::optional<std::string> dataText;    // new text of the data edit (read register)
};

// Asks "是否锁定OTP区域?" (caption "OTP", OK and Cancel, warning icon); true
// only for OK.
using ConfirmLock = std::function<bool()>;

// Lock OTP's confirmation text and caption, for the front ends' boxes.
inline constexpr const char* kLockQuestion = "是否锁定OTP区域?";
inline constexpr const char* kLockCaption = "OTP";

// Reads, normalises and parses the inputs, then runs the chosen operation:
// its log lines, at most one command, and the edit texts it changes. An
// empty `confirm` answers Cancel.
ExtensionResult RunExtensionOperation(link::Link& link, const ExtensionInputs& inputs, const ConfirmLock& confirm);

// The same checks without a chip, for a front end that refuses input before
// it connects. On a refusal logs exactly the lines the operation would have
// logged, up to and including the refusal, and returns kRefused. When the
// checks pass it logs nothing and returns kDone, except for the lock with a
// `confirm` given: that is asked here, and a Cancel logs the lines up to the
// question and returns kCancelled.
ExtensionOutcome CheckExtensionInputs(const ExtensionInputs& inputs, log::Log& log, const ConfirmLock& confirm = {});

}  // namespace corvel::tools
