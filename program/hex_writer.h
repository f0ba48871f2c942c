// Intel HEX text for a range of flash, as the dump writes it: it reads back
// through ReadHexImage to the same bytes at the same addresses.
#pragma once

#include <cstdint>
#include <string>

namespace corvel::program {

// `count` bytes that stand at `address`: data records of 16 bytes on 16-byte
// boundaries (the first and last may be shorter), so none crosses a 64 KiB
// boundary; an extended linear address record (04) before the first data
// record when the upper 16 bits of its address are not 0 and wherever they
// change; then the end-of-file record. Upper-case digits, a line feed after
// each record. `address + count` must not pass 2^32.
std::string FormatHexFile(uint32_t address, const uint8_t* data, size_t count);

}  // namespace corvel::program
