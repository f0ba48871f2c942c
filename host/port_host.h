// The host that joins the protocol core to a real serial port, for a front
// end without an event loop of its own (the command line). Received chunks
// are handed to the link on the owner's thread; waits block on a condition
// variable until bytes arrive, an interrupt is posted, the port is lost, or
// the deadline passes.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "link/host.h"
#include "link/link.h"
#include "serial/serial_port.h"

namespace corvel::host {

class PortHost : public link::Host, public serial::PortEvents {
 public:
  PortHost();
  ~PortHost() override;
  PortHost(const PortHost&) = delete;
  PortHost& operator=(const PortHost&) = delete;

  // Opens the port and starts its monitor. Fails with the port's reason when
  // the device cannot be opened (nothing is reported then), and with kIo when
  // the monitor cannot start; configuration failures go to the port error
  // handler and the port still counts as open.
  Result<void> OpenPort(const std::string& path, uint32_t baud);
  // Finishes the queued writes (bounded) and closes the port.
  void ClosePort();
  serial::SerialPort& port() { return port_; }

  // Where received bytes go; without a link they are dropped.
  void SetLink(link::Link* link) { link_ = link; }

  // Thread-safe: wakes a wait; the interrupt handler then runs on the
  // owner's thread inside the next pump. Posts before a handler runs merge.
  void PostInterrupt();
  void SetInterruptHandler(std::function<void()> handler) { interruptHandler_ = std::move(handler); }

  // Receives the configuration error texts (owner thread).
  void SetPortErrorHandler(std::function<void(const std::string&)> handler) { portErrorHandler_ = std::move(handler); }
  std::string LostReason() const;

  // link::Host
  bool QueueWrite(const uint8_t* data, size_t length) override;
  bool QueueBurst(const uint8_t* data, size_t length) override;
  void PumpMessages() override;
  void WaitUntil(uint64_t deadlineMicros) override;
  uint64_t NowMicros() override;
  void SleepMicros(uint64_t micros) override;
  void SetRts(bool high) override;
  Result<void> SetBaudRate(uint32_t rate) override;
  bool PortLost() override;

  // serial::PortEvents
  void OnDataReady() override;
  void OnPortLost(const std::string& reason) override;
  void OnPortError(const std::string& text) override;

 private:
  size_t Deliver(const uint8_t* data, size_t count);

  serial::SerialPort port_;
  link::Link* link_ = nullptr;
  std::function<size_t(const uint8_t*, size_t)> deliver_;  // built once: no allocation per pump
  std::function<void()> interruptHandler_;
  std::function<void(const std::string&)> portErrorHandler_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool dataReady_ = false;
  bool interruptPosted_ = false;
  bool lost_ = false;
  std::string lostReason_;
};

}  // namespace corvel::host
