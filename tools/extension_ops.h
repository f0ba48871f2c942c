// The extension area's execute button: one flash, register or OTP operation
// chosen by the option list, with the inputs exactly as the area's boxes hold
// them. The window and the command line both come through here.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "link/link.h"
#include "log/log.h"
#include "tools/extension_options.h"
#include "tools/load_file.h"

namespace corvel::tools {

// The raw inputs, read afresh for every run.
struct ExtensionInputs {
  int option = -1;          // option list selection; -1 (or anything outside the list): nothing selected
  std::string addressText;  // address edit, hexadecimal
  std::string lengthText;   // length edit, decimal
  std::string dataText;     // data edit, hexadecimal
  int pageIndex = -1;       // page list selection: 0, 1, 2 are pages 1, 2, 3; anything else is none
  std::optional<LoadedData> loaded;  // empty until a load file was loaded
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
