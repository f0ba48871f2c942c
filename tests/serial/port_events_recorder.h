// Records what a SerialPort reports and lets the test wait for it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace corvel::testing {

class PortEventsRecorder : public serial::PortEvents {
 public:
  void OnDataReady() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++dataReady_;
    changed_.notify_all();
  }
  void OnPortLost(const std::string& reason) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_.push_back(reason);
    changed_.notify_all();
  }
  void OnPortError(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_back(text);
  }

  // Waits until the port holds a received chunk.
  bool WaitData(serial::SerialPort& port, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return port.HasData(); });
  }
  bool WaitLost(int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !lost_.empty(); });
  }
  std::vector<std::string> lost() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lost_;
  }
  std::vector<std::string> errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int dataReady_ = 0;
  std::vector<std::string> lost_;
  std::vector<std::string> errors_;
};

}  // namespace corvel::testing
