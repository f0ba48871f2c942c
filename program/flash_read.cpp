#include "program/flash_read.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <optional>

#include "base/bytes.h"
#include "link/command_codes.h"
#include "text/translation.h"

namespace corvel::program {

namespace {

constexpr const char* kReadingLine = "正在读取FLASH: 地址0x%08X 长度%" PRIu64 "...";
constexpr const char* kReadDoneLine = "读取FLASH完成!";
constexpr const char* kReadFailedLine = "读取FLASH失败: 地址0x%08X";

// What a dump reserves at once: more than any chip's whole flash.
constexpr uint64_t kReserveLimit = uint64_t{16} << 20;

// The progress callback counts in 32 bits; only a range of the whole address
// space is longer, and no chip answers that far.

uint32_t ProgressCount(uint64_t bytes) {
  return static_cast<uint32_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

FlashReadResult FlashReader::Read(uint32_t address, uint64_t length, const FlashPieceFn& onPiece,
                                  const ProgressFn& progress) {
  if (address + length > kFlashAddressEnd) return {FlashReadStatus::kRefused, address};
  const uint32_t total = ProgressCount(length);
  if (progress) progress(0, 0, total);
  // Address u32, then the piece's length u16.
  uint8_t request[6];
  uint64_t done = 0;
  int pieces = 0;
  while (done < length) {
    const auto at = static_cast<uint32_t>(address + done);
    if (aborted_) return {FlashReadStatus::kInterrupted, at};
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(kFlashReadPiece, length - done));
    WriteLe32(request, at);
    WriteLe16(request + 4, static_cast<uint16_t>(count));
    const std::optional<link::Response> answer =
        link_.Transact(link::cmd::kReadFlash, request, sizeof request, kFlashReadPiece);
    if (!answer) return {FlashReadStatus::kNoAnswer, at};
    // A short answer fails the piece: its missing bytes were never sent.
    if (!answer->OkWith(count)) return {FlashReadStatus::kRefused, at};
    done += count;
    ++pieces;
    if (onPiece && !onPiece(at, answer->data.data(), count)) return {FlashReadStatus::kStopped, at};
    if (progress) progress(pieces, ProgressCount(done), total);
  }
  return {FlashReadStatus::kOk, address};
}

FlashReadResult FlashReader::ReadInto(uint32_t address, uint64_t length, std::vector<uint8_t>& out,
                                      const ProgressFn& progress) {
  out.clear();
  // A longer range (a mistyped LEN) grows as its answers arrive instead of
  // claiming gigabytes before the chip has said a word.
  out.reserve(static_cast<size_t>(std::min<uint64_t>(length, kReserveLimit)));
  return Read(
      address, length,
      [&out](uint32_t, const uint8_t* data, uint32_t count) {
        out.insert(out.end(), data, data + count);
        return true;
      },
      progress);
}

void LogReadFailure(log::Log& log, uint32_t address) {
  char line[64];
  std::snprintf(line, sizeof line, Tr(kReadFailedLine), static_cast<unsigned>(address));
  log.AppendLog(line);
}

FlashReadResult DumpFlash(FlashReader& reader, log::Log& log, uint32_t address, uint64_t length,
                          std::vector<uint8_t>& out, const ProgressFn& progress) {
  char line[96];
  std::snprintf(line, sizeof line, Tr(kReadingLine), static_cast<unsigned>(address), length);
  log.AppendLog(line);
  const FlashReadResult result = reader.ReadInto(address, length, out, progress);
  switch (result.status) {
    case FlashReadStatus::kOk: log.AppendLog(Tr(kReadDoneLine)); break;
    case FlashReadStatus::kRefused:
    case FlashReadStatus::kNoAnswer: LogReadFailure(log, result.address); break;
    case FlashReadStatus::kInterrupted:
    case FlashReadStatus::kStopped: break;
  }
  return result;
}

}  // namespace corvel::program
