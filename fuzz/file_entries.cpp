// Entries for the readers of the files a user hands the tool: HEX firmware,
// configuration records, user data and the extension area's load file.
#include <cstdio>
#include <vector>

#include "config/record_file.h"
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "program/hex_reader.h"
#include "program/user_data_reader.h"
#include "tools/load_file.h"

namespace corvel::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

// Lines as the HEX reader counts them: LF, CR and CR LF each end one.
size_t LineCount(std::string_view text) {
  size_t lines = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' || text[i] == '\r') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++lines;
    }
  }
  return lines;
}

// The line a refusal names ("第12行: ..."), or 0 when it names none.
size_t NamedLine(std::string_view message) {
  constexpr std::string_view kLinePrefix = "第";
  if (message.substr(0, kLinePrefix.size()) != kLinePrefix) return 0;
  size_t line = 0;
  for (size_t i = kLinePrefix.size(); i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i) {
    line = line * 10 + static_cast<size_t>(message[i] - '0');
    if (line > SIZE_MAX / 20) break;
  }
  return line;
}

void AppendRecord(std::string& out, uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
  uint8_t sum = static_cast<uint8_t>(count + (address >> 8) + address + type);
  char digits[16];
  std::snprintf(digits, sizeof digits, ":%02X%04X%02X", static_cast<unsigned>(count), address, type);
  out += digits;
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", data[i]);
    out += digits;
    sum = static_cast<uint8_t>(sum + data[i]);
  }
  std::snprintf(digits, sizeof digits, "%02X\n", static_cast<uint8_t>(0x100 - sum));
  out += digits;
}

// The image as HEX from address 0, sixteen bytes a record. Records of erased
// bytes are left out, apart from the first and the last, which keep the
// image's span; the reader fills the gaps with 0xFF again.
std::string WriteHex(const Bytes& image) {
  std::string out;
  uint32_t upper = 0;
  for (size_t at = 0; at < image.size(); at += 16) {
    const size_t count = std::min<size_t>(16, image.size() - at);
    const bool erased = std::all_of(image.begin() + static_cast<ptrdiff_t>(at),
                                    image.begin() + static_cast<ptrdiff_t>(at + count),
                                    [](uint8_t b) { return b == 0xFF; });
    if (erased && at != 0 && at + count != image.size()) continue;
    if ((at >> 16) != upper) {
      upper = static_cast<uint32_t>(at >> 16);
      const uint8_t value[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
      AppendRecord(out, 0x04, 0, value, 2);
    }
    AppendRecord(out, 0x00, static_cast<uint16_t>(at), image.data() + at, count);
  }
  return out + ":00000001FF\n";
}

// A reader of hexadecimal pairs with a limit on kept characters.
template <class Read>
std::string CheckPairReader(std::string_view text, size_t limit, Read read) {
  const size_t kept = CountKeptCharacters(text);
  const Result<Bytes> bytes = read(text);
  if (!bytes) {
    if (bytes.error().kind != ErrorKind::kBadInput) return "refused with a kind other than bad input";
    if (kept <= limit) return "refused a text of " + std::to_string(kept) + " kept characters";
    return {};
  }
  if (kept > limit) return "read a text of " + std::to_string(kept) + " kept characters";
  if (bytes->size() != kept / 2) {
    return std::to_string(kept) + " kept characters gave " + std::to_string(bytes->size()) + " bytes";
  }
  const Result<Bytes> again = read(PairText(*bytes));
  if (!again) return "its bytes as pairs were refused: " + again.error().text;
  if (*again != *bytes) return "its bytes as pairs read back differently";
  return {};
}

}  // namespace

std::string CheckHexReader(const uint8_t* data, size_t size) {
  const std::string_view text = AsText(data, size);
  const Result<program::ImageBuffer> image = program::ReadHexImage(text);
  if (!image) {
    if (image.error().kind != ErrorKind::kBadInput) return "refused with a kind other than bad input";
    const size_t line = NamedLine(image.error().text);
    if (line > LineCount(text)) {
      return "a text of " + std::to_string(LineCount(text)) + " lines refused as: " + image.error().text;
    }
    return {};
  }
  if (image->data.size() > program::kMaxImageSpan) {
    return "an image of " + std::to_string(image->data.size()) + " bytes, above the span limit";
  }
  const Result<program::ImageBuffer> again = program::ReadHexImage(WriteHex(image->data));
  if (!again) return "the image written as HEX was refused: " + again.error().text;
  if (again->data != image->data) return "the image written as HEX read back differently";
  return {};
}

std::string CheckRecordFile(const uint8_t* data, size_t size) {
  const std::string_view file = AsText(data, size);
  const bool tooLong = CountKeptCharacters(file) > config::kMaxRecordFileCharacters;
  for (const auto kind : {config::RecordKind::kPartition, config::RecordKind::kAccess}) {
    const char* kindName = kind == config::RecordKind::kPartition ? "partition: " : "access: ";
    const Result<Bytes> loaded = config::LoadRecordFile(file, kind);
    if (!loaded) {
      if (loaded.error().kind != ErrorKind::kBadInput) return kindName + std::string("refused with another kind");
      // Too long is told first; otherwise the marker is the only reason.
      if (tooLong == config::IsMarkerMissing(loaded.error())) return kindName + loaded.error().text;
      continue;
    }
    if (tooLong) return kindName + std::string("a file over the character limit loaded");
    const size_t recordSize =
        kind == config::RecordKind::kPartition ? config::kPartitionRecordSize : config::kAccessRecordSize;
    const Result<std::string> written = config::FormatRecordFile(kind, loaded->data(), loaded->size());
    if (loaded->size() != recordSize) {
      if (written) return kindName + std::string("wrote a record of ") + std::to_string(loaded->size()) + " bytes";
      continue;
    }
    if (!written) return kindName + std::string("a loaded record was not written: ") + written.error().text;
    const Result<Bytes> reloaded = config::LoadRecordFile(*written, kind);
    if (!reloaded) return kindName + std::string("a written record did not load: ") + reloaded.error().text;
    if (*reloaded != *loaded) return kindName + std::string("a written record loaded back to other bytes");
  }
  return {};
}

std::string CheckUserData(const uint8_t* data, size_t size) {
  return CheckPairReader(AsText(data, size), program::kMaxUserDataCharacters,
                         [](std::string_view text) -> Result<Bytes> {
                           auto image = program::ReadUserDataImage(text);
                           if (!image) return image.error();
                           return std::move(image->data);
                         });
}

std::string CheckLoadFile(const uint8_t* data, size_t size) {
  return CheckPairReader(AsText(data, size), tools::kMaxLoadFileCharacters, [](std::string_view text) -> Result<Bytes> {
    auto loaded = tools::ParseLoadFile(text);
    if (!loaded) return loaded.error();
    return std::move(loaded->bytes);
  });
}

}  // namespace corvel::fuzz
