// The transfer's progress on stderr when it is a terminal: bytes, percentage,
// rate and time left, redrawn at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>

namespace corvel::cli {

class ProgressBar {
 public:
  ProgressBar();
  void Update(uint32_t bytesSent, uint32_t total);

 private:
  bool enabled_;
  bool finished_ = false;
  uint32_t lastTotal_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace corvel::cli
