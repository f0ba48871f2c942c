// Reading a range of flash back with the read command (0x2D), piece by piece:
// the read-back of verify and the flash dump.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "link/link.h"
#include "program/image_transfer.h"

namespace corvel::program {

// The most one read answer carries.
inline constexpr uint32_t kFlashReadPiece = static_cast<uint32_t>(link::kMaxResponseData);
// A range ends at most here: the read command's address is 32 bits wide.
inline constexpr uint64_t kFlashAddressEnd = uint64_t{1} << 32;

enum class FlashReadStatus { kOk, kRefused, kNoAnswer, kInterrupted, kStopped };

struct FlashReadResult {
  FlashReadStatus status = FlashReadStatus::kOk;
  // Where the failed, refused or stopping piece starts.
  uint32_t address = 0;

  bool ok() const { return status == FlashReadStatus::kOk; }
};

// Sees each piece as it arrives: its flash address and bytes, valid during
// the call. Returning false stops the read after this piece (kStopped).
using FlashPieceFn = std::function<bool(uint32_t address, const uint8_t* data, uint32_t count)>;

class FlashReader {
 public:
  explicit FlashReader(link::Link& link) : link_(link) {}

  // Reads [address, address + length) in pieces of at most kFlashReadPiece
  // bytes, each asked for once the one before has arrived. Stops at the first
  // piece the chip refuses, leaves unanswered or answers short, and at an
  // abort between pieces. `progress` is called with position 0 before the
  // first piece and then after each, its position counting the pieces read.
  // A range past kFlashAddressEnd is refused at its start, with nothing sent.
  FlashReadResult Read(uint32_t address, uint64_t length, const FlashPieceFn& onPiece,
                       const ProgressFn& progress = {});

  // The whole range into `out`, which is reserved for it once; on failure
  // `out` holds the pieces read before it.
  FlashReadResult ReadInto(uint32_t address, uint64_t length, std::vector<uint8_t>& out,
                           const ProgressFn& progress = {});

  // Ctrl-C or an abort: no piece is asked for after the one in flight.
  void Abort() { aborted_ = true; }
  void ClearAbort() { aborted_ = false; }
  bool aborted() const { return aborted_; }

 private:
  link::Link& link_;
  bool aborted_ = false;
};

// Logs "读取FLASH失败: 地址0x%08X" for a piece that was refused or not answered.
void LogReadFailure(log::Log& log, uint32_t address);

// A dump: the range into `out`, between its two log lines ("正在读取FLASH:
// 地址0x%08X 长度%u..." and "读取FLASH完成!"); a refused or unanswered piece
// logs the failure line instead of the second, an abort nothing.
FlashReadResult DumpFlash(FlashReader& reader, log::Log& log, uint32_t address, uint64_t length,
                          std::vector<uint8_t>& out, const ProgressFn& progress = {});

}  // namespace corvel::program
