// The fuzz targets' entries: each takes any bytes, runs one parser (or the
// simulated chip) over them and checks what must hold for every input. They
// are plain functions without libFuzzer, so the corpus replay test runs the
// very same checks in the ordinary builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvel::fuzz {

// What broke, or an empty text when every check held.
using Entry = std::string (*)(const uint8_t* data, size_t size);

struct Target {
  std::string_view name;  // the executable <name>_fuzz and tests/corpus/<name>/
  Entry entry;            // null while the target's entry is still to come
};

// HEX text: a refusal names a line of the text; an image keeps within
// kMaxImageSpan and reads back the same when written as HEX again.
std::string CheckHexReader(const uint8_t* data, size_t size);
// A record file, loaded as either kind: refused for exactly the reasons the
// loader names, and a loaded record of the right size written and loaded
// again gives the same bytes.
std::string CheckRecordFile(const uint8_t* data, size_t size);
// User-data text and the extension area's load file: refused only above the
// character limit; the bytes, written as pairs, read back the same.
std::string CheckUserData(const uint8_t* data, size_t size);
std::string CheckLoadFile(const uint8_t* data, size_t size);
// A number text in the bases the tool uses: agrees with the C library's
// strtoull narrowed to 32 bits, and a value formatted again reads the same.
std::string CheckNumberText(const uint8_t* data, size_t size);
// Hex-pair texts: kept characters and the limit, pair decoding, and bytes
// laid out as pairs reading back the same.
std::string CheckHexPairs(const uint8_t* data, size_t size);
// GBK: decoding any bytes gives valid UTF-8; valid UTF-8 that GBK can carry
// survives UTF-8 -> GBK -> UTF-8; invalid UTF-8 is refused.
std::string CheckGbk(const uint8_t* data, size_t size);
// The simulated chip's byte model fed a stream in pieces (see
// chip_model_entry.cpp for the input's layout): every answer is a well-formed
// frame for the command just received, or the sync answer.
std::string CheckChipModel(const uint8_t* data, size_t size);
// The host's receiver fed a stream in pieces (see receiver_entry.cpp for the
// input's layout): every frame it reports is whole and within the awaited
// answer's limits, the answer it holds is the first good accepted frame, and
// a valid answer after stray bytes whose false starts the rules drop is
// taken at its last byte.
std::string CheckReceiver(const uint8_t* data, size_t size);

std::span<const Target> Targets();
const Target* FindTarget(std::string_view name);

}  // namespace corvel::fuzz
