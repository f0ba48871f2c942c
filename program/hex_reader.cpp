#include "program/hex_reader.h"

#include <algorithm>
#include <array>
#include <vector>

#include "text/read_file.h"
#include "text/translation.h"

namespace corvel::program {
namespace {

constexpr uint8_t kNotHex = 0xFF;

constexpr std::array<uint8_t, 256> MakeHexTable() {
  std::array<uint8_t, 256> table{};
  for (auto& value : table) value = kNotHex;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<uint8_t>(c - 'a' + 10);
  return table;
}
constexpr std::array<uint8_t, 256> kHexValue = MakeHexTable();

uint8_t HexValue(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

// The byte whose two digits start at `pos`; the digits are known to be valid.
uint8_t ByteAt(std::string_view text, size_t pos) {
  return static_cast<uint8_t>(HexValue(text[pos]) << 4 | HexValue(text[pos + 1]));
}

enum RecordType : uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kExtendedSegmentAddress = 0x02,
  kStartSegmentAddress = 0x03,
  kExtendedLinearAddress = 0x04,
  kStartLinearAddress = 0x05,
};

// A data record, kept as a place in the text so that the bytes are decoded
// once, straight into the image.
struct DataRecord {
  uint64_t address;
  size_t textPos;  // first data digit
  uint32_t count;
  size_t line;
};

Error LineError(size_t line, std::string_view what) {
  return MakeError(ErrorKind::kBadInput, Tr("第") + std::to_string(line) + Tr("行: ") + std::string(what));
}

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

}  // namespace

Result<ImageBuffer> ReadHexImage(std::string_view text) {
  std::vector<DataRecord> records;
  uint64_t base = 0;
  uint64_t lowest = UINT64_MAX;
  uint64_t highestEnd = 0;
  uint64_t total = 0;
  bool ended = false;
  size_t line = 1;
  size_t i = 0;
  while (i < text.size() && !ended) {
    const char c = text[i];
    if (IsLineEnd(c)) {
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      ++line;
      continue;
    }
    if (c != ':') {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < text.size() && !IsLineEnd(text[end])) ++end;
    const size_t bodyPos = i + 1;
    std::string_view body = text.substr(bodyPos, end - bodyPos);
    while (!body.empty() && (body.back() == ' ' || body.back() == '\t')) body.remove_suffix(1);
    i = end;

    for (const char digit : body) {
      if (HexValue(digit) == kNotHex) return LineError(line, Tr("非法字符"));
    }
    if (body.size() < 10) return LineError(line, Tr("记录不完整"));
    const uint8_t count = ByteAt(body, 0);
    const size_t recordDigits = 10 + 2 * size_t{count};
    if (body.size() < recordDigits) return LineError(line, Tr("记录不完整"));
    if (body.size() > recordDigits) return LineError(line, Tr("记录长度与字节数不符"));
    uint8_t sum = 0;
    for (size_t k = 0; k < recordDigits; k += 2) sum = static_cast<uint8_t>(sum + ByteAt(body, k));
    if (sum != 0) return LineError(line, Tr("校验和错误"));

    const uint32_t offset = uint32_t{ByteAt(body, 2)} << 8 | ByteAt(body, 4);
    switch (ByteAt(body, 6)) {
      case kData: {
        if (count == 0) break;
        const uint64_t address = base + offset;
        lowest = std::min(lowest, address);
        highestEnd = std::max(highestEnd, address + count);
        if (highestEnd - lowest > kMaxImageSpan) return LineError(line, Tr("数据地址跨度超过1MB"));
        records.push_back(DataRecord{address, bodyPos + 8, count, line});
        total += count;
        break;
      }
      case kEndOfFile:
        ended = true;
        break;
      case kExtendedSegmentAddress:
      case kExtendedLinearAddress: {
        if (count != 2) return LineError(line, Tr("地址记录长度错误"));
        const uint64_t value = uint32_t{ByteAt(body, 8)} << 8 | ByteAt(body, 10);
        base = ByteAt(body, 6) == kExtendedSegmentAddress ? value << 4 : value << 16;
        break;
      }
      case kStartSegmentAddress:
      case kStartLinearAddress:
        break;  // an entry point: the boot loader decides where an image starts
      default:
        return LineError(line, Tr("未知的记录类型"));
    }
    // More data than the span can hold means records overlap; stop collecting
    // and let the check below name them.
    if (total > kMaxImageSpan) break;
  }

  if (!std::is_sorted(records.begin(), records.end(),
                      [](const DataRecord& a, const DataRecord& b) { return a.address < b.address; })) {
    std::stable_sort(records.begin(), records.end(),
                     [](const DataRecord& a, const DataRecord& b) { return a.address < b.address; });
  }
  for (size_t k = 1; k < records.size(); ++k) {
    const DataRecord& before = records[k - 1];
    const DataRecord& after = records[k];
    // Sorted and checked pairwise, so the record before has the highest end.
    if (after.address < before.address + before.count) {
      const size_t first = std::min(before.line, after.line);
      const size_t second = std::max(before.line, after.line);
      return LineError(second, Tr("与第") + std::to_string(first) + Tr("行的数据重叠"));
    }
  }
  if (!ended) return MakeError(ErrorKind::kBadInput, Tr("缺少文件结束记录"));

  ImageBuffer image;
  if (records.empty()) return image;
  image.data.assign(static_cast<size_t>(highestEnd - lowest), 0xFF);
  for (const DataRecord& record : records) {
    uint8_t* out = image.data.data() + (record.address - lowest);
    for (uint32_t k = 0; k < record.count; ++k) out[k] = ByteAt(text, record.textPos + 2 * size_t{k});
  }
  return image;
}

Result<ImageBuffer> ReadHexImageFile(const std::string& path) {
  auto image = text::ParseFile(path, ReadHexImage);
  // Downloading nothing would still erase the region the image goes to.
  if (image && image->data.empty()) return MakeError(ErrorKind::kBadInput, path + Tr(": 没有数据记录"));
  return image;
}

}  // namespace corvel::program
