// Read-back verify: an image compared byte for byte with the flash where the
// chip placed it, which the chip's own partition record says by image type.
// The chip's check at the end of a transfer covers the bytes it received;
// only a read-back sees a bit that does not hold.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "link/link.h"
#include "program/download.h"
#include "program/flash_read.h"

namespace corvel::program {

// The partition record's validity word when it is valid, and its size.
inline constexpr uint32_t kPartitionValid = 0xD3912DD4;
inline constexpr uint16_t kPartitionRecordSize = 52;

// Where an image type lives in flash.
struct FlashRegion {
  uint32_t address = 0;
  uint32_t size = 0;
};

// The regions of the partition record's 52 bytes: app, stack, boot (Sbl) and
// user data (UserData1, the area the user-area erase clears too); nothing for
// a record without its validity word.
std::optional<FlashRegion> RegionOf(const uint8_t* partitionRecord, ImageType type);

// The step name of an image's verify in a run's record: "verify-app", ...
const char* VerifyStepName(ImageType type);

class Verifier {
 public:
  explicit Verifier(link::Link& link) : link_(link), reader_(link) {}

  // Verifies one image, its lines in the log: kOk when every byte matches,
  // kMismatch at the first that differs, kChipRefused or kNoAnswer when a
  // read fails (also: the partition record's, a record without its validity
  // word, an image longer than its region), kInterrupted after an abort. The
  // partition record is read at the first call and kept.
  StepStatus Verify(const PreparedImage& image, const ProgressFn& progress = {});

  // Each image in turn, each a step for onStep; stops at the first that fails.
  StepStatus VerifyAll(const std::vector<PreparedImage>& images, const ProgressFn& progress = {});

  // Ctrl-C: no read after the one in flight.
  void Abort() { reader_.Abort(); }

  // Called as each image's verify ends, whatever its status.
  std::function<void(const StepReport&)> onStep;

 private:
  StepStatus ReadPartition();

  link::Link& link_;
  FlashReader reader_;
  std::optional<std::array<uint8_t, kPartitionRecordSize>> partition_;
};

}  // namespace corvel::program
