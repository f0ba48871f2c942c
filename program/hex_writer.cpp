#include "program/hex_writer.h"

#include <algorithm>

namespace corvel::program {

namespace {

constexpr uint32_t kRecordBytes = 16;
constexpr uint8_t kData = 0x00;
constexpr uint8_t kEndOfFile = 0x01;
constexpr uint8_t kExtendedLinearAddress = 0x04;
// ':', count, address, type, the data, checksum, line feed.
constexpr size_t RecordText(size_t dataBytes) { return 1 + 2 * (4 + dataBytes + 1) + 1; }

constexpr char kDigits[] = "0123456789ABCDEF";

void AppendRecord(std::string& out, uint8_t type, uint16_t offset, const uint8_t* data, uint32_t count) {
  const uint8_t head[] = {static_cast<uint8_t>(count), static_cast<uint8_t>(offset >> 8),
                          static_cast<uint8_t>(offset), type};
  uint8_t sum = 0;
  const auto put = [&out, &sum](uint8_t byte) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
    sum = static_cast<uint8_t>(sum + byte);
  };
  out.push_back(':');
  for (const uint8_t byte : head) put(byte);
  for (uint32_t i = 0; i < count; ++i) put(data[i]);
  put(static_cast<uint8_t>(0x100 - sum));
  out.push_back('\n');
}

}  // namespace

std::string FormatHexFile(uint32_t address, const uint8_t* data, size_t count) {
  std::string out;
  // The data records (one more where the range starts off a boundary), an
  // address record per 64 KiB and one more, the end record.
  out.reserve((count / kRecordBytes + 2) * RecordText(kRecordBytes) + ((count >> 16) + 2) * RecordText(2) +
              RecordText(0));
  uint32_t upper = 0;
  for (size_t done = 0; done < count;) {
    const uint32_t at = address + static_cast<uint32_t>(done);
    if (at >> 16 != upper) {
      upper = at >> 16;
      const uint8_t value[] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
      AppendRecord(out, kExtendedLinearAddress, 0, value, sizeof value);
    }
    const auto n = static_cast<uint32_t>(std::min<size_t>(kRecordBytes - at % kRecordBytes, count - done));
    AppendRecord(out, kData, static_cast<uint16_t>(at), data + done, n);
    done += n;
  }
  AppendRecord(out, kEndOfFile, 0, nullptr, 0);
  return out;
}

}  // namespace corvel::program
