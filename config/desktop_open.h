// Opens a file in the user's editor, as the desktop's "open" action does.
#pragma once

#include <string>

#include "base/result.h"

namespace corvel::config {

// Starts the desktop's opener with the path as its one argument (no shell, so
// no quoting to get wrong) and does not wait for it.
Result<void> OpenWithDesktop(const std::string& path);

}  // namespace corvel::config
