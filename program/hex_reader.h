// Intel HEX firmware files into images.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/result.h"
#include "program/image_buffer.h"

namespace corvel::program {

// The largest span of flash addresses an image may cover.
inline constexpr uint32_t kMaxImageSpan = 0x100000;

// Reads a HEX file's text into an image. Data records are placed by their
// address (types 02 and 04 extend it; 03 and 05 are ignored); the image starts
// at the lowest address and gaps are filled with 0xFF. Text before the ":" of
// a record and lines without one are skipped; nothing after the end-of-file
// record is read. Refused, with a text naming the line: a bad character, a
// record cut short or longer than its byte count, a wrong checksum, an unknown
// record type, overlapping records, a missing end-of-file record, and an
// image spanning more than kMaxImageSpan bytes.
Result<ImageBuffer> ReadHexImage(std::string_view fileText);

// ReadHexImage over the contents of `path`; every error text names the file.
// A file without data bytes (only the end-of-file record) is refused too: an
// image to download has at least one byte.
Result<ImageBuffer> ReadHexImageFile(const std::string& path);

}  // namespace corvel::program
