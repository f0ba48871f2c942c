// The latency timer of FTDI adapters: the adapter holds received bytes back
// until its buffer fills or the timer runs out (16 ms unless set otherwise),
// which delays every short answer of the boot loader by that much. The
// driver offers it in sysfs, beside the usb-serial device of the tty.
#pragma once

#include <string>

namespace corvel::serial {

class LatencyTimer {
 public:
  // The driver whose adapters have the timer.
  static constexpr const char* kDriver = "ftdi_sio";
  static constexpr int kLowestMillis = 1;

  LatencyTimer() = default;
  ~LatencyTimer();  // restores
  LatencyTimer(const LatencyTimer&) = delete;
  LatencyTimer& operator=(const LatencyTimer&) = delete;

  // Sets the timer of the tty `ttyName` (ttyUSB0) to 1 ms when its driver is
  // ftdi_sio and its timer file is writable and above 1 ms; otherwise leaves
  // everything as it is. Restores an earlier change first. Never reports:
  // a port without the timer simply keeps its latency.
  void Lower(const std::string& ttyName, const std::string& sysRoot = "/sys");
  // Puts the old value back if Lower changed it. After the adapter was
  // unplugged this fails quietly, and never reaches another adapter that
  // took the same name since: the file stays open from Lower to here.
  void Restore();
  bool lowered() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  int oldMillis_ = 0;
};

}  // namespace corvel::serial
