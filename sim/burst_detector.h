// Recognises the host's wake-up burst (a run of 0xFF, then a run of 0xAA) in
// a byte stream. Shared by the model and by the line in front of it, which
// must see a burst even when the two ends' rates differ: the chip's reset
// makes it measure the rate anew, and the burst stands in for that reset.
#pragma once

#include <cstdint>

namespace corvel::sim {

class BurstDetector {
 public:
  // Enough of the burst (128 x 0xFF, 20 x 0xAA) to be sure, with room for
  // bytes lost at its start.
  static constexpr uint32_t kMinFf = 32;
  static constexpr uint32_t kMinAa = 16;

  // True on the byte that completes a burst.
  bool Feed(uint8_t b) {
    if (b == 0xFF) {
      if (aa_ > 0) ff_ = 0;
      aa_ = 0;
      if (ff_ < kMinFf) ++ff_;
      return false;
    }
    if (b == 0xAA && ff_ >= kMinFf) {
      if (++aa_ == kMinAa) {
        ff_ = 0;
        aa_ = 0;
        return true;
      }
      return false;
    }
    Reset();
    return false;
  }

  void Reset() {
    ff_ = 0;
    aa_ = 0;
  }

 private:
  uint32_t ff_ = 0;
  uint32_t aa_ = 0;
};

}  // namespace corvel::sim
