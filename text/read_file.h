// Reading a whole input file (firmware, records, load files) into memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/result.h"

namespace corvel::text {

// Larger than any file the tool reads: a HEX file of a 1 MiB image is under
// 3 MiB. A bigger file is refused before it is read.
inline constexpr size_t kMaxInputFileBytes = 64u * 1024 * 1024;

// The file's bytes. A missing, unreadable or too large file gives an error
// whose text names the path and the reason. Nothing blocks before there is a
// writer: a regular file is read whole; a FIFO or pipe is read to its end of
// file when the open finds a writer (a slow one is waited for) and refused at
// once when it finds none; a folder, a device or a socket is refused without
// being opened.
Result<std::string> ReadFile(const std::string& path, size_t maxBytes = kMaxInputFileBytes);

// Reads the file and hands its bytes to `parse` (a parser over text, returning
// a Result). A parser's error gets the path in front, so every message says
// which file it is about.
template <class Parse>
auto ParseFile(const std::string& path, Parse parse) -> decltype(parse(std::string_view{})) {
  auto bytes = ReadFile(path);
  if (!bytes) return bytes.error();
  auto parsed = parse(std::string_view(*bytes));
  if (!parsed) return MakeError(parsed.error().kind, path + ": " + parsed.error().text);
  return parsed;
}

}  // namespace corvel::text
