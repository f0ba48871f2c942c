#include "host/serial_host.h"

#include <chrono>
#include <thread>

namespace corvel::host {

SerialHost::SerialHost()
    : deliver_([this](const uint8_t* data, size_t count) {
        if (link_ != nullptr) link_->Deliver(data, count);
        return count;
      }) {}

SerialHost::~SerialHost() = default;

Result<void> SerialHost::OpenPort(const std::string& path, uint32_t baud) {
  Result<void> opened = port_.OpenPort(*this, path, baud);
  if (!opened.ok()) return opened;
  if (port_.StartMonitor()) return {};
  ClosePort();
  return MakeError(ErrorKind::kIo, "the port's monitor thread could not be started");
}

void SerialHost::ClosePort() {
  port_.RequestStop();
  port_.WaitStopped();
}

bool SerialHost::QueueWrite(const uint8_t* data, size_t length) { return port_.QueueWrite(data, length); }

bool SerialHost::QueueBurst(const uint8_t* data, size_t length) { return port_.QueueBurst(data, length); }

uint64_t SerialHost::NowMicros() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void SerialHost::SleepMicros(uint64_t micros) { std::this_thread::sleep_for(std::chrono::microseconds(micros)); }

void SerialHost::SetRts(bool high) {
  if (high) {
    port_.SetRts();
  } else {
    port_.ClearRts();
  }
}

Result<void> SerialHost::SetBaudRate(uint32_t rate) { return port_.SetBaudRate(rate); }

bool SerialHost::DrainOutput(uint64_t limitMicros) { return port_.DrainOutput(limitMicros); }

void SerialHost::DiscardInput() { port_.DiscardInput(); }

bool SerialHost::PortLost() { return port_.Lost(); }

void SerialHost::DeliverReceived() { (void)port_.Consume(deliver_); }

}  // namespace corvel::host
