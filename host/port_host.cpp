#include "host/port_host.h"

#include <chrono>
#include <thread>

namespace corvel::host {

PortHost::PortHost() : deliver_([this](const uint8_t* data, size_t count) { return Deliver(data, count); }) {}

PortHost::~PortHost() { ClosePort(); }

Result<void> PortHost::OpenPort(const std::string& path, uint32_t baud) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dataReady_ = false;
    lost_ = false;
    lostReason_.clear();
  }
  Result<void> opened = port_.OpenPort(*this, path, baud);
  if (!opened.ok()) return opened;
  if (port_.StartMonitor()) return {};
  ClosePort();
  return MakeError(ErrorKind::kIo, "the port's monitor thread could not be started");
}

void PortHost::ClosePort() {
  port_.RequestStop();
  port_.WaitStopped();
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

bool PortHost::QueueWrite(const uint8_t* data, size_t length) { return port_.QueueWrite(data, length); }

bool PortHost::QueueBurst(const uint8_t* data, size_t length) { return port_.QueueBurst(data, length); }

size_t PortHost::Deliver(const uint8_t* data, size_t count) {
  return link_ != nullptr ? link_->Deliver(data, count) : count;
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
  // One hand-off per pump: the link stops right after a completed frame, and
  // the waiting operation must read that frame before later bytes land.
  port_.Consume(deliver_);
}

void PortHost::WaitUntil(uint64_t deadlineMicros) {
  const std::chrono::steady_clock::time_point deadline{std::chrono::microseconds(deadlineMicros)};
  {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, deadline, [this] { return dataReady_ || interruptPosted_ || lost_ || port_.HasData(); });
  }
  PumpMessages();
}

uint64_t PortHost::NowMicros() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void PortHost::SleepMicros(uint64_t micros) { std::this_thread::sleep_for(std::chrono::microseconds(micros)); }

void PortHost::SetRts(bool high) {
  if (high) {
    port_.SetRts();
  } else {
    port_.ClearRts();
  }
}

Result<void> PortHost::SetBaudRate(uint32_t rate) { return port_.SetBaudRate(rate); }

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
