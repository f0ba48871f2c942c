#include "host/port_host.h"

#include <chrono>

namespace corvel::host {

PortHost::~PortHost() { ClosePort(); }

Result<void> PortHost::OpenPort(const std::string& path, uint32_t baud) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dataReady_ = false;
    lost_ = false;
    lostReason_.clear();
  }
  return SerialHost::OpenPort(path, baud);
}

void PortHost::PostInterrupt() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    interruptPosted_ = true;
  }
  wake_.notify_all();
}

std::string PortHost::LostReason() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lostReason_;
}

void PortHost::PumpMessages() {
  bool interrupted = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupted = interruptPosted_;
    interruptPosted_ = false;
    dataReady_ = false;
  }
  if (interrupted && interruptHandler_) interruptHandler_();
  DeliverReceived();  // one pass per pump
}

void PortHost::WaitUntil(uint64_t deadlineMicros) {
  const std::chrono::steady_clock::time_point deadline{std::chrono::microseconds(deadlineMicros)};
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, deadline, [this] { return dataReady_ || interruptPosted_ || lost_ || port().HasData(); });
  }
  PumpMessages();
}

// The waits' own flag, cleared with the rest of their state at each opening.
bool PortHost::PortLost() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

void PortHost::OnDataReady() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dataReady_ = true;
  }
  wake_.notify_all();
}

void PortHost::OnPortLost(const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ = true;
    lostReason_ = reason;
  }
  wake_.notify_all();
}

void PortHost::OnPortError(const std::string& text) {
  if (portErrorHandler_) portErrorHandler_(text);
}

}  // namespace corvel::host
