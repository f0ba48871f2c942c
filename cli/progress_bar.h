// The transfer's progress on stderr when it is a terminal: bytes, percentage,
// rate and time left, redrawn at most ten times a second, one line per image.
#pragma once

#include <chrono>
#include <cstdint>

namespace corvel::cli {

class ProgressBar {
 public:
  ProgressBar();
  // The transfer's progress callback: `position` starts at 0 for each image
  // and may repeat its last byte count many times (a small image passes
  // every percent on its one block).
  void Update(int position, uint32_t bytesSent, uint32_t total);

 private:
  bool enabled_;
  bool drawing_ = false;  // a bar is on the line and not yet ended
  bool finished_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace corvel::cli
