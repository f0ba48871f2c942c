// Writing a file so that readers see the old file or the whole new one,
// never a half-written one.
#pragma once

#include <string>
#include <string_view>

#include "base/result.h"

namespace corvel::config {

// Where an output file goes once symbolic links are followed.
struct OutputFile {
  std::string path;    // the name given, made absolute
  std::string target;  // the regular file replaced or created; `path` unless a link
  bool viaLink = false;
};

// Refuses, before anything is written, what cannot become the file: a missing
// or unwritable folder, a dangling link, a directory, a device node, a FIFO or
// a socket. The error text names the path and what it is (or the folder).
Result<OutputFile> CheckOutputFile(const std::string& path);

// Writes `bytes` to a temporary file in the target's folder, flushes it to the
// disk and renames it over the target (CheckOutputFile's rules apply: a link
// stays a link and its final target is replaced). On any failure the old file
// is untouched, no temporary file is left, and the error text names `path`
// and the reason. A replaced file keeps its mode, and its owner where the
// system permits; a new one gets 0666 less the umask.
Result<OutputFile> WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace corvel::config
