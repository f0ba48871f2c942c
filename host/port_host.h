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

#include "host/serial_host.h"

namespace corvel::host {

class PortHost : public SerialHost {
 public:
  PortHost() = default;
  ~PortHost() override;

  // SerialHost::OpenPort, with the waits' state of an earlier opening cleared.
  Result<void> OpenPort(const std::string& path, uint32_t baud);

  // Thread-safe: wakes a wait; the interrupt handler then runs on the
  // owner's thread inside the next pump. Posts before a handler runs merge.
  void PostInterrupt();
  void SetInterruptHandler(std::function<void()> handler) { interruptHandler_ = std::move(handler); }

  // Receives the configuration error texts (owner thread).
  void SetPortErrorHandler(std::function<void(const std::string&)> handler) { portErrorHandler_ = std::move(handler); }
  std::string LostReason() const;

  // link::Host
  void PumpMessages() override;
  void WaitUntil(uint64_t deadlineMicros) override;
  bool PortLost() override;

  // serial::PortEvents
  void OnDataReady() override;
  void OnPortLost(const std::string& reason) override;
  void OnPortError(const std::string& text) override;

 private:
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
