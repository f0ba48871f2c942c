// Programs one image: erase its region, request the transfer, then send it in
// numbered blocks, each acknowledged before the next goes out.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "link/link.h"

namespace corvel::program {

enum class ImageType : uint8_t { kWholeChip = 0, kBoot = 1, kStack = 2, kUserData = 3, kApplication = 4 };

inline constexpr uint32_t kBlockSize = 256;
inline constexpr uint8_t kBlockCommand = 0x24;

// Shared between a running transfer and the abort (the download button pressed
// again, Ctrl-C): the abort empties `remaining` and sets `aborted`, and the
// transfer sends no block after the one in flight.
struct TransferControl {
  uint32_t remaining = 0;
  bool aborted = false;
  // Set by a failed transfer when the chip did not answer, rather than refused.
  bool unanswered = false;
};

// Called as the progress bar moves: `position` walks through every whole
// percent of the image sent (it may pass 100 on the last block); `bytesSent`
// and `total` are exact.
using ProgressFn = std::function<void(int position, uint32_t bytesSent, uint32_t total)>;

enum class TransferResult { kOk, kFailed, kAborted };

TransferResult TransferImage(link::Link& link, TransferControl& control, const uint8_t* image, uint32_t length,
                             const std::array<uint8_t, 4>& tag, ImageType type, const ProgressFn& progress = {},
                             uint32_t blockSize = kBlockSize, uint8_t blockCommand = kBlockCommand);

}  // namespace corvel::program
