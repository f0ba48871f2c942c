// Writing a file so that readers see the old file or the whole new one,
// never a half-written one.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace corvel::config {

// Writes `bytes` to a temporary file in the same folder, flushes it to the
// disk and renames it over `path`. On any failure the old file is untouched,
// no temporary file is left, and the error text names `path` and the reason.
// The new file gets the usual permissions (0666 less the umask).
Result<void> WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace corvel::config
