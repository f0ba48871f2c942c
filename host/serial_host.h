// What every host over a real serial port shares: it owns the port, passes
// the link's port calls straight on to it, keeps the clock, and hands the
// received chunks to the link. A host built on it adds its wait
// (WaitUntil), its pump (PumpMessages) and how the port's events wake it
// (the serial::PortEvents calls).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "link/host.h"
#include "link/link.h"
#include "serial/serial_port.h"

namespace corvel::host {

class SerialHost : public link::Host, public serial::PortEvents {
 public:
  SerialHost();
  // A derived host stops the port (ClosePort) in its own destructor: the
  // monitor calls its events until then.
  ~SerialHost() override;
  SerialHost(const SerialHost&) = delete;
  SerialHost& operator=(const SerialHost&) = delete;

  // Opens the port and starts its monitor. Fails with the port's reason when
  // the device cannot be opened (nothing is reported then), and with kIo,
  // the port closed again, when the monitor cannot start. Configuration
  // failures go to OnPortError and the port still counts as open.
  Result<void> OpenPort(const std::string& path, uint32_t baud);
  // Finishes the queued writes (bounded) and closes the port.
  void ClosePort();
  serial::SerialPort& port() { return port_; }

  // Where received bytes go; without a link they are dropped.
  void SetLink(link::Link* link) { link_ = link; }

  // link::Host
  bool QueueWrite(const uint8_t* data, size_t length) override;
  bool QueueBurst(const uint8_t* data, size_t length) override;
  uint64_t NowMicros() override;
  void SleepMicros(uint64_t micros) override;
  void SetRts(bool high) override;
  Result<void> SetBaudRate(uint32_t rate) override;
  bool DrainOutput(uint64_t limitMicros) override;
  void DiscardInput() override;
  bool PortLost() override;

 protected:
  // Owner thread: hands the received chunk waiting now to the link, whole.
  // The link keeps the first answer it completes, so bytes after it in the
  // same chunk cannot overwrite what the waiting operation reads.
  void DeliverReceived();

 private:
  serial::SerialPort port_;
  link::Link* link_ = nullptr;
  std::function<size_t(const uint8_t*, size_t)> deliver_;  // built once: no allocation per chunk
};

}  // namespace corvel::host
